// MTPClient, MTPFileRepository and the use cases against the real libmtp and the emulated phone.
#include "core/device/move_file_use_case.h"
#include "core/device/mtp_client.h"
#include "core/device/mtp_file_repository.h"
#include "core/device/rename_file_use_case.h"
#include "fake_process_runner.h"
#include "phone/phone_test.h"
#include "platform/futures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSemaphore>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace qb {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

QString deviceId(const EmulatedPhone& phone)
{
    return QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());
}

QString path(const fs::path& p)
{
    return QString::fromStdString(p.string());
}

// The error the future failed with; a test failure when it did not fail so.
template <typename E, typename T> E errorOf(QFuture<T> future)
{
    try {
        future.waitForFinished();
    } catch (const E& e) {
        return e;
    }
    throw std::logic_error("the future did not fail as expected");
}

const QString kRoot = QString::number(EmulatedPhone::storageId()) + "/0";

class MTPClientTest : public PhoneTest
{
protected:
    MTPClient::Options options()
    {
        MTPClient::Options options;
        options.processRunner = m_runner;
        // Read only once the open has finished, which orders it after the device thread's writes.
        options.sleep = [this](std::chrono::milliseconds d) {
            m_sleeps.append(int(d.count()));
        };
        return options;
    }
    std::unique_ptr<MTPClient> makeClient() { return std::make_unique<MTPClient>(options()); }
    std::shared_ptr<MTPFileRepository> create(const EmulatedPhone& phone)
    {
        return MTPFileRepository::create(deviceId(phone), options()).result();
    }

    std::unique_ptr<MTPClient> openClient(const EmulatedPhone& phone)
    {
        auto client = makeClient();
        client->open(deviceId(phone)).waitForFinished();
        return client;
    }

