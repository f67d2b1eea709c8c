// makebmp: writes the photo-like benchmark picture as a 24-bit BMP.
//
//   makebmp WIDTH HEIGHT picture.bmp
//
// Bottom-up, 40-byte info header, like the pictures most programs write. The
// picture is drawn a line at a time, so even the largest needs little memory.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/photo.hpp"
#include "formats/le.hpp"

int main(int argc, char** argv)
{
    // 1. Arguments: width and height, multiples of 8 the tools accept.
    if (argc != 4) {
        std::fputs("Usage: makebmp <width> <height> <>.bmp\n", stderr);
        return 2;
    }
    const long w = std::strtol(argv[1], nullptr, 10), h = std::strtol(argv[2], nullptr, 10);
    if (w <= 0 || h <= 0 || w % 8 || h % 8 || w > 65528 || h > 65528) {
        std::fputs("makebmp: width and height must be multiples of 8 from 8 to 65528\n", stderr);
        return 2;
    }
    const uint64_t line = 3 * uint64_t(w), size = 54 + line * uint64_t(h);
    if (size > UINT32_MAX) {
        std::fputs("makebmp: the picture is too large for a bmp file\n", stderr);
        return 2;
    }

    // 2. Headers: the rest of the 54 bytes stays zero.
    std::array<uint8_t, 54> hdr{};
    hdr[0] = 'B';
    hdr[1] = 'M';
    put_le32(hdr, 2, uint32_t(size));
    put_le32(hdr, 10, 54);
    put_le32(hdr, 14, 40);
    put_le32(hdr, 18, uint32_t(w));
    put_le32(hdr, 22, uint32_t(h));
    put_le16(hdr, 26, 1);
    put_le16(hdr, 28, 24);

    // 3. Lines, bottom line first; every write checked.
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out) {
        std::fprintf(stderr, "makebmp: cannot create %s\n", argv[3]);
        return 1;
    }
    bool ok = std::fwrite(hdr.data(), 1, hdr.size(), out) == hdr.size();
    std::vector<uint8_t> row(static_cast<size_t>(line));
    for (long y = h - 1; ok && y >= 0; --y) {
        photo_line(uint32_t(y), uint32_t(w), uint32_t(h), row.data());
        ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
    }
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "makebmp: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
