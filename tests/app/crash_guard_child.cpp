// A small program that installs the crash guard and then fails in the way its first argument
// names; the crash guard tests run it and look at its exit status and output.
// Usage: crash_guard_child <scenario> <exit delay in ms>
// Each alert the guard asks for is printed as one line:
//   alert|<1 on the GUI thread, else 0>|<title>|<message with "\n" written as "\\n">

#include "app/crash_log_manager.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

void printLine(const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    [[maybe_unused]] const ssize_t written = ::write(1, bytes.constData(), size_t(bytes.size()));
}

// Answers alerts as a user who does not react (-1), or picks a button.
class PrintingPresenter : public qb::AlertPresenter
{
public:
    int freezeAnswer = 1;

    int present(const qb::Alert& alert) override
    {
        const bool onGui = QThread::currentThread() == qApp->thread();
        QString message = alert.message;
        message.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        printLine(QStringLiteral("alert|%1|%2|%3").arg(onGui ? 1 : 0).arg(alert.title, message));
        if (alert.buttons.size() < 2)
            return -1;
        // A second freeze alert arriving while this one is open must not show.
        qb::CrashLogManager::showFreezeAlert();
        return freezeAnswer;
    }
};

[[gnu::noinline]] void writeThroughNull()
{
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

volatile int g_depthLimit = 1 << 30;

[[gnu::noinline]] int recurse(int depth)
{
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth >= g_depthLimit)
        return frame[0];
    return recurse(depth + 1) + frame[0];
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: crash_guard_child <scenario> <exit delay ms>\n");
        return 2;
    }
    const QString scenario = QString::fromLocal8Bit(argv[1]);
    const auto delay = std::chrono::milliseconds(QByteArray(argv[2]).toInt());

    PrintingPresenter presenter;
    presenter.freezeAnswer = scenario == QStringLiteral("freeze-force-quit") ? 0 : 1;
    if (!qb::CrashLogManager::install(presenter, {delay}))
        return 3;

    QTimer::singleShot(0, [&] {
        if (scenario == QStringLiteral("install-twice")) {
            qb::CrashLogManager::install(presenter, {delay}) ? printLine(QStringLiteral("again"))
                                                             : printLine(QStringLiteral("once"));
            qb::CrashLogManager::shutdown();
            QCoreApplication::exit(0);
        } else if (scenario == QStringLiteral("std-exit")) {
            std::exit(0); // no QApplication teardown, so no orderly shutdown of the guard
        } else if (scenario == QStringLiteral("segv-worker")) {
            std::thread(writeThroughNull).detach();
        } else if (scenario == QStringLiteral("throw-worker")) {
            std::thread([] { throw std::runtime_error("disk on fire"); }).detach();
        } else if (scenario == QStringLiteral("segv-main")) {
            writeThroughNull();
        } else if (scenario == QStringLiteral("throw-main")) {
            throw std::logic_error("main thread");
        } else if (scenario == QStringLiteral("overflow-main")) {
            printLine(QString::number(recurse(0)));
        } else if (scenario == QStringLiteral("freeze-force-quit")) {
            qb::CrashLogManager::showFreezeAlert();
            printLine(QStringLiteral("still running"));
        } else if (scenario == QStringLiteral("freeze-wait")) {
            // Block the GUI thread until the watchdog has noticed (or a minute has passed).
            for (int i = 0; i < 1200 && qb::CrashLogManager::freezeAlertsQueued() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            QTimer::singleShot(0, [] {
                qb::CrashLogManager::shutdown();
                QCoreApplication::exit(0);
            });
        } else {
            QCoreApplication::exit(4);
        }
    });
    return app.exec();
}
