// PNG through libpng, C style.
//
// libpng reports every error by longjmp back to the last setjmp. So each
// function here that calls into libpng sets its own jump point and holds only
// plain data: the reader's and writer's state live in malloc'd structs that
// outlive the jump, and nothing with a destructor sits in a frame that a jump
// can cross (the I/O callbacks included).
//
// What the encoders need from a PNG is its samples as stored, as 8-bit blue,
// green, red: gAMA, cHRM, sRGB and iCCP describe how to show the picture on a
// screen, and the tools convert numbers, as they do for a BMP. libpng applies
// none of them unless asked; they are not even read (every ancillary chunk
// but tRNS is skipped unparsed), which also spares inflating a large iCCP.
#include "common/pngio.hpp"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "common/screen.hpp"

bool is_png_signature(std::span<const uint8_t> head)
{
    static const uint8_t sig[kPngSignatureSize] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return head.size() >= kPngSignatureSize && std::memcmp(head.data(), sig, kPngSignatureSize) == 0;
}

namespace {

// libpng prints errors and warnings to standard error unless told otherwise;
// here a failure is a status value, and the program prints its own message.
[[noreturn]] void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

// libpng's allocations, so that a failed one is told apart from a damaged
// file: its mem pointer is the flag to set.
png_voidp on_malloc(png_structp png, png_alloc_size_t size)
{
    void* p = std::malloc(size);
    if (!p)
        *static_cast<bool*>(png_get_mem_ptr(png)) = true;
    return p;
}
void on_free(png_structp, png_voidp p) { std::free(p); }

bool valid_side(png_uint_32 v) { return v > 0 && v <= kMaxScreenSide && v % 8 == 0; }

} // namespace

// --- Reading ------------------------------------------------------------------

struct PngReader {
    png_structp png;
    png_infop info;
    Input* in;
    uint8_t ihdr[25];   // the IHDR chunk, read ahead to check the size, then handed to libpng
    size_t ihdr_given;
    bool out_of_memory;
    uint32_t width, height;
    bool sixteen;      // samples of 16 bits, big-endian, as PNG stores them
    bool alpha;        // a fourth sample per pixel, from an alpha channel or tRNS
    bool interlaced;
    size_t row_bytes;  // one row as libpng hands it over: RGB or RGBA, 8 or 16 bits
    uint8_t* row;      // not interlaced: the one row buffer, reused for every row
    uint8_t** rows;    // interlaced: the whole picture, a row allocated when a pass first reaches it
    bool decoded;      // interlaced: every pass has been read into `rows`
    uint32_t next;     // the next row to hand out, 0 = top
};

