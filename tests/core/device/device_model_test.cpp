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

TEST(DeviceModel, DevicesAreEqualAndHashedByIdAlone)
{
    Device a = device(QStringLiteral("unknown_1_4"), QStringLiteral("Pixel"));
    Device b = device(QStringLiteral("unknown_1_4"), QStringLiteral("Renamed"));
    b.isConnected = false;
    b.storageRoots.append(StorageRoot{"1", "Internal", "1/0", 10, 5});
    const Device c = device(QStringLiteral("unknown_1_5"), QStringLiteral("Pixel"));

    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_EQ(QSet<Device>({a, b, c}).size(), 2);
    EXPECT_EQ((std::unordered_set<Device>{a, b, c}.size()), 2u);
}

TEST(DeviceModel, ConnectionTypeTextsAreExactAndCaseSensitive)
{
    const QStringList texts{"USB (MTP)", "Wi-Fi", "Bluetooth", "ADB"};
    const auto all = Device::allConnectionTypes();
    ASSERT_EQ(all.size(), 4);
    EXPECT_EQ(all.first(), Device::ConnectionType::UsbMTP);
    for (qsizetype i = 0; i < all.size(); ++i) {
        EXPECT_EQ(Device::text(all[i]), texts[i]);
        EXPECT_EQ(Device::connectionTypeFromText(texts[i]), all[i]);
    }
    EXPECT_EQ(Device::connectionTypeFromText("Wi-Fi"), Device::ConnectionType::WifiWebDAV);
    for (const char* bad : {"usb (mtp)", "USB (mtp)", "USB", " ADB", "adb", "wifi", ""})
        EXPECT_FALSE(Device::connectionTypeFromText(QString::fromUtf8(bad))) << bad;
}

TEST(DeviceModel, DeviceEventsCarryTheirPayload)
{
    const Device d = device(QStringLiteral("unknown_2_9"), QStringLiteral("Phone"));
    const DeviceEvent connected = DeviceEvent::connected(d);
    EXPECT_EQ(connected.kind, DeviceEvent::Kind::Connected);
    EXPECT_EQ(connected.device.displayName, QStringLiteral("Phone"));
    const DeviceEvent gone = DeviceEvent::disconnected(QStringLiteral("unknown_2_9"));
    EXPECT_EQ(gone.kind, DeviceEvent::Kind::Disconnected);
    EXPECT_EQ(gone.deviceId, QStringLiteral("unknown_2_9"));
    EXPECT_EQ(DeviceEvent::updated(d).kind, DeviceEvent::Kind::Updated);
}

TEST(DeviceModel, StorageRootsCompareEveryField)
{
    const StorageRoot base{"65537", "Internal shared storage", "65537/0", 64000, 1000};
    StorageRoot other = base;
    EXPECT_EQ(base, other);
    EXPECT_EQ(qHash(base), qHash(other));

    other.availableBytes = 999;
    EXPECT_NE(base, other);
    other = base;
    other.availableBytes.reset();
    EXPECT_NE(base, other);
    other.capacityBytes.reset();
    StorageRoot bothAbsent = other;
    EXPECT_EQ(bothAbsent, other);
    // An absent count differs from a count of zero.
    StorageRoot zero = other;
    zero.availableBytes = 0;
    EXPECT_NE(zero, other);
    EXPECT_NE(qHash(zero), qHash(other));
    other = base;
    other.name = QStringLiteral("SD card");
    EXPECT_NE(base, other);
}

TEST(DeviceModel, FileItemsAreEqualAndHashedById)
{
    FileItem a = file(QStringLiteral("a.jpg"));
    FileItem b = file(QStringLiteral("b.png"));
    b.size = 12;
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    b.id = QStringLiteral("65537/13");
    EXPECT_NE(a, b);
}

TEST(DeviceModel, IconNameUsesOnlyTheLastExtension)
{
    EXPECT_EQ(file("IMG_0001.JPG").iconName(), "photo");
    EXPECT_EQ(file("clip.webp").iconName(), "photo");
    EXPECT_EQ(file("archive.tar.gz").iconName(), "archivebox");
    EXPECT_EQ(file("backup.zip.txt").iconName(), "doc");
    EXPECT_EQ(file("README").iconName(), "doc");
    EXPECT_EQ(file("ends.with.dot.").iconName(), "doc");
    EXPECT_EQ(file("photos.zip", true).iconName(), "folder.fill");
    EXPECT_EQ(file("Movie.MKV").iconName(), "film");
    EXPECT_EQ(file("song.M4A").iconName(), "music.note");
    EXPECT_EQ(file("paper.pdf").iconName(), "doc.richtext");
    EXPECT_EQ(file("app.apk").iconName(), "app.badge");
    // The last path component decides, not a dot in a folder name before it.
    EXPECT_EQ(file("dir.png/notes").iconName(), "doc");
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
