// Quitting while a phone transfer runs: the real device list, engine and libmtp over the
// emulated phone. The quit must not crash, must not hang, and must give the desktop its MTP
// volume monitor back.

#include "app/app_state.h"
#include "app/fake_app_options.h"
#include "app/quillbay_app.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone/phone_test.h"
#include "platform/app_paths.h"
#include "platform/preference_store.h"
#include "platform/scripted_process_runner.h"
#include "support/test_support.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

namespace qb {
namespace {

using test::waitUntil;

template <typename T> std::optional<T> resultOf(QFuture<T> future)
{
    if (!waitUntil([&] { return future.isFinished(); }))
        return std::nullopt;
    try {
        return future.result();
    } catch (...) {
        return std::nullopt;
    }
}

using QuillbayQuitPhoneTest = PhoneTest;

TEST_F(QuillbayQuitPhoneTest, QuittingDuringADownloadEndsInOrder)
{
    test::ensureApplication();
    const std::string content(1024 * 1024, 'q');
    EmulatedPhone& phone = plugPhone({{"big.bin", content}});
    const QString deviceId =
        QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());

    QTemporaryDir prefs;
    ASSERT_TRUE(prefs.isValid());
    auto runner = std::make_shared<ScriptedProcessRunner>();
    QuillbayApp::Options options = test::fakeAppOptions(
        std::make_shared<QSettingsPreferenceStore>(prefs.filePath(QStringLiteral("prefs.ini"))));
    options.processRunner = runner;
    auto app = std::make_unique<QuillbayApp>(std::move(options));
    DeviceListViewModel& devices = *app->appState().deviceListViewModel();
    TransferQueueViewModel& transfers = *app->appState().transferQueueViewModel();
    // USB monitoring waits for the sidebar; phones can reach the computer before any window shows.
    EXPECT_FALSE(devices.isMonitoring());
    ASSERT_TRUE(app->wifiServer() && app->wifiServer()->isRunning());
    const quint16 port = app->wifiServer()->port().value_or(0);

    const auto repository = resultOf(devices.repository(deviceId));
    ASSERT_TRUE(repository && *repository);
    const QString root = QString::number(EmulatedPhone::storageId()) + QStringLiteral("/0");
    const auto items = resultOf((*repository)->listFiles(root));
    ASSERT_TRUE(items && items->size() == 1);
    const FileItem file = items->first();

    // Slow enough that the download is still running when the application quits.
    phone.setRateLimit(256 * 1024);
    const QString downloads = QString::fromStdString((tempFolder() / "Downloads").string());
    const TransferJob job = TransferJob::make(
        TransferType::Download, TransferEndpoint::android(deviceId, file.path, file.name),
        TransferEndpoint::local(QUrl::fromLocalFile(downloads)), qint64(content.size()));
    transfers.enqueue(job);
    ASSERT_TRUE(waitUntil([&] {
        for (const TransferJob& seen : transfers.jobs()) {
            if (seen.id == job.id && seen.status == TransferStatus::Running &&
                seen.bytesTransferred > 0)
                return true;
        }
        return false;
    }));

