#pragma once

#include "platform/usb_hotplug_source.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

struct libusb_context;

namespace qb {

// Hot-plug notifications from libusb. The callbacks run on an event thread of our own, with a
// libusb context of our own, and are forwarded to the thread this object lives in.
class LibusbHotplugSource : public UsbHotplugSource
{
    Q_OBJECT

public:
    explicit LibusbHotplugSource(QObject* parent = nullptr);
    ~LibusbHotplugSource() override;

    bool start() override;
    void stop() override;

    // Why the last start() failed; empty after a successful one.
    QString lastError() const { return m_lastError; }

private:
    struct ContextDeleter
    {
        void operator()(libusb_context* context) const;
    };
    class Registration;

    friend struct HotplugTrampoline;

    void runEvents();
    // Called on the event thread for every attach and detach.
    void postNotification();

    std::unique_ptr<libusb_context, ContextDeleter> m_context;
    std::unique_ptr<Registration> m_registration;
    std::thread m_eventThread;
    std::atomic<bool> m_running{false};
    // Bumped by every stop, so that notifications still queued from an earlier period are dropped.
    std::atomic<quint64> m_generation{0};
    QString m_lastError;
};

} // namespace qb
