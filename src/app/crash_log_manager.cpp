#include "app/crash_log_manager.h"

#include "app/crash_report.h"
#include "app/freeze_watchdog.h"
#include "app/log_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <time.h>
#include <typeinfo>
#include <unistd.h>
#include <utility>

namespace qb {

namespace {

constexpr int stopWatcher = 0; // written to the pipe by shutdown(); no signal has number 0
constexpr int terminateFault = -1;

std::atomic<bool> s_installed{false};
std::atomic<int> s_firstFault{0}; // the signal (or terminateFault) that is ending the process
std::atomic<quint64> s_heartbeat{0};
std::atomic<quint64> s_freezeAlertsQueued{0};
int s_pipe[2] = {-1, -1};
timespec s_exitDelay{5, 0};
alignas(16) char s_alternateStack[256 * 1024];

AlertPresenter* s_alerts = nullptr; // GUI thread
bool s_freezeAlertOpen = false;     // GUI thread

// The GUI-thread object alerts are posted to, and owner of the heartbeat timer.
std::mutex s_contextMutex;
QObject* s_context = nullptr;

// Never destroyed while running: a process that ends without shutdown() (std::exit) must not
// meet joinable threads in static destruction, which would terminate it.
std::thread* s_signalWatcher = nullptr;
std::thread* s_watchdog = nullptr;

struct WatchdogControl
{
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
};

// Never destroyed either: the watchdog may still wait on it while the process ends.
WatchdogControl& watchdogControl()
{
    static auto* control = new WatchdogControl;
    return *control;
}

// Async-signal-safe.
void sleepExitDelay()
{
    timespec remaining = s_exitDelay;
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

void onFatalSignal(int signalNumber)
{
    int none = 0;
    if (s_firstFault.compare_exchange_strong(none, signalNumber)) {
        [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &signalNumber, sizeof(int));
    }
    sleepExitDelay();
    _exit(1);
}

template <typename Function> void postToGui(Function function)
{
    std::lock_guard lock(s_contextMutex);
    if (s_context)
        QMetaObject::invokeMethod(s_context, std::move(function), Qt::QueuedConnection);
}

QString demangled(const char* name)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    QString result = QString::fromUtf8(status == 0 && readable ? readable : name);
    std::free(readable);
    return result;
}

// The type name and message of the exception being handled, if any.
std::pair<QString, QString> describeCurrentException()
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (!type)
        return {QStringLiteral("std::terminate"), QString()};
    QString reason;
    try {
        std::rethrow_exception(std::current_exception());
    } catch (const std::exception& error) {
        reason = QString::fromUtf8(error.what());
    } catch (...) {
    }
    return {demangled(type->name()), reason};
}

[[noreturn]] void onTerminate()
{
    int none = 0;
    if (s_firstFault.compare_exchange_strong(none, terminateFault)) {
        auto [name, reason] = describeCurrentException();
        postToGui([name, reason] { CrashLogManager::showExceptionAlert(name, reason); });
    }
    sleepExitDelay();
    _exit(1);
}

void watchSignals()
{
    for (;;) {
        int signalNumber = 0;
        const ssize_t got = ::read(s_pipe[0], &signalNumber, sizeof(int));
        if (got == -1 && errno == EINTR)
            continue;
        if (got != sizeof(int) || signalNumber == stopWatcher)
            return;
        const QString name = CrashLogManager::signalName(signalNumber);
        postToGui([name] { CrashLogManager::showSignalAlert(name); });
    }
}

void watchHeartbeat()
{
    FreezeWatchdog watchdog;
    WatchdogControl& control = watchdogControl();
    std::unique_lock lock(control.mutex);
    for (;;) {
        if (control.wake.wait_for(lock, std::chrono::milliseconds(FreezeWatchdog::checkIntervalMs),
                                  [&] { return control.stop; }))
            return;
        if (watchdog.check(s_heartbeat.load(std::memory_order_relaxed))) {
            postToGui([] { CrashLogManager::showFreezeAlert(); });
            s_freezeAlertsQueued.fetch_add(1);
        }
    }
}

bool installSignalHandlers()
{
    if (::pipe2(s_pipe, O_CLOEXEC) != 0)
        return false;
    // The handler must never block on a full pipe.
    ::fcntl(s_pipe[1], F_SETFL, ::fcntl(s_pipe[1], F_GETFL) | O_NONBLOCK);

    stack_t stack{};
    stack.ss_sp = s_alternateStack;
    stack.ss_size = sizeof s_alternateStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action
    {};
    action.sa_handler = onFatalSignal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : CrashLogManager::guardedSignals())
        ::sigaction(signalNumber, &action, nullptr);
    return true;
}

[[noreturn]] void forceQuit()
{
    _exit(1);
}

} // namespace

