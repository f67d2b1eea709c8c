#include "common/bmp.hpp"

#include <array>

#include "common/le.hpp"
#include "common/screen.hpp"

static bool valid_side(int64_t v) { return v > 0 && v <= kMaxScreenSide && v % 8 == 0; }

BmpError read_bmp24(Input& in, BmpPixels& out)
{
    // The BITMAPFILEHEADER and the first 40 bytes of the info header.
    std::array<uint8_t, kBmpHeaderSize> hdr;
    if (!read_bytes(in, hdr))
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
    }
    return {"", false};
}
