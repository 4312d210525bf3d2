// The engine end to end: real libmtp, the phone's repository and the emulated phone, with real
// files on both sides.
#include "core/device/device_list_view_model.h"
#include "core/device/fake_process_runner.h"
#include "core/device/mtp_device_lister.h"
#include "core/device/mtp_device_manager.h"
#include "core/device/mtp_file_repository.h"
#include "core/device/mtp_repository_factory.h"
#include "engine_test_support.h"
#include "phone/phone_test.h"
#include "platform/libusb_hotplug_source.h"

#include <QSemaphore>

namespace qb::test {
namespace {

using namespace std::chrono_literals;

// Passes every call to the phone's repository, and holds the device's first partial progress report
// of each transfer until the test has seen it published, so that seeing it does not depend on
// timing.
class HoldingRepository : public FileRepository
{
public:
    explicit HoldingRepository(std::shared_ptr<FileRepository> inner) : m_inner(std::move(inner)) {}

    QFuture<QList<FileItem>> listFiles(const QString& f) override { return m_inner->listFiles(f); }
    QFuture<void> downloadFile(const QString& path, const QString& local, ProgressFn p) override
    {
        return m_inner->downloadFile(path, local, hold(std::move(p)));
    }
    QFuture<void> uploadFile(const QString& local, const QString& folder, ProgressFn p) override
    {
        return m_inner->uploadFile(local, folder, hold(std::move(p)));
    }
    QFuture<void> createFolder(const QString&, const QString&) override { return {}; }
    QFuture<void> deleteItem(const QString&) override { return {}; }
    QFuture<void> renameItem(const QString&, const QString&) override { return {}; }
    QFuture<void> moveItem(const QString&, const QString&) override { return {}; }

    // Runs the job to its end; with `partial`, a publication must show it running with part of its
    // bytes done first.
    TransferJob run(TransferQueueActor& engine, PublicationRecorder& recorder,
                    const TransferJob& job, bool partial)
    {
        holdNext(partial);
        EXPECT_TRUE(waitFor(engine.enqueue(job)));
        EXPECT_TRUE(!partial || waitUntil([&] {
            const auto seen = recorder.job(job.id);
            return seen && seen->status == TransferStatus::Running && seen->progress > 0 &&
                   seen->progress < 1 && seen->bytesTransferred > 0;
        }));
        m_release.release(partial ? 1 : 0);
        EXPECT_TRUE(recorder.waitForStatus(job.id, TransferStatus::Completed));
        return *recorder.job(job.id);
    }

    // Whether the next transfer is held at its first partial report; whether it is held now.
    void holdNext(bool hold = true)
    {
        m_holding = hold;
        m_held = false;
    }
    bool held() const { return m_held; }
    void release() { m_release.release(); }

private:
    ProgressFn hold(ProgressFn progress)
    {
        return [this, progress = std::move(progress)](qint64 done, qint64 total) {
            progress(done, total);
            if (m_holding && done > 0 && done < total && !m_held.exchange(true))
                m_release.tryAcquire(1, 10000);
        };
    }

