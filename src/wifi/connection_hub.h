#pragma once

#include "wifi/connection_environment.h"

#include <QObject>

#include <memory>

namespace qb {

class ConnectionCounter;

// Owns the connections served on one worker thread; lives on that thread.
class ConnectionHub : public QObject
{
    Q_OBJECT
public:
    ConnectionHub(const ConnectionEnvironment& environment,
                  std::shared_ptr<ConnectionCounter> connections);

    // On the hub's thread: serves the connected socket `fd` (taking ownership of it).
    void adopt(int fd, const QString& host);

private:
    ConnectionEnvironment m_environment;
    std::shared_ptr<ConnectionCounter> m_connections;
};

} // namespace qb
