#include "bridge/mtp_bridge.h"
#include "core/device/device_model.h"
#include "core/device/move_file_use_case.h"
#include "core/device/mtp_client.h"
#include "core/device/mtp_file_repository.h"
#include "core/device/upload_file_use_case.h"
#include "fake_file_repository.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>

#include <cstring>
#include <limits>

using namespace qb;

TEST(DeviceModel, FileItemJsonKeepsLargeSizesAndRejectsMalformedInput)
{
    const auto parse = [](const QByteArray& text) {
        return FileItem::fromJson(QJsonDocument::fromJson(text).object());
    };
    FileItem photo;
    photo.id = photo.path = photo.name = QStringLiteral("65537/12");
    photo.size = (qint64(1) << 62) + 1; // beyond 2^53, through the JSON text
    EXPECT_FALSE(photo.toJson().contains("mimeType"));
    EXPECT_EQ(parse(QJsonDocument(photo.toJson()).toJson())->size, photo.size);

    const QByteArray base = R"({"id":"1/2","name":"n","path":"1/2","isDirectory":false)";
    ASSERT_TRUE(parse(base + "}"));
    for (const char* bad : {R"(,"size":1.5})", R"(,"size":"9"})", R"(,"size":1e300})",
                            R"(,"modifiedAt":"x"})", R"(,"mimeType":3})"})
        EXPECT_FALSE(parse(base + bad)) << bad;
    EXPECT_FALSE(parse(R"({"name":"n","path":"1/2","isDirectory":false})"));
    EXPECT_FALSE(parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":"no"})"));
}

// A phone stays one element of a set or a selection whatever its name or storages; a storage with
// other counts is another storage.
TEST(DeviceModel, DevicesCompareByIdAloneAndStorageRootsByEveryField)
{
    Device a;
    a.id = QStringLiteral("unknown_1_4");
    a.displayName = QStringLiteral("Pixel");
    Device renamed = a;
    renamed.displayName = QStringLiteral("Pixel 8");
    renamed.isConnected = !a.isConnected;
    Device other = a;
    other.id = QStringLiteral("unknown_1_5");
    EXPECT_EQ(a, renamed);
    EXPECT_NE(a, other);
    EXPECT_EQ(QSet<Device>({a, renamed, other}).size(), 2);

    const StorageRoot root{"65537", "Internal", "65537/0", 64, 32};
    QList<StorageRoot> changed(5, root);
    changed[0].id = "65538";
    changed[1].name = "SD card";
    changed[2].repositoryPath = "65537/1";
    changed[3].availableBytes = 31;
    changed[4].capacityBytes = std::nullopt;
    for (const StorageRoot& differs : changed)
        EXPECT_NE(root, differs);
    StorageRoot zero = root, absent = root;
    zero.availableBytes = 0;
    absent.availableBytes = std::nullopt;
    EXPECT_NE(zero, absent); // an absent count equals only an absent count
    EXPECT_EQ(QSet<StorageRoot>({root, StorageRoot(root), zero, absent}).size(), 3);

    EXPECT_EQ(Device::connectionTypeFromText("Wi-Fi"), Device::ConnectionType::WifiWebDAV);
    EXPECT_FALSE(Device::connectionTypeFromText("usb (mtp)"));
}

TEST(MTPClientRecordTest, RecordsBecomeInfosWithinTheirFields)
{
    mtp_bridge_file_info record{};
    record.object_id = 12;
    record.storage_id = 65537;
    record.size = 5000000000ull;
    auto info = MTPClient::fileInfo(record);
    EXPECT_EQ(info.size, 5000000000ll);
    EXPECT_FALSE(info.modifiedTime.has_value()); // mtime 0: no date
    record.is_folder = 7;
    const FileItem item = MTPFileRepository::fileItem(MTPClient::fileInfo(record));
    EXPECT_EQ(item.path, "65537/12");
    EXPECT_FALSE(item.size.has_value());

    // libmtp's counts are unsigned: those past the signed range are capped, never negative.
    constexpr qint64 cap = std::numeric_limits<qint64>::max();
    for (const uint64_t huge : {uint64_t(1) << 63, std::numeric_limits<uint64_t>::max()}) {
        record.is_folder = 0;
        record.size = huge;
        EXPECT_EQ(MTPFileRepository::fileItem(MTPClient::fileInfo(record)).size, cap);
        mtp_bridge_storage_info space{};
        space.capacity_bytes = huge;
        space.free_bytes = huge;
        EXPECT_EQ(MTPClient::storageInfo(space).capacityBytes, cap);
        EXPECT_EQ(MTPClient::storageInfo(space).availableBytes, cap);
    }

    // Text fields stop at their end, with or without a NUL, and invalid bytes are replaced.
    mtp_bridge_storage_info storage{};
    std::memset(storage.description, 'a', sizeof storage.description);
    EXPECT_EQ(MTPClient::storageInfo(storage).name.size(), 256);
    mtp_bridge_device_info device{};
    std::strcpy(device.friendly_name, "Caf\xC3\xA9 \xFF");
    EXPECT_EQ(MTPClient::deviceInfo(device).friendlyName, QString::fromUtf8("Café \xEF\xBF\xBD"));

    // what() stays valid however the error is copied.
    FileRepositoryError copy = FileRepositoryError::accessDenied("x");
    copy = FileRepositoryError::transferFailed("€ fail");
    EXPECT_STREQ(copy.what(), "Transfer failed: € fail");
}

