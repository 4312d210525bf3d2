#pragma once

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>
#include <QWaitCondition>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace qb {

// How the Wi-Fi server's connection threads reach a registry that lives on the GUI thread.
//
// post() queues work on the context object's thread and returns at once; work posted to the same
// thread runs in posting order (Qt's posted-event queue), whichever registry it is for.
// call() does the same and then waits for the answer, but never forever: after the time-out, or
// once close() has been called (at shutdown), it gives up and returns the fallback, so a connection
// thread can always answer its phone. A late answer is then discarded.
//
// post() and call() may be used from any thread; called on the context's own thread they run the
// work directly (waiting there would dead-lock). close() may be called from any thread.
class MainThreadGate
{
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

    explicit MainThreadGate(QObject* context)
        : m_context(context), m_state(std::make_shared<State>())
    {}

    void setTimeout(std::chrono::milliseconds timeout)
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->timeout = timeout;
    }

    void post(std::function<void()> task) const
    {
        QObject* context = m_context;
        if (context == nullptr)
            return;
        QMetaObject::invokeMethod(
            context,
            [task = std::move(task)] {
                try {
                    task();
                } catch (...) {
                    // A registry operation does not throw; never let one escape the event loop.
                }
            },
            Qt::QueuedConnection);
    }

    template <typename T> T call(std::function<T()> task, T fallback) const
    {
        QObject* context = m_context;
        if (context == nullptr)
            return fallback;
        if (QThread::currentThread() == context->thread())
            return task();

        auto answer = std::make_shared<std::optional<T>>();
        auto state = m_state;
        std::chrono::milliseconds timeout;
        {
            QMutexLocker lock(&state->mutex);
            if (state->closed)
                return fallback;
            timeout = state->timeout;
        }
        QMetaObject::invokeMethod(
            context,
            [state, answer, task = std::move(task), fallback] {
                std::optional<T> result;
                try {
                    result = task();
                } catch (...) {
                    result = fallback;
                }
                QMutexLocker lock(&state->mutex);
                *answer = std::move(result);
                state->answered.wakeAll();
            },
            Qt::QueuedConnection);

        QMutexLocker lock(&state->mutex);
        ++state->waiting;
        QDeadlineTimer deadline(timeout);
        while (!answer->has_value() && !state->closed) {
            if (!state->answered.wait(&state->mutex, deadline))
                break;
        }
        --state->waiting;
        return answer->has_value() ? **answer : fallback;
    }

    // Releases every waiting caller and makes later calls return their fallback at once.
    void close()
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->closed = true;
        m_state->answered.wakeAll();
    }

    bool isClosed() const
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->closed;
    }

    // How many callers are blocked in call() right now (lets tests release a wait in progress).
    int waitingCount() const
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->waiting;
    }

private:
    struct State
    {
        QMutex mutex;
        QWaitCondition answered;
        bool closed = false;
        int waiting = 0;
        std::chrono::milliseconds timeout = kDefaultTimeout;
    };

    QObject* m_context;
    std::shared_ptr<State> m_state;
};

} // namespace qb
