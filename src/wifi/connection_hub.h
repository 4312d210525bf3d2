#pragma once

#include "wifi/connection_environment.h"

#include <QHash>
#include <QObject>

#include <memory>

namespace qb {

class ConnectionCounter;
class LocalConnectionHandler;

// Owns the connections served on one worker thread; lives on that thread.
class ConnectionHub : public QObject
{
    Q_OBJECT
public:
    ConnectionHub(const ConnectionEnvironment& environment,
                  std::shared_ptr<ConnectionCounter> connections);
    ~ConnectionHub() override;

    // On the hub's thread: serves the connected socket `fd` (taking ownership of it), counted
    // under `serial`.
    void adopt(int fd, const QString& host, quint64 serial);
    // On the hub's thread: closes the connection counted under `serial` if it is still receiving
    // its request (its head, or its body); its place has gone to a newer one.
    void evict(quint64 serial);

private:
    ConnectionEnvironment m_environment;
    std::shared_ptr<ConnectionCounter> m_connections;
    QHash<quint64, LocalConnectionHandler*> m_handlers;
};

} // namespace qb
