#include "app/freeze_watchdog.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

// Runs `seconds` one-second checks while the GUI thread is blocked (the counter stands still)
// and counts the alerts that come due.
int alertsWhileBlocked(FreezeWatchdog& watchdog, quint64 counter, int seconds)
{
    int alerts = 0;
    for (int i = 0; i < seconds; ++i)
        alerts += watchdog.check(counter) ? 1 : 0;
    return alerts;
}

// The heartbeat runs five times a second while the GUI thread is free.
quint64 runFreely(FreezeWatchdog& watchdog, quint64 counter, int seconds)
{
    for (int i = 0; i < seconds; ++i) {
        counter += 5;
        EXPECT_FALSE(watchdog.check(counter));
    }
    return counter;
}

TEST(FreezeWatchdogTest, AlertsOnTheSixthStalledSecondAndEverySixAfter)
{
    FreezeWatchdog seven;
    EXPECT_EQ(alertsWhileBlocked(seven, runFreely(seven, 1, 3), 7), 1);
    FreezeWatchdog thirteen;
    EXPECT_EQ(alertsWhileBlocked(thirteen, runFreely(thirteen, 1, 3), 13), 2);

    // A beat starts the count again.
    FreezeWatchdog watchdog;
    quint64 counter = runFreely(watchdog, 1, 2);
    EXPECT_EQ(alertsWhileBlocked(watchdog, counter, 5), 0);
    counter = runFreely(watchdog, counter, 1);
    EXPECT_EQ(alertsWhileBlocked(watchdog, counter, 5), 0);
    EXPECT_TRUE(watchdog.check(counter));

    // A GUI thread that never beat at all is stalled as well.
    FreezeWatchdog never;
    EXPECT_EQ(alertsWhileBlocked(never, 0, 6), 1);
}

} // namespace
} // namespace qb
