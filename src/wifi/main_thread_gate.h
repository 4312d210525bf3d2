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
// thread can always answer its phone. Work given up on before it started never runs; work that has
// started on the GUI thread is waited for (until close()), so its effect is never unreported.
//
// post() and call() may be used from any thread; called on the context's own thread they run the
// work directly (waiting there would dead-lock). close() may be called from any thread.
class MainThreadGate
{
    template <typename T> struct Pending
    {
        bool started = false;
        bool abandoned = false;
        std::optional<T> result;
    };

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

        auto state = m_state;
        auto pending = std::make_shared<Pending<T>>();
        std::chrono::milliseconds timeout;
        {
            QMutexLocker lock(&state->mutex);
            if (state->closed)
                return fallback;
            timeout = state->timeout;
        }
        QMetaObject::invokeMethod(
            context,
            [state, pending, task = std::move(task), fallback] {
                {
                    QMutexLocker lock(&state->mutex);
                    // A caller that gave up must not find the work done behind its back (a
                    // pairing nobody hears of would still replace the phone's token).
                    if (pending->abandoned)
                        return;
                    pending->started = true;
                }
                std::optional<T> result;
                try {
                    result = task();
                } catch (...) {
                    result = fallback;
                }
                QMutexLocker lock(&state->mutex);
                pending->result = std::move(result);
                state->answered.wakeAll();
            },
            Qt::QueuedConnection);

        QMutexLocker lock(&state->mutex);
        ++state->waiting;
        QDeadlineTimer deadline(timeout);
        while (!pending->result && !state->closed) {
            if (state->answered.wait(&state->mutex, deadline))
                continue;
            // Once the work has begun it is finishing on the GUI thread; take its answer.
            if (pending->started) {
                deadline = QDeadlineTimer(QDeadlineTimer::Forever);
                continue;
            }
            break;
        }
        --state->waiting;
        if (pending->result)
            return *pending->result;
        pending->abandoned = true;
        return fallback;
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
