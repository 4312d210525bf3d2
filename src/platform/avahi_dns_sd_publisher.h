#pragma once

#include "platform/dns_sd_publisher.h"

#include <QByteArray>

#include <memory>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;

namespace qb {

// DNS-SD through the Avahi daemon, on Avahi's own event thread. Waits for a daemon that is not
// running yet, and registers again when the daemon restarts.
class AvahiDnsSdPublisher : public DnsSdPublisher
{
public:
    AvahiDnsSdPublisher();
    ~AvahiDnsSdPublisher() override;
    AvahiDnsSdPublisher(const AvahiDnsSdPublisher&) = delete;
    AvahiDnsSdPublisher& operator=(const AvahiDnsSdPublisher&) = delete;

    void publish(const QString& name, const QString& type, quint16 port,
                 EventHandler handler) override;

private:
    struct PollDeleter
    {
        void operator()(AvahiThreadedPoll* poll) const;
    };
    struct ClientDeleter
    {
        void operator()(AvahiClient* client) const;
    };
    struct GroupDeleter
    {
        void operator()(AvahiEntryGroup* group) const;
    };

public:
    // Avahi's callbacks, on its event thread.
    void handleClientState(AvahiClient* client, int state);
    void handleGroupState(AvahiEntryGroup* group, int state);

private:
    bool connectClient();
    void takeAlternativeName();
    void registerService(AvahiClient* client);
    void report(Event::Kind kind, const QString& message = {}) const;

    // Declared so that the group goes before its client, and the client before the poll.
    std::unique_ptr<AvahiThreadedPoll, PollDeleter> m_poll;
    std::unique_ptr<AvahiClient, ClientDeleter> m_client;
    std::unique_ptr<AvahiEntryGroup, GroupDeleter> m_group;
    QByteArray m_name;
    QByteArray m_type;
    quint16 m_port = 0;
    EventHandler m_handler;
};

} // namespace qb
