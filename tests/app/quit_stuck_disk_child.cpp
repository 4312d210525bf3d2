// Quillbay, ended as main() ends it, while the disk holds up the flush of a file being saved into
// the folder given: a download from the phone ("download") or an upload over Wi-Fi ("upload").
// Quitting waits a second for the disk. Prints "stuck" once the flush hangs.
#include "app/app_state.h"
#include "app/fake_app_options.h"
#include "app/quillbay_app.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone/emulated_phone.h"
#include "platform/quit_signal_watcher.h"
#include "platform/sync_spy.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace qb;

namespace {

// A phone's upload of a small file; it waits for the answer, which the held flush delays.
void upload(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return;
    const char request[] = "POST /upload HTTP/1.1\r\nX-File-Name: held.txt\r\n"
                           "Content-Length: 4\r\n\r\ndata";
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
    if (argc < 3)
        return 2;
    const QByteArray mode = argv[1];
    const QString destination = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir folder;
    std::ofstream(folder.filePath("big.bin").toStdString()) << std::string(1 << 20, 'q');
    EmulatedPhone phone({.storages = {{folder.path().toStdString()}}});

    QuillbayApp::Options options = test::fakeAppOptions(nullptr);
    options.downloadCommitWait = std::chrono::seconds(1);
    options.makeWiFiServer = [destination](WiFiServerBackend& backend) {
        WiFiAdvertiser::Options server;
        server.commitWaitMs = 1000;
        server.downloadsFolder = [destination] {
            return destination;
        };
        return std::make_unique<WiFiAdvertiser>(backend, nullptr, std::move(server));
    };
    auto quillbay = std::make_unique<QuillbayApp>(std::move(options));
    QuitSignalWatcher quitSignals;
    QObject::connect(&quitSignals, &QuitSignalWatcher::quitRequested, &QCoreApplication::quit);

    test::holdSyncs(destination);
    if (mode == "download") {
        const QString device = QStringLiteral("unknown_1_%1").arg(phone.deviceAddress());
        auto repository = quillbay->appState().deviceListViewModel()->repository(device);
        while (!repository.isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const QString root = QString::number(EmulatedPhone::storageId()) + "/0";
        const FileItem file = repository.result()->listFiles(root).result().first();
        quillbay->appState().transferQueueViewModel()->enqueue(TransferJob::make(
            TransferType::Download, TransferEndpoint::android(device, file.path, file.name),
            TransferEndpoint::local(QUrl::fromLocalFile(destination)), file.size.value_or(0)));
    } else {
        std::thread(upload, quillbay->wifiServer()->port().value_or(0)).detach();
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (test::heldSyncs() > 0) {
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
