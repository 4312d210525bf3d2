#include "platform/quit_signal_watcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qb {

namespace {

int s_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Async-signal-safe: one write to a non-blocking pipe.
void onQuitSignal(int signalNumber)
{
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &signalNumber, sizeof(int));
    errno = savedErrno;
}

} // namespace

QuitSignalWatcher::QuitSignalWatcher(QObject* parent) : QObject(parent)
{
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignalWatcher::readSignal);

    struct sigaction action
    {};
    action.sa_handler = onQuitSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

QuitSignalWatcher::~QuitSignalWatcher()
{
    if (!m_notifier)
        return;
    for (int signalNumber : kSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
}

void QuitSignalWatcher::readSignal()
{
    int signalNumber = 0;
    while (::read(s_pipe[0], &signalNumber, sizeof(int)) == sizeof(int))
        emit quitRequested(signalNumber);
}

} // namespace qb
