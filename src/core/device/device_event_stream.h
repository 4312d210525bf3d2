#pragma once

#include "core/device/device_model.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

namespace qb {

// The events of one monitoring period: many producers on any thread, one consumer on its own
// thread. Buffers without limit, so events yielded before the consumer attaches are delivered
// in order when it does. Once finished it drops every further event.
class DeviceEventStream : public std::enable_shared_from_this<DeviceEventStream>
{
public:
    // Appends an event; false when the stream has finished (the event is dropped).
    bool yield(const DeviceEvent& event);
    // Ends the stream; the consumer still takes the events buffered before.
    void finish();
    bool isFinished() const;

    // Attaches the one consumer: `ready` runs, queued on `context`'s thread, whenever events are
    // waiting or the stream has finished. Call detach() before `context` is destroyed.
    void attach(QObject* context, std::function<void()> ready);
    void detach();

    // The buffered events, oldest first; the buffer is emptied.
    QList<DeviceEvent> takeEvents();
    // Finished and nothing left to take: the consumer's loop is over.
    bool atEnd() const;

private:
    void wakeConsumerLocked();

    mutable std::mutex m_mutex;
    QList<DeviceEvent> m_buffer;
    bool m_finished = false;
    QObject* m_context = nullptr;
    std::function<void()> m_ready;
    bool m_wakePosted = false;
};

} // namespace qb
