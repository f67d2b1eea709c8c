#include "decscreen/bmp_out.hpp"

#include <algorithm>
#include <vector>

#include "common/le.hpp"

Bgr expand_rgb332(uint8_t a)
{
    const unsigned r = a >> 5, g = (a >> 2) & 7, b = a & 3;
    return {uint8_t(b * 84), uint8_t(g * 36), uint8_t(r * 36)};
}

bool write_bmp24(std::FILE* out, const ScreenImage& s)
{
    std::array<uint8_t, 54> hdr{};
    hdr[0] = 'B';
    hdr[1] = 'M';
    put_le32(hdr, 2, uint32_t(bmp_file_size(s.width, s.height)));
    put_le32(hdr, 10, 54);
    put_le32(hdr, 14, 40);
    put_le32(hdr, 18, s.width);
    put_le32(hdr, 22, s.height);
    put_le16(hdr, 26, 1);
    put_le16(hdr, 28, 24);
    if (std::fwrite(hdr.data(), 1, hdr.size(), out) != hdr.size())
        return false;

    const size_t n = symbol_columns(s), hc = symbol_rows(s);
    // Columns past the last whole symbol and the padding stay zero in every row.
    std::vector<uint8_t> row(size_t(bmp_row_size(s.width)), 0);
    for (size_t i = 0; i < s.height; ++i) {
        // Row i from the bottom is raster line height-1-i. Its symbol row is
        // counted from the bottom too, so that for a height that is not a
        // multiple of 8 the lines encscreen filled meet their own symbols;
        // the top height%8 rows then have no symbols and stay black.
        if (i < 8 * hc) {
            const uint16_t* words = s.raster.data() + (s.height - 1 - i) * n;
            const uint8_t* attrs = s.attributes.data() + (hc - 1 - (i >> 3)) * n * 4;
            uint8_t* px = row.data();
            for (size_t sx = 0; sx < n; ++sx, attrs += 4) {
                const Bgr colour[4] = {expand_rgb332(attrs[0]), expand_rgb332(attrs[1]), expand_rgb332(attrs[2]),
                                       expand_rgb332(attrs[3])};
                const uint16_t word = words[sx];
                for (unsigned c = 0; c < 8; ++c, px += 3) {
                    const Bgr& bgr = colour[(word >> (14 - 2 * c)) & 3];
                    px[0] = bgr[0];
                    px[1] = bgr[1];
                    px[2] = bgr[2];
                }
            }
        } else if (i == 8 * hc) {
            std::fill(row.begin(), row.end(), 0);
        }
        if (!row.empty() && std::fwrite(row.data(), 1, row.size(), out) != row.size())
            return false;
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}
