#include "wifi/http_request_parser.h"

#include <QStringDecoder>

#include <algorithm>
#include <limits>

namespace qb {
namespace {

// Spaces, tabs and other horizontal space; line breaks are not trimmed.
bool isHorizontalSpace(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimHorizontalSpace(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isHorizontalSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isHorizontalSpace(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin).toString();
}

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9') {
        return c.unicode() - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c.unicode() - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c.unicode() - u'A' + 10;
    }
    return -1;
}

std::optional<QString> decodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

QList<QStringView> splitDroppingEmpty(QStringView text, QChar separator, int maxSplits)
{
    QList<QStringView> pieces;
    qsizetype start = 0;
    qsizetype index = 0;
    while (index < text.size()) {
        if (text[index] == separator) {
            const bool appended = index > start;
            if (appended) {
                pieces.append(text.mid(start, index - start));
            }
            ++index;
            start = index;
            if (appended && pieces.size() == maxSplits) {
                break;
            }
            continue;
        }
        ++index;
    }
    if (start < text.size()) {
        pieces.append(text.mid(start));
    }
    return pieces;
}

std::optional<QString> percentDecode(const QString& text)
{
    QByteArray bytes;
    const QByteArray utf8 = text.toUtf8();
    bytes.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c != '%') {
            bytes.append(c);
            continue;
        }
        if (i + 2 >= utf8.size()) {
            return std::nullopt;
        }
        const int high = hexValue(QLatin1Char(utf8[i + 1]));
        const int low = hexValue(QLatin1Char(utf8[i + 2]));
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.append(char(high * 16 + low));
        i += 2;
    }
    return decodeUtf8(bytes);
}

std::optional<qint64> parseSignedDecimal(const QString& text)
{
    qsizetype index = 0;
    bool negative = false;
    if (index < text.size() && (text[index] == u'+' || text[index] == u'-')) {
        negative = text[index] == u'-';
        ++index;
    }
    if (index == text.size()) {
        return std::nullopt;
    }
    // Accumulate towards the negative side so the most negative value fits too.
    qint64 value = 0;
    constexpr qint64 minimum = std::numeric_limits<qint64>::min();
    for (; index < text.size(); ++index) {
        const QChar c = text[index];
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const int digit = c.unicode() - u'0';
        if (value < (minimum + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == minimum) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

HttpParseResult parseRequestHead(QByteArrayView buffer, qsizetype maxHeadBytes)
{
    HttpParseResult result;
    const qsizetype end = buffer.indexOf(QByteArrayView("\r\n\r\n"));
    if (end < 0) {
        // The head cannot end before the limit any more: refuse instead of buffering on.
        if (buffer.size() > maxHeadBytes + 3) {
            result.status = HttpParseResult::Status::BadRequest;
        }
        return result;
    }
    if (end > maxHeadBytes) {
        result.status = HttpParseResult::Status::BadRequest;
        return result;
    }
    const std::optional<QString> headText = decodeUtf8(buffer.first(end));
    if (!headText) {
        result.status = HttpParseResult::Status::BadRequest;
        return result;
    }
    const QList<QStringView> lines = QStringView(*headText).split(u"\r\n");
    const QList<QStringView> requestLine = splitDroppingEmpty(lines.first(), u' ', 2);
    if (requestLine.size() < 2) {
        result.status = HttpParseResult::Status::BadRequest;
        return result;
    }
    HttpRequestHead& head = result.head;
    head.method = requestLine[0].toString();
    head.path = requestLine[1].toString();
    head.headLength = end + 4;
    std::optional<qint64> firstLength;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QStringView> pieces = splitDroppingEmpty(lines[i], u':', 1);
        if (pieces.size() != 2) {
            continue;
        }
        const QString name = trimHorizontalSpace(pieces[0]).toLower();
        const QString value = trimHorizontalSpace(pieces[1]);
        if (name == u"x-device-name") {
            head.deviceName = value;
        } else if (name == u"content-length") {
            const std::optional<qint64> length = parseSignedDecimal(value);
            head.contentLength = length && *length > 0 ? *length : 0;
            const bool digitsOnly = std::all_of(value.begin(), value.end(),
                                                [](QChar c) { return c >= u'0' && c <= u'9'; });
            // Two lengths that disagree are as untrustworthy as one that is not a number.
            head.contentLengthMalformed = head.contentLengthMalformed || !length || !digitsOnly ||
                                          (firstLength && *firstLength != *length);
            if (!firstLength)
                firstLength = length;
        } else if (name == u"transfer-encoding") {
            head.hasTransferEncoding = true;
        } else if (name == u"x-file-name") {
            head.fileName = percentDecode(value).value_or(value);
        }
    }
    result.status = HttpParseResult::Status::Complete;
    return result;
}

} // namespace qb
