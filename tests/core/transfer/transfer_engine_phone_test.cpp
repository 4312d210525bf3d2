// The engine end to end: real libmtp, the phone's repository and the emulated phone, with real
// files on both sides.
#include "core/device/fake_process_runner.h"
#include "core/device/mtp_file_repository.h"
#include "core/transfer/transfer_queue_actor.h"
#include "engine_test_support.h"
#include "phone/phone_test.h"
#include "platform/futures.h"

#include <QDir>
#include <QSemaphore>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

namespace qb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const QString kRoot = QString::number(EmulatedPhone::storageId()) + "/0";

// Passes every call to the phone's repository, and holds the device's first partial progress
// report until the test has seen it published, so that seeing it does not depend on timing.
class HoldingRepository : public FileRepository
{
public:
    explicit HoldingRepository(std::shared_ptr<FileRepository> inner) : m_inner(std::move(inner)) {}

    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override
    {
        return m_inner->listFiles(folderPath);
    }
    QFuture<void> downloadFile(const QString& path, const QString& localFilePath,
                               ProgressFn progress) override
    {
        return m_inner->downloadFile(path, localFilePath, hold(std::move(progress)));
    }
    QFuture<void> uploadFile(const QString& localFilePath, const QString& folderPath,
                             ProgressFn progress) override
    {
        return m_inner->uploadFile(localFilePath, folderPath, hold(std::move(progress)));
    }
    QFuture<void> createFolder(const QString& name, const QString& parentPath) override
    {
        return m_inner->createFolder(name, parentPath);
    }
    QFuture<void> deleteItem(const QString& path) override { return m_inner->deleteItem(path); }
    QFuture<void> renameItem(const QString& path, const QString& newName) override
    {
        return m_inner->renameItem(path, newName);
    }
    QFuture<void> moveItem(const QString& path, const QString& destinationFolderPath) override
    {
        return m_inner->moveItem(path, destinationFolderPath);
    }

    void holdFirstPartialReport() { m_holding = true; }
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
    std::atomic<bool> m_holding = false;
    std::atomic<bool> m_held = false;
    QSemaphore m_release;
};

class TransferEnginePhoneTest : public PhoneTest
{
protected:
    void SetUp() override
    {
        PhoneTest::SetUp();
        ensureApplication();
    }

    void TearDown() override
    {
        if (holding)
            holding->release();
        recorder.reset();
        engine.reset();
        holding.reset();
        repository.reset();
        PhoneTest::TearDown();
    }

    void start(const EmulatedPhone& phone)
    {
        deviceId =
            QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());
        MTPClient::Options options;
        options.processRunner = std::make_shared<FakeProcessRunner>();
        options.sleep = [](std::chrono::milliseconds) {
        };
        repository = MTPFileRepository::create(deviceId, options).result();

        TransferQueueActor::Options engineOptions;
        engineOptions.preferences = std::make_shared<MemoryPreferenceStore>();
        // Each reading moves the clock on by 0.2 s, so that every report passes the gate.
        engineOptions.clock = [clock = std::make_shared<FakeClock>()] {
            clock->advance(200ms);
            return clock->now();
        };
        engineOptions.publishSpacing = 0ms;
        engine = std::make_unique<TransferQueueActor>(engineOptions);
        holding = std::make_shared<HoldingRepository>(repository);
        engine->setRepositoryProvider(
            [id = repository->deviceId(), holding = holding](const QString& wanted) {
                if (wanted != id)
                    return failedFuture<std::shared_ptr<FileRepository>>(
                        FileRepositoryError::deviceNotConnected());
                return readyFuture<std::shared_ptr<FileRepository>>(holding);
            });
        recorder = std::make_unique<PublicationRecorder>(*engine);
    }

    FileItem item(const QString& folder, const QString& name)
    {
        for (const FileItem& entry : repository->listFiles(folder).result()) {
            if (entry.name == name)
                return entry;
        }
        ADD_FAILURE() << "no item " << name.toStdString();
        return {};
    }

    // Waits until a publication shows the job running with part of its bytes done.
    // (The test calls holding->holdFirstPartialReport() before enqueuing.)
    bool seePartialProgress(const QUuid& id)
    {
        const bool seen = waitUntil([&] {
            const auto job = recorder->job(id);
            return job && job->status == TransferStatus::Running && job->progress > 0 &&
                   job->progress < 1 && job->bytesTransferred > 0;
        });
        holding->release();
        return seen;
    }

    QString deviceId;
    std::shared_ptr<MTPFileRepository> repository;
    std::shared_ptr<HoldingRepository> holding;
    std::unique_ptr<TransferQueueActor> engine;
    std::unique_ptr<PublicationRecorder> recorder;
};

