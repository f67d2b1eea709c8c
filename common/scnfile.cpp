#include "common/scnfile.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <span>

#include "common/le.hpp"

uint64_t screen_file_size(uint32_t width, uint32_t height)
{
    const uint64_t n = width >> 3;
    return kScreenHeaderSize + 2 * n * height + 4 * n * (height >> 3);
}

// A screen less than 8 pixels wide or high has no attribute bytes, and an empty
// vector's data() may be null, which fwrite must not be given even for no bytes.
static bool write_all(std::FILE* out, std::span<const uint8_t> bytes)
{
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

bool write_screen_file(std::FILE* out, const ScreenImage& s)
{
    std::array<uint8_t, kScreenHeaderSize> hdr;
    const uint16_t words[8] = {0x4353, 0, 0, 16, uint16_t(s.width), uint16_t(s.height), 16, 2};
    for (size_t i = 0; i < 8; ++i)
        put_le16(hdr, 2 * i, words[i]);
    if (!write_all(out, hdr))
        return false;

    // The raster goes out little-endian through a small buffer, whatever the host's order.
    std::array<uint8_t, 1 << 16> buf;
    for (size_t i = 0; i < s.raster.size();) {
        const size_t count = std::min(s.raster.size() - i, buf.size() / 2);
        for (size_t k = 0; k < count; ++k)
            put_le16(buf, 2 * k, s.raster[i + k]);
        if (!write_all(out, std::span<const uint8_t>(buf.data(), 2 * count)))
            return false;
        i += count;
    }
    if (!write_all(out, s.attributes))
        return false;
    return std::fflush(out) == 0 && !std::ferror(out);
}

bool read_screen_file(Input& in, ScreenImage& s)
{
    std::array<uint8_t, kScreenHeaderSize> hdr;
    if (!read_bytes(in, hdr))
        return false;
    s.width = get_le16(hdr, 8);
    s.height = get_le16(hdr, 10);
    const uint64_t words = uint64_t(symbol_columns(s)) * s.height;
    const uint64_t attrs = uint64_t(symbol_columns(s)) * symbol_rows(s) * 4;
    // Both sizes must be present before either is allocated in full.
    if (in.remaining != kUnknownSize && 2 * words + attrs > in.remaining)
        return false;
    if (!read_block(in, s.raster, 2 * words) || !read_block(in, s.attributes, attrs))
        return false;
    if constexpr (std::endian::native != std::endian::little) {
        auto bytes = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.raster.data()), 2 * s.raster.size());
        for (size_t i = 0; i < s.raster.size(); ++i)
            s.raster[i] = get_le16(bytes, 2 * i);
    }
    return true;
}
