#include "common/screen.hpp"

#include <algorithm>

ScreenImage make_screen(uint32_t width, uint32_t height)
{
    ScreenImage s;
    s.width = width;
    s.height = height;
    s.raster.assign(symbol_columns(s) * height, 0);
    s.attributes.assign(symbol_columns(s) * symbol_rows(s) * 4, 0);
    return s;
}

void store_symbol(ScreenImage& s, size_t sx, size_t sy_stored, const SymbolCodes& q)
{
    const size_t n = symbol_columns(s);
    std::copy(q.attributes.begin(), q.attributes.end(), s.attributes.begin() + ptrdiff_t((sy_stored * n + sx) * 4));
    for (size_t r = 0; r < 8; ++r) {
        uint16_t word = 0;
        for (unsigned c = 0; c < 8; ++c)
            word |= raster_bits(q.codes[8 * r + c], c);
        s.raster[(8 * sy_stored + r) * n + sx] |= word;
    }
}

// Swaps whole blocks of `block` elements end for end: block i with block count-1-i.
template <class T>
static void reverse_blocks(std::vector<T>& v, size_t block, size_t count)
{
    for (size_t i = 0, j = count; i + 1 < j; ++i, --j)
        std::swap_ranges(v.begin() + ptrdiff_t(i * block), v.begin() + ptrdiff_t((i + 1) * block),
                         v.begin() + ptrdiff_t((j - 1) * block));
}

void to_top_down(ScreenImage& s)
{
    const size_t n = symbol_columns(s);
    reverse_blocks(s.raster, n, s.height);
    reverse_blocks(s.attributes, 4 * n, symbol_rows(s));
}