bool CrashLogManager::install(AlertPresenter& alerts, Options options)
{
    if (s_installed.exchange(true))
        return false;
    Q_ASSERT(QCoreApplication::instance());
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());

    const auto delay = std::max(options.exitDelay, std::chrono::milliseconds(0));
    s_exitDelay.tv_sec = time_t(delay.count() / 1000);
    s_exitDelay.tv_nsec = long(delay.count() % 1000) * 1000000L;
    s_alerts = &alerts;
    {
        std::lock_guard lock(s_contextMutex);
        s_context = new QObject;
    }

    if (installSignalHandlers())
        s_signalWatcher = new std::thread(watchSignals);
    std::set_terminate(onTerminate);

    auto* heartbeat = new QTimer(s_context);
    heartbeat->setTimerType(Qt::PreciseTimer);
    heartbeat->setInterval(heartbeatIntervalMs);
    QObject::connect(heartbeat, &QTimer::timeout,
                     [] { s_heartbeat.fetch_add(1, std::memory_order_relaxed); });
    s_heartbeat.fetch_add(1, std::memory_order_relaxed); // the first beat is immediate
    heartbeat->start();

    watchdogControl().stop = false;
    s_watchdog = new std::thread(watchHeartbeat);
    qAddPostRoutine(shutdown);
    return true;
}

bool CrashLogManager::isInstalled()
{
    return s_installed.load();
}

bool CrashLogManager::enabledByEnvironment()
{
    return qEnvironmentVariable("QB_CRASH_GUARD")
               .compare(QStringLiteral("off"), Qt::CaseInsensitive) != 0;
}

void CrashLogManager::shutdown()
{
    if (s_watchdog) {
        WatchdogControl& control = watchdogControl();
        {
            std::lock_guard lock(control.mutex);
            control.stop = true;
        }
        control.wake.notify_all();
        s_watchdog->join();
        delete std::exchange(s_watchdog, nullptr);
    }
    if (s_signalWatcher) {
        const int stop = stopWatcher;
        [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &stop, sizeof(int));
        s_signalWatcher->join();
        delete std::exchange(s_signalWatcher, nullptr);
    }
    s_alerts = nullptr;
    QObject* context = nullptr;
    {
        std::lock_guard lock(s_contextMutex);
        std::swap(context, s_context);
    }
    delete context;
}

QList<int> CrashLogManager::guardedSignals()
{
    return {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGTRAP};
}

QString CrashLogManager::signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGILL:
        return QStringLiteral("SIGILL");
    case SIGTRAP:
        return QStringLiteral("SIGTRAP");
    case SIGABRT:
        return QStringLiteral("SIGABRT");
    case SIGFPE:
        return QStringLiteral("SIGFPE");
    case SIGBUS:
        return QStringLiteral("SIGBUS");
    case SIGSEGV:
        return QStringLiteral("SIGSEGV");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

Alert CrashLogManager::signalAlert(const QString& signalName)
{
    return {Alert::Style::Critical,
            QStringLiteral("Quillbay stopped working"),
            QStringLiteral("An unexpected error occurred (") + signalName +
                QStringLiteral("). The app needs to be restarted."),
            {QStringLiteral("Force Quit")}};
}

Alert CrashLogManager::exceptionAlert(const QString& name, const QString& reason)
{
    return {Alert::Style::Critical,
            QStringLiteral("Quillbay stopped working"),
            QStringLiteral("An unexpected error occurred:\n\n") + name + QStringLiteral("\n") +
                reason,
            {QStringLiteral("Force Quit")}};
}

Alert CrashLogManager::freezeAlert()
{
    return {Alert::Style::Critical,
            QStringLiteral("Quillbay is not responding"),
            QStringLiteral(
                "The app appears to be frozen. You can wait for it to recover or force quit."),
            {QStringLiteral("Force Quit"), QStringLiteral("Wait")}};
}

void CrashLogManager::showSignalAlert(const QString& signalName)
{
    if (s_alerts && s_alerts->present(signalAlert(signalName)) == 0)
        forceQuit();
}

void CrashLogManager::showExceptionAlert(const QString& name, const QString& reason)
{
    if (s_alerts && s_alerts->present(exceptionAlert(name, reason)) == 0)
        forceQuit();
}

void CrashLogManager::showFreezeAlert()
{
    if (!s_alerts || s_freezeAlertOpen)
        return;
    s_freezeAlertOpen = true;
    const int chosen = s_alerts->present(freezeAlert());
    s_freezeAlertOpen = false;
    if (chosen == 0)
        forceQuit();
}

std::optional<QString> CrashLogManager::writeCrashReport()
{
    return CrashReport::write(QDir::tempPath(),
                              CrashReport::currentFacts(LogStore::shared().recentLogText()));
}

quint64 CrashLogManager::heartbeatCount()
{
    return s_heartbeat.load(std::memory_order_relaxed);
}

quint64 CrashLogManager::freezeAlertsQueued()
{
    return s_freezeAlertsQueued.load();
}

} // namespace qb
