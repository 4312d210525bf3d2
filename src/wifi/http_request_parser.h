#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace qb {

// The parts of a request head that the server uses.
struct HttpRequestHead
{
    QString method;                    // exactly as sent; case matters
    QString path;                      // query included
    std::optional<QString> deviceName; // "X-Device-Name", trimmed; may be empty
    std::optional<QString> fileName;   // "X-File-Name", percent-decoded when that works
    qint64 contentLength = 0;          // 0 when absent, not a number or negative
    // Present, but not a plain non-negative decimal that fits 64 bits ("+1", "-1", "1e3",
    // 2^63): a file body cannot be trusted to it.
    bool contentLengthMalformed = false;
    bool hasTransferEncoding = false;
    qsizetype headLength = 0; // bytes up to and including the blank line
};

struct HttpParseResult
{
    enum class Status { Incomplete, Complete, BadRequest };
    Status status = Status::Incomplete;
    HttpRequestHead head; // valid when Complete
};

// Longest head (the bytes before the blank line) that is accepted.
inline constexpr qsizetype kMaxRequestHeadBytes = 64 * 1024;

// Parses the head at the start of `buffer`. Incomplete until the blank line has arrived;
// BadRequest for a head that is not UTF-8, has no method and path, or is too long.
HttpParseResult parseRequestHead(QByteArrayView buffer,
                                 qsizetype maxHeadBytes = kMaxRequestHeadBytes);

// Splits at `separator`, dropping empty pieces, which do not count towards `maxSplits`; after
// that many splits the rest is one piece ("a::b" at ":" once gives "a" and ":b").
QList<QStringView> splitDroppingEmpty(QStringView text, QChar separator, int maxSplits);

// Decodes %XX escapes as UTF-8; nothing when an escape is malformed or the result is not UTF-8.
std::optional<QString> percentDecode(const QString& text);

// The decimal value of an optional sign and digits only; nothing otherwise (overflow included).
std::optional<qint64> parseSignedDecimal(const QString& text);

} // namespace qb
