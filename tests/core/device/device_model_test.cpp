#include "core/device/device_model.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

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
