// The reader as the first line stage, the pad stage, and the chain of them.
#include "pipeline/lines.hpp"

#include <algorithm>
#include <cstring>

namespace {

PictureError read_stream(void* state, uint8_t* out, size_t stride, uint32_t count, uint8_t* clear,
                         size_t clear_stride)
{
    return read_picture_lines(*static_cast<PictureStream*>(state), out, stride, count, clear, clear_stride);
}

PictureError finish_stream(void* state) { return finish_picture(*static_cast<PictureStream*>(state)); }

// Lines of `up` into `out` (and their transparency into `clear`, where
// given), each widened from up.width to `width` pixels by copies of its last
// pixel.
PictureError read_widened(const PadStage& st, uint8_t* out, size_t stride, uint32_t count, uint8_t* clear,
                          size_t clear_stride)
{
    if (const PictureError e = read_lines(st.up, out, stride, count, clear, clear_stride); e != PictureError::ok)
        return e;
    const size_t used = 3 * size_t(st.up.width), line = 3 * size_t(st.width);
    if (used == line)
        return PictureError::ok;
    for (size_t k = 0; k < count; ++k) {
        uint8_t* l = out + k * stride;
        for (size_t x = used; x < line; x += 3)
            std::memcpy(l + x, l + used - 3, 3);
        if (clear) {
            uint8_t* c = clear + k * clear_stride;
            std::memset(c + st.up.width, c[st.up.width - 1], st.width - st.up.width);
        }
    }
    return PictureError::ok;
}

PictureError read_padded(void* state, uint8_t* out, size_t stride, uint32_t count, uint8_t* clear,
                         size_t clear_stride)
{
    PadStage& st = *static_cast<PadStage*>(state);
    if (count > st.height - st.given)
        return PictureError::truncated;
    const size_t line = 3 * size_t(st.width);
    const uint32_t extra = st.height - st.up.height;
    // Lines with alpha are always read with their plane (see LineSource),
    // so the edge line's transparency is there to keep.
    const bool alpha = st.up.alpha && clear;
    const auto copy_edge = [&](uint32_t i) {
        std::memcpy(out + (i - st.given) * stride, st.edge.data(), line);
        if (clear)
            std::memcpy(clear + (i - st.given) * clear_stride, st.edge_clear.data(), st.width);
    };
    uint32_t i = st.given;
    const uint32_t end = i + count;
    if (extra > 0 && st.edge.empty()) {
        st.edge.resize(line);
        st.edge_clear.resize(st.width); // zero: opaque, for lines without alpha
    }
    uint8_t* edge_clear = alpha ? st.edge_clear.data() : nullptr;
    if (extra > 0 && !st.up.top_down) {
        // Lines 0 .. extra are the picture's first line.
        if (i == 0)
            if (const PictureError e = read_widened(st, st.edge.data(), line, 1, edge_clear, st.width);
                e != PictureError::ok)
                return e;
        for (; i < end && i <= extra; ++i)
            copy_edge(i);
    }
    // The picture's lines, up to its last one in a top-down source.
    const uint32_t last = st.up.top_down ? std::min(end, st.up.height) : end;
    if (i < last) {
        uint8_t* dst = out + (i - st.given) * stride;
        uint8_t* cl = clear ? clear + (i - st.given) * clear_stride : nullptr;
        if (const PictureError e = read_widened(st, dst, stride, last - i, cl, clear_stride); e != PictureError::ok)
            return e;
        if (extra > 0 && st.up.top_down && last == st.up.height) {
            std::memcpy(st.edge.data(), dst + (last - 1 - i) * stride, line);
            if (alpha)
                std::memcpy(st.edge_clear.data(), cl + (last - 1 - i) * clear_stride, st.width);
        }
        i = last;
    }
    for (; i < end; ++i)
        copy_edge(i);
    st.given = end;
    return PictureError::ok;
}

PictureError finish_padded(void* state) { return finish_lines(static_cast<PadStage*>(state)->up); }

} // namespace

LineSource picture_lines(PictureStream& p)
{
    LineSource s;
    s.width = p.source_width;
    s.height = p.source_height;
    s.top_down = p.top_down;
    s.alpha = p.alpha;
    // A PNG's decoder reads its compressed stream as it likes: neither
    // promise nor batching applies.
    s.promised = p.in.remaining != kUnknownSize && !p.png;
    s.piped = p.in.remaining == kUnknownSize && !p.png;
    s.read = read_stream;
    s.finish = finish_stream;
    s.state = &p;
    return s;
}

LineSource pad_lines(PadStage& st, const LineSource& up)
{
    st = PadStage{};
    st.up = up;
    // Never past 65528, itself a multiple of 8, for sides the reader accepted.
    st.width = (up.width + 7) & ~7u;
    st.height = (up.height + 7) & ~7u;
    LineSource s = up;
    s.width = st.width;
    s.height = st.height;
    s.read = read_padded;
    s.finish = finish_padded;
    s.state = &st;
    return s;
}

const LineSource& open_chain(LineChain& chain, PictureStream& p, const ReadOptions& opt)
{
    chain.out = picture_lines(p);
    chain.out.alpha = chain.out.alpha && opt.alpha;
    // The adjustments change the picture's colours, so they come first: the
    // letterbox's bars are the screen's black whatever the picture's
    // brightness, and the padding repeats the edge pixels as adjusted.
    if (changes_colours(opt.adjustments))
        chain.out = adjust_lines(chain.adjust, chain.out, opt.adjustments);
    // A picture of whole symbols needs no padding: the stage is left out;
    // nor does one scaled to a screen size.
    if (opt.fit_width != 0)
        chain.out = fit_lines(chain.fit, chain.out, opt);
    else if (opt.pad && (chain.out.width % 8 != 0 || chain.out.height % 8 != 0))
        chain.out = pad_lines(chain.pad, chain.out);
    return chain.out;
}
