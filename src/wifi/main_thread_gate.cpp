#include "wifi/main_thread_gate.h"

#include <QHash>
#include <QMutex>

namespace qb {

struct LiveContexts::State
{
    QMutex mutex;
    // A retired context keeps its entry, with serial 0, until it is destroyed: enlisting it
    // again does not bring it back.
    QHash<QObject*, quint64> live;
    quint64 nextSerial = 1;

    bool isLive(const Ticket& ticket) const
    {
        return ticket.serial != 0 && live.value(ticket.context) == ticket.serial;
    }
};

LiveContexts::LiveContexts() : m_state(std::make_shared<State>()) {}

LiveContexts& LiveContexts::instance()
{
    static LiveContexts* const contexts = new LiveContexts;
    return *contexts;
}

LiveContexts::Ticket LiveContexts::enlist(QObject* context)
{
    QMutexLocker lock(&m_state->mutex);
    if (const auto found = m_state->live.constFind(context); found != m_state->live.cend())
        return {context, *found};
    const quint64 serial = m_state->nextSerial++;
    m_state->live.insert(context, serial);
    // Runs on the context's own thread while it is destroyed, before its posted events go.
    QObject::connect(context, &QObject::destroyed, [state = m_state, context] {
        QMutexLocker lock(&state->mutex);
        state->live.remove(context);
    });
    return {context, serial};
}

void LiveContexts::retire(QObject* context)
{
    QMutexLocker lock(&m_state->mutex);
    if (const auto found = m_state->live.find(context); found != m_state->live.end())
        *found = 0;
}

bool LiveContexts::post(const Ticket& ticket, std::function<void()> work)
{
    // Posted under the lock: the context cannot be destroyed between the check and the post, and
    // once it is destroyed Qt drops what was posted to it.
    QMutexLocker lock(&m_state->mutex);
    if (!m_state->isLive(ticket))
        return false;
    QMetaObject::invokeMethod(ticket.context, std::move(work), Qt::QueuedConnection);
    return true;
}

bool LiveContexts::runIfLive(const Ticket& ticket, const std::function<void()>& step)
{
    QMutexLocker lock(&m_state->mutex);
    if (!m_state->isLive(ticket))
        return false;
    step();
    return true;
}

} // namespace qb
