#include "mtp_data.h"

namespace qb {

namespace {

std::u16string toUtf16(const std::string& s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp)
{
    const int extra = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    const uint8_t lead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += char(lead[extra] | (cp >> (6 * extra)));
    for (int k = extra - 1; k >= 0; --k)
        out += char(0x80 | ((cp >> (6 * k)) & 0x3F));
}

} // namespace

MtpWriter& MtpWriter::u8(uint8_t v)
{
    m_bytes.push_back(v);
    return *this;
}

MtpWriter& MtpWriter::u16(uint16_t v)
{
    return u8(v & 0xFF).u8(v >> 8);
}

MtpWriter& MtpWriter::u32(uint32_t v)
{
    return u16(v & 0xFFFF).u16(v >> 16);
}

MtpWriter& MtpWriter::u64(uint64_t v)
{
    return u32(v & 0xFFFFFFFF).u32(v >> 32);
}

MtpWriter& MtpWriter::str(const std::string& utf8)
{
    std::u16string units = toUtf16(utf8);
    if (units.empty())
        return u8(0);
    if (units.size() > 254)
        units.resize(254);
    u8(static_cast<uint8_t>(units.size() + 1));
    for (char16_t unit : units)
        u16(unit);
    return u16(0);
}

MtpWriter& MtpWriter::u16Array(const std::vector<uint16_t>& values)
{
    u32(static_cast<uint32_t>(values.size()));
    for (uint16_t v : values)
        u16(v);
    return *this;
}

MtpWriter& MtpWriter::u32Array(const std::vector<uint32_t>& values)
{
    u32(static_cast<uint32_t>(values.size()));
    for (uint32_t v : values)
        u32(v);
    return *this;
}

bool MtpReader::take(size_t n)
{
    if (!m_ok || m_size - m_pos < n) {
        m_ok = false;
        return false;
    }
    return true;
}

uint8_t MtpReader::u8()
{
    return take(1) ? m_data[m_pos++] : 0;
}

uint16_t MtpReader::u16()
{
    const uint16_t lo = u8();
    return static_cast<uint16_t>(lo | (u8() << 8));
}

uint32_t MtpReader::u32()
{
    const uint32_t lo = u16();
    return lo | (static_cast<uint32_t>(u16()) << 16);
}

std::string MtpReader::str()
{
    const uint8_t count = u8();
    std::string out;
    for (int i = 0; i < count && m_ok; ++i) {
        char32_t unit = u16();
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (u16() - 0xDC00);
            ++i;
        }
        if (unit != 0)
            appendUtf8(out, unit);
    }
    return out;
}

void MtpReader::skip(size_t n)
{
    if (take(n))
        m_pos += n;
}

} // namespace qb
