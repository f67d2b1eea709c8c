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
#include "formats/pngio.hpp"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "formats/screen.hpp"

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

bool valid_side(png_uint_32 v, bool any_size)
{
    return v > 0 && v <= kMaxScreenSide && (any_size || v % 8 == 0);
}

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
    bool any_size;     // sides need not be multiples of 8
    bool sixteen;      // samples of 16 bits, big-endian, as PNG stores them
    bool alpha;        // a fourth sample per pixel, from an alpha channel or tRNS
    bool transparency; // an alpha channel or a tRNS chunk: pixels may be transparent
    bool interlaced;
    size_t row_bytes;  // one row as libpng hands it over
    uint8_t* row;      // the one row buffer, reused for every row read
    uint32_t next;     // the next row to hand out, 0 = top
    bool rows_done;    // the last row has been read: no image data may follow

    // Interlaced pictures are read as stored (see decode_even_rows): the
    // colour type and depth, the palette with its alpha, the tRNS colour.
    int colour, depth;
    uint8_t palette[256][3]; // entries past the palette's end stay black
    uint8_t palette_alpha[256];
    bool has_key;
    uint16_t key[3];         // grey, or red, green, blue, at the stored depth
    uint8_t** even[6];       // passes 1 to 6, a row allocated as it arrives
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
#ifdef PNG_IO_STATE_SUPPORTED
    // After the last row libpng reads on only to the end of the zlib stream.
    // Where that stream lacks its end, it gives up there without a word and
    // skips any IDAT chunks still to come: data in one of them means that
    // the stream was broken.
    if (r->rows_done && (png_get_io_state(png) & PNG_IO_MASK_LOC) == PNG_IO_CHUNK_DATA &&
        png_get_io_chunk_type(png) == 0x49444154) // "IDAT"
        png_error(png, "image data after the picture's end");
#endif
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
    r->width = be32(r->ihdr + 8);
    r->height = be32(r->ihdr + 12);
    return valid_side(r->width, r->any_size) && valid_side(r->height, r->any_size) ? PngStatus::ok
                                                                                   : PngStatus::bad_size;
}

