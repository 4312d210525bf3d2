#pragma once

#include <QString>

#include <functional>

namespace qb {

// Advertises one service on the local network by DNS-SD (multicast DNS).
class DnsSdPublisher
{
public:
    struct Event
    {
        enum class Kind {
            Registered,    // the service is advertised under `name`
            Renamed,       // `name` was taken; the next try uses the new `name`
            NotAdvertised, // no DNS-SD daemon yet; `message` says why, and the service is
                           // advertised as soon as the daemon appears
            Failed         // `message` says what went wrong
        };
        Kind kind;
        QString name;
        QString message;
    };
    // Called on the publisher's own thread.
    using EventHandler = std::function<void(const Event&)>;

    virtual ~DnsSdPublisher() = default;

    // Starts advertising `name` of `type` (for example "_http._tcp") on `port` in the default
    // domain, with no TXT record, until the publisher is destroyed. Called at most once.
    virtual void publish(const QString& name, const QString& type, quint16 port,
                         EventHandler handler) = 0;
};

} // namespace qb
