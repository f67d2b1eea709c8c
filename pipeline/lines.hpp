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
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/picture.hpp"

// Where a stage's lines come from.
struct LineSource {
    uint32_t width = 0, height = 0; // of the lines handed out
    bool top_down = false;          // lines arrive top line first, else bottom line first
    // What is known of the lines before they arrive. `promised`: the input's
    // size showed that all of them are there (a regular file), so arrays for
    // the whole picture may be allocated at once. `piped`: they come through
    // a pipe, where reading many lines at a time saves waking its writer.
    bool promised = false;
    bool piped = false;
    // The next `count` lines, line k at out + k * stride (stride at least
    // 3 * width); never more lines than are left.
    PictureError (*read)(void* state, uint8_t* out, size_t stride, uint32_t count) = nullptr;
    // After the last line: whatever the input still needs read or checked.
    PictureError (*finish)(void* state) = nullptr;
    void* state = nullptr;
};

inline PictureError read_lines(const LineSource& src, uint8_t* out, size_t stride, uint32_t count)
{
    return src.read(src.state, out, stride, count);
}
inline PictureError finish_lines(const LineSource& src) { return src.finish(src.state); }

// The reader as the first stage: the picture's own lines, as they arrive.
LineSource picture_lines(PictureStream& p);

// The pad stage: the lines of `up` widened to the next multiple of 8 by
// copies of their last pixel, and copies of the picture's bottom line
// below it up to the next multiple of 8 lines. They arrive where that line
// lies: after it from a top-down source, before it from a bottom-up one, so
// the line is kept, read ahead of its copies or saved as it passes.
struct PadStage {
    LineSource up;
    uint32_t width = 0, height = 0;
    uint32_t given = 0;        // lines handed out so far
    std::vector<uint8_t> edge; // the bottom line, widened, while it is to be repeated
};
LineSource pad_lines(PadStage& st, const LineSource& up);

// The stages a program reads a picture through, in order: the reader, then
// the pad stage where the options ask for it and the picture needs it. The
// sources point into the chain, so it stays where it was opened.
struct LineChain {
    PadStage pad;
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
