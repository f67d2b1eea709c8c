// The chain of line stages between a picture's file and the walk over its
// symbols.
//
// Every stage hands out lines of blue-green-red pixels, in the order they
// arrive, and knows the width and height of what it hands out and whether
// the lines run top line first. The reader is the first stage; each further
// stage takes its lines from the one before and may change them (the pad
// stage widens them and adds copies of the edge line) and their size. The
// walk (pipeline/walk.hpp), encsprite and the page take their lines from the
// last stage and know nothing of the stages before it.
//
// A new stage is a state struct that holds the LineSource it reads from, a
// read function that pulls as many lines from it as it needs (into its own
// buffer where it needs lines of look-ahead, a scaler's filter window, say),
// a finish function that passes the finish on (after reading past what it
// dropped, where it drops lines: a PNG is read to its end), and a member of
// LineChain with a line in open_chain that puts it in its place.
//
// Memory: a stage holds what its own look-ahead needs; the reader and the
// pad stage hold a line at most.
//
// Transparency: where the picture's pixels may be transparent (a PNG with an
// alpha channel or tRNS) and the program asks for it (ReadOptions::alpha),
// the lines come with a plane of a byte a pixel beside them, 1 where the
// pixel is transparent, 0 where it is opaque; its colour is still the one
// shown over black. Each stage hands it on with the lines it belongs to; a
// picture without alpha has no plane, and costs nothing more.
#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <vector>

#include "formats/picture.hpp"

// Where a stage's lines come from.
struct LineSource {
    uint32_t width = 0, height = 0; // of the lines handed out
    bool top_down = false;          // lines arrive top line first, else bottom line first
    bool alpha = false;             // a plane of transparency comes with the lines
    // What is known of the lines before they arrive. `promised`: the input's
    // size showed that all of them are there (a regular file), so arrays for
    // the whole picture may be allocated at once. `piped`: they come through
    // a pipe, where reading many lines at a time saves waking its writer.
    bool promised = false;
    bool piped = false;
    // The next `count` lines, line k at out + k * stride (stride at least
    // 3 * width); never more lines than are left. Where `clear` is given,
    // line k's transparency goes to clear + k * clear_stride (all 0 without
    // alpha). Lines with alpha are read with their plane every time: a
    // stage may keep a line's for later.
    PictureError (*read)(void* state, uint8_t* out, size_t stride, uint32_t count, uint8_t* clear,
                         size_t clear_stride) = nullptr;
    // After the last line: whatever the input still needs read or checked.
    PictureError (*finish)(void* state) = nullptr;
    void* state = nullptr;
};

inline PictureError read_lines(const LineSource& src, uint8_t* out, size_t stride, uint32_t count,
                               uint8_t* clear = nullptr, size_t clear_stride = 0)
{
    return src.read(src.state, out, stride, count, clear, clear_stride);
}
inline PictureError finish_lines(const LineSource& src) { return src.finish(src.state); }

// The reader as the first stage: the picture's own lines, as they arrive.
LineSource picture_lines(PictureStream& p);

// The pad stage: the lines of `up` widened to the next multiple of 8 by
// copies of their last pixel, and copies of the picture's bottom line
// below it up to the next multiple of 8 lines. They arrive where that line
// lies: after it from a top-down source, before it from a bottom-up one, so
// the line is kept, read ahead of its copies or saved as it passes. The
// copies are of whole pixels, transparency and all: a sheet of sprites on a
// transparent background is padded with more of it.
struct PadStage {
    LineSource up;
    uint32_t width = 0, height = 0;
    uint32_t given = 0;        // lines handed out so far
    std::vector<uint8_t> edge; // the bottom line, widened, while it is to be repeated
    std::vector<uint8_t> edge_clear; // its transparency, where the lines have it
};
LineSource pad_lines(PadStage& st, const LineSource& up);

