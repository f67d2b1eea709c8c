// The fit stage: a picture scaled to a screen size by area averaging in
// linear light; see lines.hpp.
#include <algorithm>
#include <bit>
#include <cstring>

#include "colour/light.hpp"
#include "pipeline/lines.hpp"

namespace {

// One axis of the plan: `count` screen pixels from `first` on cover the
// picture's `length` places (1/256 of a pixel) from `start`.
struct Axis {
    uint32_t first = 0, count = 0;
    uint64_t start = 0, length = 0;
};

// The edges of the area each of the axis's screen pixels covers.
std::vector<uint32_t> edges(const Axis& a)
{
    std::vector<uint32_t> e(size_t(a.count) + 1);
    for (uint32_t i = 0; i <= a.count; ++i)
        e[i] = uint32_t(a.start + a.length * i / a.count);
    return e;
}

// The end of the area that starts at e0 where the next starts at e1: at
// least one place on, where an enlargement of hundreds of times puts
// screen pixels closer than a place apart.
uint32_t area_end(uint32_t e0, uint32_t e1) { return std::max(e1, e0 + 1); }

// The share of picture pixel p in the area from e0 to e1.
uint32_t share(uint32_t p, uint32_t e0, uint32_t e1)
{
    return std::min(e1, (p + 1) * 256) - std::max(e0, p * 256);
}

// Where a part of `free` pixels lies at fraction `at` (0 .. kWhole) of the way.
uint64_t at_fraction(uint64_t free, uint32_t at) { return free * at / kWhole; }

// Screen line j of the picture's part, from the picture lines it covers,
// summed in accumulators of type Acc: 32 bits hold the sums of up to 256
// lines' light, more need 64.
template <class Acc>
PictureError fit_line(FitStage& st, std::vector<Acc>& sums, uint32_t e0, uint32_t e1, uint8_t* out)
{
    const uint32_t n = st.x_count;
    const size_t k0 = 3 * size_t(st.xs[0] >> 8), k1 = 3 * size_t(((area_end(st.xs[n - 1], st.xs[n]) - 1) >> 8) + 1);
    const uint16_t* light = linear_of_srgb().data();
    Acc* acc = sums.data();
    std::fill(acc + k0, acc + k1, Acc(0));
    for (uint32_t p = e0 >> 8; p <= (e1 - 1) >> 8; ++p) {
        // Picture line p: kept from the screen line before, or read now,
        // past the lines above the cut.
        while (st.lines_read <= p) {
            if (const PictureError e = read_lines(st.up, st.line.data(), st.line.size(), 1); e != PictureError::ok)
                return e;
            ++st.lines_read;
        }
        const Acc w = share(p, e0, e1);
        const uint8_t* px = st.line.data();
        for (size_t k = k0; k < k1; ++k)
            acc[k] += w * light[px[k]];
    }
    // Then across: each screen column's weighted sum of its columns' sums,
    // divided by its area, in 24 bits of light. The sums stay below 2^64
    // where the area is below 2^40 places squared; a larger area (a
    // reduction of thousands to one each way) drops low bits first.
    const uint64_t rows = e1 - e0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t c0 = st.xs[i], c1 = area_end(c0, st.xs[i + 1]);
        const uint64_t cols = c1 - c0;
        const int drop = std::max(0, int(std::bit_width(rows) + std::bit_width(cols)) + 16 + 8 - 64);
        const uint32_t* w = st.x_weights.data() + st.x_starts[i];
        uint64_t sum[3] = {0, 0, 0};
        for (uint32_t p = c0 >> 8; p <= (c1 - 1) >> 8; ++p, ++w)
            for (size_t c = 0; c < 3; ++c)
                sum[c] += *w * (uint64_t(acc[3 * size_t(p) + c]) >> drop);
        const uint64_t area = (rows * cols) >> drop;
        uint8_t* o = out + 3 * size_t(st.x_first + i);
        for (size_t c = 0; c < 3; ++c)
            o[c] = srgb_of_linear(uint32_t(std::min<uint64_t>((sum[c] * 256 + area / 2) / area, 65535u * 256)));
    }
    return PictureError::ok;
}

