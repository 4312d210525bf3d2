#include "wifi/http_reply.h"
#include "wifi/http_request_parser.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace qb {
namespace {

using Status = HttpParseResult::Status;

HttpParseResult parse(const QByteArray& bytes)
{
    return parseRequestHead(bytes);
}

TEST(HttpRequestParser, WaitsForTheBlankLineAcrossReads)
{
    const QByteArray request = "GET /status HTTP/1.1\r\nHost: x\r\n\r\n";
    for (qsizetype cut = 0; cut < request.size(); ++cut) {
        EXPECT_EQ(parse(request.left(cut)).status, Status::Incomplete) << cut;
    }
    const HttpParseResult result = parse(request + "trailing");
    ASSERT_EQ(result.status, Status::Complete);
    EXPECT_EQ(result.head.method, "GET");
    EXPECT_EQ(result.head.path, "/status");
    EXPECT_EQ(result.head.headLength, request.size());
}

TEST(HttpRequestParser, RequestLineSplitsAtRunsOfSpacesAndKeepsCaseAndQuery)
{
    HttpParseResult result = parse("GET  /status HTTP/1.1\r\n\r\n");
    ASSERT_EQ(result.status, Status::Complete);
    EXPECT_EQ(result.head.method, "GET");
    EXPECT_EQ(result.head.path, "/status");

    result = parse("get /download?id=a&b HTTP/1.1 extra words\r\n\r\n");
    ASSERT_EQ(result.status, Status::Complete);
    EXPECT_EQ(result.head.method, "get");
    EXPECT_EQ(result.head.path, "/download?id=a&b");

    // No protocol version needed.
    EXPECT_EQ(parse("GET /x\r\n\r\n").status, Status::Complete);
}

TEST(HttpRequestParser, RefusesMissingPathInvalidUtf8AndOversizedHeads)
{
    EXPECT_EQ(parse("GET\r\n\r\n").status, Status::BadRequest);
    EXPECT_EQ(parse("\r\n\r\n").status, Status::BadRequest);
    EXPECT_EQ(parse("   \r\n\r\n").status, Status::BadRequest);
    EXPECT_EQ(parse("GET /\xff HTTP/1.1\r\n\r\n").status, Status::BadRequest);

    const QByteArray big = "GET / HTTP/1.1\r\nX-Pad: " + QByteArray(70 * 1024, 'a');
    EXPECT_EQ(parse(big).status, Status::BadRequest); // no blank line can save it any more
    EXPECT_EQ(parse(big + "\r\n\r\n").status, Status::BadRequest);
    const QByteArray fits = "GET / HTTP/1.1\r\nX-Pad: " + QByteArray(60 * 1024, 'a');
    EXPECT_EQ(parse(fits).status, Status::Incomplete);
    EXPECT_EQ(parse(fits + "\r\n\r\n").status, Status::Complete);
}

TEST(HttpRequestParser, LinesSplitOnlyAtCrLf)
{
    // A lone LF does not end a line, so "X-Device-Name" stays part of the request line.
    const HttpParseResult result = parse("GET /a\nX-Device-Name: P\r\n\r\n");
    ASSERT_EQ(result.status, Status::Complete);
    EXPECT_EQ(result.head.path, "/a\nX-Device-Name:");
    EXPECT_FALSE(result.head.deviceName);
}

TEST(HttpRequestParser, DeviceNameHeader)
{
    auto deviceName = [](const QByteArray& line) {
        return parse("GET / HTTP/1.1\r\n" + line + "\r\n\r\n").head.deviceName;
    };
    EXPECT_EQ(deviceName("X-Device-Name: Pixel 8"), QString("Pixel 8"));
    EXPECT_EQ(deviceName("x-DEVICE-name:\t Pixel \t"), QString("Pixel"));
    EXPECT_FALSE(deviceName("X-Device-Name:"));            // nothing after the colon
    EXPECT_EQ(deviceName("X-Device-Name:   "), QString()); // spaces only: empty name
    EXPECT_EQ(deviceName("X-Device-Name: a:b"), QString("a:b"));
    EXPECT_FALSE(deviceName("X-Device-Name Pixel"));
    EXPECT_EQ(deviceName("X-Device-Name: one\r\nX-Device-Name: two"), QString("two"));
}

TEST(HttpRequestParser, ContentLength)
{
    auto length = [](const QByteArray& value) {
        return parse("POST /pair HTTP/1.1\r\nContent-Length: " + value + "\r\n\r\n")
            .head.contentLength;
    };
    EXPECT_EQ(length("10"), 10);
    EXPECT_EQ(length("+7"), 7);
    EXPECT_EQ(length("-5"), 0);
    EXPECT_EQ(length("abc"), 0);
    EXPECT_EQ(length("1 0"), 0);
    EXPECT_EQ(length("0x10"), 0);
    EXPECT_EQ(length("9223372036854775807"), 9223372036854775807LL);
    EXPECT_EQ(length("9223372036854775808"), 0);
    EXPECT_EQ(parse("POST / HTTP/1.1\r\n\r\n").head.contentLength, 0);
}

TEST(HttpRequestParser, FileNameIsPercentDecodedWhenThatWorks)
{
    auto fileName = [](const QByteArray& value) {
        return parse("POST /upload HTTP/1.1\r\nX-File-Name: " + value + "\r\n\r\n").head.fileName;
    };
    EXPECT_EQ(fileName("photo%20one.jpg"), QString("photo one.jpg"));
    EXPECT_EQ(fileName("%C3%A9t%C3%A9.txt"), QString::fromUtf8("\xc3\xa9t\xc3\xa9.txt"));
    EXPECT_EQ(fileName("100%.txt"), QString("100%.txt")); // malformed escape: as sent
    EXPECT_EQ(fileName("a%zz.txt"), QString("a%zz.txt"));
    EXPECT_EQ(fileName("bad%FF.txt"), QString("bad%FF.txt")); // not UTF-8 once decoded
}

// The exact replies of /status, /download and a 404 are checked over the wire by the server test.
TEST(HttpReply, LengthsCountBytesAndNamesAreEncodedForAPath)
{
    // The em dash is three bytes in UTF-8.
    EXPECT_EQ(HttpReply::text(401, QString::fromUtf8("Invalid token \xe2\x80\x94 pair again")),
              QByteArray("HTTP/1.1 401 Unauthorized\r\nContent-Type: text/plain; charset=utf-8\r\n"
                         "Content-Length: 28\r\nConnection: close\r\n\r\n"
                         "Invalid token \xe2\x80\x94 pair again"));
    EXPECT_TRUE(HttpReply::text(418, "x").startsWith("HTTP/1.1 418 Status\r\n"));
    EXPECT_TRUE(
        HttpReply::json({{"bytes", qint64(5000000000)}}).endsWith("{\"bytes\":5000000000}"));
    EXPECT_EQ(HttpReply::encodeForPath("a+b=c@d!$&'()*,:~_-.txt"), "a+b=c@d!$&'()*,:~_-.txt");
    EXPECT_EQ(HttpReply::encodeForPath(QString::fromUtf8("a?b%c;d \xc3\xa9#")),
              "a%3Fb%25c%3Bd%20%C3%A9%23");
}

} // namespace
} // namespace qb
