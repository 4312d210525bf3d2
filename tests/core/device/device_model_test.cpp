#include "bridge/mtp_bridge.h"
#include "core/device/device_model.h"
#include "core/device/mtp_client.h"
#include "core/device/mtp_file_repository.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <cstring>

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