PictureError make_line(FitStage& st, uint32_t j, uint8_t* out)
{
    const uint32_t e0 = st.ys[j], e1 = area_end(e0, st.ys[j + 1]);
    return e1 - e0 <= 256 * 256 ? fit_line(st, st.acc32, e0, e1, out) : fit_line(st, st.acc, e0, e1, out);
}

PictureError read_fitted(void* state, uint8_t* out, size_t stride, uint32_t count)
{
    FitStage& st = *static_cast<FitStage*>(state);
    if (count > st.height - st.given)
        return PictureError::truncated;
    const size_t line = 3 * size_t(st.width);
    for (uint32_t k = 0; k < count; ++k, ++st.given) {
        uint8_t* o = out + k * stride;
        std::memset(o, 0, line);
        if (st.given >= st.y_first && st.given - st.y_first < st.y_count)
            if (const PictureError e = make_line(st, st.given - st.y_first, o); e != PictureError::ok)
                return e;
    }
    return PictureError::ok;
}

// The picture lines below the cut are read and dropped: a PNG is read to its
// end, and a short file is still found short.
PictureError finish_fitted(void* state)
{
    FitStage& st = *static_cast<FitStage*>(state);
    for (; st.lines_read < st.up.height; ++st.lines_read)
        if (const PictureError e = read_lines(st.up, st.line.data(), st.line.size(), 1); e != PictureError::ok)
            return e;
    return finish_lines(st.up);
}

} // namespace

LineSource fit_lines(FitStage& st, const LineSource& up, const ReadOptions& opt)
{
    st = FitStage{};
    st.up = up;
    st.width = opt.fit_width;
    st.height = opt.fit_height;
    const uint64_t sw = up.width, sh = up.height, w = st.width, h = st.height;
    Axis x, y;
    x.length = 256 * sw;
    y.length = 256 * sh;
    // The axis whose scale is the smaller: the picture's width where
    // w / sw <= h / sh.
    const bool by_width = w * sh <= h * sw;
    if (!opt.letterbox) {
        // Cover: the other axis fills its side, and this one's cut is the
        // part of the picture of the screen's shape.
        x.count = st.width;
        y.count = st.height;
        if (by_width)
            x.length = 256 * w * sh / h;
        else
            y.length = 256 * h * sw / w;
        x.start = at_fraction(256 * sw - x.length, opt.fit_x);
        y.start = at_fraction(256 * sh - y.length, opt.fit_y);
    } else {
        // Fit inside: this axis fills its side, the other takes as many
        // pixels as keep the picture's shape, and bars fill the rest.
        const auto part = [](uint64_t side, uint64_t other, uint64_t over, uint64_t max) {
            return uint32_t(std::clamp<uint64_t>((side * other * 2 + over) / (2 * over), 1, max));
        };
        x.count = by_width ? st.width : part(sw, h, sh, w);
        y.count = by_width ? part(sh, w, sw, h) : st.height;
        x.first = uint32_t(at_fraction(w - x.count, opt.fit_x));
        y.first = uint32_t(at_fraction(h - y.count, opt.fit_y));
    }
    st.x_first = x.first;
    st.x_count = x.count;
    st.y_count = y.count;
    st.xs = edges(x);
    st.ys = edges(y);
    st.y_first = y.first;
    if (!up.top_down) {
        // Lines arrive bottom first: the same plan, counted from the bottom.
        std::vector<uint32_t> mirrored(st.ys.size());
        for (size_t i = 0; i < st.ys.size(); ++i)
            mirrored[i] = uint32_t(256 * sh) - st.ys[st.ys.size() - 1 - i];
        st.ys = std::move(mirrored);
        st.y_first = st.height - y.first - y.count;
    }
    for (uint32_t i = 0; i < st.x_count; ++i) {
        st.x_starts.push_back(uint32_t(st.x_weights.size()));
        const uint32_t c0 = st.xs[i], c1 = area_end(c0, st.xs[i + 1]);
        for (uint32_t p = c0 >> 8; p <= (c1 - 1) >> 8; ++p)
            st.x_weights.push_back(share(p, c0, c1));
    }
    st.line.resize(3 * size_t(sw));
    st.acc.resize(3 * size_t(sw));
    st.acc32.resize(3 * size_t(sw));
    LineSource s = up;
    s.width = st.width;
    s.height = st.height;
    s.top_down = up.top_down;
    s.read = read_fitted;
    s.finish = finish_fitted;
    s.state = &st;
    return s;
}
