#include "common/bmp.hpp"

#include <array>

#include "common/le.hpp"
#include "common/pngio.hpp"
#include "common/screen.hpp"

static bool valid_side(int64_t v) { return v > 0 && v <= kMaxScreenSide && v % 8 == 0; }

// TEMP glue until the streaming reader takes PNG: the whole picture through
// the PNG module, 8 rows at a time, then turned bottom line first.
static BmpError read_png_glue(Input& in, BmpPixels& out)
{
    PngReader* r = nullptr;
    uint32_t w = 0, h = 0;
    PngStatus s = png_read_start(in, r, w, h);
    if (s == PngStatus::bad_size)
        return BmpError::bad_size;
    const size_t line = 3 * size_t(w);
    for (uint32_t y = 0; s == PngStatus::ok && y < h; y += 8) {
        out.pixels.resize(size_t(y + 8) * line);
        s = png_read_rows(r, out.pixels.data() + y * line, ptrdiff_t(line), 8);
    }
    s = s == PngStatus::ok ? png_read_finish(r) : (png_read_abort(r), s);
    if (s == PngStatus::no_memory)
        throw std::bad_alloc();
    if (s != PngStatus::ok)
        return BmpError::png_damaged;
    reverse_lines(out.pixels.data(), line, h);
    out.w = int32_t(w);
    out.h = int32_t(h);
    return BmpError::ok;
}

BmpError read_bmp24(Input& in, BmpPixels& out)
{
    // The BITMAPFILEHEADER and the first 40 bytes of the info header.
    std::array<uint8_t, kBmpHeaderSize> hdr;
    if (!read_bytes(in, std::span(hdr).first(kPngSignatureSize)))
        return BmpError::not_24bit;
    if (is_png_signature(hdr))
        return read_png_glue(in, out);
    if (!read_bytes(in, std::span(hdr).subspan(kPngSignatureSize)))
        return BmpError::not_24bit;
    const uint32_t off_bits = get_le32(hdr, 10);
    const int32_t width = int32_t(get_le32(hdr, 18));
    const int32_t height = int32_t(get_le32(hdr, 22));
    const uint16_t bit_count = get_le16(hdr, 28);
    const uint32_t compression = get_le32(hdr, 30);
    if (bit_count != 24 || (compression != 0 && compression != 3))
        return BmpError::not_24bit;

    // A negative height marks a top-down file. Negate in 64 bits: -INT32_MIN does not fit.
    const bool top_down = height < 0;
    const int64_t h = top_down ? -int64_t(height) : height;
    if (!valid_side(width) || !valid_side(h))
        return BmpError::bad_size;

    if (off_bits > kBmpHeaderSize && !skip_bytes(in, off_bits - kBmpHeaderSize))
        return BmpError::truncated;
    // A top-down file's lines are read straight into their bottom-up places.
    if (!read_lines(in, out.pixels, 3 * uint64_t(width), uint64_t(h), top_down))
        return BmpError::truncated;
    out.w = width;
    out.h = int32_t(h);
    return BmpError::ok;
}

BmpError load_bmp24(const char* path, BmpPixels& out)
{
    Input in;
    if (!open_input(path, in))
        return BmpError::cannot_open;
    const BmpError e = read_bmp24(in, out);
    close_input(in);
    return e;
}

ErrorMessage bmp_error_message(BmpError e)
{
    switch (e) {
    case BmpError::ok:
        break;
    case BmpError::cannot_open:
        return {"bmpfile was not opened\n", false};
    case BmpError::not_24bit:
        return {"the file is not 24bit bmp \n", true};
    case BmpError::bad_size:
        return {"the picture width and height must be multiples of 8 up to 65528\n", true};
    case BmpError::truncated:
        return {"bmpfile is truncated\n", true};
    case BmpError::png_damaged:
        return {"pngfile is damaged\n", true};
    }
    return {"", false};
}
