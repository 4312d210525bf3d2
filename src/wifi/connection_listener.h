#pragma once

#include "platform/logger.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QSocketNotifier;

namespace qb {

class ConnectionCounter;
class ConnectionHub;

// Accepts connections on the listening socket and hands each to a worker hub in turn; lives
// on the listener thread. Beyond its host's share of the connection cap, a new connection is
// closed at once; beyond the cap itself, it takes the place of one still receiving its request, or
// is closed at once when there is none.
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

    int m_fd;
    QList<ConnectionHub*> m_hubs;
    std::shared_ptr<ConnectionCounter> m_connections;
    qsizetype m_nextHub = 0;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_resume;
    Logger m_log;
};

} // namespace qb
