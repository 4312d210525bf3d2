#include "core/device/device_model.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QSet>
#include <QTimeZone>

#include <unordered_set>

using namespace qb;

namespace {

Device device(const QString& id, const QString& name)
{
    Device d;
    d.id = id;
    d.displayName = name;
    return d;
}

FileItem file(const QString& name, bool isDirectory = false)
{
    FileItem item;
    item.id = item.path = QStringLiteral("65537/12");
    item.name = name;
    item.isDirectory = isDirectory;
    return item;
}

} // namespace

TEST(DeviceModel, DevicesAndFileItemsAreEqualAndHashedByIdAlone)
{
    Device a = device(QStringLiteral("unknown_1_4"), QStringLiteral("Pixel"));
    Device b = device(QStringLiteral("unknown_1_4"), QStringLiteral("Renamed"));
    b.isConnected = false;
    b.storageRoots.append(StorageRoot{"1", "Internal", "1/0", 10, 5});
    const Device c = device(QStringLiteral("unknown_1_5"), QStringLiteral("Pixel"));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(QSet<Device>({a, b, c}).size(), 2);
    EXPECT_EQ((std::unordered_set<Device>{a, b, c}.size()), 2u);

    FileItem x = file(QStringLiteral("a.jpg"));
    FileItem y = file(QStringLiteral("b.png"));
    y.size = 12;
    EXPECT_EQ(x, y);
    EXPECT_EQ(qHash(x), qHash(y));
    y.id = QStringLiteral("65537/13");
    EXPECT_NE(x, y);

    // Storage roots compare every field; an absent count is not a count of zero.
    StorageRoot root{"65537", "Internal shared storage", "65537/0", 64000, std::nullopt};
    StorageRoot zero = root;
    zero.availableBytes = 0;
    EXPECT_EQ(qHash(root), qHash(StorageRoot(root)));
    EXPECT_NE(root, zero);
}

TEST(DeviceModel, ConnectionTypeTextsAreExact)
{
    for (Device::ConnectionType type : Device::allConnectionTypes())
        EXPECT_EQ(Device::connectionTypeFromText(Device::text(type)), type);
    EXPECT_EQ(Device::text(Device::ConnectionType::UsbMTP), QStringLiteral("USB (MTP)"));
    for (const char* bad : {"usb (mtp)", "USB", " ADB", "wifi", ""})
        EXPECT_FALSE(Device::connectionTypeFromText(QString::fromUtf8(bad))) << bad;
}

TEST(DeviceModel, IconNameUsesOnlyTheLastExtensionOfTheName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"IMG_0001.JPG", "photo"},  {"archive.tar.gz", "archivebox"}, {"backup.zip.txt", "doc"},
        {"README", "doc"},          {"ends.with.dot.", "doc"},        {"Movie.MKV", "film"},
        {"song.M4A", "music.note"}, {"paper.pdf", "doc.richtext"},    {"app.apk", "app.badge"},
        {"dir.png/notes", "doc"}, // not a dot in a folder name before it
    };
    for (const auto& [name, icon] : cases)
        EXPECT_EQ(file(QString::fromUtf8(name)).iconName(), QString::fromUtf8(icon)) << name;
    EXPECT_EQ(file("photos.zip", true).iconName(), "folder.fill");
}

TEST(DeviceModel, FileItemJsonLeavesOutAbsentOptionals)
{
    const FileItem folder = file("DCIM", true);
    const QJsonObject json = folder.toJson();
    EXPECT_EQ(json.keys(), (QStringList{"id", "isDirectory", "name", "path"}));
    EXPECT_EQ(json.value("id").toString(), "65537/12");
    EXPECT_TRUE(json.value("isDirectory").toBool());

    FileItem photo = file("a.jpg");
    photo.size = qint64(5) << 32;
    photo.modifiedAt = QDateTime(QDate(2026, 1, 1), QTime(12, 30, 15, 250), QTimeZone::utc());
    const QJsonObject photoJson = photo.toJson();
    EXPECT_FALSE(photoJson.contains("mimeType"));
    EXPECT_EQ(photoJson.value("size").toInteger(), qint64(5) << 32);

    const auto back = FileItem::fromJson(photoJson);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, "a.jpg");
    EXPECT_EQ(back->path, "65537/12");
    EXPECT_FALSE(back->isDirectory);
    EXPECT_EQ(back->size, qint64(5) << 32);
    EXPECT_EQ(back->modifiedAt, photo.modifiedAt);
    EXPECT_FALSE(back->mimeType);

    // Sizes beyond 2^53 survive exactly, even through the JSON text.
    photo.size = (qint64(1) << 62) + 1;
    const QByteArray text = QJsonDocument(photo.toJson()).toJson(QJsonDocument::Compact);
    EXPECT_EQ(FileItem::fromJson(QJsonDocument::fromJson(text).object())->size,
              (qint64(1) << 62) + 1);

    photo.mimeType = QStringLiteral("image/jpeg");
    EXPECT_EQ(FileItem::fromJson(photo.toJson())->mimeType, QStringLiteral("image/jpeg"));
}

TEST(DeviceModel, FileItemJsonDecodingRejectsMalformedInput)
{
    const auto parse = [](const char* text) {
        return FileItem::fromJson(QJsonDocument::fromJson(text).object());
    };
    const auto minimal = parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":false})");
    ASSERT_TRUE(minimal);
    EXPECT_FALSE(minimal->modifiedAt);
    EXPECT_FALSE(minimal->size);

    EXPECT_FALSE(parse(R"({"name":"n","path":"1/2","isDirectory":false})"));
    EXPECT_FALSE(parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":"no"})"));
    EXPECT_FALSE(parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":false,"size":1.5})"));
    EXPECT_FALSE(parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":false,"size":"9"})"));
    EXPECT_FALSE(parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":false,"size":1e300})"));
    EXPECT_FALSE(
        parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":false,"modifiedAt":"x"})"));
    EXPECT_FALSE(parse(R"({"id":"1/2","name":"n","path":"1/2","isDirectory":false,"mimeType":3})"));
}
