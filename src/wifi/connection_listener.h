#pragma once

#include "platform/logger.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>

#include <memory>
#include <optional>

class QSocketNotifier;
class QTimer;

namespace qb {

class ConnectionCounter;
class ConnectionHub;

// Accepts connections on the listening socket and hands each to a worker hub in turn; lives
// on the listener thread. Beyond its host's share of the connection cap, a new connection is
// closed at once; beyond the cap itself, it takes the place of one still receiving its request, or
// is closed at once when there is none. Out of descriptors, it closes newcomers with a spare one
// rather than leave them queued, and pauses.
class ConnectionListener : public QObject
{
    Q_OBJECT
public:
    // A dual-stack (IPv6 with IPv4-mapped) TCP socket listening on a port the system picks,
    // with local address reuse on; -1 and `error` when that fails.
    static int openSocket(QString* error);
    static std::optional<quint16> localPort(int fd);
    // The peer's address as text; an IPv4 peer of the dual-stack socket in its plain IPv4 form.
    static QString peerHost(int fd);

    ConnectionListener(int fd, QList<ConnectionHub*> hubs,
                       std::shared_ptr<ConnectionCounter> connections);
    ~ConnectionListener() override;

    // On the listener's thread.
    void start();

private:
    void acceptPending();
    // Stops accepting for `ms`.
    void pause(int ms);
    // Keeps one descriptor open for refuseOne(), when it is not already.
    void reserveSpare();
    // Out of descriptors: takes the oldest connection waiting to be accepted off the queue and
    // closes it with the spare descriptor; false when none waits or that could not be done.
    bool refuseOne();

    int m_fd;
    QList<ConnectionHub*> m_hubs;
    std::shared_ptr<ConnectionCounter> m_connections;
    qsizetype m_nextHub = 0;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_resume = nullptr;
    int m_spare = -1;
    // A newcomer waiting for a place that is about to free, and until when it may.
    int m_held = -1;
    QDeadlineTimer m_holdDeadline = QDeadlineTimer::Forever;
    // Out of descriptors since the last connection accepted; said once.
    bool m_starved = false;
    Logger m_log;
};

} // namespace qb
