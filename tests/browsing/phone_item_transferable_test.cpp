#include "browsing/phone_item_transferable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <memory>

using namespace qb;

namespace {

PhoneItemTransferable payload(std::optional<qint64> size, bool withDate, bool withMime)
{
    FileItem item{"65537/12", "report.pdf", "65537/12", false, size, std::nullopt, std::nullopt};
    if (withDate)
        item.modifiedAt = QDateTime(QDate(2024, 5, 1), QTime(10, 30, 15, 250), QTimeZone::utc());
    if (withMime)
        item.mimeType = QStringLiteral("application/pdf");
    return {item, "dev-1", "65537/7"};
}

TEST(PhoneItemTransferableTest, EncodesOptionalKeysOnlyWhenPresentAndRoundTrips)
{
    const struct
    {
        PhoneItemTransferable value;
        QStringList absentKeys;
    } cases[] = {
        {payload(0, true, true), {}}, // a zero size is written, not left out
        {payload(std::nullopt, false, false), {"size", "modifiedAt", "mimeType"}},
        {payload(1234567890123, false, true), {"modifiedAt"}},
    };
    for (const auto& c : cases) {
        const QByteArray json = c.value.toJson();
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        EXPECT_EQ(object.keys().size(), 3) << json.constData();
        const QJsonObject item = object.value("fileItem").toObject();
        for (const char* key : {"size", "modifiedAt", "mimeType"})
            EXPECT_EQ(item.contains(QLatin1String(key)), !c.absentKeys.contains(QLatin1String(key)))
                << key;

        const auto decoded = PhoneItemTransferable::fromJson(json);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->deviceId, c.value.deviceId);
        EXPECT_EQ(decoded->sourceFolderPath, c.value.sourceFolderPath);
        EXPECT_EQ(decoded->fileItem.path, c.value.fileItem.path);
        EXPECT_EQ(decoded->fileItem.name, c.value.fileItem.name);
        EXPECT_EQ(decoded->fileItem.size, c.value.fileItem.size);
        EXPECT_EQ(decoded->fileItem.modifiedAt, c.value.fileItem.modifiedAt);
        EXPECT_EQ(decoded->fileItem.mimeType, c.value.fileItem.mimeType);
    }
}

TEST(PhoneItemTransferableTest, DecodesStrictly)
{
    const QByteArray item = R"({"id":"1/2","name":"a","path":"1/2","isDirectory":false)";
    const struct
    {
        QByteArray json;
        bool decodes;
        QString folder;
    } cases[] = {
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\"}", true, ""},
        {"{\"fileItem\":" + item + ",\"size\":null},\"deviceId\":\"d\",\"sourceFolderPath\":null}",
         true, ""},
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\",\"sourceFolderPath\":\"1/0\",\"x\":1}",
         true, "1/0"},
        {"{\"fileItem\":" + item + "},\"deviceId\":7}", false, ""},
        {"{\"fileItem\":" + item + "}}", false, ""},
        {"{\"deviceId\":\"d\"}", false, ""},
        {"{\"fileItem\":" + item + ",\"size\":\"12\"},\"deviceId\":\"d\"}", false, ""},
        {"{\"fileItem\":" + item + ",\"size\":1.5},\"deviceId\":\"d\"}", false, ""},
        {"{\"fileItem\":" + item + "},\"deviceId\":\"d\",\"sourceFolderPath\":3}", false, ""},
        {R"({"fileItem":{"id":"1/2","name":"a","path":"1/2"},"deviceId":"d"})", false, ""},
        {"[1,2]", false, ""},
        {"not json", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        const auto decoded = PhoneItemTransferable::fromJson(c.json);
        EXPECT_EQ(decoded.has_value(), c.decodes) << c.json.constData();
        if (decoded) {
            EXPECT_EQ(decoded->sourceFolderPath, c.folder);
            EXPECT_FALSE(decoded->fileItem.size.has_value());
        }
    }
}

TEST(PhoneItemTransferableTest, MimeDataCarriesOnlyThePayloadAndSkipsBadLines)
{
    std::unique_ptr<QMimeData> data(PhoneItemTransferable::toMimeData(
        {payload(5, true, false), payload(std::nullopt, false, true)}));
    EXPECT_EQ(data->formats(), QStringList{PhoneItemTransferable::mimeType});
    EXPECT_FALSE(data->hasUrls());
    EXPECT_FALSE(data->hasText());
    EXPECT_EQ(PhoneItemTransferable::fromMimeData(*data).size(), 2);

    data->setData(PhoneItemTransferable::mimeType, payload(5, false, false).toJson() +
                                                       "\n{broken\n\n" +
                                                       payload(9, false, false).toJson());
    const auto items = PhoneItemTransferable::fromMimeData(*data);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].fileItem.size, 5);
    EXPECT_EQ(items[1].fileItem.size, 9);

    QMimeData other;
    other.setText("hello");
    EXPECT_TRUE(PhoneItemTransferable::fromMimeData(other).isEmpty());
}

} // namespace
