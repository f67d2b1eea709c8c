// Turning a screen's symbol rows round.
#include "formats/screen.hpp"

void reverse_symbol_rows(ScreenImage& s, size_t rows)
{
    const size_t n = symbol_columns(s);
    reverse_blocks(s.raster.data(), 8 * n, rows);
    reverse_blocks(s.attributes.data(), 4 * n, rows);
}

ScreenImage make_screen(uint32_t width, uint32_t height)
{
    ScreenImage s;
    s.width = width;
    s.height = height;
    s.raster.resize(symbol_columns(s) * height);
    s.attributes.resize(symbol_columns(s) * symbol_rows(s) * 4);
    return s;
}