    static MTPClient::FileInfo entry(MTPClient& client, const QString& name, quint32 parent = 0)
    {
        for (const auto& info : client.listFiles(EmulatedPhone::storageId(), parent).result())
            if (info.name == name)
                return info;
        ADD_FAILURE() << "no entry " << name.toStdString();
        return {};
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
    QList<int> m_sleeps;
};

using MTPFileRepositoryTest = MTPClientTest;

TEST_F(MTPClientTest, OpenOfAMissingDeviceTriesFiveTimesThenRestoresTheMonitor)
{
    auto client = makeClient();
    const MTPError error = errorOf<MTPError>(client->open("unknown_7_7"));
    EXPECT_EQ(error.kind(), MTPError::Kind::DeviceNotFound);
    EXPECT_EQ(error.message(), "Device 'unknown_7_7' not found.");
    EXPECT_EQ(m_sleeps, (QList<int>{700, 500, 500, 500, 500}));
    EXPECT_EQ(m_runner->commands(), (QStringList{FakeProcessRunner::kStop, FakeProcessRunner::kKill,
                                                 FakeProcessRunner::kStart}));
    EXPECT_FALSE(client->isOpen().result());

    // A client whose open failed has no device.
    EXPECT_EQ(errorOf<MTPError>(client->listFiles(65537, 0)).message(),
              "MTP operation failed: No device open");
    EXPECT_EQ(errorOf<MTPError>(client->deleteObject(1)).message(),
              "MTP operation failed: No device open");

    // A busy interface names its cause.
    EmulatedPhone& phone = plugPhone();
    phone.setInterfaceBusy(true);
    m_runner->clear();
    EXPECT_EQ(errorOf<MTPError>(client->open(deviceId(phone))).kind(), MTPError::Kind::DeviceBusy);
    EXPECT_EQ(m_runner->commands().last(), FakeProcessRunner::kStart);
}

TEST_F(MTPClientTest, MonitorStaysSuspendedWhileOpenAndReturnsOnCloseReopenAndDestruction)
{
    EmulatedPhone& phone = plugPhone();
    auto client = makeClient();
    client->open(deviceId(phone)).waitForFinished();
    EXPECT_EQ(m_sleeps, QList<int>{700});
    EXPECT_EQ(m_runner->commands(),
              (QStringList{FakeProcessRunner::kStop, FakeProcessRunner::kKill}));

    m_runner->clear();
    client->open(deviceId(phone)).waitForFinished();
    EXPECT_EQ(m_runner->commands(),
              (QStringList{FakeProcessRunner::kStart, FakeProcessRunner::kStop,
                           FakeProcessRunner::kKill}));
    m_runner->clear();
    client->close().waitForFinished();
    client->close().waitForFinished();
    EXPECT_EQ(m_runner->commands(), QStringList{FakeProcessRunner::kStart});
    EXPECT_FALSE(client->isOpen().result());

    m_runner->clear();
    client->open(deviceId(phone)).waitForFinished();
    client.reset();
    // Destruction hands the close to the device thread.
    ASSERT_TRUE(test::waitUntil([&] {
        return m_runner->commands().endsWith(FakeProcessRunner::kStart);
    })) << "the monitor was not restored after the client went: "
        << m_runner->commands().join(' ').toStdString();
    // The device was released: it opens again from a new client.
    auto again = makeClient();
    again->open(deviceId(phone)).waitForFinished();
    EXPECT_TRUE(again->isOpen().result());
}

TEST_F(MTPClientTest, ApplicationQuitRestoresTheMonitorOnce)
{
    EmulatedPhone& phone = plugPhone();
    // Kept for the whole process: Qt's thread pool does not survive the application object,
    // and later tests of this binary still wait on futures.
    static int argc = 1;
    static char name[] = "mtp_client_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    auto client = makeClient();
    client->open(deviceId(phone)).waitForFinished();
    m_runner->clear();
    QTimer::singleShot(0, app, &QCoreApplication::quit);
    app->exec();
    EXPECT_EQ(m_runner->commands(), QStringList{FakeProcessRunner::kStart});
    client->close().waitForFinished();
    EXPECT_EQ(m_runner->commands(), QStringList{FakeProcessRunner::kStart});
}

TEST_F(MTPClientTest, FailuresCarryTheLibraryTextOfThatOperation)
{
    EmulatedPhone& phone = plugPhone({{"a.bin", std::string(1 << 20, 'a')}, {"Music/", ""}});
    auto client = openClient(phone);
    const auto a = entry(*client, "a.bin");
    EXPECT_EQ(
        errorOf<MTPError>(client->createFolder("Music", EmulatedPhone::storageId(), 0)).message(),
        "MTP operation failed: Could not create folder 'Music'");
    EXPECT_EQ(errorOf<MTPError>(client->deleteObject(123)).message(),
              "MTP operation failed: Delete failed for objectId 123");

    phone.failOperation(MtpOperation::GetObject, 1);
    const MTPError download =
        errorOf<MTPError>(client->downloadFile(a.objectId, path(tempFolder() / "a"), {}));
    EXPECT_EQ(download.kind(), MTPError::Kind::DownloadFailed);
    EXPECT_TRUE(download.message().startsWith("Download failed: "));
    EXPECT_GT(download.payload().size(), 0);

    writeFile(tempFolder() / "up.txt", "upload");
    phone.failOperation(MtpOperation::SendObjectInfo, 1, MtpResponse::StoreFull);
    const MTPError upload = errorOf<MTPError>(
        client->uploadFile(path(tempFolder() / "up.txt"), EmulatedPhone::storageId(), 0, {}));
    EXPECT_EQ(upload.kind(), MTPError::Kind::UploadFailed);
    // Guards against a stale text: the upload's failure is not the download's.
    EXPECT_NE(upload.payload(), download.payload());
    // What a refused upload left on a phone that keeps it is no name the folder held before.
    phone.keepBrokenUploads(true);
    phone.failOperation(MtpOperation::SendObject, 1);
    EXPECT_EQ(errorOf<MTPError>(client->uploadFile(path(tempFolder() / "up.txt"),
                                                   EmulatedPhone::storageId(), 0, {}))
                  .kind(),
              MTPError::Kind::UploadFailed);
    phone.keepBrokenUploads(false);

    // libmtp reports a refused data phase as a broken one: asked again on a new session.
    phone.failOperation(MtpOperation::GetObjectHandles, 1);
    phone.failOperation(MtpOperation::GetObjectHandles, 2);
    const MTPError listing = errorOf<MTPError>(client->listFiles(EmulatedPhone::storageId(), 0));
    EXPECT_EQ(listing.kind(), MTPError::Kind::OperationFailed);
    EXPECT_GT(listing.payload().size(), 0);

    // A time-out and a pulled cable fail the download and leave no partial file.
    phone.hangOperation(MtpOperation::GetObject, 1);
    EXPECT_EQ(
        errorOf<MTPError>(client->downloadFile(a.objectId, path(tempFolder() / "t"), {})).kind(),
        MTPError::Kind::DownloadFailed);
    phone.disconnectAfterBytes(50000);
    EXPECT_EQ(
        errorOf<MTPError>(client->downloadFile(a.objectId, path(tempFolder() / "c"), {})).kind(),
        MTPError::Kind::DownloadFailed);
    EXPECT_FALSE(fs::exists(tempFolder() / "c"));
}

// Guards against a download refused because libmtp gives the size the file had when its folder
// was listed: a file edited on the phone since comes whole, one grown past the stop comes whole
// at the retry, an untouched file costs no new session, and a phone that sends another count
// than the file holds still fails and leaves nothing.
TEST_F(MTPClientTest, AFileEditedOnThePhoneAfterItsListingDownloadsWhole)
{
    EmulatedPhone& phone = plugPhone(
        {{"notes.txt", std::string(21000, 'n')}, {"same.txt", "unchanged"}}, false, 0x4ee1);
    auto client = openClient(phone);
    const auto notes = entry(*client, "notes.txt");
    const auto same = entry(*client, "same.txt");
    const int sessions = phone.count(MtpOperation::OpenSession);
    const fs::path target = tempFolder() / "out";
    client->downloadFile(same.objectId, path(target), {}).waitForFinished();
    EXPECT_EQ(readFile(target), "unchanged");
    EXPECT_EQ(phone.count(MtpOperation::OpenSession), sessions);

    for (const size_t size : {29988, 4995}) {
        writeFile(phone.storageFolder() / "notes.txt", std::string(size, 'e'));
        client->downloadFile(notes.objectId, path(target), {}).waitForFinished();
        EXPECT_EQ(readFile(target), std::string(size, 'e'));
    }
    writeFile(phone.storageFolder() / "notes.txt", std::string(3 << 20, 'g'));
    EXPECT_EQ(errorOf<MTPError>(client->downloadFile(notes.objectId, path(target), {})).message(),
              "Download failed: the phone sent more than the 4995 bytes it announced");
    EXPECT_FALSE(fs::exists(target));
    client->downloadFile(notes.objectId, path(target), {}).waitForFinished();
    EXPECT_EQ(readFile(target), std::string(3 << 20, 'g'));

    const int renewed = phone.count(MtpOperation::OpenSession);
    client->downloadFile(notes.objectId, path(tempFolder() / "again"), {}).waitForFinished();
    EXPECT_EQ(phone.count(MtpOperation::OpenSession), renewed);
    phone.sendObjectBytes(100);
    EXPECT_EQ(errorOf<MTPError>(client->downloadFile(notes.objectId, path(target), {})).message(),
              "Download failed: received only 100 of the 3145728 bytes the phone announced");
    EXPECT_FALSE(fs::exists(target));
}

// Guards against a phone left unusable by one transport failure until its cable is pulled: after
// a time-out, a stall, a session the phone closed or a port reset, the next request runs on a new
// session (a listing that failed so is asked once more there); a refusal opens no new session, a
// phone gone for good ends after the five attempts, and another phone is never touched.
TEST_F(MTPClientTest, AfterATransportFailureTheNextRequestRunsOnANewSession)
{
    EmulatedPhone& phone =
        plugPhone({{"a.bin", std::string(100000, 'a')}, {"b.txt", "bee"}, {"gone.txt", "gone"}});
    EmulatedPhone& other = plugPhone({{"c.txt", "sea"}});
    auto client = openClient(phone);
    auto otherClient = openClient(other);
    const auto a = entry(*client, "a.bin");
    const int otherSessions = other.count(MtpOperation::OpenSession);
    const auto listed = [&] {
        return client->listFiles(EmulatedPhone::storageId(), 0).result();
    };

    phone.timeOutBulkReadAfterBytes(1000);
    EXPECT_EQ(
        errorOf<MTPError>(client->downloadFile(a.objectId, path(tempFolder() / "a"), {})).kind(),
        MTPError::Kind::DownloadFailed);
    int sessions = phone.count(MtpOperation::OpenSession);
    client->downloadFile(a.objectId, path(tempFolder() / "a"), {}).waitForFinished();
    EXPECT_EQ(readFile(tempFolder() / "a"), std::string(100000, 'a'));
    EXPECT_EQ(phone.count(MtpOperation::OpenSession), sessions + 1);

    for (const auto& fault : std::vector<std::function<void()>>{
             [&] { phone.stallBulkReadAfterBytes(20); }, [&] { phone.dropSession(); },
             [&] {
                 const uint8_t address = phone.deviceAddress();
                 phone.unplug();
                 phone.plug(address);
             }}) {
        fault();
        sessions = phone.count(MtpOperation::OpenSession);
        EXPECT_EQ(listed().size(), 3);
        EXPECT_EQ(phone.count(MtpOperation::OpenSession), sessions + 1);
    }
    // A request without a data phase hears "Session Not Open" itself.
    phone.dropSession();
    const auto gone = entry(*client, "gone.txt");
    phone.dropSession();
    errorOf<MTPError>(client->deleteObject(gone.objectId));
    client->deleteObject(gone.objectId).waitForFinished();
    EXPECT_FALSE(fs::exists(phone.storageFolder() / "gone.txt"));

    // A refusal is an answer: no new session.
    sessions = phone.count(MtpOperation::OpenSession);
    phone.failOperation(MtpOperation::DeleteObject, 1, MtpResponse::DeviceBusy);
    errorOf<MTPError>(client->deleteObject(a.objectId));
    EXPECT_EQ(listed().size(), 2);
    EXPECT_EQ(phone.count(MtpOperation::OpenSession), sessions);

    // A new session that could not be opened is tried again at the next request.
    phone.dropSession();
    for (int nth = 1; nth <= MTPClient::kOpenAttempts; ++nth)
        phone.failOperation(MtpOperation::OpenSession, nth);
    errorOf<MTPError>(client->listFiles(EmulatedPhone::storageId(), 0));
    EXPECT_EQ(listed().size(), 2);

    const QString id = deviceId(phone);
    phone.stallBulkReadAfterBytes(20);
    phone.unplug();
    m_sleeps.clear();
    EXPECT_EQ(errorOf<MTPError>(client->listFiles(EmulatedPhone::storageId(), 0)).message(),
              "Device '" + id + "' not found.");
    EXPECT_EQ(m_sleeps.size(), MTPClient::kOpenAttempts - 1);

    EXPECT_EQ(otherClient->listFiles(EmulatedPhone::storageId(), 0).result().size(), 1);
    EXPECT_EQ(other.count(MtpOperation::OpenSession), otherSessions);
}

// Guards against a second libmtp call on the handle while a transfer is in the library, and a
// listing that waits behind every transfer queued before it.
TEST_F(MTPClientTest, ListingWaitsOnlyForTheRunningTransferAndCloseForAll)
{
    EmulatedPhone& phone = plugPhone({{"big.bin", std::string(256 * 1024, 'b')}});
    auto client = openClient(phone);
    const auto big = entry(*client, "big.bin");
    phone.setRateLimit(1024 * 1024);
    QSemaphore started;
    std::atomic<int> sequence{0};
    std::atomic<int> lastProgress{0};
    QFuture<void> download =
        client->downloadFile(big.objectId, path(tempFolder() / "big.bin"), [&](qint64, qint64) {
            if (lastProgress.exchange(++sequence) == 0)
                started.release();
        });
    started.acquire();
    writeFile(tempFolder() / "up.bin", "queued");
    std::atomic<int> uploadStarted{0};
    QFuture<void> upload = client->uploadFile(
        path(tempFolder() / "up.bin"), EmulatedPhone::storageId(), 0, [&](qint64, qint64) {
            int none = 0;
            uploadStarted.compare_exchange_strong(none, ++sequence);
        });
    std::atomic<int> listed{0};
    QFuture<void> listing = thenSync(client->listFiles(EmulatedPhone::storageId(), 0),
                                     [&](const QList<MTPClient::FileInfo>& files) {
                                         EXPECT_EQ(files.size(), 1);
                                         listed = ++sequence;
                                     });
    QFuture<void> closing = client->close();
    download.waitForFinished();
    listing.waitForFinished();
    closing.waitForFinished();
    EXPECT_TRUE(upload.isFinished());
    EXPECT_GT(listed.load(), lastProgress.load());
    EXPECT_GT(uploadStarted.load(), listed.load());
    EXPECT_EQ(readFile(tempFolder() / "big.bin"), std::string(256 * 1024, 'b'));
    EXPECT_FALSE(client->isOpen().result());
}

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
    phone.failOperation(MtpOperation::GetObjectHandles, 2);
    EXPECT_THROW(repo->listFiles(kRoot).waitForFinished(), MTPError);
    EXPECT_TRUE(repo->cachedFolders().isEmpty());
    EXPECT_EQ(repo->listFiles(kRoot).result().size(), 2);
    EXPECT_EQ(phone.count(MtpOperation::GetObjectHandles), listings + 4);
    EXPECT_FALSE(fs::exists(phone.storageFolder() / "c.txt"));

