// Quillbay, ended as main() ends it, while the disk holds up the flush of a file being saved into
// the folder given: a download from the phone ("download") or an upload over Wi-Fi ("upload").
// Quitting waits a second for the disk. Prints "stuck" once the flush hangs.
#include "app/app_state.h"
#include "app/fake_app_options.h"
#include "app/quillbay_app.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone/emulated_phone.h"
#include "platform/sync_spy.h"
#include "quit_child_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <thread>

using namespace qb;

namespace {

// A phone's upload of a small file; it waits for the answer, which the held flush delays.
void upload(quint16 port)
{
    test::requestAndWait(port, "POST /upload HTTP/1.1\r\nX-File-Name: held.txt\r\n"
                               "Content-Length: 4\r\n\r\ndata");
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

    // The flush held is the received file's: its folder is there before, as after a first upload.
    QDir(destination).mkpath(QStringLiteral("Quillbay"));
    test::holdSyncs(destination);
    if (mode == "download") {
        const QString device = QStringLiteral("unknown_1_%1").arg(phone.deviceAddress());
        const FileItem file =
            test::firstPhoneFile(*quillbay, device, EmulatedPhone::storageId()).file;
        quillbay->appState().transferQueueViewModel()->enqueue(TransferJob::make(
            TransferType::Download, TransferEndpoint::android(device, file.path, file.name),
            TransferEndpoint::local(QUrl::fromLocalFile(destination)), file.size.value_or(0)));
    } else {
        std::thread(upload, quillbay->wifiServer()->port().value_or(0)).detach();
    }
    return test::runUntilQuit(std::move(quillbay), [&] { return test::heldSyncs() > 0; });
}
