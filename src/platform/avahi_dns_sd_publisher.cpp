#include "platform/avahi_dns_sd_publisher.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

namespace qb {
namespace {

void clientCallback(AvahiClient* client, AvahiClientState state, void* self)
{
    static_cast<AvahiDnsSdPublisher*>(self)->handleClientState(client, state);
}

void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self)
{
    static_cast<AvahiDnsSdPublisher*>(self)->handleGroupState(group, state);
}

QString errorText(int error)
{
    return QString::fromUtf8(avahi_strerror(error));
}

} // namespace

void AvahiDnsSdPublisher::PollDeleter::operator()(AvahiThreadedPoll* poll) const
{
    avahi_threaded_poll_free(poll);
}

void AvahiDnsSdPublisher::ClientDeleter::operator()(AvahiClient* client) const
{
    avahi_client_free(client);
}

void AvahiDnsSdPublisher::GroupDeleter::operator()(AvahiEntryGroup* group) const
{
    avahi_entry_group_free(group);
}

AvahiDnsSdPublisher::AvahiDnsSdPublisher() = default;

AvahiDnsSdPublisher::~AvahiDnsSdPublisher()
{
    // No callback may run while the handles go.
    if (m_poll) {
        avahi_threaded_poll_stop(m_poll.get());
    }
}

void AvahiDnsSdPublisher::publish(const QString& name, const QString& type, quint16 port,
                                  EventHandler handler)
{
    m_name = name.toUtf8();
    m_type = type.toUtf8();
    m_port = port;
    m_handler = std::move(handler);
    m_poll.reset(avahi_threaded_poll_new());
    if (!m_poll) {
        report(Event::Kind::Failed, QStringLiteral("cannot create Avahi's event loop"));
        return;
    }
    if (!connectClient()) {
        return;
    }
    if (avahi_threaded_poll_start(m_poll.get()) < 0) {
        report(Event::Kind::Failed, QStringLiteral("cannot start Avahi's event thread"));
    }
}

bool AvahiDnsSdPublisher::connectClient()
{
    int error = 0;
    // NO_FAIL: without a daemon the client waits for one instead of failing.
    m_client.reset(avahi_client_new(avahi_threaded_poll_get(m_poll.get()), AVAHI_CLIENT_NO_FAIL,
                                    clientCallback, this, &error));
    if (!m_client) {
        report(Event::Kind::Failed, errorText(error));
        return false;
    }
    return true;
}

void AvahiDnsSdPublisher::handleClientState(AvahiClient* client, int state)
{
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        registerService(client);
        return;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host name is being settled; the service goes up again once the client runs.
        if (m_group) {
            avahi_entry_group_reset(m_group.get());
        }
        return;
    case AVAHI_CLIENT_CONNECTING:
        report(Event::Kind::NotAdvertised,
               QStringLiteral("the Avahi daemon is not running; waiting for it to start"));
        return;
    case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
            report(Event::Kind::NotAdvertised,
                   QStringLiteral("the Avahi daemon went away; waiting for it to return"));
            // Freeing the client frees its entry group as well.
            (void)m_group.release();
            m_client.reset();
            connectClient();
            return;
        }
        report(Event::Kind::Failed, errorText(avahi_client_errno(client)));
        return;
    default:
        return;
    }
}

void AvahiDnsSdPublisher::handleGroupState(AvahiEntryGroup* group, int state)
{
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        report(Event::Kind::Registered);
        return;
    case AVAHI_ENTRY_GROUP_COLLISION:
        takeAlternativeName();
        avahi_entry_group_reset(group);
        registerService(avahi_entry_group_get_client(group));
        return;
    case AVAHI_ENTRY_GROUP_FAILURE:
        report(Event::Kind::Failed,
               errorText(avahi_client_errno(avahi_entry_group_get_client(group))));
        return;
    default:
        return;
    }
}

void AvahiDnsSdPublisher::registerService(AvahiClient* client)
{
    if (!m_group) {
        m_group.reset(avahi_entry_group_new(client, groupCallback, this));
        if (!m_group) {
            report(Event::Kind::Failed, errorText(avahi_client_errno(client)));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(m_group.get())) {
        return;
    }
    for (;;) {
        const int result = avahi_entry_group_add_service(
            m_group.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
            m_name.constData(), m_type.constData(), nullptr, nullptr, m_port, nullptr);
        if (result == AVAHI_ERR_COLLISION) {
            takeAlternativeName();
            avahi_entry_group_reset(m_group.get());
            continue;
        }
        if (result < 0) {
            report(Event::Kind::Failed, errorText(result));
            return;
        }
        break;
    }
    if (const int result = avahi_entry_group_commit(m_group.get()); result < 0) {
        report(Event::Kind::Failed, errorText(result));
    }
}

void AvahiDnsSdPublisher::takeAlternativeName()
{
    char* alternative = avahi_alternative_service_name(m_name.constData());
    m_name = QByteArray(alternative);
    avahi_free(alternative);
    report(Event::Kind::Renamed);
}

void AvahiDnsSdPublisher::report(Event::Kind kind, const QString& message) const
{
    if (m_handler) {
        m_handler(Event{kind, QString::fromUtf8(m_name), message});
    }
}

} // namespace qb
