#include "core/device/serial_executor.h"

#include <gtest/gtest.h>

#include <QSemaphore>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace qb {
namespace {

TEST(SerialExecutorTest, RunsWorkOneAtATimeInOrderOnItsOwnThread)
{
    SerialExecutor executor;
    std::vector<int> order; // only touched on the executor thread
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    QList<QFuture<int>> futures;
    for (int i = 0; i < 50; ++i) {
        futures.append(executor.run([&, i] {
            if (running.fetch_add(1) != 0)
                overlapped = true;
            order.push_back(i);
            running.fetch_sub(1);
            return i * 2;
        }));
    }
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(futures[i].result(), i * 2);
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_TRUE(executor.run([&] { return executor.isExecutorThread(); }).result());
    EXPECT_FALSE(executor.isExecutorThread());
}

TEST(SerialExecutorTest, FailureKeepsItsTypeAndLaterWorkStillRuns)
{
    SerialExecutor executor;
    QFuture<void> failing = executor.run([] { throw std::out_of_range("boom"); });
    EXPECT_THROW(failing.waitForFinished(), std::out_of_range);
    EXPECT_EQ(executor.run([] { return 7; }).result(), 7);
}

TEST(SerialExecutorTest, DestructionLetsQueuedWorkFinishWithoutWaitingForIt)
{
    QSemaphore gate;
    std::atomic<int> done{0};
    QFuture<void> last;
    {
        SerialExecutor executor;
        executor.post([&] { gate.acquire(); });
        last = executor.run([&] { ++done; });
        // Leaves the scope while the first item is still blocked.
    }
    EXPECT_EQ(done.load(), 0);
    gate.release();
    last.waitForFinished();
    EXPECT_EQ(done.load(), 1);
}

} // namespace
} // namespace qb