    // What the process does: the event loop ends (the desktop gets its monitor back at once),
    // then the orderly shutdown.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    EXPECT_TRUE(runner->commands().contains(ScriptedProcessRunner::kStart));
    // What phones fetched and sent a moment before the quit, still unwritten, is written by it.
    const QString stamp = QUuid::createUuid().toString(QUuid::WithoutBraces);
    SentFilesRegistry::shared().record(QUrl::fromLocalFile("/out/" + stamp + ".pdf"), 4,
                                       "10.0.0.8");
    ReceivedFilesRegistry::shared().record(QUrl::fromLocalFile("/in/" + stamp + ".jpg"), 4,
                                           "10.0.0.8", "Pixel");
    app->shutdown();
    EXPECT_EQ(app->wifiServer(), nullptr);
    EXPECT_EQ(app->appState().transferQueueViewModel(), nullptr);
    EXPECT_EQ(app->appState().deviceListViewModel(), nullptr);
    QTcpSocket late;
    late.connectToHost(QStringLiteral("127.0.0.1"), port);
    EXPECT_FALSE(late.waitForConnected(2000)) << "still accepting after shutdown";
    app->shutdown(); // a second time does nothing
    for (const auto* name : {"sent_files.json", "received_files.json"}) {
        QFile history(QDir(AppPaths::dataFolder()).filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(history.open(QIODevice::ReadOnly) && history.readAll().contains(stamp.toUtf8()))
            << name;
    }
    app.reset();

    // The libmtp call runs to its end on the phone's thread; the bytes it wrote stay whole.
    phone.setRateLimit(0);
    EXPECT_TRUE(waitUntil([&] {
        const QStringList names = QDir(downloads).entryList(QDir::Files | QDir::Hidden);
        return names.isEmpty() || names == QStringList{QStringLiteral("big.bin")};
    }));
}

// Starts `program` with `arguments`, waits until it says it is stuck, sends SIGTERM and expects
// it gone within five seconds with status 0. Its standard error, for the caller's checks. The
// child ends without its destructors, so its temporary folders are made in one removed here.
QByteArray stuckChildEndsOnSigterm(const QString& program, const QStringList& arguments)
{
    const std::string what = arguments.join(u' ').toStdString();
    QTemporaryDir scratch;
    EXPECT_TRUE(scratch.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), scratch.path());
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(program, arguments);
    EXPECT_TRUE(child.waitForStarted()) << what;
    QByteArray output;
    while (!output.contains("stuck") && child.waitForReadyRead(30000))
        output += child.readAllStandardOutput();
    EXPECT_TRUE(output.contains("stuck")) << what << ": it never hung";
    QElapsedTimer clock;
    clock.start();
    child.terminate();
    EXPECT_TRUE(child.waitForFinished(5000)) << what << ": running after 5 s";
    EXPECT_LT(clock.elapsed(), 5000) << what;
    const QByteArray log = child.readAllStandardError();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << what << ":\n" << log.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << what << ":\n" << log.toStdString();
    return log;
}

// Guards against quitting waiting out libmtp's minute when a phone stops answering mid-call:
// a copy through the computer (a worker waits for the phone) and a bare listing.
TEST(QuillbayQuitStuckPhoneTest, TheProcessEndsWithinFiveSecondsOfSigterm)
{
    for (const QString mode : {"copy", "list"})
        stuckChildEndsOnSigterm(QStringLiteral(QB_QUIT_STUCK_PHONE_CHILD), {mode});
}

// Guards against a disk that never ends a flush keeping the process alive after SIGTERM: the
// waits for a download's and for an upload's commit give up (after a second here) and the process
// ends at once, with the file being saved still under its temporary name, never under its own.
TEST(QuillbayQuitStuckDiskTest, TheProcessEndsWithinFiveSecondsOfSigterm)
{
    for (const QString mode : {"download", "upload"}) {
        QTemporaryDir destination;
        ASSERT_TRUE(destination.isValid());
        const QByteArray log = stuckChildEndsOnSigterm(QStringLiteral(QB_QUIT_STUCK_DISK_CHILD),
                                                       {mode, destination.path()});
        EXPECT_TRUE(log.contains("A disk is not answering; quitting without waiting for it"))
            << mode.toStdString() << ":\n"
            << log.toStdString();
        EXPECT_FALSE(QFileInfo::exists(destination.filePath(QStringLiteral("big.bin"))));
        EXPECT_FALSE(QFileInfo::exists(destination.filePath(QStringLiteral("Quillbay/held.txt"))));
    }
}

// Guards against a phone's connection thread held in a call that never returns keeping the
// process alive after SIGTERM: the wait for it gives up (after a second here) and the process ends
// at once. The thread, let go after the shutdown, still reaches the registries through the
// application's backend, which must not have been freed; and an upload recorded as the quit began
// is in the history all the same, although the wait for the connection used the quit's time up.
TEST(QuillbayQuitStuckConnectionTest, TheProcessEndsWithinFiveSecondsOfSigterm)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const QByteArray log =
        stuckChildEndsOnSigterm(QStringLiteral(QB_QUIT_STUCK_CONNECTION_CHILD), {data.path()});
    EXPECT_TRUE(log.contains("A connection still being served at shutdown; left running"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("A disk is not answering; quitting without waiting for it"))
        << log.toStdString();
    EXPECT_FALSE(log.contains("never reached the backend")) << log.toStdString();
    EXPECT_FALSE(log.contains("Could not save")) << log.toStdString();
    QFile history(data.filePath(QStringLiteral("Quillbay/received_files.json")));
    ASSERT_TRUE(history.open(QIODevice::ReadOnly)) << log.toStdString();
    const QJsonArray records = QJsonDocument::fromJson(history.readAll()).array();
    ASSERT_EQ(records.size(), 1) << log.toStdString();
    EXPECT_EQ(records.first().toObject().value(QStringLiteral("senderHost")).toString(),
              QStringLiteral("127.0.0.9"));
}

} // namespace
} // namespace qb