namespace {

PngStatus failure(const PngReader* r) { return r->out_of_memory ? PngStatus::no_memory : PngStatus::damaged; }

// The bytes come through the Input, never by seeking, so pipes work, and a
// file that ends early is a failure right where it ends.
void on_read(png_structp png, png_bytep data, size_t length)
{
    auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
    const size_t ahead = std::min(length, sizeof r->ihdr - r->ihdr_given);
    std::memcpy(data, r->ihdr + r->ihdr_given, ahead);
    r->ihdr_given += ahead;
    if (!read_bytes(*r->in, std::span<uint8_t>(data + ahead, length - ahead)))
        png_error(png, "the file ends early");
}

// The size, from the IHDR chunk that must come first, before libpng reads
// any further: a header that claims a size no screen can have is refused for
// its size, whatever follows it (even nothing).
PngStatus check_size(PngReader* r)
{
    if (!read_bytes(*r->in, r->ihdr))
        return PngStatus::damaged;
    if (std::memcmp(r->ihdr + 4, "IHDR", 4) != 0)
        return PngStatus::ok; // libpng tells it is damaged
    auto be32 = [](const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; };
    return valid_side(be32(r->ihdr + 8)) && valid_side(be32(r->ihdr + 12)) ? PngStatus::ok : PngStatus::bad_size;
}

PngStatus read_header(PngReader* r)
{
    if (const PngStatus s = check_size(r); s != PngStatus::ok)
        return s;
    if (setjmp(png_jmpbuf(r->png)))
        return failure(r);
    png_set_read_fn(r->png, r, on_read);
    png_set_sig_bytes(r->png, int(kPngSignatureSize));
    // Skip every ancillary chunk but tRNS: see the top of this file.
    png_set_keep_unknown_chunks(r->png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    // A palette index past the palette's end shows as black (libpng keeps
    // 256 entries, zeroed), as other readers show it, instead of failing.
    png_set_check_for_invalid_index(r->png, 0);
    png_read_info(r->png, r->info);

    // The same IHDR as libpng read it, checked again rather than trusted.
    r->width = png_get_image_width(r->png, r->info);
    r->height = png_get_image_height(r->png, r->info);
    if (!valid_side(r->width) || !valid_side(r->height))
        return PngStatus::bad_size;

    // Every colour type becomes RGB or RGBA at 8 or 16 bits. 1-, 2- and 4-bit
    // greys scale exactly (a 2-bit 1 becomes 85); a tRNS colour or grey
    // becomes alpha 0 and everything else alpha 255, compared at the stored
    // depth; a palette's tRNS entries become the alpha of their colours.
    const int colour = png_get_color_type(r->png, r->info);
    if (colour == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(r->png);
    if ((colour & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_expand_gray_1_2_4_to_8(r->png);
        png_set_gray_to_rgb(r->png);
    }
    if (png_get_valid(r->png, r->info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(r->png);
    r->interlaced = png_get_interlace_type(r->png, r->info) != PNG_INTERLACE_NONE;
    if (r->interlaced)
        png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);

    const int channels = png_get_channels(r->png, r->info);
    const int depth = png_get_bit_depth(r->png, r->info);
    if ((channels != 3 && channels != 4) || (depth != 8 && depth != 16))
        return PngStatus::damaged;
    r->alpha = channels == 4;
    r->sixteen = depth == 16;
    r->row_bytes = png_get_rowbytes(r->png, r->info);
    if (r->row_bytes != size_t(r->width) * size_t(channels) * size_t(depth / 8))
        return PngStatus::damaged;

    // A row buffer for a picture read row by row. An interlaced picture's last
    // pass fills every other row, so it is held whole, but its rows are
    // allocated only as the passes reach them: a header that claims a huge
    // picture and data that end soon after cost what was decoded.
    if (r->interlaced)
        r->rows = static_cast<uint8_t**>(std::calloc(r->height, sizeof *r->rows));
    else
        r->row = static_cast<uint8_t*>(std::malloc(r->row_bytes));
    if (!r->rows && !r->row)
        return PngStatus::no_memory;
    return PngStatus::ok;
}

// 16-bit samples become 8-bit as floor(v / 257), so 65535 stays 255 and the
// result is truncated like every other colour reduction in these tools.
inline unsigned sample(const uint8_t* p, bool sixteen)
{
    return sixteen ? ((unsigned(p[0]) << 8) | p[1]) / 257 : p[0];
}

// One row as libpng hands it over to blue, green, red. Alpha is composited
// over black after the 16-bit reduction: floor(c * a / 255) per channel.
void to_bgr(const PngReader* r, const uint8_t* src, uint8_t* dst)
{
    const uint32_t w = r->width;
    if (!r->sixteen && !r->alpha) {
        for (uint32_t x = 0; x < w; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        return;
    }
    const bool sixteen = r->sixteen;
    const size_t step = sixteen ? 2 : 1;
    const size_t pixel = step * (r->alpha ? 4 : 3);
    for (uint32_t x = 0; x < w; ++x, src += pixel, dst += 3) {
        const unsigned red = sample(src, sixteen), green = sample(src + step, sixteen),
                       blue = sample(src + 2 * step, sixteen);
        const unsigned a = r->alpha ? sample(src + 3 * step, sixteen) : 255;
        dst[0] = uint8_t(blue * a / 255);
        dst[1] = uint8_t(green * a / 255);
        dst[2] = uint8_t(red * a / 255);
    }
}

// Reads all seven passes of an interlaced picture. A row that is not in a
// pass is passed as null: libpng then only counts it.
PngStatus decode_interlaced(PngReader* r)
{
    for (int pass = 0; pass < 7; ++pass) {
        for (uint32_t y = 0; y < r->height; ++y) {
            uint8_t* row = nullptr;
            if (PNG_ROW_IN_INTERLACE_PASS(y, pass)) {
                if (!r->rows[y]) {
                    r->rows[y] = static_cast<uint8_t*>(std::malloc(r->row_bytes));
                    if (!r->rows[y])
                        return PngStatus::no_memory;
                }
                row = r->rows[y];
            }
            png_read_row(r->png, row, nullptr);
        }
    }
    r->decoded = true;
    return PngStatus::ok;
}

PngStatus read_rows(PngReader* r, uint8_t* bgr, ptrdiff_t stride, uint32_t count)
{
    if (setjmp(png_jmpbuf(r->png)))
        return failure(r);
    if (r->interlaced && !r->decoded) {
        if (const PngStatus s = decode_interlaced(r); s != PngStatus::ok)
            return s;
    }
    for (uint32_t k = 0; k < count; ++k, ++r->next) {
        uint8_t* dst = bgr + ptrdiff_t(k) * stride;
        if (r->interlaced) {
            to_bgr(r, r->rows[r->next], dst);
            std::free(r->rows[r->next]); // handed out: the picture shrinks as it is read
            r->rows[r->next] = nullptr;
        } else {
            png_read_row(r->png, r->row, nullptr);
            to_bgr(r, r->row, dst);
        }
    }
    return PngStatus::ok;
}

PngStatus read_end(PngReader* r)
{
    if (setjmp(png_jmpbuf(r->png)))
        return failure(r);
    // What follows the last row is the end of the zlib stream with its
    // checksum, and the chunks up to IEND. libpng calls a bad checksum or
    // data past the picture's end "benign" and would only warn; here they
    // mean the file is damaged.
    png_set_benign_errors(r->png, 0);
    png_read_end(r->png, nullptr);
    return PngStatus::ok;
}

} // namespace

PngStatus png_read_start(Input& in, PngReader*& reader, uint32_t& width, uint32_t& height)
{
    reader = nullptr;
    width = height = 0;
    auto* r = static_cast<PngReader*>(std::calloc(1, sizeof(PngReader)));
    if (!r)
        return PngStatus::no_memory;
    r->in = &in;
    r->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning, &r->out_of_memory,
                                      on_malloc, on_free);
    if (r->png)
        r->info = png_create_info_struct(r->png);
    if (!r->png || !r->info) {
        png_read_abort(r);
        return PngStatus::no_memory;
    }
    const PngStatus s = read_header(r);
    if (s != PngStatus::ok) {
        png_read_abort(r);
        return s;
    }
    reader = r;
    width = r->width;
    height = r->height;
    return PngStatus::ok;
}

PngStatus png_read_rows(PngReader* reader, uint8_t* bgr, ptrdiff_t stride, uint32_t count)
{
    if (count > reader->height - reader->next)
        return PngStatus::damaged; // more rows than the picture has: a caller's fault, never decoded
    return read_rows(reader, bgr, stride, count);
}

PngStatus png_read_finish(PngReader* reader)
{
    const PngStatus s = reader->next == reader->height ? read_end(reader) : PngStatus::damaged;
    png_read_abort(reader);
    return s;
}

void png_read_abort(PngReader* reader)
{
    if (!reader)
        return;
    if (reader->png)
        png_destroy_read_struct(&reader->png, reader->info ? &reader->info : nullptr, nullptr);
    std::free(reader->row);
    if (reader->rows) {
        for (uint32_t y = 0; y < reader->height; ++y)
            std::free(reader->rows[y]);
        std::free(reader->rows);
    }
    std::free(reader);
}

// --- Writing ------------------------------------------------------------------

struct PngWriter {
    png_structp png;
    png_infop info;
    std::FILE* out;
    bool out_of_memory;
};

namespace {

// Every write is checked: a full disk ends the PNG with a failure, not with
// a file that looks written.
void on_write(png_structp png, png_bytep data, size_t length)
{
    auto* w = static_cast<PngWriter*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, w->out) != length)
        png_error(png, "write failed");
}

void on_flush(png_structp png)
{
    auto* w = static_cast<PngWriter*>(png_get_io_ptr(png));
    if (std::fflush(w->out) != 0)
        png_error(png, "write failed");
}

bool write_header(PngWriter* w, uint32_t width, uint32_t height)
{
    if (setjmp(png_jmpbuf(w->png)))
        return false;
    png_set_write_fn(w->png, w, on_write, on_flush);
    png_set_IHDR(w->png, w->info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // A screen's rows are runs of a symbol's four colours: the Sub filter
    // turns a run into zeros, and zlib's run-length strategy finds them about
    // six times as fast as its default search, for a file some 10% larger.
    png_set_filter(w->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_strategy(w->png, Z_RLE);
    png_write_info(w->png, w->info);
    png_set_bgr(w->png);
    return true;
}

bool write_rows(PngWriter* w, const uint8_t* bgr, ptrdiff_t stride, uint32_t count)
{
    if (setjmp(png_jmpbuf(w->png)))
        return false;
    for (uint32_t k = 0; k < count; ++k)
        png_write_row(w->png, bgr + ptrdiff_t(k) * stride);
    return true;
}

bool write_end(PngWriter* w)
{
    if (setjmp(png_jmpbuf(w->png)))
        return false;
    png_write_end(w->png, nullptr);
    png_write_flush(w->png);
    return true;
}

} // namespace

bool png_write_start(std::FILE* out, uint32_t width, uint32_t height, PngWriter*& writer)
{
    writer = nullptr;
    auto* w = static_cast<PngWriter*>(std::calloc(1, sizeof(PngWriter)));
    if (!w)
        return false;
    w->out = out;
    w->png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning, &w->out_of_memory,
                                       on_malloc, on_free);
    if (w->png)
        w->info = png_create_info_struct(w->png);
    if (!w->png || !w->info || !write_header(w, width, height)) {
        png_write_abort(w);
        return false;
    }
    writer = w;
    return true;
}

bool png_write_rows(PngWriter* writer, const uint8_t* bgr, ptrdiff_t stride, uint32_t count)
{
    return write_rows(writer, bgr, stride, count);
}

bool png_write_finish(PngWriter* writer)
{
    const bool ok = write_end(writer);
    png_write_abort(writer);
    return ok;
}

void png_write_abort(PngWriter* writer)
{
    if (!writer)
        return;
    if (writer->png)
        png_destroy_write_struct(&writer->png, writer->info ? &writer->info : nullptr);
    std::free(writer);
}