    // A failed upload may still have changed the folder: the cache goes all the same.
    writeFile(tempFolder() / "big.txt", "content");
    phone.failOperation(MtpOperation::SendObjectInfo, 1, MtpResponse::StoreFull);
    EXPECT_THROW(repo->uploadFile(path(tempFolder() / "big.txt"), kRoot, {}).waitForFinished(),
                 MTPError);
    EXPECT_TRUE(repo->cachedFolders().isEmpty());
}

// Guards against a folder that a locking phone answered only in part being shown, and cached,
// as the whole folder: it is listed once more, then once on a new session (libmtp reports the
// refusals as broken data phases), and after a third such answer it is an error.
TEST_F(MTPFileRepositoryTest, AListingAnsweredInPartIsTriedOnceMoreThenAnError)
{
    EmulatedPhone& phone =
        plugPhone({{"DCIM/", ""}, {"Download/", ""}, {"ROOT1.txt", "12345"}, {"b.txt", "bee"}});
    auto repo = create(phone);
    const int before = phone.count(MtpOperation::GetObjectPropValue);
    ASSERT_EQ(repo->listFiles(kRoot).result().size(), 4);
    const int perListing = phone.count(MtpOperation::GetObjectPropValue) - before;
    ASSERT_GT(perListing, 0);

    repo->forgetListing(kRoot);
    phone.failOperation(MtpOperation::GetObjectPropValue, 2, MtpResponse::DeviceBusy);
    const QList<FileItem> whole = repo->listFiles(kRoot).result();
    ASSERT_EQ(whole.size(), 4);
    for (const FileItem& entry : whole) {
        if (!entry.isDirectory) {
            EXPECT_EQ(*entry.size, entry.name == "b.txt" ? 3 : 5);
        }
    }

    repo->forgetListing(kRoot);
    phone.failOperation(MtpOperation::GetObjectPropValue, 1, MtpResponse::DeviceBusy);
    phone.failOperation(MtpOperation::GetObjectPropValue, perListing + 1, MtpResponse::DeviceBusy);
    phone.failOperation(MtpOperation::GetObjectPropValue, 2 * perListing + 1,
                        MtpResponse::DeviceBusy);
    const MTPError error = errorOf<MTPError>(repo->listFiles(kRoot));
    EXPECT_EQ(error.kind(), MTPError::Kind::OperationFailed);
    EXPECT_GT(error.payload().size(), 0);
    EXPECT_TRUE(repo->cachedFolders().isEmpty());
    EXPECT_EQ(repo->listFiles(kRoot).result().size(), 4);
}

