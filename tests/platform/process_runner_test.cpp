#include "platform/qprocess_runner.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(QProcessRunnerTest, ReportsTheExitStatusOfAProgramFoundInPath)
{
    QProcessRunner runner;
    const ProcessResult ok = runner.run(QStringLiteral("sh"), {QStringLiteral("-c"), "exit 0"});
    EXPECT_TRUE(ok.started);
    EXPECT_TRUE(ok.succeeded());

    const ProcessResult failed =
        runner.run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exit 3")});
    EXPECT_TRUE(failed.started);
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_FALSE(failed.succeeded());

    const ProcessResult killed = runner.run(QStringLiteral("sh"), {"-c", "kill -KILL $$"});
    EXPECT_TRUE(killed.crashed);
    EXPECT_FALSE(killed.succeeded());
}

TEST(QProcessRunnerTest, AMissingProgramDoesNotStart)
{
    QProcessRunner runner;
    const ProcessResult result = runner.run(QStringLiteral("qb-no-such-program-here"), {});
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.succeeded());
}

TEST(QProcessRunnerTest, PassesArgumentsUnchanged)
{
    QProcessRunner runner;
    // Spaces, quotes and line breaks must reach the program as one argument each.
    const QString tricky = QStringLiteral("a b 'c'\n\"d\"");
    const ProcessResult result = runner.run(
        QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("[ \"$1\" = \"$2\" ]"),
                               QStringLiteral("sh"), tricky, QStringLiteral("a b 'c'\n\"d\"")});
    EXPECT_TRUE(result.succeeded());
}

TEST(QProcessRunnerTest, StopsWaitingForAProgramThatHangs)
{
    QProcessRunner runner(2000);
    const ProcessResult result = runner.run(QStringLiteral("sleep"), {QStringLiteral("600")});
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
}

} // namespace
} // namespace qb
