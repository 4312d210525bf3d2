#include "wifi/connection_hub.h"

#include "wifi/connection_counter.h"
#include "wifi/local_connection_handler.h"

namespace qb {

ConnectionHub::ConnectionHub(const ConnectionEnvironment& environment,
                             std::shared_ptr<ConnectionCounter> connections)
    : m_environment(environment), m_connections(std::move(connections))
{}

void ConnectionHub::adopt(int fd, const QString& host)
{
    auto* handler = new LocalConnectionHandler(fd, host, m_environment, this);
    connect(handler, &LocalConnectionHandler::finished, this, [this, handler, host] {
        m_connections->release(host);
        handler->deleteLater();
    });
    handler->start();
}

} // namespace qb