// The fit stage: the lines of `up`, a picture of any size, scaled to
// width x height (ReadOptions::fit_width, fit_height). It covers the screen
// and the cut lies at fit_x, fit_y, or, letterboxed, fits inside it between
// black bars placed by them. Scaled by area averaging in linear light: each
// pixel of the screen is the mean light of the picture's area it covers,
// the partly covered pixels at its edges weighed by how much of them it
// covers. That is the filter for reduction: every picture pixel counts, by
// its share, so a fine pattern becomes its mean and nothing aliases. A
// screen pixel that covers less than a picture pixel (an enlargement) takes
// that pixel, blended with its neighbour where it straddles two.
//
// All in integers: places in 1/256 of a picture pixel, light in 16 bits
// (colour/light.hpp). Each picture line is summed across into the screen's
// columns as it arrives, and a screen line is the sum of the lines it
// covers; the last line across is kept, as it may straddle into the next
// screen line. Lines arrive in the
// picture's order; for a bottom-up source the vertical plan is mirrored, so
// both orders of the same picture give the same bytes.
//
// With transparency, a screen pixel is transparent where more than half of
// the area it covers is (the same shares, summed the same way); its colour
// is the mean as ever, over black. Letterbox bars are opaque black.
struct FitStage {
    LineSource up;
    uint32_t width = 0, height = 0;
    // The screen's columns and lines that hold the picture (the rest are
    // bars), lines in the order they arrive, and the picture's area each
    // line covers, in places of 1/256 of a pixel.
    uint32_t x_first = 0, x_count = 0, y_first = 0, y_count = 0;
    struct Span {
        uint32_t from, to;
    };
    std::vector<Span> ys;
    // The picture columns each screen column covers: the first and the
    // last, partly covered by their shares, those between whole.
    struct Column {
        uint32_t first = 0, last = 0, first_share = 0, last_share = 0;
        uint64_t places = 0; // the area's width
    };
    std::vector<Column> columns;
    std::array<uint32_t, 256> light{};   // each byte's linear light
    std::vector<uint8_t> line;           // the last picture line read
    uint32_t lines_read = 0;             // picture lines read so far
    std::vector<uint64_t> row;           // picture line row_line across, for each screen column
    uint32_t row_line = UINT32_MAX;
    std::vector<uint64_t> acc;           // the lines across summed for a screen line
    uint32_t given = 0;               // screen lines handed out so far
    // With transparency: the last line's plane, and the transparent places
    // across and summed, as for the light.
    std::vector<uint8_t> line_clear;
    std::vector<uint64_t> row_clear, acc_clear;
};
LineSource fit_lines(FitStage& st, const LineSource& up, const ReadOptions& opt);

// The adjustment stage: brightness, contrast and gamma as a table for each
// byte value, saturation mixing each pixel with its grey; in the order given.
// Consecutive tables are merged into one. Transparency passes unchanged.
struct AdjustStage {
    LineSource up;
    struct Step {
        bool saturation = false;
        int percent = 100;               // saturation's
        std::array<uint8_t, 256> table{}; // the others'
    };
    std::vector<Step> steps;
};
LineSource adjust_lines(AdjustStage& st, const LineSource& up, const std::vector<Adjustment>& adjustments);
// Whether any of them changes a colour: neutral ones leave the stage out.
bool changes_colours(const std::vector<Adjustment>& adjustments);

// The stages a program reads a picture through, in order: the reader, then
// the adjustment stage where the options ask for any that changes a colour
// (the picture's colours, before the letterbox's black bars are added), then
// the pad stage where the options ask for it and the picture needs it, or
// the fit stage where they ask for a size. Transparency comes through where
// the options ask for it (ReadOptions::alpha) and the picture has it. The
// sources point into the chain, so it stays where it was opened.
struct LineChain {
    PadStage pad;
    FitStage fit;
    AdjustStage adjust;
    LineSource out; // the last stage's lines

    LineChain() = default;
    LineChain(const LineChain&) = delete;
    LineChain& operator=(const LineChain&) = delete;
};
const LineSource& open_chain(LineChain& chain, PictureStream& p, const ReadOptions& opt);

// read_picture (formats/picture.hpp) through the chain: read(lines) gets the
// last stage's source, reads all of its lines and finishes it.
template <class Read>
auto reading_through_chain(Read& read, const ReadOptions& opt)
{
    return [&read, &opt](PictureStream& p) {
        LineChain chain;
        return read(open_chain(chain, p, opt));
    };
}

template <class Read>
PictureError read_through_chain(Input in, Read&& read, const ReadOptions& opt = {})
{
    return read_picture(in, reading_through_chain(read, opt), opt);
}

template <class Read>
PictureError read_through_chain(const char* path, Read&& read, const ReadOptions& opt = {})
{
    return read_picture(path, reading_through_chain(read, opt), opt);
}