TEST(MTPFileRepositoryTest, ParsePathAcceptsExactlyTwoUnsigned32BitNumbers)
{
    const std::pair<const char*, std::pair<quint32, quint32>> valid[] = {
        {"65537/12", {65537, 12}},
        {"/65537/12", {65537, 12}},
        {"//65537/12", {65537, 12}},
        {"+65537/+12", {65537, 12}},
        {"65537/-0", {65537, 0}},
        {"007/08", {7, 8}},
        {"4294967295/4294967295", {4294967295u, 4294967295u}}};
    for (const auto& [path, ids] : valid)
        EXPECT_EQ(MTPFileRepository::parsePath(path), ids) << path;
    for (const char* path : {"65537/12/3", "65537", "65537/", "65537//12", "abc/1", "65537/-1", "",
                             "/", "4294967296/1", "1/99999999999999999999", "+/1", "1/-", " 1/2",
                             "1/2 ", "1/0x10", "1/\xd9\xa3" /* a non-ASCII digit */}) {
        try {
            MTPFileRepository::parsePath(QString::fromUtf8(path));
            ADD_FAILURE() << "accepted " << path;
        } catch (const FileRepositoryError& e) {
            EXPECT_EQ(e.kind(), FileRepositoryError::Kind::ItemNotFound);
            EXPECT_EQ(e.payload(), QString::fromUtf8(path));
        }
    }
}

namespace qb {
namespace {

FileItem phoneFile(const QString& name)
{
    FileItem item;
    item.id = item.path = "65537/12";
    item.name = name;
    return item;
}

std::optional<FileRepositoryError::Kind> kindOf(QFuture<void> future)
{
    try {
        future.waitForFinished();
    } catch (const FileRepositoryError& e) {
        return e.kind();
    }
    return std::nullopt;
}

class FileUseCasesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        // Copies go through the cache folder, never the often RAM-backed temporary folder.
        qputenv("TMPDIR", m_temp.filePath("tmp").toUtf8());
        qputenv("XDG_CACHE_HOME", m_temp.filePath("cache").toUtf8());
    }
    void TearDown() override
    {
        qunsetenv("TMPDIR");
        qunsetenv("XDG_CACHE_HOME");
        const auto flags = QDir::AllEntries | QDir::NoDotAndDotDot;
        EXPECT_TRUE(QDir(m_temp.filePath("cache")).entryList(flags).isEmpty());
        EXPECT_TRUE(QDir(m_temp.filePath("tmp")).entryList(flags).isEmpty());
    }

    // A phone that refuses moves, with one file, failing `step` as well.
    static std::shared_ptr<FakeFileRepository> phone(const QString& step = {})
    {
        auto repo = std::make_shared<FakeFileRepository>();
        repo->files.insert("65537/12", "twelve bytes");
        repo->failures.insert("move",
                              std::make_exception_ptr(FileRepositoryError::moveNotSupported()));
        if (!step.isEmpty())
            repo->failures.insert(
                step, std::make_exception_ptr(FileRepositoryError::transferFailed(step)));
        return repo;
    }

    QTemporaryDir m_temp;
};

TEST_F(FileUseCasesTest, MoveCopiesOnlyWhenRefusedAndAFailedStepKeepsTheSource)
{
    // A move the repository performs is done; a refusal other than "not supported" is passed on.
    for (const auto& failure :
         {std::exception_ptr(), std::make_exception_ptr(FileRepositoryError::accessDenied("x"))}) {
        auto repo = std::make_shared<FakeFileRepository>();
        repo->failures.insert("move", failure);
        EXPECT_EQ(kindOf(MoveFileUseCase(repo).execute(phoneFile("a"), "65537/40", false, {})),
                  failure ? std::optional(FileRepositoryError::Kind::AccessDenied) : std::nullopt);
        EXPECT_EQ(repo->calls(), QStringList{"move 65537/12 -> 65537/40"});
    }
    // The upload fails: no deletion. The deletion fails: both copies stay.
    for (const char* step : {"upload", "delete"}) {
        SCOPED_TRACE(step);
        auto repo = phone(step);
        EXPECT_EQ(kindOf(MoveFileUseCase(repo).execute(phoneFile("n.txt"), "65537/40", false, {})),
                  FileRepositoryError::Kind::TransferFailed);
        EXPECT_TRUE(repo->files.contains("65537/12"));
        EXPECT_EQ(repo->uploaded.contains("65537/40/n.txt"), QString(step) == "delete");
        EXPECT_TRUE(repo->calls().last().startsWith(step));
    }
}

// Guards against a phone-supplied name writing outside the private temporary folder.
TEST_F(FileUseCasesTest, HostileNamesStayInsideTheTemporaryFolder)
{
    EXPECT_EQ(MoveFileUseCase::temporaryFileName("../../evil"), ".._.._evil");
    for (const char* name : {"..", ".", ""})
        EXPECT_EQ(MoveFileUseCase::temporaryFileName(name), "item");

    auto repo = phone();
    MoveFileUseCase(repo).execute(phoneFile("../evil"), "65537/40", true, {}).waitForFinished();
    EXPECT_FALSE(QFile::exists(QDir(m_temp.path()).filePath("evil")));
    ASSERT_EQ(repo->downloadedTo.size(), 1);
    EXPECT_TRUE(repo->downloadedTo[0].endsWith("/.._evil"));
    EXPECT_EQ(repo->uploaded.value("65537/40/.._evil"), "twelve bytes");
}

TEST_F(FileUseCasesTest, UploadOfAMissingLocalFileFailsBeforeTheDeviceIsAsked)
{
    auto repo = phone();
    const QString missing = QDir(m_temp.path()).filePath("gone.txt");
    EXPECT_EQ(kindOf(UploadFileUseCase(repo).execute(missing, "65537/0", {})),
              FileRepositoryError::Kind::ItemNotFound);
    EXPECT_TRUE(repo->calls().isEmpty());
}

} // namespace
} // namespace qb