// Guards against Refresh showing what libmtp remembered of an edited file for the whole session,
// and against the new session cutting a download that runs.
TEST_F(MTPFileRepositoryTest, ARenewedSessionShowsWhatThePhoneHoldsNowAfterTheRunningDownload)
{
    EmulatedPhone& phone = plugPhone(
        {{"notes.txt", std::string(21000, 'n')}, {"big.bin", std::string(256 << 10, 'b')}}, false,
        0x4ee1);
    auto repo = create(phone);
    const FileItem notes = item(*repo, kRoot, "notes.txt");
    writeFile(phone.storageFolder() / "notes.txt", std::string(29988, 'e'));
    fs::last_write_time(phone.storageFolder() / "notes.txt",
                        fs::last_write_time(phone.storageFolder() / "notes.txt") + 1h);
    repo->forgetListing(kRoot);
    EXPECT_EQ(item(*repo, kRoot, "notes.txt").size, 21000); // what libmtp remembers

    phone.setRateLimit(1 << 20);
    QFuture<void> download =
        repo->downloadFile(item(*repo, kRoot, "big.bin").path, path(tempFolder() / "big"), {});
    QFuture<void> renewal = repo->renewSession();
    const FileItem now = item(*repo, kRoot, "notes.txt");
    download.waitForFinished();
    renewal.waitForFinished();
    EXPECT_EQ(readFile(tempFolder() / "big"), std::string(256 << 10, 'b'));
    EXPECT_EQ(now.size, 29988);
    EXPECT_GT(*now.modifiedAt, *notes.modifiedAt);
}

