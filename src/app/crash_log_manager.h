#pragma once

#include "app/alert_presenter.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace qb {

// Turns fatal signals, uncaught exceptions and a stalled GUI thread into alerts, and writes the
// crash report that the support mail attaches. Process-wide: everything is static.
//
// A fatal signal or an uncaught exception ends the process with status 1 after `exitDelay`, on
// the thread that failed; the alert is shown meanwhile if the GUI thread can still run. The signal
// handler itself only writes the signal number to a pipe (another thread turns it into the
// alert), sleeps and calls _exit, all async-signal-safe; it runs on an alternate stack so that a
// stack overflow of the GUI thread is caught too.
class CrashLogManager
{
public:
    struct Options
    {
        std::chrono::milliseconds exitDelay{5000};
    };

    static constexpr int heartbeatIntervalMs = 200;

    // Installs the handlers of SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS and SIGTRAP (in that
    // order), the terminate handler, the heartbeat and the watchdog. Once per process: a later
    // call does nothing and returns false. Call on the GUI thread once QApplication exists;
    // `alerts` must outlive the process's event loop.
    static bool install(AlertPresenter& alerts, Options options);
    static bool install(AlertPresenter& alerts) { return install(alerts, Options{}); }
    static bool isInstalled();

    // False when QB_CRASH_GUARD=off: debuggers and sanitizers need the default handlers.
    static bool enabledByEnvironment();

    // Orderly quit: stops the heartbeat, the watchdog and the thread that watches for signals;
    // runs by itself when QApplication is destroyed. The handlers stay, so a fault while the
    // process winds down still ends with status 1.
    static void shutdown();

    static QList<int> guardedSignals();
    static QString signalName(int signalNumber);

    static Alert signalAlert(const QString& signalName);
    static Alert exceptionAlert(const QString& name, const QString& reason);
    static Alert freezeAlert();

    // GUI thread only. "Force Quit" ends the process with status 1 at once.
    static void showSignalAlert(const QString& signalName);
    static void showExceptionAlert(const QString& name, const QString& reason);
    // At most one is open at a time; a freeze alert due while one is open is dropped.
    static void showFreezeAlert();

    // A new report in the temporary folder with the newest log lines; nothing when it cannot
    // be written.
    static std::optional<QString> writeCrashReport();

    // How often the GUI thread has beaten, and how many freeze alerts the watchdog has queued.
    static quint64 heartbeatCount();
    static quint64 freezeAlertsQueued();
};

} // namespace qb
