// Turning a screen's symbol rows round.
#include "common/screen.hpp"

void reverse_symbol_rows(ScreenImage& s, size_t rows)
{
    const size_t n = symbol_columns(s);
    reverse_blocks(s.raster.data(), 8 * n, rows);
    reverse_blocks(s.attributes.data(), 4 * n, rows);
}