// Guards against the cache growing with every folder browsed; also the text of a bad path.
TEST_F(MTPFileRepositoryTest, TheCacheKeepsTheThirtyLatestListings)
{
    std::map<std::string, std::string> files;
    for (int i = 0; i < 31; ++i)
        files[std::to_string(100 + i) + "/f.txt"] = "f";
    EmulatedPhone& phone = plugPhone(files);
    auto repo = create(phone);
    QStringList folders;
    for (const FileItem& folder : repo->listFiles(kRoot).result())
        folders << folder.path;
    ASSERT_EQ(folders.size(), 31);
    for (const QString& folder : folders)
        EXPECT_EQ(repo->listFiles(folder).result().size(), 1);
    // The root and the first folder, listed first, made room for the last two.
    EXPECT_EQ(repo->cachedFolders(), folders.mid(1));
    const int listings = phone.count(MtpOperation::GetObjectHandles);
    repo->listFiles(folders.last()).waitForFinished();
    EXPECT_EQ(phone.count(MtpOperation::GetObjectHandles), listings);
    repo->listFiles(kRoot).waitForFinished();
    EXPECT_EQ(phone.count(MtpOperation::GetObjectHandles), listings + 1);
    EXPECT_EQ(repo->cachedFolders().size(), 30);
    EXPECT_EQ(repo->cachedFolders().last(), kRoot);

    EXPECT_EQ(errorOf<FileRepositoryError>(repo->listFiles("65537/x")).message(),
              "Item not found: 65537/x.");
}

