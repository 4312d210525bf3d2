#include "platform/quit_signal_watcher.h"
#include "support/test_support.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

namespace qb {
namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new test::QtApplicationEnvironment);

TEST(QuitSignalWatcherTest, TurnsTerminationSignalsIntoAQuitRequestAndRestoresTheDefaults)
{
    {
        QuitSignalWatcher watcher;
        QSignalSpy requested(&watcher, &QuitSignalWatcher::quitRequested);
        for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            ASSERT_EQ(::raise(signalNumber), 0);
            ASSERT_TRUE(requested.wait(10000) || !requested.isEmpty());
            EXPECT_EQ(requested.takeFirst().first().toInt(), signalNumber);
        }
    }
    struct sigaction current
    {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

} // namespace
} // namespace qb
