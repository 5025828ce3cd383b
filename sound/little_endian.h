#pragma once
// The soundfont format stores its numbers little-endian, at any byte offset. These read them from
// raw bytes whatever the machine's order and alignment.

#include <cstdint>

inline std::uint16_t LittleEndian16(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return std::uint16_t(b[0] | b[1] << 8);
}

inline std::uint32_t LittleEndian32(const char* bytes)
{
    return std::uint32_t(LittleEndian16(bytes)) | std::uint32_t(LittleEndian16(bytes + 2)) << 16;
}