// Guards against a storage too large for the signed range showing a negative size once it has
// come through libmtp.
TEST_F(MTPFileRepositoryTest, StorageSizesPastTheSignedRangeAreCapped)
{
    fs::create_directories(tempFolder() / "internal");
    fs::create_directories(tempFolder() / "card");
    EmulatedPhone phone({.storages = {{tempFolder() / "internal", "Internal", ~uint64_t(0)},
                                      {tempFolder() / "card", "SD card", uint64_t(1) << 63}}});
    const QList<StorageRoot> roots = create(phone)->storageRoots().result();
    ASSERT_EQ(roots.size(), 2);
    for (const StorageRoot& root : roots)
        EXPECT_EQ(root.capacityBytes, std::numeric_limits<qint64>::max());
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

    // A listing asked for after a change was queued still goes ahead of it.
    held = false;
    download = repo->downloadFile(b.path, path(tempFolder() / "b2.txt"), [&](qint64, qint64) {
        if (!held.exchange(true)) {
            inTransfer.release();
            release.acquire();
        }
    });
    inTransfer.acquire();
    writeFile(tempFolder() / "up.txt", "up");
    QFuture<void> upload = repo->uploadFile(path(tempFolder() / "up.txt"), kRoot, {});
    listing = repo->listFiles(kRoot);
    release.release();
    EXPECT_EQ(listing.result().size(), 2);
    download.waitForFinished();
    upload.waitForFinished();
    EXPECT_EQ(item(*repo, kRoot, "up.txt").size, 2);
}

// Guards against libmtp's memory of an object standing in for the phone's answer: an item's info
// follows an edit made on the phone, and an item the phone no longer has is an error.
TEST_F(MTPFileRepositoryTest, ItemInfoIsWhatThePhoneSaysNow)
{
    EmulatedPhone& phone = plugPhone({{"a.txt", "one"}});
    auto repo = create(phone);
    const FileItem listed = item(*repo, kRoot, "a.txt");
    const fs::path file = phone.storageFolder() / "a.txt";
    const auto listedTime = fs::last_write_time(file);
    writeFile(file, "three");
    fs::last_write_time(file, listedTime + std::chrono::hours(1));
    const FileItem now = repo->itemInfo(listed.path).result();
    EXPECT_EQ(now.name, "a.txt");
    EXPECT_EQ(now.size, 5);
    ASSERT_TRUE(now.modifiedAt && listed.modifiedAt);
    EXPECT_EQ(*now.modifiedAt, listed.modifiedAt->addSecs(3600));
    fs::remove(file);
    EXPECT_THROW(repo->itemInfo(listed.path).waitForFinished(), MTPError);
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
    const auto refused = errorOf<FileRepositoryError>(repo->renameItem(photo.path, "again.jpg"));
    EXPECT_EQ(refused.message(), "Rename is not supported by this device.");

    // The repository refuses moves itself, so that the use case copies instead.
    const FileItem doc = item(*repo, kRoot, "doc.txt");
    const QString target = item(*repo, kRoot, "Target").path;
    EXPECT_EQ(errorOf<FileRepositoryError>(repo->moveItem(doc.path, target)).kind(),
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
