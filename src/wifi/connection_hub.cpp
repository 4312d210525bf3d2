#include "wifi/connection_hub.h"

#include "wifi/local_connection_handler.h"

namespace qb {

ConnectionHub::ConnectionHub(const ConnectionEnvironment& environment,
                             std::shared_ptr<std::atomic<int>> openConnections)
    : m_environment(environment), m_openConnections(std::move(openConnections))
{}

void ConnectionHub::adopt(int fd)
{
    auto* handler = new LocalConnectionHandler(fd, m_environment, this);
    connect(handler, &LocalConnectionHandler::finished, this, [this, handler] {
        m_openConnections->fetch_sub(1);
        handler->deleteLater();
    });
    handler->start();
}

} // namespace qb
