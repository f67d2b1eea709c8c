// Choosing PNG output by the name, and writing the screen's rows as a PNG.
#include "formats/png_preview.hpp"

#include <vector>

#include "io/files.hpp"
#include "formats/pngio.hpp"
#include "formats/bmp.hpp"

bool wants_png_output(const char* path) { return has_extension(path, ".png"); }

bool write_png_preview(std::FILE* out, const ScreenImage& s)
{
    PngWriter* w = nullptr;
    if (!png_write_start(out, s.width, s.height, w, kPreviewSoftware))
        return false;
    // The BMP's rows, decoded one at a time, go out top line first: BMP row i
    // counts from the bottom.
    std::vector<uint8_t> row(size_t(bmp_row_size(s.width)));
    for (uint32_t y = 0; y < s.height; ++y) {
        decode_bmp_row(s, s.height - 1 - y, row.data());
        if (!png_write_rows(w, row.data(), 0, 1)) {
            png_write_abort(w);
            return false;
        }
    }
    return png_write_finish(w) && std::fflush(out) == 0 && !std::ferror(out);
}
