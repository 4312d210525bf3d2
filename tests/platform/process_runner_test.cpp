#include "platform/open_file_limit.h"
#include "platform/qprocess_runner.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace qb {
namespace {

TEST(QProcessRunnerTest, ReportsHowTheProgramEnded)
{
    QProcessRunner runner(2000);
    const auto sh = [&](const QString& script) {
        return runner.run(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    };
    EXPECT_TRUE(sh(QStringLiteral("exit 0")).succeeded());
    const ProcessResult failed = sh(QStringLiteral("exit 3"));
    EXPECT_TRUE(failed.started);
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_FALSE(failed.succeeded());
    const ProcessResult killed = sh(QStringLiteral("kill -KILL $$"));
    EXPECT_TRUE(killed.crashed);
    EXPECT_FALSE(killed.succeeded());
    const ProcessResult missing = runner.run(QStringLiteral("qb-no-such-program-here"), {});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.succeeded());
    const ProcessResult hung = runner.run(QStringLiteral("sleep"), {QStringLiteral("600")});
    EXPECT_TRUE(hung.started);
    EXPECT_TRUE(hung.timedOut);
    EXPECT_FALSE(hung.succeeded());

    // Spaces, quotes and line breaks reach the program as one argument each.
    const QString tricky = QStringLiteral("a b 'c'\n\"d\"");
    EXPECT_TRUE(runner
                    .run(QStringLiteral("sh"),
                         {QStringLiteral("-c"), QStringLiteral("[ \"$1\" = \"$2\" ]"),
                          QStringLiteral("sh"), tricky, QStringLiteral("a b 'c'\n\"d\"")})
                    .succeeded());

    // A program started after the open-file limit was raised runs with the limit it had before.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max > 256) {
        limit.rlim_cur = 256;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
        ASSERT_GT(raiseOpenFileLimit().soft, 256);
        EXPECT_TRUE(sh(QStringLiteral("[ \"$(ulimit -n)\" = 256 ]")).succeeded());
    }
}

} // namespace
} // namespace qb
