#include "core/device/serial_executor.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace qb {

struct SerialExecutor::State
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    std::deque<std::function<void()>> ahead; // runs before `queue`
    bool stopping = false;
    bool finished = false;
    std::thread::id threadId;
};

namespace {

// Threads of destroyed executors finish their queue on their own; whatever still runs when the
// process ends is joined here, so no device call is cut off half-way.
class RetiredThreads
{
public:
    static RetiredThreads& instance()
    {
        static RetiredThreads retired;
        return retired;
    }

    void add(std::thread thread, std::shared_ptr<SerialExecutor::State> state)
    {
        std::vector<std::thread> done;
        {
            std::lock_guard lock(m_mutex);
            // Reap the threads that have already ended so the list stays short.
            for (auto it = m_entries.begin(); it != m_entries.end();) {
                bool finished;
                {
                    std::lock_guard stateLock(it->second->mutex);
                    finished = it->second->finished;
                }
                if (finished) {
                    done.push_back(std::move(it->first));
                    it = m_entries.erase(it);
                } else {
                    ++it;
                }
            }
            m_entries.emplace_back(std::move(thread), std::move(state));
        }
        for (auto& t : done)
            t.join();
    }

    bool waitUntilFinished(int timeoutMs)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::lock_guard lock(m_mutex);
        for (auto& entry : m_entries) {
            std::unique_lock stateLock(entry.second->mutex);
            if (!entry.second->wake.wait_until(stateLock, deadline,
                                               [&] { return entry.second->finished; }))
                return false;
        }
        return true;
    }

    ~RetiredThreads()
    {
        std::vector<std::pair<std::thread, std::shared_ptr<SerialExecutor::State>>> entries;
        {
            std::lock_guard lock(m_mutex);
            entries.swap(m_entries);
        }
        for (auto& entry : entries)
            entry.first.join();
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<std::thread, std::shared_ptr<SerialExecutor::State>>> m_entries;
};

} // namespace

void SerialExecutor::runLoop(const std::shared_ptr<State>& state)
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] {
                return state->stopping || !state->queue.empty() || !state->ahead.empty();
            });
            auto& next = state->ahead.empty() ? state->queue : state->ahead;
            if (next.empty()) {
                state->finished = true;
                state->wake.notify_all();
                return;
            }
            task = std::move(next.front());
            next.pop_front();
        }
        try {
            task();
        } catch (...) {
            // Tasks report their own failures; nothing may escape the thread.
        }
    }
}

SerialExecutor::SerialExecutor() : m_state(std::make_shared<State>())
{
    // Constructed before the first thread so it outlives every executor thread.
    RetiredThreads::instance();
    std::lock_guard lock(m_state->mutex);
    m_thread = std::thread([state = m_state] { runLoop(state); });
    m_state->threadId = m_thread.get_id();
}

SerialExecutor::~SerialExecutor()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_all();
    RetiredThreads::instance().add(std::move(m_thread), m_state);
}

void SerialExecutor::post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->queue.push_back(std::move(task));
    }
    m_state->wake.notify_one();
}

void SerialExecutor::postAhead(std::function<void()> task)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->ahead.push_back(std::move(task));
    }
    m_state->wake.notify_one();
}

bool SerialExecutor::waitForRetiredThreads(int timeoutMs)
{
    return RetiredThreads::instance().waitUntilFinished(timeoutMs);
}

bool SerialExecutor::isExecutorThread() const
{
    std::lock_guard lock(m_state->mutex);
    return std::this_thread::get_id() == m_state->threadId;
}

} // namespace qb
