#include "wifi/connection_hub.h"

#include "wifi/connection_counter.h"
#include "wifi/local_connection_handler.h"

namespace qb {

ConnectionHub::ConnectionHub(const ConnectionEnvironment& environment,
                             std::shared_ptr<ConnectionCounter> connections)
    : m_environment(environment), m_connections(std::move(connections))
{}

void ConnectionHub::adopt(int fd, const QString& host, quint64 serial)
{
    auto* handler = new LocalConnectionHandler(fd, host, m_environment, this);
    m_handlers.insert(serial, handler);
    connect(handler, &LocalConnectionHandler::headReceived, this,
            [this, serial] { m_connections->headReceived(serial); });
    connect(handler, &LocalConnectionHandler::bodyProgress, this,
            [this, serial](qint64 bytes) { m_connections->bodyReceived(serial, bytes); });
    connect(handler, &LocalConnectionHandler::requestReceived, this,
            [this, serial] { m_connections->requestReceived(serial); });
    connect(handler, &LocalConnectionHandler::tokenAccepted, this,
            [this, serial] { m_connections->tokenChecked(serial); });
    connect(handler, &LocalConnectionHandler::closing, this,
            [this, serial] { m_connections->socketClosing(serial); });
    connect(handler, &LocalConnectionHandler::finished, this, [this, handler, serial] {
        m_handlers.remove(serial);
        m_connections->release(serial);
        handler->deleteLater();
    });
    handler->start();
}

ConnectionHub::~ConnectionHub()
{
    // The connections still open close with their handlers, after this.
    for (auto it = m_handlers.cbegin(); it != m_handlers.cend(); ++it)
        m_connections->release(it.key());
}

void ConnectionHub::evict(quint64 serial)
{
    if (LocalConnectionHandler* handler = m_handlers.value(serial))
        handler->evict();
}

} // namespace qb
