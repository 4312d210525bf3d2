#include "bridge/mtp_bridge.h"
#include "core/device/mtp_client.h"
#include "core/device/mtp_error.h"
#include "core/device/mtp_file_repository.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qb {
namespace {

TEST(MTPErrorTest, MessagesAreTheUserFacingTexts)
{
    EXPECT_EQ(MTPError::deviceNotFound("unknown_1_5").message(), "Device 'unknown_1_5' not found.");
    EXPECT_EQ(MTPError::operationFailed("No device open").message(),
              "MTP operation failed: No device open");
    EXPECT_EQ(MTPError::downloadFailed("PTP I/O Error").message(),
              "Download failed: PTP I/O Error");
    EXPECT_EQ(MTPError::uploadFailed("Unknown error").message(), "Upload failed: Unknown error");
    EXPECT_EQ(MTPError::initializationFailed().message(), "MTP initialization failed.");
    EXPECT_EQ(MTPError::canceled().message(), "Operation was canceled.");
    const auto busy = MTPError::deviceBusy("unknown_1_5");
    EXPECT_TRUE(busy.message().contains("unknown_1_5"));
    EXPECT_TRUE(busy.message().contains("USB interface"));
    EXPECT_STREQ(MTPError::operationFailed("é").what(), "MTP operation failed: é");
}

TEST(MTPClientRecordTest, FileRecordBecomesFileInfo)
{
    mtp_bridge_file_info record{};
    record.object_id = 12;
    record.parent_id = 4;
    record.storage_id = 65537;
    std::strcpy(record.name, "photo.jpg");
    std::strcpy(record.path, "65537/12");
    record.is_folder = 0;
    record.size = 5000000000ull;
    record.mtime = 0;
    auto info = MTPClient::fileInfo(record);
    EXPECT_EQ(info.objectId, 12u);
    EXPECT_EQ(info.parentId, 4u);
    EXPECT_EQ(info.storageId, 65537u);
    EXPECT_EQ(info.name, "photo.jpg");
    EXPECT_EQ(info.virtualPath, "65537/12");
    EXPECT_FALSE(info.isDirectory);
    EXPECT_EQ(info.size, 5000000000ll);
    EXPECT_FALSE(info.modifiedTime.has_value()); // mtime 0: no date
    EXPECT_TRUE(info.mimeType.isEmpty());

    record.mtime = 1;
    record.is_folder = 7;
    info = MTPClient::fileInfo(record);
    ASSERT_TRUE(info.modifiedTime.has_value());
    EXPECT_EQ(*info.modifiedTime, QDateTime(QDate(1970, 1, 1), QTime(0, 0, 1), Qt::UTC));
    EXPECT_TRUE(info.isDirectory);
}

TEST(MTPClientRecordTest, TextFieldsStopAtTheirEndAndReplaceInvalidBytes)
{
    mtp_bridge_storage_info storage{};
    storage.storage_id = 131073;
    std::memset(storage.description, 'a', sizeof storage.description); // no NUL at all
    storage.capacity_bytes = 1000;
    storage.free_bytes = 10;
    auto info = MTPClient::storageInfo(storage);
    EXPECT_EQ(info.name.size(), 256);
    EXPECT_EQ(info.capacityBytes, 1000);
    EXPECT_EQ(info.availableBytes, 10);

    mtp_bridge_device_info device{};
    std::strcpy(device.id, "unknown_1_5");
    std::strcpy(device.friendly_name, "Caf\xC3\xA9 \xFF");
    auto dev = MTPClient::deviceInfo(device);
    EXPECT_EQ(dev.id, "unknown_1_5");
    EXPECT_EQ(dev.friendlyName, QString::fromUtf8("Café \xEF\xBF\xBD"));
    EXPECT_TRUE(dev.serialNumber.isEmpty());
}

TEST(MTPFileRepositoryTest, FileItemFromFileInfo)
{
    MTPClient::FileInfo folder;
    folder.objectId = 9;
    folder.storageId = 65537;
    folder.name = "DCIM";
    folder.isDirectory = true;
    folder.size = 4096;
    auto item = MTPFileRepository::fileItem(folder);
    EXPECT_EQ(item.id, "65537/9");
    EXPECT_EQ(item.path, "65537/9");
    EXPECT_EQ(item.name, "DCIM");
    EXPECT_TRUE(item.isDirectory);
    EXPECT_FALSE(item.size.has_value());
    EXPECT_FALSE(item.modifiedAt.has_value());
    EXPECT_FALSE(item.mimeType.has_value());

    MTPClient::FileInfo file = folder;
    file.isDirectory = false;
    file.size = 0;
    file.mimeType = "image/jpeg";
    item = MTPFileRepository::fileItem(file);
    EXPECT_EQ(item.size, 0);
    EXPECT_EQ(item.mimeType, "image/jpeg");
}

struct PathCase
{
    const char* path;
    bool valid;
    quint32 storage;
    quint32 object;
};

TEST(MTPFileRepositoryTest, ParsePathAcceptsExactlyTwoUnsigned32BitNumbers)
{
    const PathCase cases[] = {
        {"65537/12", true, 65537, 12},
        {"65537/0", true, 65537, 0},
        {"/65537/12", true, 65537, 12},
        {"//65537/12", true, 65537, 12},
        {"+65537/12", true, 65537, 12},
        {"65537/+12", true, 65537, 12},
        {"65537/-0", true, 65537, 0},
        {"-0/7", true, 0, 7},
        {"007/08", true, 7, 8},
        {"4294967295/4294967295", true, 4294967295u, 4294967295u},
        {"65537/12/3", false, 0, 0},
        {"65537", false, 0, 0},
        {"65537/", false, 0, 0},
        {"65537//12", false, 0, 0},
        {"abc/1", false, 0, 0},
        {"65537/-1", false, 0, 0},
        {"", false, 0, 0},
        {"/", false, 0, 0},
        {"4294967296/1", false, 0, 0},
        {"1/99999999999999999999", false, 0, 0},
        {"+/1", false, 0, 0},
        {"1/-", false, 0, 0},
        {" 1/2", false, 0, 0},
        {"1/2 ", false, 0, 0},
        {"1/0x10", false, 0, 0},
        {"1/\xd9\xa3", false, 0, 0}, // a non-ASCII digit
    };
    for (const auto& c : cases) {
        const QString path = QString::fromUtf8(c.path);
        SCOPED_TRACE(c.path);
        if (c.valid) {
            auto ids = MTPFileRepository::parsePath(path);
            EXPECT_EQ(ids.first, c.storage);
            EXPECT_EQ(ids.second, c.object);
        } else {
            try {
                MTPFileRepository::parsePath(path);
                ADD_FAILURE() << "accepted";
            } catch (const FileRepositoryError& e) {
                EXPECT_EQ(e.kind(), FileRepositoryError::Kind::ItemNotFound);
                EXPECT_EQ(e.payload(), path);
            }
        }
    }
}

} // namespace
} // namespace qb
