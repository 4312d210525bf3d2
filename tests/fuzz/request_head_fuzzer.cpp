// libFuzzer target: the request-head parser fed arbitrary bytes. Besides the sanitizers' checks,
// a parsed head must agree with the bytes it came from.
#include "wifi/http_request_parser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using qb::HttpParseResult;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // A small limit, so that the fuzzer reaches the "too long" paths too.
    const HttpParseResult result = qb::parseRequestHead(bytes, 4096);
    if (result.status == HttpParseResult::Status::Incomplete && bytes.size() > 4096 + 3)
        std::abort();
    if (result.status != HttpParseResult::Status::Complete)
        return 0;
    const qb::HttpRequestHead& head = result.head;
    if (head.headLength < 4 || head.headLength > bytes.size() || head.contentLength < 0 ||
        bytes.sliced(head.headLength - 4, 4) != QByteArrayView("\r\n\r\n"))
        std::abort();
    // What follows the head cannot change it.
    const HttpParseResult alone = qb::parseRequestHead(bytes.first(head.headLength), 4096);
    if (alone.head.path != head.path || alone.head.contentLength != head.contentLength ||
        alone.head.contentLengthMalformed != head.contentLengthMalformed ||
        alone.head.fileName != head.fileName)
        std::abort();
    return 0;
}
