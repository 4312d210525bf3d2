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

#include <filesystem>
#include <fstream>

namespace qb::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Passes every call to the phone's repository, and holds the device's first partial progress report
// of each transfer until the test has seen it published, so that seeing it does not depend on
// timing.
class HoldingRepository : public FileRepository
{
public:
    explicit HoldingRepository(std::shared_ptr<FileRepository> inner) : m_inner(std::move(inner)) {}

    QFuture<QList<FileItem>> listFiles(const QString& f) override { return m_inner->listFiles(f); }
    QFuture<FileItem> itemInfo(const QString& path) override { return m_inner->itemInfo(path); }
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
    // An engine over the phone's repository, with its preferences in the temporary folder.
    std::unique_ptr<TransferQueueActor> engineOver(std::shared_ptr<FileRepository> repository)
    {
        preferences = std::make_shared<QSettingsPreferenceStore>(
            QString::fromStdString((tempFolder() / "prefs.ini").string()));
        TransferQueueActor::Options options;
        options.preferences = preferences;
        options.publishSpacing = 0ms;
        auto engine = std::make_unique<TransferQueueActor>(options);
        engine->setRepositoryProvider([repository](const QString&, quint64) {
            return readyFuture<std::shared_ptr<FileRepository>>(repository);
        });
        return engine;
    }
    static FileItem item(FileRepository& repository, const QString& folder, const QString& name)
    {
        for (const FileItem& entry : repository.listFiles(folder).result()) {
            if (entry.name == name)
                return entry;
        }
        ADD_FAILURE() << "no item " << name.toStdString();
        return {};
    }
    // Runs the job until it ends in `status`; its error text, if any.
    static QString runTo(TransferQueueActor& engine, PublicationRecorder& recorder,
                         const TransferJob& job, TransferStatus status)
    {
        EXPECT_TRUE(waitFor(engine.enqueue(job)));
        EXPECT_TRUE(recorder.waitForStatus(job.id, status));
        const auto ended = recorder.job(job.id);
        return ended && ended->error ? ended->error->localizedMessage : QString();
    }

