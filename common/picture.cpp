// Checking a BMP's or a PNG's header, handing out its lines band by band, and
// the programs' messages for a picture that cannot be read.
#include "common/picture.hpp"

#include <array>
#include <new>
#include <span>

#include "common/le.hpp"
#include "common/screen.hpp"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kCoreHeaderEnd = kFileHeaderSize + 12;
constexpr size_t kInfoHeaderEnd = kFileHeaderSize + 40;
constexpr size_t kMasksEnd = kInfoHeaderEnd + 12;

bool valid_side(int64_t v) { return v > 0 && v <= kMaxScreenSide && v % 8 == 0; }

PictureError from_png(PngStatus s)
{
    switch (s) {
    case PngStatus::ok:
        return PictureError::ok;
    case PngStatus::bad_size:
        return PictureError::bad_size;
    case PngStatus::no_memory:
        throw_out_of_memory();
    case PngStatus::damaged:
        break;
    }
    return PictureError::png_damaged;
}

PictureError start_png(PictureStream& p)
{
    PngReader* reader = nullptr;
    uint32_t w = 0, h = 0;
    const PictureError e = from_png(png_read_start(p.in, reader, w, h));
    if (e != PictureError::ok)
        return e;
    p.png = reader;
    p.width = w;
    p.height = h;
    p.top_down = true;
    return PictureError::ok;
}

// The BMP headers after the 8 bytes in `hdr` that were read to tell a PNG.
PictureError read_bmp_header(PictureStream& p, std::array<uint8_t, kMasksEnd>& hdr)
{
    const auto rest = [&](size_t from, size_t to) {
        return read_bytes(p.in, std::span<uint8_t>(hdr.data() + from, to - from));
    };
    if (!rest(kPngSignatureSize, kFileHeaderSize + 4))
        return PictureError::not_24bit;
    const uint32_t off_bits = get_le32(hdr, 10);
    const bool core = get_le32(hdr, 14) == 12;
    int64_t width, height;
    uint32_t compression = 0;
    uint16_t bit_count;
    size_t read = core ? kCoreHeaderEnd : kInfoHeaderEnd;
    if (!rest(kFileHeaderSize + 4, read))
        return PictureError::not_24bit;
    if (core) {
        width = get_le16(hdr, 18);
        height = get_le16(hdr, 20);
        bit_count = get_le16(hdr, 24);
    } else {
        width = int32_t(get_le32(hdr, 18));
        height = int32_t(get_le32(hdr, 22));
        bit_count = get_le16(hdr, 28);
        compression = get_le32(hdr, 30);
    }
    if (bit_count != 24 || (compression != 0 && compression != 3))
        return PictureError::not_24bit;

    // A negative height marks a top-down file. Negated in 64 bits: -INT32_MIN does not fit.
    p.top_down = height < 0;
    if (p.top_down)
        height = -height;
    if (!valid_side(width) || !valid_side(height))
        return PictureError::bad_size;
    p.width = uint32_t(width);
    p.height = uint32_t(height);

    // The masks come after the 40-byte header, or inside a larger one; pixels
    // that start before them leave no room for them.
    if (compression == 3) {
        if (off_bits < kMasksEnd)
            return PictureError::not_24bit;
        if (!rest(kInfoHeaderEnd, kMasksEnd))
            return PictureError::truncated;
        read = kMasksEnd;
        if (get_le32(hdr, 54) != 0x00FF0000 || get_le32(hdr, 58) != 0x0000FF00 || get_le32(hdr, 62) != 0x000000FF)
            return PictureError::not_24bit;
    }

    // With the size known, a file too short for its pixels is refused at once.
    const uint64_t gap = off_bits > read ? off_bits - read : 0;
    const uint64_t pixels = 3 * uint64_t(p.width) * p.height;
    if (p.in.remaining != kUnknownSize && p.in.remaining < gap + pixels)
        return PictureError::truncated;
    if (!skip_bytes(p.in, gap))
        return PictureError::truncated;
    return PictureError::ok;
}

} // namespace

PictureError read_picture_header(Input in, PictureStream& p)
{
    p = PictureStream{};
    p.in = in;
    std::array<uint8_t, kMasksEnd> hdr{};
    PictureError e = PictureError::not_24bit;
    if (read_bytes(p.in, std::span<uint8_t>(hdr.data(), kPngSignatureSize)))
        e = is_png_signature(hdr) ? start_png(p) : read_bmp_header(p, hdr);
    if (e != PictureError::ok)
        close_picture(p);
    return e;
}

PictureError read_picture_lines(PictureStream& p, uint8_t* bgr, uint32_t count)
{
    if (count > p.height - p.lines_read)
        return PictureError::truncated;
    if (p.png) {
        const PictureError e = from_png(png_read_rows(p.png, bgr, ptrdiff_t(3) * p.width, count));
        if (e != PictureError::ok)
            return e;
    } else if (!read_bytes(p.in, std::span<uint8_t>(bgr, size_t(3) * p.width * count))) {
        return PictureError::truncated;
    }
    p.lines_read += count;
    return PictureError::ok;
}

PictureError finish_picture(PictureStream& p)
{
    if (!p.png)
        return PictureError::ok;
    PngReader* reader = p.png;
    p.png = nullptr; // freed by the finish, whatever it finds
    return from_png(png_read_finish(reader));
}

void close_picture(PictureStream& p)
{
    if (p.png)
        png_read_abort(p.png);
    p.png = nullptr;
    close_input(p.in);
}

ErrorMessage picture_error_message(PictureError e)
{
    switch (e) {
    case PictureError::ok:
        break;
    case PictureError::cannot_open:
        return {"bmpfile was not opened\n", false};
    case PictureError::not_24bit:
        return {"the file is not 24bit bmp \n", true};
    case PictureError::bad_size:
        return {"the picture width and height must be multiples of 8 up to 65528\n", true};
    case PictureError::truncated:
        return {"bmpfile is truncated\n", true};
    case PictureError::png_damaged:
        return {"pngfile is damaged\n", true};
    }
    return {"", false};
}
