// Checking a BMP's or a PNG's header and handing out its lines.
#include "formats/picture.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <span>

#include "formats/bmp.hpp"
#include "formats/le.hpp"
#include "formats/screen.hpp"

namespace {

// The picture's size, and the screen's: the picture's rounded up to
// multiples of 8 (never past 65528, itself one).
void set_size(PictureStream& p, uint32_t width, uint32_t height)
{
    p.source_width = width;
    p.source_height = height;
    p.width = (width + 7) & ~7u;
    p.height = (height + 7) & ~7u;
}

// A BMP line in the file: 3 bytes a pixel, padded to a multiple of 4.
uint64_t file_line_bytes(uint32_t width) { return (3 * uint64_t(width) + 3) & ~uint64_t(3); }

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

PictureError start_png(PictureStream& p, const ReadOptions& opt)
{
    PngReader* reader = nullptr;
    uint32_t w = 0, h = 0;
    const PictureError e = from_png(png_read_start(p.in, reader, w, h, takes_any_size(opt)));
    // A size refused is kept for the report: the first bytes kept hold only
    // the signature, the rest went to libpng.
    p.source_width = w;
    p.source_height = h;
    if (e != PictureError::ok)
        return e;
    p.png = reader;
    p.alpha = png_has_transparency(reader);
    set_size(p, w, h);
    p.top_down = true;
    return PictureError::ok;
}

// The BMP headers after the 8 bytes in `hdr` that were read to tell a PNG,
// read as far as the parse asks: 18 bytes, then the rest of the info header
// that biSize announces, then the masks, so nothing is read that might be
// pixels.
PictureError read_bmp_header(PictureStream& p, std::array<uint8_t, kBmpMasksEnd>& hdr, const ReadOptions& opt)
{
    size_t have = kPngSignatureSize;
    BmpHeader h;
    PictureError e;
    while ((e = parse_bmp_header(std::span<const uint8_t>(hdr.data(), have), takes_any_size(opt), h)) == PictureError::truncated &&
           h.end > have) {
        if (!read_bytes(p.in, std::span<uint8_t>(hdr.data() + have, h.end - have)))
            return h.end > kBmpInfoHeaderEnd ? PictureError::truncated : PictureError::not_24bit;
        have = h.end;
    }
    if (e != PictureError::ok)
        return e;
    p.top_down = h.top_down;
    set_size(p, uint32_t(h.width), uint32_t(h.height));

    // With the size known, a file too short for its pixels is refused at once.
    const uint64_t gap = h.off_bits > have ? h.off_bits - have : 0;
    const uint64_t pixels = file_line_bytes(p.source_width) * p.source_height;
    if (p.in.remaining != kUnknownSize && p.in.remaining < gap + pixels)
        return PictureError::truncated;
    if (!skip_bytes(p.in, gap))
        return PictureError::truncated;
    return PictureError::ok;
}

} // namespace

PictureError read_picture_header(Input in, PictureStream& p, const ReadOptions& opt)
{
    p = PictureStream{};
    p.in = in;
    std::array<uint8_t, kBmpMasksEnd> hdr{};
    PictureError e = PictureError::not_24bit;
    if (read_bytes(p.in, std::span<uint8_t>(hdr.data(), kPngSignatureSize)))
        e = is_png_signature(hdr) ? start_png(p, opt) : read_bmp_header(p, hdr, opt);
    else if (p.in.remaining != kUnknownSize) // shorter than a signature: what there is
        read_bytes(p.in, std::span<uint8_t>(hdr.data(), size_t(p.in.remaining)));
    // A PNG's first bytes went to libpng: its size is in IHDR, at 16 and 20.
    p.head_size = size_t(std::min<uint64_t>(p.in.got, p.head.size()));
    std::copy_n(hdr.begin(), std::min(p.head_size, hdr.size()), p.head.begin());
    if (e != PictureError::ok)
        close_picture(p);
    return e;
}

void report_failure(const PictureStream& p, uint64_t size, PictureReport& r)
{
    r.head = p.head;
    r.head_size = p.head_size;
    r.got = p.in.got;
    r.size = size;
    const std::span<const uint8_t> h(p.head.data(), p.head_size);
    if (is_png_signature(h)) {
        r.width = p.source_width;
        r.height = p.source_height;
        return;
    }
    BmpHeader bmp;
    parse_bmp_header(h, true, bmp);
    if (h.size() < kBmpCoreHeaderEnd)
        return;
    r.width = bmp.width;
    r.height = bmp.height;
    // The pixels start at bfOffBits, or where the headers end.
    const uint64_t headers = kBmpFileHeaderSize + get_le32(h, 14);
    const uint64_t start = std::max<uint64_t>(bmp.off_bits, headers);
    if (r.width > 0)
        r.needed = start + file_line_bytes(uint32_t(r.width)) * uint64_t(r.height);
    else
        r.needed = headers;
}

PictureError read_picture_lines(PictureStream& p, uint8_t* bgr, size_t stride, uint32_t count, uint8_t* clear,
                                size_t clear_stride)
{
    if (count > p.source_height - p.lines_read)
        return PictureError::truncated;
    const size_t used = 3 * size_t(p.source_width);
    if (clear && !p.png)
        for (size_t k = 0; k < count; ++k)
            std::memset(clear + k * clear_stride, 0, p.source_width);
    if (p.png) {
        if (const PictureError e = from_png(png_read_rows(p.png, bgr, ptrdiff_t(stride), count, clear,
                                                          ptrdiff_t(clear_stride)));
            e != PictureError::ok)
            return e;
    } else if (const size_t stored = size_t(file_line_bytes(p.source_width)); stride >= stored) {
        // The lines with the padding at their ends in one go to the start of
        // the buffer, then moved to their places from the last one back: a
        // line moves only forwards, so none is overwritten before it moved.
        if (!read_bytes(p.in, std::span<uint8_t>(bgr, stored * count)))
            return PictureError::truncated;
        if (stride != stored)
            for (size_t k = count; k-- > 1;)
                std::memmove(bgr + k * stride, bgr + k * stored, used);
    } else {
        // Lines closer than the file's: each read to its place, its padding
        // (1 to 3 bytes) read past.
        std::array<uint8_t, 3> padding;
        for (size_t k = 0; k < count; ++k)
            if (!read_bytes(p.in, std::span<uint8_t>(bgr + k * stride, used)) ||
                !read_bytes(p.in, std::span<uint8_t>(padding.data(), stored - used)))
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
