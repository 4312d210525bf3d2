#pragma once

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

namespace qb {

// Objects on other threads (the server's connections) that may still be handed work. Each is
// remembered with a serial, so that a new object at the address of a destroyed one is never
// mistaken for it; a destroyed one is forgotten before its own posted events are dropped, and a
// retired one (a connection that has ended but is not destroyed yet) is handed nothing more.
class LiveContexts
{
public:
    struct Ticket
    {
        QObject* context = nullptr;
        quint64 serial = 0;
    };

    // The process-wide list; it is never destroyed, as connection threads may outlive main().
    static LiveContexts& instance();

    // Remembers `context` until it is destroyed. Any thread.
    Ticket enlist(QObject* context);
    // From now on `context` counts as gone, though it is not destroyed yet. Any thread; a context
    // that was never enlisted is left alone.
    void retire(QObject* context);
    // Posts `work` to the context's thread unless the context is gone (then false). Any thread.
    bool post(const Ticket& ticket, std::function<void()> work);
    // Runs `step` if the context is not gone, such that it cannot go meanwhile; false when it is
    // gone (and `step` did not run). Any thread.
    bool runIfLive(const Ticket& ticket, const std::function<void()>& step);

private:
    struct State;
    LiveContexts();
    std::shared_ptr<State> m_state;
};

// How the Wi-Fi server's connection threads reach a registry that lives on the GUI thread.
//
// post() queues work on the context object's thread and returns at once; work posted to the same
// thread runs in posting order (Qt's posted-event queue), whichever registry it is for.
//
// ask() puts a question to the GUI thread without blocking the asking thread: the question is
// posted like any other work, and its answer comes back to `context`'s thread (the asker's own,
// where ask() must be called). A GUI thread that has not taken the question up within
// `timeoutMs` gets the fallback answer delivered instead, and the question is then never run: a
// late PIN check would issue a token no phone receives. A question whose `context` is gone (or
// retired) before the GUI thread takes it up is given up the same way, without an answer: the
// phone that asked has left. Nothing is delivered once `context` is gone. Both may be used from
// any thread.
class MainThreadGate
{
public:
    // How long a question waits for the GUI thread unless its asker says otherwise.
    static constexpr int kDefaultTimeoutMs = 10'000;

    explicit MainThreadGate(QObject* context) : m_context(context) {}

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

    template <typename T>
    void ask(std::function<T()> question, T fallback, QObject* context, std::function<void(T)> done,
             int timeoutMs) const
    {
        askLater<T>([question = std::move(question)](
                        const std::function<void(T)>& reply) { reply(question()); },
                    std::move(fallback), context, std::move(done), timeoutMs);
    }

    // The same for a question the GUI thread takes up at once but answers later, by calling
    // `reply` once, from any thread (a pairing is answered once the disk holds it). Its asker
    // waits for that answer as for any other that is on the way.
    template <typename T>
    void askLater(std::function<void(const std::function<void(T)>& reply)> question, T fallback,
                  QObject* context, std::function<void(T)> done, int timeoutMs) const;

private:
    QObject* m_context;
};

template <typename T>
void MainThreadGate::askLater(std::function<void(const std::function<void(T)>& reply)> question,
                              T fallback, QObject* context, std::function<void(T)> done,
                              int timeoutMs) const
{
    // Lives on the context's thread: both the answer and the time-out are delivered there.
    struct Call
    {
        std::function<void(T)> done;
        QTimer* timer = nullptr;
        enum State { Pending, Asked, GivenUp };
        std::atomic<int> state{Pending};
        void deliver(T value)
        {
            if (!timer)
                return; // answered already
            // A download asks once per chunk: answered calls must not leave timers behind.
            timer->stop();
            timer->deleteLater();
            timer = nullptr;
            done(std::move(value));
        }
    };
    const LiveContexts::Ticket ticket = LiveContexts::instance().enlist(context);
    auto call = std::make_shared<Call>();
    call->done = std::move(done);
    call->timer = new QTimer(context);
    call->timer->setSingleShot(true);
    // Once the GUI thread has taken the question up, its answer is on the way and is awaited.
    QObject::connect(call->timer, &QTimer::timeout, call->timer, [call, fallback] {
        int expected = Call::Pending;
        if (call->state.compare_exchange_strong(expected, Call::GivenUp))
            call->deliver(fallback);
    });
    call->timer->start(timeoutMs);
    post([ticket, question = std::move(question), fallback, call] {
        // Taken up only while the asker is there: the context cannot go between this check and
        // the step to Asked, so a question is either answered on the way or never run.
        bool asked = false;
        const bool live = LiveContexts::instance().runIfLive(ticket, [&call, &asked] {
            int expected = Call::Pending;
            asked = call->state.compare_exchange_strong(expected, Call::Asked);
        });
        if (!live) {
            int expected = Call::Pending;
            call->state.compare_exchange_strong(expected, Call::GivenUp);
        }
        if (!asked)
            return;
        const std::function<void(T)> reply = [ticket, call](T answer) {
            LiveContexts::instance().post(ticket, [call, answer] { call->deliver(answer); });
        };
        try {
            question(reply);
        } catch (...) {
            // A registry does not throw; if one did, the phone gets the empty answer (a second
            // answer is dropped on delivery).
            reply(fallback);
        }
    });
}

} // namespace qb
