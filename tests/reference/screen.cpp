// A screen made whole, and the screen file's length and reading in one go.
#include "tests/reference/screen.hpp"

ScreenImage make_screen(uint32_t width, uint32_t height)
{
    ScreenImage s;
    s.width = width;
    s.height = height;
    s.raster.resize(symbol_columns(s) * height);
    s.attributes.resize(symbol_columns(s) * symbol_rows(s) * 4);
    return s;
}

ScnError read_screen_file(Input& in, ScreenImage& s)
{
    const ScnError e = read_screen_header(in, s);
    return e == ScnError::ok ? read_screen_body(in, s) : e;
}
