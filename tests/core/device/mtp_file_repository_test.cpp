// MTPFileRepository and the use cases against the real libmtp and the emulated phone.
#include "core/device/move_file_use_case.h"
#include "core/device/mtp_file_repository.h"
#include "core/device/rename_file_use_case.h"
#include "fake_process_runner.h"
#include "phone/phone_test.h"

#include <gtest/gtest.h>

#include <QSemaphore>

#include <atomic>
#include <filesystem>
#include <system_error>

namespace qb {
namespace {

namespace fs = std::filesystem;

QString deviceId(const EmulatedPhone& phone)
{
    return QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());
}

QString path(const fs::path& p)
{
    return QString::fromStdString(p.string());
}

const QString kRoot = QString::number(EmulatedPhone::storageId()) + "/0";

template <typename T> FileRepositoryError repositoryErrorOf(QFuture<T> future)
{
    try {
        future.waitForFinished();
    } catch (const FileRepositoryError& e) {
        return e;
    }
    ADD_FAILURE() << "no FileRepositoryError";
    return FileRepositoryError::unknown("none");
}

class MTPFileRepositoryTest : public PhoneTest
{
protected:
    std::shared_ptr<MTPFileRepository> create(const EmulatedPhone& phone)
    {
        return MTPFileRepository::create(deviceId(phone), options()).result();
    }

    MTPClient::Options options()
    {
        MTPClient::Options options;
        options.processRunner = m_runner;
        options.sleep = [](std::chrono::milliseconds) {
        };
        return options;
    }

    static FileItem item(MTPFileRepository& repo, const QString& folder, const QString& name)
    {
        for (const FileItem& entry : repo.listFiles(folder).result())
            if (entry.name == name)
                return entry;
        ADD_FAILURE() << "no item " << name.toStdString();
        return {};
    }

