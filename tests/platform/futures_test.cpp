#include "platform/futures.h"

#include <gtest/gtest.h>

#include <QString>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace qb;

namespace {
struct CustomError
{
    int code;
};
} // namespace

TEST(Futures, ReadyFuturesCarryTheirValue)
{
    auto f = readyFuture(QStringLiteral("x"));
    ASSERT_TRUE(f.isFinished());
    EXPECT_EQ(f.result(), QStringLiteral("x"));

    auto shared = readyFuture(std::make_shared<int>(7));
    EXPECT_EQ(*shared.result(), 7);

    auto v = readyFuture();
    EXPECT_TRUE(v.isFinished());
    EXPECT_FALSE(v.isCanceled());
}

TEST(Futures, FailedFuturesRethrowTheirErrorOfAnyType)
{
    auto f = failedFuture<int>(CustomError{42});
    ASSERT_TRUE(f.isFinished());
    try {
        f.waitForFinished();
        f.result();
        FAIL() << "no exception";
    } catch (const CustomError& e) {
        EXPECT_EQ(e.code, 42);
    }

    auto g = failedFuture<void>(std::make_exception_ptr(std::runtime_error("boom")));
    EXPECT_THROW(g.waitForFinished(), std::runtime_error);
}

TEST(Futures, OnFailedSeesTheTypedError)
{
    int seen = 0;
    auto f = failedFuture<int>(CustomError{5}).onFailed([&](const CustomError& e) {
        seen = e.code;
        return -1;
    });
    EXPECT_EQ(f.result(), -1);
    EXPECT_EQ(seen, 5);
}

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
