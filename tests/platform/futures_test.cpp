#include "platform/futures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qb {
namespace {

// Guards a Qt 6.4 fault: a continuation attached while another thread finishes the future could
// run twice, the second time on an emptied promise, and crash.
TEST(Futures, ContinuationAttachedWhileAnotherThreadFinishesRunsExactlyOnce)
{
    constexpr int rounds = 20000;
    std::atomic<int> runs{0};
    for (int i = 0; i < rounds; ++i) {
        QPromise<int> promise;
        QFuture<int> future = promise.future();
        promise.start();
        std::thread finisher([&] {
            promise.addResult(i);
            finishPromise(promise);
        });
        QFuture<int> mapped = thenSync(future, [&](int value) {
            ++runs;
            return value + 1;
        });
        finisher.join();
        ASSERT_EQ(mapped.result(), i + 1);
    }
    EXPECT_EQ(runs.load(), rounds);
}

} // namespace
} // namespace qb