std::string bytes(size_t size)
{
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i)
        content[i] = char('a' + (i * 7) % 26);
    return content;
}

TEST_F(TransferEnginePhoneTest, DownloadsAPhoneFileWithProgressIntoItsFinalName)
{
    const std::string content = bytes(300 * 1024);
    EmulatedPhone& phone = plugPhone({{"DCIM/a:b?.jpg", content}});
    start(phone);
    const FileItem folder = item(kRoot, "DCIM");
    const FileItem photo = item(folder.path, "a:b?.jpg");
    const fs::path downloads = tempFolder() / "Downloads" / "new";

    const TransferJob job = TransferJob::make(
        TransferType::Download, TransferEndpoint::android(deviceId, photo.path, photo.name),
        TransferEndpoint::local(QUrl::fromLocalFile(QString::fromStdString(downloads.string()))),
        *photo.size);
    holding->holdFirstPartialReport();
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    EXPECT_TRUE(seePartialProgress(job.id));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));

    EXPECT_EQ(readFile(downloads / "a_b_.jpg"), content);
    EXPECT_EQ(QDir(QString::fromStdString(downloads.string()))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"a_b_.jpg"}));
    const TransferJob done = *recorder->job(job.id);
    EXPECT_EQ(done.progress, 1.0);
    EXPECT_GE(done.bytesTransferred, qint64(content.size()));
    EXPECT_EQ(done.retryCount, 0);
}

TEST_F(TransferEnginePhoneTest, AFailedDownloadIsRetriedAndLeavesNoPartialFile)
{
    const std::string content = bytes(64 * 1024);
    EmulatedPhone& phone = plugPhone({{"song.mp3", content}});
    start(phone);
    const FileItem song = item(kRoot, "song.mp3");
    phone.failOperation(MtpOperation::GetObject, 1);

    const QString downloads = QString::fromStdString((tempFolder() / "Downloads").string());
    const TransferJob job = TransferJob::make(
        TransferType::Download, TransferEndpoint::android(deviceId, song.path, song.name),
        TransferEndpoint::local(QUrl::fromLocalFile(downloads)));
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    EXPECT_EQ(recorder->job(job.id)->retryCount, 1);
    EXPECT_EQ(phone.count(MtpOperation::GetObject), 2);
    EXPECT_EQ(QDir(downloads).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"song.mp3"}));
    EXPECT_EQ(readFile(tempFolder() / "Downloads" / "song.mp3"), content);
}

TEST_F(TransferEnginePhoneTest, UploadsALocalFileWithProgress)
{
    EmulatedPhone& phone = plugPhone({{"Documents/", ""}});
    start(phone);
    const FileItem documents = item(kRoot, "Documents");
    const std::string content = bytes(200 * 1024);
    writeFile(tempFolder() / "report.pdf", content);

    const QString local = QString::fromStdString((tempFolder() / "report.pdf").string());
    const TransferJob job =
        TransferJob::make(TransferType::Upload, TransferEndpoint::local(QUrl::fromLocalFile(local)),
                          TransferEndpoint::android(deviceId, documents.path, documents.name),
                          *fileSize(QUrl::fromLocalFile(local)));
    holding->holdFirstPartialReport();
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    EXPECT_TRUE(seePartialProgress(job.id));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));

    EXPECT_EQ(readFile(phone.storageFolder() / "Documents" / "report.pdf"), content);
    EXPECT_EQ(item(documents.path, "report.pdf").size, qint64(content.size()));
}

} // namespace
} // namespace qb::test
