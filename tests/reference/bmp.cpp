// Reading a whole picture into memory through the programs' own band reader.
#include "tests/reference/bmp.hpp"

#include <utility>

#include "formats/screen.hpp"

// Line by line as they arrive, so that memory follows the bytes rather than
// the header's promise; a top-down picture's lines are turned round at the end.
static BmpError read_whole(PictureStream& p, BmpPixels& out)
{
    const size_t line = size_t(3) * p.source_width;
    out.pixels.clear();
    for (uint32_t i = 0; i < p.source_height; ++i) {
        out.pixels.resize(out.pixels.size() + line);
        if (const BmpError e = read_picture_lines(p, out.pixels.data() + i * line, line, 1); e != BmpError::ok)
            return e;
    }
    if (p.top_down)
        reverse_blocks(out.pixels.data(), line, p.source_height);
    out.w = int32_t(p.source_width);
    out.h = int32_t(p.source_height);
    return finish_picture(p);
}

BmpError read_bmp24(Input& in, BmpPixels& out)
{
    const Input taken = std::exchange(in, Input{}); // closed by the reader
    return read_picture(taken, [&](PictureStream& p) { return read_whole(p, out); });
}

BmpError load_bmp24(const char* path, BmpPixels& out)
{
    return read_picture(path, [&](PictureStream& p) { return read_whole(p, out); });
}
