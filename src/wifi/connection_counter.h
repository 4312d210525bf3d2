#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

#include <functional>

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

    struct Admission
    {
        bool admitted = false;
        // Names the connection in requestReceived() and release().
        quint64 serial = 0;
        // A connection to close to make room for this one, on its hub; null when there was room.
        ConnectionHub* evictOn = nullptr;
        quint64 evictSerial = 0;
    };

    // Milliseconds on a steady clock.
    using Clock = std::function<qint64()>;

    explicit ConnectionCounter(int maxConnections, Clock clock = steadyMs)
        : m_max(maxConnections), m_clock(std::move(clock))
    {}

    // Counts a new connection from `host`, to be served on `hub`. When the server is full, a
    // connection still receiving its request is evicted: it no longer counts, and the caller
    // closes it. Not admitted (nothing counted) when the host is full, or when the server is full
    // of requests already received. The computer itself is held only to the server's cap: local
    // tools are trusted.
    Admission admit(const QString& host, ConnectionHub* hub);
    // The connection's request head is in; its body, if any, starts now.
    void headReceived(quint64 serial);
    // The connection's body has brought `bytes` so far.
    void bodyReceived(quint64 serial, qint64 bytes);
    // The connection has its whole request (or was answered early): it is never evicted.
    void requestReceived(quint64 serial);
    void release(quint64 serial);

    int open() const
    {
        QMutexLocker lock(&m_mutex);
        return m_open;
    }

private:
    struct Entry
    {
        QString host;
        ConnectionHub* hub = nullptr;
        bool receiving = true;
        bool headIn = false;
        bool evicted = false;
        qint64 bodyStartMs = 0;
        qint64 bodyBytes = 0;
    };

    static bool isLocalMachine(const QString& host)
    {
        return host == u"127.0.0.1" || host == u"::1";
    }
    // Takes `entry` out of the counts (it keeps its place in the table until released).
    void uncount(const Entry& entry);
    // The connection to evict for a newcomer; 0 when every one has its request.
    quint64 evictionCandidate() const;
    static qint64 steadyMs();

    // Evicted connections are closed on their own threads; one held up there still has its
    // socket, so no more are evicted while this many are waiting to close.
    int maxEvictedPending() const { return m_max; }

    mutable QMutex m_mutex;
    const int m_max;
    const Clock m_clock;
    int m_open = 0;
    // Serials grow with each admission, so a smaller one has waited longer.
    quint64 m_nextSerial = 1;
    QHash<quint64, Entry> m_entries;
    QHash<QString, int> m_perHost;
    // Per host, its connections still receiving their requests.
    QHash<QString, int> m_receivingPerHost;
};

} // namespace qb
