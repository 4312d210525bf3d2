#include "app/crash_log_manager.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

namespace qb {
namespace {

TEST(CrashLogManagerTest, NamesSignalsByThePlatformsOwnNumbers)
{
    EXPECT_EQ(CrashLogManager::signalName(SIGABRT), QStringLiteral("SIGABRT"));
    EXPECT_EQ(CrashLogManager::signalName(SIGILL), QStringLiteral("SIGILL"));
    EXPECT_EQ(CrashLogManager::signalName(SIGSEGV), QStringLiteral("SIGSEGV"));
    EXPECT_EQ(CrashLogManager::signalName(SIGFPE), QStringLiteral("SIGFPE"));
    EXPECT_EQ(CrashLogManager::signalName(SIGTRAP), QStringLiteral("SIGTRAP"));
    // SIGBUS is 7 on Linux, not 10 as elsewhere; 10 is SIGUSR1 and gets no name.
    EXPECT_EQ(CrashLogManager::signalName(7), QStringLiteral("SIGBUS"));
    EXPECT_EQ(CrashLogManager::signalName(SIGUSR1), QStringLiteral("signal %1").arg(SIGUSR1));
    EXPECT_EQ(CrashLogManager::signalName(SIGTERM), QStringLiteral("signal 15"));
}

TEST(CrashLogManagerTest, GuardsTheFatalSignalsInOrder)
{
    EXPECT_EQ(CrashLogManager::guardedSignals(),
              (QList<int>{SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGTRAP}));
}

TEST(CrashLogManagerTest, AlertTexts)
{
    const Alert signal = CrashLogManager::signalAlert(CrashLogManager::signalName(SIGABRT));
    EXPECT_EQ(signal.style, Alert::Style::Critical);
    EXPECT_EQ(signal.title, QStringLiteral("Quillbay stopped working"));
    EXPECT_EQ(
        signal.message,
        QStringLiteral("An unexpected error occurred (SIGABRT). The app needs to be restarted."));
    EXPECT_EQ(signal.buttons, QStringList{QStringLiteral("Force Quit")});

    const Alert exception = CrashLogManager::exceptionAlert(QStringLiteral("std::runtime_error"),
                                                            QStringLiteral("disk on fire"));
    EXPECT_EQ(exception.title, QStringLiteral("Quillbay stopped working"));
    EXPECT_EQ(exception.message,
              QStringLiteral("An unexpected error occurred:\n\nstd::runtime_error\ndisk on fire"));
    EXPECT_EQ(exception.buttons, QStringList{QStringLiteral("Force Quit")});
    // Without a reason the message ends in the name and one line break.
    EXPECT_EQ(CrashLogManager::exceptionAlert(QStringLiteral("int"), QString()).message,
              QStringLiteral("An unexpected error occurred:\n\nint\n"));

    const Alert freeze = CrashLogManager::freezeAlert();
    EXPECT_EQ(freeze.style, Alert::Style::Critical);
    EXPECT_EQ(freeze.title, QStringLiteral("Quillbay is not responding"));
    EXPECT_EQ(freeze.message, QStringLiteral("The app appears to be frozen. You can wait for it to "
                                             "recover or force quit."));
    EXPECT_EQ(freeze.buttons, (QStringList{QStringLiteral("Force Quit"), QStringLiteral("Wait")}));
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

TEST(CrashGuardChildTest, ASegmentationFaultOnAWorkerAlertsAndEndsWithStatus1)
{
    const ChildOutcome outcome = runChild(QStringLiteral("segv-worker"), realExitDelayMs);
    EXPECT_TRUE(outcome.exitedNormally);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_GE(outcome.elapsedMs, realExitDelayMs);
    EXPECT_EQ(outcome.alerts(),
              QStringList{QStringLiteral("alert|1|Quillbay stopped working|An unexpected error "
                                         "occurred (SIGSEGV). The app needs to be restarted.")});
}

TEST(CrashGuardChildTest, AnExceptionEscapingAWorkerAlertsAndEndsWithStatus1)
{
    const ChildOutcome outcome = runChild(QStringLiteral("throw-worker"), realExitDelayMs);
    EXPECT_TRUE(outcome.exitedNormally);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_GE(outcome.elapsedMs, realExitDelayMs);
    EXPECT_EQ(outcome.alerts(),
              QStringList{QStringLiteral("alert|1|Quillbay stopped working|An unexpected error "
                                         "occurred:\\n\\nstd::runtime_error\\ndisk on fire")});
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

TEST(CrashGuardChildTest, InstallsOncePerProcess)
{
    const ChildOutcome outcome = runChild(QStringLiteral("install-twice"), shortExitDelayMs);
    EXPECT_TRUE(outcome.exitedNormally);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.lines, QStringList{QStringLiteral("once")});
}

TEST(CrashGuardChildTest, ExitingWithoutAnOrderlyShutdownStaysAPlainExit)
{
    // Guards against the guard's own threads turning std::exit into a crash.
    const ChildOutcome outcome = runChild(QStringLiteral("std-exit"), realExitDelayMs);
    EXPECT_TRUE(outcome.exitedNormally);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(outcome.alerts().isEmpty());
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
