#include "platform/libusb_hotplug_source.h"

#include <QMetaObject>

#include <libusb.h>

#include <chrono>

namespace qb {

namespace {
// Long enough to keep the event thread idle, short enough that a stop never waits long even if
// deregistering did not wake the thread.
constexpr int kEventWaitMicroseconds = 250'000;
} // namespace

struct HotplugTrampoline
{
    static int LIBUSB_CALL onHotplug(libusb_context*, libusb_device*, libusb_hotplug_event,
                                     void* userData)
    {
        static_cast<LibusbHotplugSource*>(userData)->postNotification();
        return 0; // stay registered
    }
};

void LibusbHotplugSource::ContextDeleter::operator()(libusb_context* context) const
{
    libusb_exit(context);
}

// Owns one registered hot-plug callback.
class LibusbHotplugSource::Registration
{
public:
    Registration(libusb_context* context, libusb_hotplug_callback_handle handle)
        : m_context(context), m_handle(handle)
    {}
    ~Registration() { libusb_hotplug_deregister_callback(m_context, m_handle); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    libusb_context* m_context;
    libusb_hotplug_callback_handle m_handle;
};

LibusbHotplugSource::LibusbHotplugSource(QObject* parent) : UsbHotplugSource(parent) {}

LibusbHotplugSource::~LibusbHotplugSource()
{
    stop();
}

bool LibusbHotplugSource::start()
{
    stop();
    m_lastError.clear();

    libusb_context* raw = nullptr;
    const int initResult = libusb_init(&raw);
    if (initResult != LIBUSB_SUCCESS) {
        m_lastError = QStringLiteral("libusb_init failed: %1")
                          .arg(QString::fromUtf8(libusb_error_name(initResult)));
        return false;
    }
    std::unique_ptr<libusb_context, ContextDeleter> context(raw);

    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
        m_lastError = QStringLiteral("libusb has no hot-plug support on this system");
        return false;
    }

    libusb_hotplug_callback_handle handle = 0;
    const int registerResult = libusb_hotplug_register_callback(
        context.get(),
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, &HotplugTrampoline::onHotplug, this, &handle);
    if (registerResult != LIBUSB_SUCCESS) {
        m_lastError = QStringLiteral("libusb_hotplug_register_callback failed: %1")
                          .arg(QString::fromUtf8(libusb_error_name(registerResult)));
        return false;
    }

    m_context = std::move(context);
    m_registration = std::make_unique<Registration>(m_context.get(), handle);
    m_running = true;
    m_eventThread = std::thread([this] { runEvents(); });
    return true;
}

void LibusbHotplugSource::stop()
{
    ++m_generation;
    if (!m_context) {
        return;
    }
    m_running = false;
    // Deregistering wakes the event thread; the loop then sees m_running cleared.
    m_registration.reset();
    if (m_eventThread.joinable()) {
        m_eventThread.join();
    }
    m_context.reset();
}

void LibusbHotplugSource::runEvents()
{
    while (m_running) {
        timeval wait{0, kEventWaitMicroseconds};
        const int result = libusb_handle_events_timeout_completed(m_context.get(), &wait, nullptr);
        if (result < 0 && result != LIBUSB_ERROR_INTERRUPTED) {
            // Do not spin on a persistent error; the next turn tries again.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

void LibusbHotplugSource::postNotification()
{
    const quint64 generation = m_generation.load();
    // Queued to this object's thread; the event is dropped by Qt if the object is gone, and the
    // generation check drops notifications that were still queued when monitoring stopped.
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation.load()) {
                emit deviceChanged();
            }
        },
        Qt::QueuedConnection);
}

} // namespace qb
