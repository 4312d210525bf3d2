#include "app/crash_log_manager.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

namespace qb {
namespace {

TEST(CrashLogManagerTest, NamesSignalsByThisPlatformsNumbersAndTheEnvironmentTurnsItOff)
{
    // SIGBUS is 7 on Linux, not 10 as elsewhere; 10 is SIGUSR1 and gets no name.
    EXPECT_EQ(CrashLogManager::signalName(7), QStringLiteral("SIGBUS"));
    EXPECT_EQ(CrashLogManager::signalName(SIGUSR1), QStringLiteral("signal %1").arg(SIGUSR1));
    for (const auto& [value, enabled] : {std::pair{"off", false}, {"OFF", false}, {"on", true}}) {
        qputenv("QB_CRASH_GUARD", value);
        EXPECT_EQ(CrashLogManager::enabledByEnvironment(), enabled) << value;
    }
    qunsetenv("QB_CRASH_GUARD");
    EXPECT_TRUE(CrashLogManager::enabledByEnvironment());
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

TEST(CrashGuardChildTest, FaultsEndWithStatus1AndWorkerFaultsAndFreezesAlertOnTheGuiThread)
{
    // Long enough for the GUI thread to show the alert on any machine; short where nothing waits.
    constexpr int longMs = 5000;
    constexpr int shortMs = 300;
    const QString crash = QStringLiteral("alert|1|Quillbay stopped working|An unexpected error ");
    const QString freeze =
        QStringLiteral("alert|1|Quillbay is not responding|The app appears to "
                       "be frozen. You can wait for it to recover or force quit.");
    struct Case
    {
        const char* scenario;
        int delayMs;
        int exitCode;
        QStringList alerts;
    };
    const Case cases[] = {
        {"segv-worker", longMs, 1, {crash + "occurred (SIGSEGV). The app needs to be restarted."}},
        {"throw-worker", longMs, 1, {crash + "occurred:\\n\\nstd::runtime_error\\ndisk on fire"}},
        // On the GUI thread no alert can show; a stack overflow too ends normally (the handler
        // has its own stack).
        {"segv-main", shortMs, 1, {}},
        {"throw-main", shortMs, 1, {}},
        {"overflow-main", shortMs, 1, {}},
        // Guards against the guard's own threads turning std::exit into a crash.
        {"std-exit", longMs, 0, {}},
        // The child blocks its GUI thread until the watchdog queues an alert, answers "Wait" and
        // quits. A second freeze alert asked for while the first is open is not shown.
        {"freeze-wait", shortMs, 0, {freeze}},
        {"freeze-force-quit", longMs, 1, {freeze}},
        {"install-twice", shortMs, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const ChildOutcome outcome = runChild(QString::fromUtf8(c.scenario), c.delayMs);
        EXPECT_TRUE(outcome.exitedNormally);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.alerts(), c.alerts) << outcome.lines.join(u'\n').toStdString();
        if (c.exitCode == 1 && c.alerts != QStringList{freeze}) { // faults wait out the delay
            EXPECT_GE(outcome.elapsedMs, c.delayMs);
        }
        // Force quit ends at once; a second installation is refused.
        EXPECT_FALSE(outcome.lines.contains(QStringLiteral("still running")));
        if (c.scenario == std::string("install-twice")) {
            EXPECT_EQ(outcome.lines, QStringList{QStringLiteral("once")});
        }
    }
}

} // namespace
} // namespace qb
