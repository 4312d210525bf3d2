// Quillbay, ended as main() ends it, while a phone's connection thread is held in a call that
// never returns: the open of a named pipe that nobody writes to. Quitting waits a second for the
// connection threads. Prints "stuck" once the thread is held.
#include "app/fake_app_options.h"
#include "app/quillbay_app.h"
#include "platform/quit_signal_watcher.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/pipe_held_backend.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qb;

namespace {

// A phone asking for a file; it waits for an answer that never comes.
void download(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return;
    const char request[] = "GET /download?id=1 HTTP/1.1\r\n\r\n";
    if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) > 0) {
        char answer[1024];
        [[maybe_unused]] const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
    }
    ::close(fd);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const QString fifo = folder.filePath(QStringLiteral("held"));
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        return 2;
    test::PipeHeldBackend* held = nullptr;
    QuillbayApp::Options options = test::fakeAppOptions(nullptr);
    options.makeWiFiServer = [&](WiFiServerBackend&) {
        // Never destroyed: the held thread still uses it when the process ends.
        held = new test::PipeHeldBackend(
            fifo, WiFiPeerRegistry::shared(), PendingOutgoingFilesRegistry::shared(),
            ReceivedFilesRegistry::shared(), SentFilesRegistry::shared());
        WiFiAdvertiser::Options server;
        server.connectionWaitMs = 1000;
        return std::make_unique<WiFiAdvertiser>(*held, nullptr, std::move(server));
    };
    auto quillbay = std::make_unique<QuillbayApp>(std::move(options));
    QuitSignalWatcher quitSignals;
    QObject::connect(&quitSignals, &QuitSignalWatcher::quitRequested, &QCoreApplication::quit);

    std::thread(download, quillbay->wifiServer()->port().value_or(0)).detach();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (held->held()) {
            poll.stop();
            std::puts("stuck");
            std::fflush(stdout);
        }
    });
    poll.start(10);
    const int status = QCoreApplication::exec();
    quillbay.reset();
    return QuillbayApp::finishProcess(status);
}
