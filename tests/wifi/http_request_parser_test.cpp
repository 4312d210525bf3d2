#include "wifi/http_reply.h"
#include "wifi/http_request_parser.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace qb {
namespace {

using Status = HttpParseResult::Status;

// Segmented heads, lower-case methods, oversized heads and a missing path are checked over the
// wire by the server test.
TEST(HttpRequestParser, RequestLineAndHeadLimits)
{
    const QByteArray request = "GET  /download?id=a&b HTTP/1.1 extra\r\nHost: x\r\n\r\n";
    EXPECT_EQ(parseRequestHead(request.chopped(1)).status, Status::Incomplete);
    const HttpParseResult result = parseRequestHead(request + "trailing");
    ASSERT_EQ(result.status, Status::Complete);
    EXPECT_EQ(result.head.method, "GET");
    EXPECT_EQ(result.head.path, "/download?id=a&b");
    EXPECT_EQ(result.head.headLength, request.size());
    EXPECT_EQ(parseRequestHead("GET /x\r\n\r\n").status, Status::Complete); // no version needed
    EXPECT_EQ(parseRequestHead("GET /\xff HTTP/1.1\r\n\r\n").status, Status::BadRequest);
    const QByteArray big = "GET / HTTP/1.1\r\nX-Pad: " + QByteArray(70 * 1024, 'a');
    EXPECT_EQ(parseRequestHead(big).status, Status::BadRequest); // no blank line can save it
    const QByteArray fits = "GET / HTTP/1.1\r\nX-Pad: " + QByteArray(60 * 1024, 'a');
    EXPECT_EQ(parseRequestHead(fits).status, Status::Incomplete);
    EXPECT_EQ(parseRequestHead(fits + "\r\n\r\n").status, Status::Complete);
    // A lone LF does not end a line, so "X-Device-Name" stays part of the request line.
    EXPECT_EQ(parseRequestHead("GET /a\nX-Device-Name: P\r\n\r\n").head.path, "/a\nX-Device-Name:");
}

TEST(HttpRequestParser, DeviceNameContentLengthAndFileNameHeaders)
{
    auto head = [](const QByteArray& line) {
        return parseRequestHead("POST / HTTP/1.1\r\n" + line + "\r\n\r\n").head;
    };
    EXPECT_EQ(head("x-DEVICE-name:\t Pixel \t").deviceName, QString("Pixel"));
    EXPECT_FALSE(head("X-Device-Name:").deviceName);            // nothing after the colon
    EXPECT_EQ(head("X-Device-Name:   ").deviceName, QString()); // spaces only: empty name
    EXPECT_EQ(head("X-Device-Name: a:b").deviceName, QString("a:b"));
    EXPECT_FALSE(head("X-Device-Name Pixel").deviceName);
    EXPECT_EQ(head("X-Device-Name: one\r\nX-Device-Name: two").deviceName, QString("two"));
    const QList<std::pair<QByteArray, qint64>> lengths{
        {"10", 10},
        {"+7", 7},
        {"-5", 0},
        {"abc", 0},
        {"1 0", 0},
        {"0x10", 0},
        {"9223372036854775807", 9223372036854775807LL},
        {"9223372036854775808", 0}};
    for (const auto& [value, length] : lengths)
        EXPECT_EQ(head("Content-Length: " + value).contentLength, length) << value.constData();
    EXPECT_EQ(head("X-File-Name: %C3%A9t%C3%A9.txt").fileName, QString::fromUtf8("été.txt"));
    for (const char* asSent : {"100%.txt", "a%zz.txt", "bad%FF.txt"}) // malformed or not UTF-8
        EXPECT_EQ(head(QByteArray("X-File-Name: ") + asSent).fileName, QString(asSent));
}

TEST(HttpReply, LengthsCountBytesAndNamesAreEncodedForAPath)
{
    // The em dash is three bytes in UTF-8.
    EXPECT_EQ(HttpReply::text(401, QString::fromUtf8("Invalid token \xe2\x80\x94 pair again")),
              QByteArray("HTTP/1.1 401 Unauthorized\r\nContent-Type: text/plain; charset=utf-8\r\n"
                         "Content-Length: 28\r\nConnection: close\r\n\r\n"
                         "Invalid token \xe2\x80\x94 pair again"));
    EXPECT_TRUE(
        HttpReply::json({{"bytes", qint64(5000000000)}}).endsWith("{\"bytes\":5000000000}"));
    EXPECT_EQ(HttpReply::encodeForPath("a+b=c@d!$&'()*,:~_-.txt"), "a+b=c@d!$&'()*,:~_-.txt");
    EXPECT_EQ(HttpReply::encodeForPath(QString::fromUtf8("a?b%c;d \xc3\xa9#")),
              "a%3Fb%25c%3Bd%20%C3%A9%23");
}

} // namespace
} // namespace qb
