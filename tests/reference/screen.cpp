// A screen made whole, and the screen file's length and reading in one go.
#include "tests/reference/screen.hpp"

ScnError read_screen_file(Input& in, ScreenImage& s)
{
    const ScnError e = read_screen_header(in, s);
    return e == ScnError::ok ? read_screen_body(in, s) : e;
}
