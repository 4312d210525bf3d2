#include "app/crash_log_manager.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

namespace qb {
namespace {

TEST(CrashLogManagerTest, NamesSignalsByThisPlatformsNumbers)
{
    // SIGBUS is 7 on Linux, not 10 as elsewhere; 10 is SIGUSR1 and gets no name.
    EXPECT_EQ(CrashLogManager::signalName(7), QStringLiteral("SIGBUS"));
    EXPECT_EQ(CrashLogManager::signalName(SIGUSR1), QStringLiteral("signal %1").arg(SIGUSR1));
}

TEST(CrashLogManagerTest, AnEnvironmentVariableTurnsTheGuardOff)
{
    const QByteArray saved = qgetenv("QB_CRASH_GUARD");
    qputenv("QB_CRASH_GUARD", "off");
    EXPECT_FALSE(CrashLogManager::enabledByEnvironment());
    qputenv("QB_CRASH_GUARD", "OFF");
    EXPECT_FALSE(CrashLogManager::enabledByEnvironment());
    qputenv("QB_CRASH_GUARD", "on");
    EXPECT_TRUE(CrashLogManager::enabledByEnvironment());
    qunsetenv("QB_CRASH_GUARD");
    EXPECT_TRUE(CrashLogManager::enabledByEnvironment());
    qputenv("QB_CRASH_GUARD", saved);
}

// The guard in a child process of its own (tests/app/crash_guard_child.cpp).
struct ChildOutcome
{
    bool exitedNormally = false;
    int exitCode = -1;
    qint64 elapsedMs = 0;
    QStringList lines;

    QStringList alerts() const
    {
        return lines.filter(QRegularExpression(QStringLiteral("^alert\\|")));
    }
};

ChildOutcome runChild(const QString& scenario, int exitDelayMs)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    child.start(QStringLiteral(QB_CRASH_GUARD_CHILD), {scenario, QString::number(exitDelayMs)});
    EXPECT_TRUE(child.waitForStarted(30000));
    EXPECT_TRUE(child.waitForFinished(120000));
    ChildOutcome outcome;
    outcome.elapsedMs = clock.elapsed();
    outcome.exitedNormally = child.exitStatus() == QProcess::NormalExit;
    outcome.exitCode = child.exitCode();
    outcome.lines = QString::fromUtf8(child.readAllStandardOutput())
                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return outcome;
}

// Long enough for the GUI thread to show the alert on any machine that runs the tests.
constexpr int realExitDelayMs = 5000;
// Nothing waits for the GUI thread here, so a short delay keeps the test quick.
constexpr int shortExitDelayMs = 300;

TEST(CrashGuardChildTest, AFaultOnAWorkerAlertsOnTheGuiThreadAndEndsWithStatus1)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("segv-worker"),
         QStringLiteral("alert|1|Quillbay stopped working|An unexpected error occurred (SIGSEGV). "
                        "The app needs to be restarted.")},
        {QStringLiteral("throw-worker"),
         QStringLiteral("alert|1|Quillbay stopped working|An unexpected error "
                        "occurred:\\n\\nstd::runtime_error\\ndisk on fire")}};
    for (const auto& [scenario, alert] : cases) {
        SCOPED_TRACE(scenario.toStdString());
        const ChildOutcome outcome = runChild(scenario, realExitDelayMs);
        EXPECT_TRUE(outcome.exitedNormally);
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_GE(outcome.elapsedMs, realExitDelayMs);
        EXPECT_EQ(outcome.alerts(), QStringList{alert});
    }
}

TEST(CrashGuardChildTest, AFaultOnTheGuiThreadEndsWithStatus1WithoutAnAlert)
{
    for (const QString& scenario : {QStringLiteral("segv-main"), QStringLiteral("throw-main"),
                                    QStringLiteral("overflow-main")}) {
        SCOPED_TRACE(scenario.toStdString());
        const ChildOutcome outcome = runChild(scenario, shortExitDelayMs);
        EXPECT_TRUE(outcome.exitedNormally); // a stack overflow too: the handler has its own stack
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_GE(outcome.elapsedMs, shortExitDelayMs);
        EXPECT_TRUE(outcome.alerts().isEmpty())
            << outcome.lines.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(CrashGuardChildTest, InstallsOnceAndAPlainExitStaysPlain)
{
    const ChildOutcome twice = runChild(QStringLiteral("install-twice"), shortExitDelayMs);
    EXPECT_TRUE(twice.exitedNormally);
    EXPECT_EQ(twice.exitCode, 0);
    EXPECT_EQ(twice.lines, QStringList{QStringLiteral("once")});
    // Guards against the guard's own threads turning std::exit into a crash.
    const ChildOutcome exited = runChild(QStringLiteral("std-exit"), realExitDelayMs);
    EXPECT_TRUE(exited.exitedNormally);
    EXPECT_EQ(exited.exitCode, 0);
    EXPECT_TRUE(exited.alerts().isEmpty());
}

TEST(CrashGuardChildTest, ABlockedGuiThreadGetsOneFreezeAlertAndMayWait)
{
    // The child blocks its GUI thread until the watchdog queues an alert, answers "Wait" and
    // quits normally. A second freeze alert asked for while the first is open is not shown.
    const ChildOutcome outcome = runChild(QStringLiteral("freeze-wait"), shortExitDelayMs);
    EXPECT_TRUE(outcome.exitedNormally);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.alerts(), QStringList{QStringLiteral(
                                    "alert|1|Quillbay is not responding|The app appears to "
                                    "be frozen. You can wait for it to recover or force quit.")});
}

TEST(CrashGuardChildTest, ForceQuitInTheFreezeAlertEndsAtOnceWithStatus1)
{
    const ChildOutcome outcome = runChild(QStringLiteral("freeze-force-quit"), realExitDelayMs);
    EXPECT_TRUE(outcome.exitedNormally);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.alerts().size(), 1);
    EXPECT_FALSE(outcome.lines.contains(QStringLiteral("still running")));
}

} // namespace
} // namespace qb
