#pragma once

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

#include <functional>
#include <map>
#include <vector>

namespace qb {

class ConnectionHub;

// The open connections of one server, in all and per host, so that one host cannot take every
// connection; and, once every connection is taken, which one gives its place to a newcomer, so
// that hosts that hold connections open without finishing their requests never shut a phone out.
// Any thread.
class ConnectionCounter
{
public:
    static constexpr int kMaxPerHost = 64;

    // How many connections a server may hold within the process's open-file limit.
    struct Bound
    {
        // Connections open at once.
        int connections = 0;
        // Connections given up for newer ones but not yet closed on their threads; each still
        // holds its descriptors.
        int evicting = 0;
    };
    // Each connection may hold two descriptors (its socket, and the file it uploads into or
    // downloads from); the rest of the application keeps a reserve for its own threads (each
    // needs one for its event loop, and the process ends when it cannot have it), files, USB and
    // windows. At most `ceiling` connections, however high the limit.
    static Bound boundFor(qint64 openFileLimit, int ceiling);

    struct Admission
    {
        bool admitted = false;
        // Names the connection in requestReceived() and release().
        quint64 serial = 0;
        // Not admitted yet: a place frees within moments (a connection given up for a newcomer
        // is still closing, or the one to give up has only just connected and its head may be on
        // its way). Ask again shortly.
        bool wait = false;
        // A connection to close to make room for this one, on its hub; null when there was room.
        ConnectionHub* evictOn = nullptr;
        quint64 evictSerial = 0;
    };

    // Milliseconds on a steady clock.
    using Clock = std::function<qint64()>;

    explicit ConnectionCounter(int maxConnections, Clock clock = steadyMs)
        : ConnectionCounter(Bound{maxConnections, maxConnections}, std::move(clock))
    {}
    explicit ConnectionCounter(Bound bound, Clock clock = steadyMs);

    // Counts a new connection from `host` on the socket `fd`, to be served on `hub`. When the
    // server is full, a connection still receiving its request is evicted: it no longer counts,
    // and the caller closes it. Not admitted (nothing counted) when the host is full, or when the
    // server is full of requests already received; told to wait when a place frees within
    // moments. The computer itself is held only to the server's cap: local tools are trusted.
    Admission admit(const QString& host, ConnectionHub* hub, int fd = -1);
    // The connection's request head is in; its body, if any, starts now.
    void headReceived(quint64 serial);
    // The connection's body has brought `bytes` so far.
    void bodyReceived(quint64 serial, qint64 bytes);
    // The connection has its whole request (or was answered early): it is never evicted.
    void requestReceived(quint64 serial);
    // The connection's host proved its token (it paired or reconnected): its phone's bodies go
    // last.
    void tokenChecked(quint64 serial);
    // The connection's socket is about to be closed: it is no longer looked into.
    void socketClosing(quint64 serial);
    void release(quint64 serial);

    int open() const
    {
        QMutexLocker lock(&m_mutex);
        return m_open;
    }
    Bound bound() const { return m_bound; }

private:
    struct Entry
    {
        QString host;
        ConnectionHub* hub = nullptr;
        int fd = -1;
        bool receiving = true;
        bool headIn = false;
        bool evicted = false;
        qint64 admittedMs = 0;
        qint64 bodyStartMs = 0;
        qint64 bodyBytes = 0;
    };

    static bool isLocalMachine(const QString& host)
    {
        return host == u"127.0.0.1" || host == u"::1";
    }
    // Takes `entry` out of the counts (it keeps its place in the table until released).
    void uncount(const Entry& entry);
    // The connection to evict for a newcomer; 0 when every one has its request, and `tooSoon`
    // when the one to go has only just connected or only just begun its body.
    quint64 evictionCandidate(bool* tooSoon);
    // Whether a whole request head waits, unread, in the connection's socket; if so, the entry
    // takes it, and any body with it, as received.
    bool lookInto(Entry& entry, qint64 now);
    static qint64 steadyMs();

    mutable QMutex m_mutex;
    const Bound m_bound;
    const Clock m_clock;
    int m_open = 0;
    // Serials grow with each admission, so a smaller one has waited longer.
    quint64 m_nextSerial = 1;
    std::map<quint64, Entry> m_entries;
    QHash<QString, int> m_perHost;
    // Hosts whose phone proved its token to this server.
    QSet<QString> m_provenHosts;
    // What lookInto() reads without taking it from the socket.
    std::vector<char> m_peekBuffer;
};

} // namespace qb
