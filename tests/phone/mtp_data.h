// Little-endian PTP/MTP dataset encoding: the bytes that travel in containers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qb {

// PTP data type codes used in property descriptions.
enum class MtpType : uint16_t {
    UInt64 = 0x0008,
    String = 0xFFFF,
};

class MtpWriter
{
public:
    MtpWriter& u8(uint8_t v);
    MtpWriter& u16(uint16_t v);
    MtpWriter& u32(uint32_t v);
    MtpWriter& u64(uint64_t v);
    // A PTP string: a count of UTF-16 units (terminator included), then the units.
    MtpWriter& str(const std::string& utf8);
    MtpWriter& u16Array(const std::vector<uint16_t>& values);
    MtpWriter& u32Array(const std::vector<uint32_t>& values);
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Bounds-checked reader: reading past the end yields zeros and clears ok().
class MtpReader
{
public:
    MtpReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    std::string str();
    void skip(size_t n);
    bool ok() const { return m_ok; }

private:
    bool take(size_t n);
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

} // namespace qb
