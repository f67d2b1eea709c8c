// Telling decscreen's own previews; see preview.hpp.
#include "formats/previews.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "io/files.hpp"
#include "formats/le.hpp"
#include "formats/pngio.hpp"
#include "colour/rgb332.hpp"
#include "formats/sniff.hpp"
#include "formats/bmp.hpp"
#include "formats/png_preview.hpp"

namespace {

// The signature, the IHDR chunk (length 13, type, 13 bytes, CRC), then the
// tEXt chunk's length, type and its keyword and text.
bool is_png_preview(std::span<const uint8_t> head)
{
    constexpr size_t kText = 8 + 25;
    static const uint8_t ihdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    const size_t n = sizeof "Software" + std::strlen(kPreviewSoftware);
    return is_png_signature(head) && head.size() >= kText + 8 + n &&
           std::memcmp(head.data() + 8, ihdr, sizeof ihdr) == 0 &&
           (uint32_t(head[kText]) << 24 | uint32_t(head[kText + 1]) << 16 | uint32_t(head[kText + 2]) << 8 |
            head[kText + 3]) == n &&
           std::memcmp(head.data() + kText + 4, "tEXtSoftware", 13) == 0 &&
           std::memcmp(head.data() + kText + 4 + sizeof "tEXtSoftware", kPreviewSoftware, n - sizeof "Software") ==
               0;
}

// Which byte values each of blue, green and red takes in a screen colour.
const std::array<std::array<bool, 256>, 3> kScreenValues = [] {
    std::array<std::array<bool, 256>, 3> t{};
    for (unsigned a = 0; a < 256; ++a) {
        const std::array<uint8_t, 3> c = screen_rgb(uint8_t(a)); // red, green, blue
        for (size_t k = 0; k < 3; ++k)
            t[k][c[2 - k]] = true;
    }
    return t;
}();

// The rest of a BMP whose first 54 bytes are in `head`, read from `f` a
// block of lines at a time.
bool is_bmp_preview(std::FILE* f, std::span<const uint8_t> head, uint64_t size)
{
    // A file that grew since its size was taken is not looked at further.
    if (head.size() < 54 || head.size() > size)
        return false;
    const uint32_t w = get_le32(head, 18), h = get_le32(head, 22);
    const std::array<uint8_t, 54> want = bmp24_header(w, h);
    if (w > 0xFFFF || h > 0xFFFF || std::memcmp(head.data(), want.data(), want.size()) != 0 ||
        size != bmp_file_size(w, h))
        return false;
    const size_t row = size_t(bmp_row_size(w));
    if (row == 0)
        return true;
    std::vector<uint8_t> block(row * std::max<size_t>(1, (size_t(64) << 10) / row));
    // The bytes of head past the headers were read already: the lines start there.
    std::memcpy(block.data(), head.data() + 54, head.size() - 54);
    size_t have = head.size() - 54;
    for (uint64_t lines = h; lines > 0;) {
        const size_t count = size_t(std::min<uint64_t>(lines, block.size() / row));
        have += std::fread(block.data() + have, 1, count * row - have, f);
        if (have != count * row)
            return false;
        for (size_t l = 0; l < count; ++l) {
            const uint8_t* line = block.data() + l * row;
            // Every pixel's blue, green and red a screen level, checked
            // without a branch a byte: a preview is 48 MiB at 4096x4096.
            unsigned levels = 1;
            for (const uint8_t* p = line; p < line + 3 * size_t(w); p += 3)
                levels &= unsigned(kScreenValues[0][p[0]]) & unsigned(kScreenValues[1][p[1]]) &
                          unsigned(kScreenValues[2][p[2]]);
            if (!levels)
                return false;
            for (size_t x = 3 * size_t(w); x < row; ++x)
                if (line[x] != 0)
                    return false;
        }
        lines -= count;
        have = 0;
    }
    return true;
}

} // namespace

bool is_own_preview(const char* path)
{
    std::FILE* f = open_regular_file(path);
    if (!f)
        return false;
    const uint64_t size = examine_stream(f).size_left; // before stdio reads ahead
    uint8_t head[kSniffSize];
    const size_t got = std::fread(head, 1, sizeof head, f);
    const std::span<const uint8_t> h(head, got);
    const bool own = is_png_preview(h) || is_bmp_preview(f, h, size);
    std::fclose(f);
    return own;
}
