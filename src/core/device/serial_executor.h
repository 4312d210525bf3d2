#pragma once

#include "platform/futures.h"

#include <QFuture>
#include <QPromise>

#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>

namespace qb {

// A thread of its own that runs posted work one item at a time, in the order posted; work posted
// ahead (postAhead) runs before any ordinary work that has not started yet, in its own order.
// Destroying the executor does not wait: work already posted still runs, on the executor's
// thread, which then ends by itself (and is joined at process exit, unless the process leaves
// it behind: see waitForRetiredThreads()).
class SerialExecutor
{
public:
    SerialExecutor();
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    void post(std::function<void()> task);
    void postAhead(std::function<void()> task);
    bool isExecutorThread() const;

    // Waits up to `timeoutMs` for the threads of destroyed executors to finish their work; false
    // when one is still busy (a phone that stopped answering holds its call for up to a minute).
    static bool waitForRetiredThreads(int timeoutMs);

    // Runs `work` on the executor; its result or exception arrives through the future.
    template <typename F> auto run(F work) -> QFuture<std::invoke_result_t<F>>
    {
        return schedule(std::move(work), false);
    }
    // Like run(), but ahead of the ordinary work still waiting: it waits only for the item
    // under way and for work posted ahead before it.
    template <typename F> auto runAhead(F work) -> QFuture<std::invoke_result_t<F>>
    {
        return schedule(std::move(work), true);
    }

    struct State;

private:
    template <typename F> auto schedule(F work, bool ahead) -> QFuture<std::invoke_result_t<F>>
    {
        using T = std::invoke_result_t<F>;
        auto promise = std::make_shared<QPromise<T>>();
        QFuture<T> future = promise->future();
        promise->start();
        auto task = [promise, work = std::move(work)]() mutable {
            try {
                if constexpr (std::is_void_v<T>) {
                    work();
                } else {
                    promise->addResult(work());
                }
            } catch (...) {
                promise->setException(std::current_exception());
            }
            finishPromise(*promise);
        };
        if (ahead)
            postAhead(std::move(task));
        else
            post(std::move(task));
        return future;
    }

    static void runLoop(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace qb
