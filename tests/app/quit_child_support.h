#pragma once

// What the quit children share: a phone opened and read through the application, a Wi-Fi phone's
// request that waits for its answer, and the end of main() once the child is stuck where it means
// to be.
#include "app/app_state.h"
#include "app/quillbay_app.h"
#include "core/device/device_list_view_model.h"
#include "platform/quit_signal_watcher.h"

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qb::test {

struct PhoneFile
{
    std::shared_ptr<FileRepository> repository;
    QString root; // the storage's top folder
    FileItem file;
};

// Opens the phone `device` through the application, as picking it does, and reads the first
// file at the top of its storage `storageId`.
inline PhoneFile firstPhoneFile(QuillbayApp& quillbay, const QString& device, quint32 storageId)
{
    auto opening = quillbay.appState().deviceListViewModel()->repository(device);
    while (!opening.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    PhoneFile found{opening.result(), QString::number(storageId) + QStringLiteral("/0"), {}};
    found.file = found.repository->listFiles(found.root).result().first();
    return found;
}

// Sends `request` to the server on loopback and waits for the first bytes of its answer.
inline void requestAndWait(quint16 port, const std::string& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
        char answer[1024];
        [[maybe_unused]] const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
    }
    ::close(fd);
}

// Prints "stuck" once `stuck` holds, runs until SIGTERM or SIGINT, then ends as main() does;
// `afterShutdown` runs between the application's shutdown and the end of the process.
inline int runUntilQuit(std::unique_ptr<QuillbayApp> quillbay, const std::function<bool()>& stuck,
                        const std::function<void()>& afterShutdown = {})
{
    QuitSignalWatcher quitSignals;
    QObject::connect(&quitSignals, &QuitSignalWatcher::quitRequested, &QCoreApplication::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stuck()) {
            poll.stop();
            std::puts("stuck");
            std::fflush(stdout);
        }
    });
    poll.start(10);
    const int status = QCoreApplication::exec();
    quillbay.reset();
    if (afterShutdown)
        afterShutdown();
    return QuillbayApp::finishProcess(status);
}

} // namespace qb::test
