#include "platform/quit_signal_watcher.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

namespace qb {
namespace {

class CoreApplicationEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "quit_signal_test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new CoreApplicationEnvironment);

TEST(QuitSignalWatcherTest, TurnsTerminationSignalsIntoAQuitRequest)
{
    QuitSignalWatcher watcher;
    QSignalSpy requested(&watcher, &QuitSignalWatcher::quitRequested);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_EQ(::raise(signalNumber), 0);
        ASSERT_TRUE(requested.wait(10000) || !requested.isEmpty());
        EXPECT_EQ(requested.takeFirst().first().toInt(), signalNumber);
    }
}

TEST(QuitSignalWatcherTest, RestoresTheDefaultsWhenGone)
{
    {
        QuitSignalWatcher watcher;
    }
    struct sigaction current
    {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

} // namespace
} // namespace qb