    std::shared_ptr<FakeProcessRunner> m_runner = std::make_shared<FakeProcessRunner>();
};

TEST_F(MTPFileRepositoryTest, ListingMakesFileItemsAndIsCachedUntilAChangeOrAFailure)
{
    EmulatedPhone& phone = plugPhone({{"DCIM/a.jpg", "jpeg"}, {"b.txt", "bee"}, {"c.txt", "c"}});
    auto repo = create(phone);
    const int listings = phone.count(MtpOperation::GetObjectHandles);
    const auto items = repo->listFiles(kRoot).result();
    ASSERT_EQ(items.size(), 3);
    for (const FileItem& entry : items) {
        EXPECT_EQ(entry.id, entry.path);
        EXPECT_TRUE(entry.path.startsWith("65537/"));
        EXPECT_EQ(entry.isDirectory, !entry.size.has_value());
        EXPECT_TRUE(entry.isDirectory || entry.modifiedAt.has_value());
    }
    EXPECT_EQ(repo->listFiles(kRoot).result().size(), 3);
    EXPECT_EQ(phone.count(MtpOperation::GetObjectHandles), listings + 1);
    EXPECT_EQ(repo->cachedFolders(), QStringList{kRoot});

    const FileItem c = item(*repo, kRoot, "c.txt");
    repo->deleteItem(c.path).waitForFinished();
    EXPECT_TRUE(repo->cachedFolders().isEmpty());
    // Guards against a failed listing showing (and staying) as an empty folder.
    phone.failOperation(MtpOperation::GetObjectHandles, 1);
    EXPECT_THROW(repo->listFiles(kRoot).waitForFinished(), MTPError);
    EXPECT_TRUE(repo->cachedFolders().isEmpty());
    EXPECT_EQ(repo->listFiles(kRoot).result().size(), 2);
    EXPECT_EQ(phone.count(MtpOperation::GetObjectHandles), listings + 3);
    EXPECT_FALSE(fs::exists(phone.storageFolder() / "c.txt"));

    // A failed upload may still have changed the folder: the cache goes all the same.
    writeFile(tempFolder() / "big.txt", "content");
    phone.failOperation(MtpOperation::SendObjectInfo, 1, MtpResponse::StoreFull);
    EXPECT_THROW(repo->uploadFile(path(tempFolder() / "big.txt"), kRoot, {}).waitForFinished(),
                 MTPError);
    EXPECT_TRUE(repo->cachedFolders().isEmpty());
}

// Guards against a listing read before a change being cached after it.
TEST_F(MTPFileRepositoryTest, ListingQueuedBeforeAChangeIsNotCached)
{
    EmulatedPhone& phone = plugPhone({{"b.txt", "bee"}, {"c.txt", "c"}});
    auto repo = create(phone);
    const FileItem b = item(*repo, kRoot, "b.txt");
    const FileItem c = item(*repo, kRoot, "c.txt");
    repo->createFolder("Fresh", kRoot).waitForFinished(); // empties the cache
    // Hold the device thread inside a download so both calls below queue up behind it.
    QSemaphore inTransfer, release;
    std::atomic<bool> held{false};
    QFuture<void> download =
        repo->downloadFile(b.path, path(tempFolder() / "b.txt"), [&](qint64, qint64) {
            if (!held.exchange(true)) {
                inTransfer.release();
                release.acquire();
            }
        });
    inTransfer.acquire();
    QFuture<QList<FileItem>> listing = repo->listFiles(kRoot);
    QFuture<void> deletion = repo->deleteItem(c.path);
    release.release();
    download.waitForFinished();
    EXPECT_EQ(listing.result().size(), 3);
    deletion.waitForFinished();
    EXPECT_TRUE(repo->cachedFolders().isEmpty());
    EXPECT_EQ(repo->listFiles(kRoot).result().size(), 2);
}

TEST_F(MTPFileRepositoryTest, TransfersCreateRenameMoveAndCopyRoundTrip)
{
    EmulatedPhone& phone = plugPhone({{"photo.jpg", std::string(70000, 'p')},
                                      {"Old/", ""},
                                      {"doc.txt", "document"},
                                      {"Target/", ""}});
    auto repo = create(phone);
    const FileItem photo = item(*repo, kRoot, "photo.jpg");
    repo->downloadFile(photo.path, path(tempFolder() / "photo.jpg"), {}).waitForFinished();
    EXPECT_EQ(readFile(tempFolder() / "photo.jpg"), std::string(70000, 'p'));
    // A full disk (every write to /dev/full fails so) is told apart from a phone's failure.
    EXPECT_THROW(repo->downloadFile(photo.path, "/dev/full", {}).waitForFinished(),
                 std::system_error);

    repo->createFolder("Album", kRoot).waitForFinished();
    const FileItem album = item(*repo, kRoot, "Album");
    EXPECT_TRUE(album.isDirectory);
    // An upload to the top folder (object 0) lands there.
    writeFile(tempFolder() / "up.bin", "uploaded bytes");
    repo->uploadFile(path(tempFolder() / "up.bin"), kRoot, {}).waitForFinished();
    EXPECT_EQ(readFile(phone.storageFolder() / "up.bin"), "uploaded bytes");
    EXPECT_EQ(item(*repo, kRoot, "up.bin").size, 14);

    RenameFileUseCase(repo).execute(photo, "renamed.jpg").waitForFinished();
    RenameFileUseCase(repo).execute(item(*repo, kRoot, "Old"), "New").waitForFinished();
    EXPECT_TRUE(fs::exists(phone.storageFolder() / "renamed.jpg"));
    EXPECT_TRUE(fs::is_directory(phone.storageFolder() / "New"));
    phone.failOperation(MtpOperation::SetObjectPropValue, 1);
    const auto refused = repositoryErrorOf(repo->renameItem(photo.path, "again.jpg"));
    EXPECT_EQ(refused.message(), "Rename is not supported by this device.");

    // The repository refuses moves itself, so that the use case copies instead.
    const FileItem doc = item(*repo, kRoot, "doc.txt");
    const QString target = item(*repo, kRoot, "Target").path;
    EXPECT_EQ(repositoryErrorOf(repo->moveItem(doc.path, target)).kind(),
              FileRepositoryError::Kind::MoveNotSupported);
    MoveFileUseCase(repo).execute(doc, album.path, true, {}).waitForFinished();
    EXPECT_EQ(readFile(phone.storageFolder() / "Album" / "doc.txt"), "document");
    EXPECT_TRUE(fs::exists(phone.storageFolder() / "doc.txt"));
    MoveFileUseCase(repo).execute(doc, target, false, {}).waitForFinished();
    EXPECT_EQ(readFile(phone.storageFolder() / "Target" / "doc.txt"), "document");
    EXPECT_FALSE(fs::exists(phone.storageFolder() / "doc.txt"));
}

} // namespace
} // namespace qb
