#include "core/transfer/progress_rate_gate.h"

#include "engine_test_support.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace qb::test {
namespace {

TEST(ProgressRateGate, LetsOneReportThroughPerTenthOfASecond)
{
    FakeClock clock;
    ProgressRateGate gate(clock.function());
    EXPECT_TRUE(gate.shouldFire()) << "the first report always passes";
    clock.advance(50ms);
    EXPECT_FALSE(gate.shouldFire());
    clock.advance(49ms);
    EXPECT_FALSE(gate.shouldFire()) << "99 ms after the last one that passed";
    clock.advance(1ms);
    EXPECT_TRUE(gate.shouldFire()) << "exactly 0.1 s passes";
    EXPECT_FALSE(gate.shouldFire());
}

} // namespace
} // namespace qb::test
