// Reading a picture a band of lines at a time: a 24-bit BMP, or a PNG.
//
// The BMP headers are parsed by formats/bmp.hpp, which shows their layout.
//
// Each line holds the width's pixels of blue, green, red, padded to a multiple
// of 4 bytes; screens are multiples of 8 pixels wide, so their lines need no
// padding, but the lines of a picture read with ReadOptions::pad may.
//
// This is the first stage of the chain of line stages (pipeline/lines.hpp):
// it hands out the picture's own lines, as the file holds them.
//
// A PNG is recognised by its 8-byte signature and decoded by formats/pngio;
// its rows arrive top line first, like those of a top-down BMP.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "io/input.hpp"
#include "formats/pngio.hpp"

enum class PictureError {
    ok,
    cannot_open, // the file cannot be opened
    not_24bit,   // shorter than its headers, not 24 bits a pixel, compressed, odd masks
    bad_size,    // width or height not a positive multiple of 8 up to 65528 (padded: 0 or above 65528)
    truncated,   // fewer pixel bytes than the header promises
    png_damaged, // a PNG that libpng cannot decode to its end
};

// What the reader found where it failed, for the programs' diagnostics.
struct PictureReport {
    int error = 0;                    // cannot_open: the system's reason (errno)
    std::array<uint8_t, 64> head{};   // the file's first bytes, as far as they were read
    size_t head_size = 0;
    uint64_t got = 0;                 // the bytes read before the failure
    int64_t width = 0, height = 0;    // bad_size: the size the header gives
    uint64_t size = kUnknownSize;     // truncated: the bytes the file has, where known
    uint64_t needed = 0;              // the bytes the headers or the picture need
};

// How a picture is read. With pad, a picture of any size from 1 to 65528
// pixels a side is accepted, and the pad stage (pipeline/lines.hpp) repeats its
// last column at its right and its last line below it up to the next
// multiples of 8: the copies bring no colour into the edge symbols that the
// picture does not have there.
//
// The rest shapes the picture in the stages after the reader (see
// pipeline/lines.hpp): with fit_width set, a picture of any size up to 65528
// a side is scaled to fit_width x fit_height (multiples of 8), and the
// adjustments change its colours in the order given.
struct Adjustment {
    enum Kind { brightness, contrast, saturation, gamma } kind;
    int value; // brightness, contrast -100 .. 100; saturation 0 .. 200 (%); gamma in thousandths, 200 .. 5000
};

// Fractions for the place of the cut: 0 .. kWhole.
inline constexpr uint32_t kWhole = 65536;

struct ReadOptions {
    bool pad = false;
    uint32_t fit_width = 0, fit_height = 0; // 0: the picture's own size
    bool letterbox = false;                 // fit inside, black bars, rather than cover and cut
    // Where the cut lies (or the picture between the bars): 0 the left or
    // top, kWhole the right or bottom.
    uint32_t fit_x = kWhole / 2, fit_y = kWhole / 2;
    std::vector<Adjustment> adjustments;
    // Hand on which pixels are transparent, where the picture has alpha
    // (pipeline/lines.hpp): encsprite's masks. Without it, transparent parts
    // are only shown over black.
    bool alpha = false;
    PictureReport* report = nullptr; // where a failure's details go, if anywhere
};

// Whether a picture of any size up to 65528 a side will do: padded or scaled.
inline bool takes_any_size(const ReadOptions& o) { return o.pad || o.fit_width != 0; }

// An open picture whose header has been read. Lines arrive bottom line first
// from a bottom-up BMP, top line first from a top-down BMP or a PNG.
struct PictureStream {
    Input in;
    uint32_t width = 0, height = 0;               // the picture's rounded up to multiples of 8
    uint32_t source_width = 0, source_height = 0; // the picture's own, as its header says: what the lines hold
    bool top_down = false;
    bool alpha = false;       // pixels may be transparent: a PNG with an alpha channel or tRNS
    PngReader* png = nullptr; // set while a PNG is being decoded
    uint32_t lines_read = 0;
    std::array<uint8_t, 64> head{}; // the file's first bytes, for a report of a failure
    size_t head_size = 0;
};

// Reads and checks the header from an input already open; nothing of the
// pixels is read. On failure the stream is closed.
PictureError read_picture_header(Input in, PictureStream& p, const ReadOptions& opt = {});

// The next `count` of the picture's own lines in the order they arrive, each
// of 3 * source_width bytes, line k at bgr + k * stride (stride at least
// 3 * source_width; lines as far apart as the file's, or further, are read
// in one go). Where `clear` is given, line k's transparency goes to
// clear + k * clear_stride, a byte a pixel: 1 transparent, 0 opaque (every
// pixel of a picture without alpha). The colours of transparent pixels are
// shown over black, as ever.
PictureError read_picture_lines(PictureStream& p, uint8_t* bgr, size_t stride, uint32_t count,
                                uint8_t* clear = nullptr, size_t clear_stride = 0);

// After the last line: a PNG is read to its end, where a damaged checksum
// would still show. Bytes after a BMP's pixels are not looked at.
PictureError finish_picture(PictureStream& p);

// What a failed read found, for the report: the first bytes, the size they
// claim, the bytes the file has (`size`, where known) and those it needs.
void report_failure(const PictureStream& p, uint64_t size, PictureReport& r);

// Frees the decoder, if any, and closes the input.
void close_picture(PictureStream& p);

// Reads the header from `in`, then the rest with read(stream), and closes the input.
template <class Read>
PictureError read_picture(Input in, Read&& read, const ReadOptions& opt = {})
{
    const uint64_t size = in.remaining;
    PictureStream p;
    PictureError e = read_picture_header(in, p, opt);
    if (e == PictureError::ok) {
        e = read(p);
        close_picture(p);
    }
    if (e != PictureError::ok && opt.report)
        report_failure(p, size, *opt.report);
    return e;
}

// The same for the file at `path`.
template <class Read>
PictureError read_picture(const char* path, Read&& read, const ReadOptions& opt = {})
{
    Input in;
    if (!open_input(path, in)) {
        if (opt.report)
            opt.report->error = in.error;
        return PictureError::cannot_open;
    }
    return read_picture(in, read, opt);
}