// Every colour type becomes RGB or RGBA at 8 or 16 bits. 1-, 2- and 4-bit
// greys scale exactly (a 2-bit 1 becomes 85); a tRNS colour or grey becomes
// alpha 0 and everything else alpha 255, compared at the stored depth; a
// palette's tRNS entries become the alpha of their colours.
bool set_transforms(PngReader* r)
{
    if (r->colour == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(r->png);
    if ((r->colour & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_expand_gray_1_2_4_to_8(r->png);
        png_set_gray_to_rgb(r->png);
    }
    if (png_get_valid(r->png, r->info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(r->png);
    png_read_update_info(r->png, r->info);

    const int channels = png_get_channels(r->png, r->info);
    const int depth = png_get_bit_depth(r->png, r->info);
    if ((channels != 3 && channels != 4) || (depth != 8 && depth != 16))
        return false;
    r->alpha = channels == 4;
    r->sixteen = depth == 16;
    r->row_bytes = png_get_rowbytes(r->png, r->info);
    return r->row_bytes == size_t(r->width) * size_t(channels) * size_t(depth / 8);
}

// An interlaced picture's odd lines all come in the last of its seven
// passes, whole; its even lines come in the six passes before, scattered.
// So the six passes are held, as they arrive and as they are stored (a 1-bit
// grey picture in an eighth of a byte a pixel, not in three bytes), and the
// last pass is read a row at a time as the lines are handed out. A header
// that claims a huge picture costs only the rows that arrive.
bool keep_stored_form(PngReader* r)
{
    png_read_update_info(r->png, r->info);
    r->row_bytes = png_get_rowbytes(r->png, r->info);
    const int channels = png_get_channels(r->png, r->info);
    if (r->row_bytes != (uint64_t(r->width) * unsigned(channels) * unsigned(r->depth) + 7) / 8)
        return false;
    r->sixteen = r->depth == 16;
    png_colorp plte = nullptr;
    int entries = 0;
    if (png_get_PLTE(r->png, r->info, &plte, &entries) & PNG_INFO_PLTE)
        for (int i = 0; i < entries && i < 256; ++i)
            r->palette[i][0] = plte[i].red, r->palette[i][1] = plte[i].green, r->palette[i][2] = plte[i].blue;
    std::memset(r->palette_alpha, 255, sizeof r->palette_alpha);
    png_bytep trans = nullptr;
    int trans_count = 0;
    png_color_16p key = nullptr;
    if (png_get_tRNS(r->png, r->info, &trans, &trans_count, &key) & PNG_INFO_tRNS) {
        if (r->colour == PNG_COLOR_TYPE_PALETTE && trans) {
            std::memcpy(r->palette_alpha, trans, size_t(std::clamp(trans_count, 0, 256)));
        } else if (key && (r->colour == PNG_COLOR_TYPE_GRAY || r->colour == PNG_COLOR_TYPE_RGB)) {
            r->has_key = true;
            r->key[0] = r->colour == PNG_COLOR_TYPE_GRAY ? key->gray : key->red;
            r->key[1] = key->green;
            r->key[2] = key->blue;
        }
    }
    r->alpha = r->has_key || (r->colour & PNG_COLOR_MASK_ALPHA) || r->colour == PNG_COLOR_TYPE_PALETTE;
    for (int p = 0; p < 6; ++p) {
        r->even[p] = static_cast<uint8_t**>(std::calloc(PNG_PASS_ROWS(r->height, p), sizeof(uint8_t*)));
        if (!r->even[p])
            return r->out_of_memory = true, false;
    }
    return true;
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
    if (!valid_side(r->width, r->any_size) || !valid_side(r->height, r->any_size))
        return PngStatus::bad_size;

    r->interlaced = png_get_interlace_type(r->png, r->info) != PNG_INTERLACE_NONE;
    r->colour = png_get_color_type(r->png, r->info);
    r->transparency = (r->colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(r->png, r->info, PNG_INFO_tRNS);
    r->depth = png_get_bit_depth(r->png, r->info);
    if (r->interlaced ? !keep_stored_form(r) : !set_transforms(r))
        return failure(r);
    // From here on, what libpng calls a benign error (a wrong zlib checksum,
    // compressed data past the picture, a stream cut short, which it finds
    // inside the last row or after it) means the file is damaged. Ancillary
    // chunks before the image data have been skipped by now, as promised.
    png_set_benign_errors(r->png, 0);
    r->row = static_cast<uint8_t*>(std::malloc(r->row_bytes));
    if (!r->row)
        return PngStatus::no_memory;
    return PngStatus::ok;
}

// 16-bit samples become 8-bit as floor(v / 257), so 65535 stays 255 and the
// result is truncated like every other colour reduction in these tools.
inline unsigned sample(const uint8_t* p, bool sixteen)
{
    return sixteen ? ((unsigned(p[0]) << 8) | p[1]) / 257 : p[0];
}

// Transparent: alpha below half, after the 16-bit reduction.
inline uint8_t is_clear(unsigned a) { return a < 128; }

// One row as libpng hands it over to blue, green, red. Alpha is composited
// over black after the 16-bit reduction: floor(c * a / 255) per channel; with
// `clear`, each pixel's transparency goes there.
void to_bgr(const PngReader* r, const uint8_t* src, uint8_t* dst, uint8_t* clear)
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
        if (clear)
            clear[x] = is_clear(a);
    }
}

// Sample i of `bits` bits in a row as stored: packed from the high bits
// down below 8 bits, big-endian at 16.
inline unsigned stored_sample(const uint8_t* row, size_t i, int bits)
{
    if (bits == 8)
        return row[i];
    if (bits == 16)
        return unsigned(row[2 * i]) << 8 | row[2 * i + 1];
    const size_t bit = i * size_t(bits);
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

// Pixel i of a row as stored to blue, green, red, by the rules libpng's
// transforms follow for the rows of other pictures (see set_transforms and
// to_bgr), so that interlacing never changes a conversion.
void stored_to_bgr(const PngReader* r, const uint8_t* row, size_t i, uint8_t* dst, uint8_t* clear)
{
    const int d = r->depth;
    unsigned red, green, blue, a = 255;
    if (r->colour == PNG_COLOR_TYPE_PALETTE) {
        const unsigned index = stored_sample(row, i, d);
        red = r->palette[index][0], green = r->palette[index][1], blue = r->palette[index][2];
        a = r->palette_alpha[index];
    } else {
        const size_t channels = size_t(png_get_channels(r->png, r->info));
        unsigned v[4];
        for (size_t c = 0; c < channels; ++c)
            v[c] = stored_sample(row, i * channels + c, d);
        const bool colour = r->colour & PNG_COLOR_MASK_COLOR;
        if (r->has_key)
            a = (colour ? v[0] == r->key[0] && v[1] == r->key[1] && v[2] == r->key[2] : v[0] == r->key[0]) ? 0 : 255;
        const auto eight = [d](unsigned s) { return d == 16 ? s / 257 : d < 8 ? s * (255 / ((1u << d) - 1)) : s; };
        if (r->colour & PNG_COLOR_MASK_ALPHA)
            a = eight(v[channels - 1]);
        red = eight(v[0]);
        green = colour ? eight(v[1]) : red;
        blue = colour ? eight(v[2]) : red;
    }
    dst[0] = uint8_t(blue * a / 255);
    dst[1] = uint8_t(green * a / 255);
    dst[2] = uint8_t(red * a / 255);
    if (clear)
        *clear = is_clear(a);
}

// Reads the six passes that hold the even lines, each row as it arrives.
PngStatus decode_even_rows(PngReader* r)
{
    const int bits = png_get_channels(r->png, r->info) * r->depth;
    for (int p = 0; p < 6; ++p) {
        const size_t bytes = (uint64_t(PNG_PASS_COLS(r->width, p)) * unsigned(bits) + 7) / 8;
        // A pass without columns (a picture narrower than 5 pixels has some)
        // has no rows in the file either: libpng goes on to the next pass.
        const uint32_t rows = bytes ? PNG_PASS_ROWS(r->height, p) : 0;
        for (uint32_t k = 0; k < rows; ++k) {
            // libpng copies a whole line's bytes, whatever the pass holds.
            png_read_row(r->png, r->row, nullptr);
            r->even[p][k] = static_cast<uint8_t*>(std::malloc(bytes));
            if (!r->even[p][k])
                return PngStatus::no_memory;
            std::memcpy(r->even[p][k], r->row, bytes);
        }
    }
    return PngStatus::ok;
}

// Even line y of an interlaced picture, gathered from the passes that hold
// its pixels; their rows are freed once the line is handed out.
void even_line_to_bgr(PngReader* r, uint32_t y, uint8_t* dst, uint8_t* clear)
{
    const uint8_t* rows[6] = {};
    for (int p = 0; p < 6; ++p)
        if (PNG_ROW_IN_INTERLACE_PASS(y, p))
            rows[p] = r->even[p][(y - PNG_PASS_START_ROW(p)) >> PNG_PASS_ROW_SHIFT(p)];
    for (uint32_t x = 0; x < r->width; ++x) {
        int p = 0;
        while (!(PNG_ROW_IN_INTERLACE_PASS(y, p) && PNG_COL_IN_INTERLACE_PASS(x, p)))
            ++p;
        stored_to_bgr(r, rows[p], (x - PNG_PASS_START_COL(p)) >> PNG_PASS_COL_SHIFT(p), dst + 3 * size_t(x),
                      clear ? clear + x : nullptr);
    }
    for (int p = 0; p < 6; ++p) {
        if (!rows[p])
            continue;
        uint8_t*& row = r->even[p][(y - PNG_PASS_START_ROW(p)) >> PNG_PASS_ROW_SHIFT(p)];
        std::free(row);
        row = nullptr;
    }
}

PngStatus read_rows(PngReader* r, uint8_t* bgr, ptrdiff_t stride, uint32_t count, uint8_t* clear,
                    ptrdiff_t clear_stride)
{
    if (setjmp(png_jmpbuf(r->png)))
        return failure(r);
    if (r->interlaced && r->next == 0) {
        if (const PngStatus s = decode_even_rows(r); s != PngStatus::ok)
            return s;
    }
    for (uint32_t k = 0; k < count; ++k, ++r->next) {
        uint8_t* dst = bgr + ptrdiff_t(k) * stride;
        uint8_t* cl = clear ? clear + ptrdiff_t(k) * clear_stride : nullptr;
        if (cl && !r->alpha)
            std::memset(cl, 0, r->width);
        if (r->interlaced && r->next % 2 == 0) {
            even_line_to_bgr(r, r->next, dst, cl);
        } else if (r->interlaced) {
            png_read_row(r->png, r->row, nullptr); // the last pass: odd lines, whole
            for (uint32_t x = 0; x < r->width; ++x)
                stored_to_bgr(r, r->row, x, dst + 3 * size_t(x), cl ? cl + x : nullptr);
        } else {
            png_read_row(r->png, r->row, nullptr);
            to_bgr(r, r->row, dst, cl);
        }
    }
    r->rows_done = r->next == r->height;
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

PngStatus png_read_start(Input& in, PngReader*& reader, uint32_t& width, uint32_t& height, bool any_size)
{
    reader = nullptr;
    width = height = 0;
    auto* r = static_cast<PngReader*>(std::calloc(1, sizeof(PngReader)));
    if (!r)
        return PngStatus::no_memory;
    r->in = &in;
    r->any_size = any_size;
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
        if (s == PngStatus::bad_size) { // for the diagnostic: the size refused
            width = r->width;
            height = r->height;
        }
        png_read_abort(r);
        return s;
    }
    reader = r;
    width = r->width;
    height = r->height;
    return PngStatus::ok;
}

PngStatus png_read_rows(PngReader* reader, uint8_t* bgr, ptrdiff_t stride, uint32_t count, uint8_t* clear,
                        ptrdiff_t clear_stride)
{
    if (count > reader->height - reader->next)
        return PngStatus::damaged; // more rows than the picture has: a caller's fault, never decoded
    return read_rows(reader, bgr, stride, count, clear, clear_stride);
}

bool png_has_transparency(const PngReader* reader) { return reader->transparency; }

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
    for (int p = 0; p < 6; ++p) {
        if (!reader->even[p])
            continue;
        for (uint32_t k = 0; k < PNG_PASS_ROWS(reader->height, p); ++k)
            std::free(reader->even[p][k]);
        std::free(reader->even[p]);
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

bool write_header(PngWriter* w, uint32_t width, uint32_t height, const char* software)
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
    if (software) {
        png_text text{};
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<char*>("Software");
        text.text = const_cast<char*>(software);
        png_set_text(w->png, w->info, &text, 1);
    }
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

bool png_write_start(std::FILE* out, uint32_t width, uint32_t height, PngWriter*& writer, const char* software)
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
    if (!w->png || !w->info || !write_header(w, width, height, software)) {
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
