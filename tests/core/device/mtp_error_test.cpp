#include "bridge/mtp_bridge.h"
#include "core/device/mtp_client.h"
#include "core/device/mtp_file_repository.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qb {
namespace {

TEST(MTPClientRecordTest, RecordsBecomeInfosWithinTheirFields)
{
    mtp_bridge_file_info record{};
    record.object_id = 12;
    record.storage_id = 65537;
    std::strcpy(record.name, "photo.jpg");
    record.size = 5000000000ull;
    record.mtime = 0;
    auto info = MTPClient::fileInfo(record);
    EXPECT_EQ(info.size, 5000000000ll);
    EXPECT_FALSE(info.isDirectory);
    EXPECT_FALSE(info.modifiedTime.has_value()); // mtime 0: no date
    record.mtime = 1;
    record.is_folder = 7;
    info = MTPClient::fileInfo(record);
    EXPECT_EQ(info.modifiedTime, QDateTime(QDate(1970, 1, 1), QTime(0, 0, 1), Qt::UTC));
    EXPECT_TRUE(info.isDirectory);
    // A folder has no size; the item's path is storage/object.
    const FileItem item = MTPFileRepository::fileItem(info);
    EXPECT_EQ(item.path, "65537/12");
    EXPECT_FALSE(item.size.has_value());

    // Text fields stop at their end, with or without a NUL, and invalid bytes are replaced.
    mtp_bridge_storage_info storage{};
    std::memset(storage.description, 'a', sizeof storage.description);
    EXPECT_EQ(MTPClient::storageInfo(storage).name.size(), 256);
    mtp_bridge_device_info device{};
    std::strcpy(device.friendly_name, "Caf\xC3\xA9 \xFF");
    EXPECT_EQ(MTPClient::deviceInfo(device).friendlyName, QString::fromUtf8("Café \xEF\xBF\xBD"));
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