    std::shared_ptr<FileRepository> m_inner;
    std::atomic<bool> m_holding = false, m_held = false;
    QSemaphore m_release;
};

std::string bytes(size_t size)
{
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i)
        content[i] = char('a' + (i * 7) % 26);
    return content;
}

class TransferEnginePhoneTest : public PhoneTest
{
protected:
    static QString deviceIdOf(const EmulatedPhone& phone)
    {
        return QString("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());
    }
    std::shared_ptr<FileRepository> repositoryOf(const EmulatedPhone& phone)
    {
        ensureApplication();
        MTPClient::Options options;
        options.processRunner = std::make_shared<FakeProcessRunner>();
        options.sleep = [](std::chrono::milliseconds) {
        };
        return MTPFileRepository::create(deviceIdOf(phone), options).result();
    }
};

TEST_F(TransferEnginePhoneTest, DownloadsAndUploadsWithProgressAndRetriesAFailedDownload)
{
    const std::string photo = bytes(300 * 1024), song = bytes(64 * 1024),
                      report = bytes(200 * 1024);
    EmulatedPhone& phone =
        plugPhone({{"DCIM/a:b?.jpg", photo}, {"song.mp3", song}, {"Documents/", ""}});
    const QString deviceId = deviceIdOf(phone);
    const auto repository = repositoryOf(phone);
    const auto holding = std::make_shared<HoldingRepository>(repository);
    TransferQueueActor::Options engineOptions;
    engineOptions.preferences = std::make_shared<QSettingsPreferenceStore>(
        QString::fromStdString((tempFolder() / "prefs.ini").string()));
    // Each reading moves the clock on by 0.2 s, so that every report passes the gate.
    engineOptions.clock = [clock = FakeClock()] {
        clock.advance(200ms);
        return clock.function()();
    };
    engineOptions.publishSpacing = 0ms;
    TransferQueueActor engine(engineOptions);
    engine.setRepositoryProvider([holding](const QString&, quint64) {
        return readyFuture<std::shared_ptr<FileRepository>>(holding);
    });
    PublicationRecorder recorder(engine);
    const auto item = [&](const QString& folder, const QString& name) {
        for (const FileItem& entry : repository->listFiles(folder).result()) {
            if (entry.name == name)
                return entry;
        }
        ADD_FAILURE() << "no item " << name.toStdString();
        return FileItem{};
    };
    const QString root = QString::number(EmulatedPhone::storageId()) + "/0";
    const QString downloads = QString::fromStdString((tempFolder() / "Downloads/new").string());
    const auto download = [&](const FileItem& file) {
        return TransferJob::make(
            TransferType::Download, TransferEndpoint::android(deviceId, file.path, file.name),
            TransferEndpoint::local(QUrl::fromLocalFile(downloads)), file.size.value_or(0));
    };

    // Into a folder that does not exist yet, under a name the local disk takes.
    const TransferJob first =
        holding->run(engine, recorder, download(item(item(root, "DCIM").path, "a:b?.jpg")), true);
    EXPECT_EQ(readFile(tempFolder() / "Downloads/new/a_b_.jpg"), photo);
    EXPECT_EQ(first.progress, 1.0);
    // The file's size, not libmtp's figures with the protocol's overhead.
    EXPECT_EQ(first.bytesTransferred, qint64(photo.size()));
    EXPECT_EQ(first.totalBytes, qint64(photo.size()));
    EXPECT_EQ(first.retryCount, 0);

    phone.failOperation(MtpOperation::GetObject, 1);
    EXPECT_EQ(holding->run(engine, recorder, download(item(root, "song.mp3")), false).retryCount,
              1);
    EXPECT_EQ(phone.count(MtpOperation::GetObject), 3);
    EXPECT_EQ(readFile(tempFolder() / "Downloads/new/song.mp3"), song);
    EXPECT_EQ(entries(downloads), QStringList({"a_b_.jpg", "song.mp3"}))
        << "no partial file is left";

    writeFile(tempFolder() / "report.pdf", report);
    const QUrl local =
        QUrl::fromLocalFile(QString::fromStdString((tempFolder() / "report.pdf").string()));
    const FileItem documents = item(root, "Documents");
    const auto phoneFolder = TransferEndpoint::android(deviceId, documents.path, documents.name);
    const TransferJob sent =
        holding->run(engine, recorder,
                     TransferJob::make(TransferType::Upload, TransferEndpoint::local(local),
                                       phoneFolder, *fileSize(local)),
                     true);
    EXPECT_EQ(readFile(phone.storageFolder() / "Documents" / "report.pdf"), report);
    EXPECT_EQ(item(documents.path, "report.pdf").size, qint64(report.size()));
    EXPECT_EQ(sent.bytesTransferred, qint64(report.size()));
    EXPECT_EQ(sent.totalBytes, qint64(report.size()));

    // A copy within the phone passes through the computer, and ends at the file's size too.
    const FileItem songItem = item(root, "song.mp3");
    const TransferJob copied = holding->run(
        engine, recorder,
        TransferJob::make(TransferType::Copy,
                          TransferEndpoint::android(deviceId, songItem.path, songItem.name),
                          phoneFolder, *songItem.size),
        false);
    EXPECT_EQ(readFile(phone.storageFolder() / "Documents" / "song.mp3"), song);
    EXPECT_EQ(copied.bytesTransferred, qint64(song.size()));
    EXPECT_EQ(copied.totalBytes, qint64(song.size()));

    // A phone folder dropped on the computer fails at once, saying what it is, before the phone
    // is asked for any data.
    const int reads = phone.count(MtpOperation::GetObject);
    const TransferJob folder = download(documents);
    ASSERT_TRUE(waitFor(engine.enqueue(folder)));
    ASSERT_TRUE(recorder.waitForStatus(folder.id, TransferStatus::Failed));
    EXPECT_EQ(recorder.job(folder.id)->error->localizedMessage,
              "\u201CDocuments\u201D is a folder. Only files can be downloaded.");
    EXPECT_EQ(recorder.job(folder.id)->retryCount, 0);
    EXPECT_EQ(phone.count(MtpOperation::GetObject), reads);

    // The phone goes away halfway through a download: nothing is left under the file's name,
    // and no partial file stays hidden either.
    phone.disconnectAfterBytes(100 * 1024);
    const TransferJob cut = download(item(item(root, "DCIM").path, "a:b?.jpg"));
    ASSERT_TRUE(waitFor(engine.enqueue(cut)));
    ASSERT_TRUE(recorder.waitForStatus(cut.id, TransferStatus::Failed));
    EXPECT_EQ(entries(downloads), QStringList({"a_b_.jpg", "song.mp3"}));
    EXPECT_EQ(readFile(tempFolder() / "Downloads/new/a_b_.jpg"), photo);
}

// Guards against a download that quitting gives up leaving its temporary file behind until a later
// run's sweep, and against the phone's late answer committing it or leaving anything behind.
TEST_F(TransferEnginePhoneTest, QuittingRemovesTheTemporaryFileOfADownloadItGivesUp)
{
    EmulatedPhone& phone = plugPhone({{"movie.mp4", bytes(256 * 1024)}});
    const auto repository = repositoryOf(phone);
    const auto holding = std::make_shared<HoldingRepository>(repository);
    TransferQueueActor::Options options;
    options.preferences = std::make_shared<QSettingsPreferenceStore>(
        QString::fromStdString((tempFolder() / "prefs.ini").string()));
    auto engine = std::make_unique<TransferQueueActor>(options);
    engine->setRepositoryProvider([holding](const QString&, quint64) {
        return readyFuture<std::shared_ptr<FileRepository>>(holding);
    });
    const QString root = QString::number(EmulatedPhone::storageId()) + "/0";
    const FileItem movie = repository->listFiles(root).result().first();
    const QString downloads = QString::fromStdString((tempFolder() / "Downloads").string());
    holding->holdNext();
    ASSERT_TRUE(waitFor(engine->enqueue(TransferJob::make(
        TransferType::Download, TransferEndpoint::android("phone", movie.path, movie.name),
        TransferEndpoint::local(QUrl::fromLocalFile(downloads)), *movie.size))));
    // libmtp is inside the transfer now, writing into the temporary file it holds open.
    ASSERT_TRUE(waitUntil([&] { return holding->held(); }));
    ASSERT_EQ(entries(downloads).size(), 1);
    EXPECT_TRUE(entries(downloads).first().startsWith(".quillbay-"));

    engine.reset(); // waits a while for the download, then gives it up
    EXPECT_EQ(entries(downloads), QStringList()) << "removed at quit, not a day later";

    // The phone answers after all: the file is whole, but nothing gives it a name any more.
    holding->release();
    repository->listFiles(root).waitForFinished(); // queued behind the download on its thread
    QThread::msleep(200);
    EXPECT_EQ(entries(downloads), QStringList());
}

// Guards against a retry of a pulled phone's job acting on another phone that got the same bus
// address, and so the same id: deleting its object of the same number, or saving its bytes under
// the first phone's file name.
TEST_F(TransferEnginePhoneTest, ARetryAfterItsPhoneLeftNeverReachesAnotherPhoneWithItsId)
{
    ensureApplication();
    MTPClient::Options clientOptions;
    clientOptions.processRunner = std::make_shared<FakeProcessRunner>();
    clientOptions.sleep = [](std::chrono::milliseconds) {
    };
    TransferQueueActor::Options options;
    options.preferences = std::make_shared<QSettingsPreferenceStore>(
        QString::fromStdString((tempFolder() / "prefs.ini").string()));
    options.publishSpacing = 0ms;
    TransferQueueActor engine(options);
    PublicationRecorder recorder(engine);
    // The application's device list, watching the bus through hot-plug notifications.
    DeviceListViewModel devices(
        std::make_unique<MTPDeviceManager>(std::make_shared<MTPDeviceLister>(),
                                           std::make_unique<LibusbHotplugSource>(),
                                           MTPDeviceManager::Timing{50ms, 100ms}),
        std::make_shared<MTPRepositoryFactory>(clientOptions),
        [&engine](RepositoryProvider provider) { engine.setRepositoryProvider(provider); });
    devices.startMonitoring();
    const QString root = QString::number(EmulatedPhone::storageId()) + "/0";
    const auto listRoot = [&](const Device& device) {
        auto opening = devices.repository(device.id, device.attachment);
        EXPECT_TRUE(waitUntil([&] { return opening.isFinished(); }));
        return opening.result()->listFiles(root).result();
    };

    EmulatedPhone& first = plugPhone({{"notes.txt", "the first phone's notes"}});
    ASSERT_TRUE(waitUntil([&] { return devices.devices().size() == 1; }));
    const Device a = devices.devices().first();
    const FileItem notes = listRoot(a).first();
    const QString downloads = QString::fromStdString((tempFolder() / "Downloads").string());
    const TransferEndpoint onA =
        TransferEndpoint::android(a.id, notes.path, notes.name, a.attachment);
    const TransferJob removal = TransferJob::make(TransferType::Delete, onA, onA);
    const TransferJob download = TransferJob::make(
        TransferType::Download, onA, TransferEndpoint::local(QUrl::fromLocalFile(downloads)));

    // The first phone leaves before its jobs run; they fail for good.
    const uint8_t address = first.deviceAddress();
    first.unplug();
    ASSERT_TRUE(waitUntil([&] { return devices.devices().isEmpty(); }));
    ASSERT_TRUE(waitFor(engine.enqueue({removal, download})));
    ASSERT_TRUE(recorder.waitForStatus(removal.id, TransferStatus::Failed));
    ASSERT_TRUE(recorder.waitForStatus(download.id, TransferStatus::Failed));

    // Another phone gets the same address, and its own file the same object number.
    EmulatedPhone& second = plugPhone({{"other.txt", "the second phone's file"}});
    second.unplug();
    second.plug(address);
    ASSERT_TRUE(waitUntil([&] {
        return devices.devices().size() == 1 && devices.devices().first().id == a.id &&
               devices.devices().first().attachment != a.attachment;
    }));
    const Device b = devices.devices().first();
    ASSERT_EQ(listRoot(b).first().path, notes.path);

    const QString notFound = QStringLiteral("Device '%1' not found.").arg(a.id);
    for (const TransferJob& job : {removal, download}) {
        const int published = recorder.count();
        ASSERT_TRUE(waitFor(engine.retry(job.id)));
        // Ended again after the publication of the retry itself.
        ASSERT_TRUE(waitUntil([&] {
            return recorder.count() > published + 1 && isFinished(recorder.job(job.id)->status);
        }));
        EXPECT_EQ(recorder.job(job.id)->status, TransferStatus::Failed)
            << toText(job.type).toStdString();
        EXPECT_EQ(recorder.job(job.id)->error.value_or(TransferError{}).localizedMessage, notFound);
    }
    EXPECT_EQ(readFile(second.storageFolder() / "other.txt"), "the second phone's file");
    EXPECT_EQ(entries(downloads), QStringList());

    // The same jobs made for the phone that is there now do reach it.
    const TransferEndpoint onB =
        TransferEndpoint::android(b.id, notes.path, "other.txt", b.attachment);
    const TransferJob fetched = TransferJob::make(
        TransferType::Download, onB, TransferEndpoint::local(QUrl::fromLocalFile(downloads)));
    ASSERT_TRUE(waitFor(engine.enqueue(fetched)));
    ASSERT_TRUE(recorder.waitForStatus(fetched.id, TransferStatus::Completed));
    EXPECT_EQ(readFile(tempFolder() / "Downloads" / "other.txt"), "the second phone's file");
    devices.stopMonitoring();
}

} // namespace
} // namespace qb::test
