#pragma once

#include "wifi/connection_environment.h"

#include <QObject>

#include <atomic>
#include <memory>

namespace qb {

// Owns the connections served on one worker thread; lives on that thread.
class ConnectionHub : public QObject
{
    Q_OBJECT
public:
    ConnectionHub(const ConnectionEnvironment& environment,
                  std::shared_ptr<std::atomic<int>> openConnections);

    // On the hub's thread: serves the connected socket `fd` (taking ownership of it).
    void adopt(int fd);

private:
    ConnectionEnvironment m_environment;
    std::shared_ptr<std::atomic<int>> m_openConnections;
};

} // namespace qb