    const QString root = QString::number(EmulatedPhone::storageId()) + "/0";
    std::shared_ptr<PreferenceStore> preferences;
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

// Guards against a phone's short or overlong data saved as the file: under every rule the job
// fails saying so, the file already there keeps its content, and a move never goes on with it.
TEST_F(TransferEnginePhoneTest, ADownloadOfAnotherSizeThanAnnouncedFailsAndKeepsTheExistingFile)
{
    const std::string note = bytes(100000);
    EmulatedPhone& phone = plugPhone({{"note.txt", note}, {"Backup/", ""}});
    const QString deviceId = deviceIdOf(phone);
    const auto repository = repositoryOf(phone);
    const auto engine = engineOver(repository);
    PublicationRecorder recorder(*engine);
    const FileItem file = item(*repository, root, "note.txt");
    const auto source = TransferEndpoint::android(deviceId, file.path, file.name);
    const fs::path downloads = tempFolder() / "Downloads";
    writeFile(downloads / "note.txt", "the good copy");
    const auto download = [&](const QString& rule, const fs::path& folder) {
        preferences->setValue("overwriteRule", rule);
        return runTo(*engine, recorder,
                     TransferJob::make(TransferType::Download, source,
                                       TransferEndpoint::local(QUrl::fromLocalFile(
                                           QString::fromStdString(folder.string())))),
                     TransferStatus::Failed);
    };

    phone.sendObjectBytes(50000);
    for (const QString rule : {"ask", "rename", "overwrite"})
        EXPECT_EQ(download(rule, downloads),
                  "Download failed: received only 50000 of the 100000 bytes the phone announced");
    EXPECT_EQ(download("skip", downloads / "new"),
              "Download failed: received only 50000 of the 100000 bytes the phone announced");
    phone.sendObjectBytes(100010);
    EXPECT_EQ(download("overwrite", downloads),
              "Download failed: received 100010 bytes where the phone announced 100000");
    EXPECT_EQ(entries(QString::fromStdString(downloads.string())),
              QStringList({"new", "note.txt"}));
    EXPECT_TRUE(fs::is_empty(downloads / "new"));
    EXPECT_EQ(readFile(downloads / "note.txt"), "the good copy");

    // A move through the computer stops before the phone gets the short file.
    const int sent = phone.count(MtpOperation::SendObjectInfo);
    phone.sendObjectBytes(50000);
    const FileItem backup = item(*repository, root, "Backup");
    EXPECT_EQ(runTo(*engine, recorder,
                    TransferJob::make(TransferType::Move, source,
                                      TransferEndpoint::android(deviceId, backup.path, "Backup")),
                    TransferStatus::Failed),
              "Download failed: received only 50000 of the 100000 bytes the phone announced");
    EXPECT_EQ(phone.count(MtpOperation::SendObjectInfo), sent);
    EXPECT_EQ(readFile(phone.storageFolder() / "note.txt"), note);
    EXPECT_TRUE(fs::is_empty(phone.storageFolder() / "Backup"));
}

// Guards against a retried move deleting its source when the copy an earlier attempt made is gone
// or its source was edited since: the file stays on the phone, here or there.
TEST_F(TransferEnginePhoneTest, ARetriedMoveDeletesItsSourceOnlyBesideAMatchingCopy)
{
    EmulatedPhone& phone = plugPhone({{"a.txt", "version one"},
                                      {"b.txt", "version one"},
                                      {"c.txt", "version one"},
                                      {"d.txt", "version one"},
                                      {"e.txt", "version one"},
                                      {"Dest/", ""}},
                                     false, 0x4ee1);
    const QString deviceId = deviceIdOf(phone);
    const auto repository = repositoryOf(phone);
    const auto engine = engineOver(repository);
    PublicationRecorder recorder(*engine);
    const FileItem dest = item(*repository, root, "Dest");
    const fs::path storage = phone.storageFolder();
    // The phone refuses the deletion of every attempt: both copies stay.
    const auto failedMove = [&](const QString& name) {
        const FileItem file = item(*repository, root, name);
        const TransferJob job = TransferJob::make(
            TransferType::Move, TransferEndpoint::android(deviceId, file.path, name),
            TransferEndpoint::android(deviceId, dest.path, "Dest"));
        for (int nth = 1; nth <= TransferQueueActor::maxRetries + 1; ++nth)
            phone.failOperation(MtpOperation::DeleteObject, nth);
        EXPECT_EQ(runTo(*engine, recorder, job, TransferStatus::Failed),
                  "MTP operation failed: Delete failed for objectId " + file.path.section('/', 1));
        EXPECT_EQ(readFile(storage / "Dest" / name.toStdString()), "version one");
        EXPECT_EQ(readFile(storage / name.toStdString()), "version one");
        return job;
    };
    // The list published before the retry still shows the job failed: only another ending counts.
    const auto retry = [&](const TransferJob& job, TransferStatus status) {
        const auto errorOf = [&] {
            const auto seen = recorder.job(job.id);
            return seen && seen->error ? seen->error->localizedMessage : QString();
        };
        const QString before = errorOf();
        EXPECT_TRUE(waitFor(engine->retry(job.id)));
        EXPECT_TRUE(waitUntil(
            [&] { return recorder.job(job.id)->status == status && errorOf() != before; }));
        return errorOf();
    };

    const auto notDeleted = [](const QString& name) {
        return "\u201C" + name +
               "\u201D was not deleted: it no longer matches its copy in the destination folder.";
    };

    // The stray copy was deleted: the retry copies again before it deletes.
    const TransferJob first = failedMove("a.txt");
    fs::remove(storage / "Dest" / "a.txt");
    retry(first, TransferStatus::Completed);
    EXPECT_EQ(readFile(storage / "Dest" / "a.txt"), "version one");
    EXPECT_FALSE(fs::exists(storage / "a.txt"));

    // The original was edited, to the same size, with the copy still there: it is never deleted.
    const TransferJob second = failedMove("b.txt");
    writeFile(storage / "b.txt", "version two");
    fs::last_write_time(storage / "b.txt", fs::last_write_time(storage / "b.txt") + 1h);
    EXPECT_EQ(retry(second, TransferStatus::Failed), notDeleted("b.txt"));
    EXPECT_EQ(readFile(storage / "b.txt"), "version two");
    EXPECT_EQ(readFile(storage / "Dest" / "b.txt"), "version one");

    // A line appended on the phone within the same second, after the pane listed the folder:
    // libmtp still remembers the old size and date, so only a new session sees the edit.
    const TransferJob third = failedMove("c.txt");
    item(*repository, root, "c.txt");
    const auto written = fs::last_write_time(storage / "c.txt");
    writeFile(storage / "c.txt", "version one\nand a line");
    fs::last_write_time(storage / "c.txt", written);
    EXPECT_EQ(retry(third, TransferStatus::Failed), notDeleted("c.txt"));
    EXPECT_EQ(readFile(storage / "c.txt"), "version one\nand a line");

    // A shorter file of that name in its place at the destination is no copy of the source.
    const TransferJob fourth = failedMove("d.txt");
    writeFile(storage / "Dest" / "d.txt", "version");
    EXPECT_EQ(retry(fourth, TransferStatus::Failed), notDeleted("d.txt"));
    EXPECT_EQ(readFile(storage / "d.txt"), "version one");
    EXPECT_EQ(readFile(storage / "Dest" / "d.txt"), "version");

    // A matching copy still lets the retry delete the source.
    const TransferJob fifth = failedMove("e.txt");
    retry(fifth, TransferStatus::Completed);
    EXPECT_FALSE(fs::exists(storage / "e.txt"));
    EXPECT_EQ(readFile(storage / "Dest" / "e.txt"), "version one");
}

// Guards against a finished operation reported failed: an upload or a move's deletion whose
// answer was lost is done when the phone holds its work whole; a name the folder held before is
// refused with that reason, at once, and the phone's file is never taken for the upload.
TEST_F(TransferEnginePhoneTest, AnOperationThePhoneFinishedIsNeverReportedFailed)
{
    EmulatedPhone& phone =
        plugPhone({{"there.bin", "the phone's own"}, {"m.bin", bytes(70000)}, {"Dest/", ""}});
    const QString deviceId = deviceIdOf(phone);
    const auto repository = repositoryOf(phone);
    const auto engine = engineOver(repository);
    PublicationRecorder recorder(*engine);
    const fs::path storage = phone.storageFolder();
    const auto upload = [&](const std::string& name, const std::string& content) {
        writeFile(tempFolder() / name, content);
        const QUrl local =
            QUrl::fromLocalFile(QString::fromStdString((tempFolder() / name).string()));
        return TransferJob::make(TransferType::Upload, TransferEndpoint::local(local),
                                 TransferEndpoint::android(deviceId, root, "Internal"),
                                 *fileSize(local));
    };

    phone.loseResponse(MtpOperation::SendObject, 1);
    const TransferJob sent = upload("up.bin", bytes(300000));
    EXPECT_EQ(runTo(*engine, recorder, sent, TransferStatus::Completed), "");
    EXPECT_EQ(recorder.job(sent.id)->retryCount, 0);
    EXPECT_EQ(readFile(storage / "up.bin"), bytes(300000));

    const TransferJob refused = upload("there.bin", "mine");
    EXPECT_EQ(runTo(*engine, recorder, refused, TransferStatus::Failed),
              "An item already exists at there.bin.");
    EXPECT_EQ(recorder.job(refused.id)->retryCount, 0);
    EXPECT_EQ(readFile(storage / "there.bin"), "the phone's own");

    phone.loseResponse(MtpOperation::DeleteObject, 1);
    const FileItem moved = item(*repository, root, "m.bin");
    const TransferJob move = TransferJob::make(
        TransferType::Move, TransferEndpoint::android(deviceId, moved.path, "m.bin"),
        TransferEndpoint::android(deviceId, item(*repository, root, "Dest").path, "Dest"));
    EXPECT_EQ(runTo(*engine, recorder, move, TransferStatus::Completed), "");
    EXPECT_FALSE(fs::exists(storage / "m.bin"));
    EXPECT_EQ(readFile(storage / "Dest" / "m.bin"), bytes(70000));
}

// Guards against an upload whose file shrinks spinning for ever and holding the phone, or being
// retried at once with what the file holds then.
TEST_F(TransferEnginePhoneTest, AnUploadWhoseFileShrinksFailsAtOnceAndThePhoneWorksOn)
{
    namespace fs = std::filesystem;
    EmulatedPhone& phone = plugPhone({{"Documents/", ""}});
    const auto repository = repositoryOf(phone);
    const auto holding = std::make_shared<HoldingRepository>(repository);
    TransferQueueActor::Options options;
    options.preferences = std::make_shared<QSettingsPreferenceStore>(
        QString::fromStdString((tempFolder() / "prefs.ini").string()));
    TransferQueueActor engine(options);
    engine.setRepositoryProvider([holding](const QString&, quint64) {
        return readyFuture<std::shared_ptr<FileRepository>>(holding);
    });
    PublicationRecorder recorder(engine);
    const QString root = QString::number(EmulatedPhone::storageId()) + "/0";
    const FileItem documents = repository->listFiles(root).result().first();
    const fs::path phoneFolder = phone.storageFolder() / "Documents";
    // Uploads `file`, changed by `change` while the upload is held in its first block; the job as
    // it ended, or nothing when it did not end within 10 s.
    const auto upload = [&](const fs::path& file,
                            const std::function<void()>& change) -> std::optional<TransferJob> {
        const QUrl local = QUrl::fromLocalFile(QString::fromStdString(file.string()));
        const TransferJob job = TransferJob::make(
            TransferType::Upload, TransferEndpoint::local(local),
            TransferEndpoint::android(QStringLiteral("phone"), documents.path, documents.name),
            *fileSize(local));
        holding->holdNext();
        EXPECT_TRUE(waitFor(engine.enqueue(job)));
        EXPECT_TRUE(waitUntil([&] { return holding->held(); }));
        change();
        holding->release();
        const bool ended = waitUntil(
            [&] {
                const auto seen = recorder.job(job.id);
                return seen && (seen->status == TransferStatus::Failed ||
                                seen->status == TransferStatus::Completed);
            },
            10'000);
        return ended ? recorder.job(job.id) : std::nullopt;
    };

    const fs::path video = tempFolder() / "video.mp4";
    writeFile(video, bytes(16 << 20));
    const auto shrunk = upload(video, [&] { fs::resize_file(video, 2 << 20); });
    if (!shrunk)
        fs::resize_file(video, 16 << 20); // lets a reader stuck at the end of the file finish
    ASSERT_TRUE(shrunk) << "the upload did not end within 10 s of its file shrinking";
    ASSERT_EQ(shrunk->status, TransferStatus::Failed);
    EXPECT_EQ(shrunk->error->localizedMessage,
              "Upload failed: The file got shorter while it was being sent");
    EXPECT_EQ(shrunk->retryCount, 0);

    // The phone works on; a file appended to while it is sent arrives, and is counted, as it
    // was announced.
    const fs::path report = tempFolder() / "report.pdf";
    writeFile(report, bytes(512 << 10));
    const auto grown = upload(report, [&] {
        std::ofstream(report, std::ios::app | std::ios::binary) << std::string(1000, 'y');
    });
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->status, TransferStatus::Completed);
    EXPECT_EQ(grown->bytesTransferred, 512 << 10);
    EXPECT_EQ(grown->totalBytes, 512 << 10);
    EXPECT_TRUE(readFile(phoneFolder / "report.pdf") == bytes(512 << 10));
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
