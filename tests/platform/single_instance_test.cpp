#include "platform/single_instance.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace qb {
namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new test::QtApplicationEnvironment);

// Guards against a copy that is quitting, which may take a slow disk's ten seconds, still showing
// its window to a later start: that start would end, and then no copy would run at all.
TEST(SingleInstanceTest, ACopyThatIsQuittingHandsNoStartOverAndTheStartRunsOnceItHasGone)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto quitting = std::make_unique<SingleInstance>(folder.path());
    ASSERT_EQ(quitting->start(1000), SingleInstance::Outcome::Running);
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();

    constexpr int notYet = -1;
    std::atomic<int> outcome = notYet;
    std::unique_ptr<QThread> later(QThread::create([&] {
        SingleInstance instance(folder.path());
        outcome = int(instance.start(20'000));
    }));
    later->start();
    // The quit goes on, and events with it, for a while: the later start keeps waiting.
    EXPECT_FALSE(test::waitUntil([&] { return outcome != notYet; }, 1500));
    EXPECT_EQ(outcome, notYet) << "a quitting copy handed a start over";

    quitting.reset();
    ASSERT_TRUE(later->wait(20'000));
    EXPECT_EQ(outcome, int(SingleInstance::Outcome::Running));
}

} // namespace
} // namespace qb
