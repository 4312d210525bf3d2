// libFuzzer target: the request-head parser and the helpers it uses, fed arbitrary bytes.
// Besides the sanitizers' checks, a parsed head must agree with the bytes it came from.
#include "wifi/http_request_parser.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <cstdlib>

using namespace qb;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // A small limit, so that the fuzzer also reaches the "too long" paths.
    const HttpParseResult result = parseRequestHead(bytes, 4096);
    if (result.status == HttpParseResult::Status::Complete) {
        const HttpRequestHead& head = result.head;
        check(head.headLength >= 4 && head.headLength <= bytes.size());
        check(bytes.sliced(head.headLength - 4, 4) == QByteArrayView("\r\n\r\n"));
        check(head.contentLength >= 0);
        check(!head.method.isEmpty() && !head.path.isEmpty());
        // The head alone parses the same: what follows it cannot change it.
        const HttpParseResult alone = parseRequestHead(bytes.first(head.headLength), 4096);
        check(alone.status == HttpParseResult::Status::Complete);
        check(alone.head.path == head.path && alone.head.contentLength == head.contentLength &&
              alone.head.contentLengthMalformed == head.contentLengthMalformed &&
              alone.head.fileName == head.fileName);
    } else if (result.status == HttpParseResult::Status::Incomplete) {
        check(bytes.size() <= 4096 + 3);
    }

    const QString text = QString::fromUtf8(bytes);
    if (const std::optional<QString> decoded = percentDecode(text))
        check(decoded->size() <= text.size());
    for (QStringView piece : splitDroppingEmpty(text, u'&', 8))
        check(!piece.isEmpty());
    if (const std::optional<qint64> value = parseSignedDecimal(text))
        check(QString::number(*value).size() <= text.size());
    return 0;
}
