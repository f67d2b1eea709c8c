// Little-endian access to byte buffers. Every multi-byte value in a BMP and in
// a screen file is little-endian; these four helpers are the only place that
// knows it. Callers check the buffer's length once, before reading a header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline uint16_t get_le16(std::span<const uint8_t> b, size_t off)
{
    return uint16_t(b[off] | (b[off + 1] << 8));
}

inline uint32_t get_le32(std::span<const uint8_t> b, size_t off)
{
    return uint32_t(b[off]) | (uint32_t(b[off + 1]) << 8) | (uint32_t(b[off + 2]) << 16) |
           (uint32_t(b[off + 3]) << 24);
}

inline void put_le16(std::span<uint8_t> b, size_t off, uint16_t v)
{
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(v >> 8);
}

inline void put_le32(std::span<uint8_t> b, size_t off, uint32_t v)
{
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(v >> 8);
    b[off + 2] = uint8_t(v >> 16);
    b[off + 3] = uint8_t(v >> 24);
}
