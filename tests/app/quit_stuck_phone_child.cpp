// A Quillbay process, ended the way main() ends it, whose phone stops answering in the middle
// of a call with libmtp's real time-outs: a copy through the computer ("copy"), a listing
// ("list") or a download (anything else). It prints "stuck" once the call hangs, then waits
// for SIGTERM; the quit phone test times its exit.
#include "app/app_state.h"
#include "app/fake_alert_presenter.h"
#include "app/quillbay_app.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone/emulated_phone.h"
#include "platform/fake_desktop_url_opener.h"
#include "platform/preference_store.h"
#include "platform/quit_signal_watcher.h"
#include "platform/scripted_process_runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>

using namespace qb;

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const std::filesystem::path storage = folder.filePath("storage").toStdString();
    std::filesystem::create_directories(storage);
    std::ofstream(storage / "big.bin") << std::string(1 << 20, 'q');
    PhoneLayout layout;
    layout.storages.push_back({storage});
    EmulatedPhone phone(layout);
    EmulatedPhone::setTimeoutScale(1.0); // libmtp waits its full minute
    phone.hangOperation(MtpOperation::GetObject, 1);
    const QString deviceId =
        QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());

    QuillbayApp::Options options;
    options.preferences = std::make_shared<QSettingsPreferenceStore>(folder.filePath("prefs.ini"));
    options.processRunner = std::make_shared<ScriptedProcessRunner>();
    options.alerts = std::make_shared<FakeAlertPresenter>();
    options.urlOpener = std::make_shared<FakeDesktopUrlOpener>();
    options.installCrashGuard = false;
    options.makeWiFiServer = [](WiFiServerBackend& backend) {
        return std::make_unique<WiFiAdvertiser>(backend, nullptr);
    };
    auto quillbay = std::make_unique<QuillbayApp>(std::move(options));
    QuitSignalWatcher quitSignals;
    QObject::connect(&quitSignals, &QuitSignalWatcher::quitRequested, &application,
                     &QCoreApplication::quit);

    const auto await = [](auto future) {
        while (!future.isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return future.result();
    };
    std::shared_ptr<FileRepository> repository =
        await(quillbay->appState().deviceListViewModel()->repository(deviceId));
    const QString root = QString::number(EmulatedPhone::storageId()) + QStringLiteral("/0");
    const FileItem file = await(repository->listFiles(root)).first();
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == u"copy") {
        quillbay->appState().transferQueueViewModel()->enqueue(TransferJob::make(
            TransferType::Copy, TransferEndpoint::android(deviceId, file.path, file.name),
            TransferEndpoint::android(deviceId, root, QString())));
    } else if (mode == u"list") {
        phone.hangOperation(MtpOperation::GetObjectHandles, 1);
        repository->listFiles(QString::number(EmulatedPhone::storageId()) + "/9999");
    } else {
        quillbay->appState().transferQueueViewModel()->enqueue(TransferJob::make(
            TransferType::Download, TransferEndpoint::android(deviceId, file.path, file.name),
            TransferEndpoint::local(QUrl::fromLocalFile(folder.filePath("Downloads")))));
    }
    repository.reset(); // only the application holds the phone now
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (phone.count(MtpOperation::GetObject) > 0 ||
            phone.count(MtpOperation::GetObjectHandles) > 1) {
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
