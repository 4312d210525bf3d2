#include "core/device/device_event_stream.h"

#include <QMetaObject>

#include <utility>

namespace qb {

bool DeviceEventStream::yield(const DeviceEvent& event)
{
    std::lock_guard guard(m_mutex);
    if (m_finished) {
        return false;
    }
    m_buffer.append(event);
    wakeConsumerLocked();
    return true;
}

void DeviceEventStream::finish()
{
    std::lock_guard guard(m_mutex);
    if (m_finished) {
        return;
    }
    m_finished = true;
    wakeConsumerLocked();
}

bool DeviceEventStream::isFinished() const
{
    std::lock_guard guard(m_mutex);
    return m_finished;
}

void DeviceEventStream::attach(QObject* context, std::function<void()> ready)
{
    std::lock_guard guard(m_mutex);
    m_context = context;
    m_ready = std::move(ready);
    m_wakePosted = false;
    if (!m_buffer.isEmpty() || m_finished) {
        wakeConsumerLocked();
    }
}

void DeviceEventStream::detach()
{
    std::lock_guard guard(m_mutex);
    m_context = nullptr;
    m_ready = nullptr;
}

QList<DeviceEvent> DeviceEventStream::takeEvents()
{
    std::lock_guard guard(m_mutex);
    return std::exchange(m_buffer, {});
}

bool DeviceEventStream::atEnd() const
{
    std::lock_guard guard(m_mutex);
    return m_finished && m_buffer.isEmpty();
}

void DeviceEventStream::wakeConsumerLocked()
{
    // One wake-up at a time is enough: the consumer takes everything buffered when it runs.
    if (m_context == nullptr || m_wakePosted) {
        return;
    }
    m_wakePosted = true;
    // Posting under the mutex: detach() (called before the context goes away) cannot slip in
    // between the check above and the post. Qt drops the call if the context is destroyed later.
    QMetaObject::invokeMethod(
        m_context,
        [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            std::function<void()> ready;
            {
                std::lock_guard guard(self->m_mutex);
                self->m_wakePosted = false;
                ready = self->m_ready;
            }
            if (ready) {
                ready();
            }
        },
        Qt::QueuedConnection);
}

} // namespace qb
