#include "core/device/device_model.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QSet>

using namespace qb;

TEST(DeviceModel, DevicesCompareByIdAndStorageRootsByEveryField)
{
    Device a, b;
    a.id = b.id = QStringLiteral("unknown_1_4");
    b.displayName = QStringLiteral("Renamed");
    b.storageRoots.append(StorageRoot{"1", "Internal", "1/0", 10, 5});
    EXPECT_EQ(QSet<Device>({a, b}).size(), 1);
    // An absent free-space count is not a count of zero.
    StorageRoot root{"65537", "Internal shared storage", "65537/0", 64000, std::nullopt};
    StorageRoot zero = root;
    zero.availableBytes = 0;
    EXPECT_NE(root, zero);
}

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
