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

// The area each of the axis's screen pixels covers, from and to, within
// the picture's `whole` places. Each is at least a place wide: an
// enlargement of hundreds of times puts screen pixels closer than a place
// apart, and each then takes the place where it starts.
std::vector<FitStage::Span> spans(const Axis& a, uint64_t whole)
{
    std::vector<FitStage::Span> v(a.count);
    const auto edge = [&](uint64_t i) { return a.start + a.length * i / a.count; };
    for (uint32_t i = 0; i < a.count; ++i) {
        const uint64_t from = std::min(edge(i), whole - 1);
        v[i] = {uint32_t(from), uint32_t(std::max(std::min(edge(i + 1), whole), from + 1))};
    }
    return v;
}

// The share of picture pixel p in the area from e0 to e1.
uint32_t share(uint32_t p, uint32_t e0, uint32_t e1)
{
    return std::min(e1, (p + 1) * 256) - std::max(e0, p * 256);
}

// Where a part of `free` pixels lies at fraction `at` (0 .. kWhole) of the way.
uint64_t at_fraction(uint64_t free, uint32_t at) { return free * at / kWhole; }

// Picture line p across: for each screen column the light of the picture
// columns it covers, each weighed by its share (the inner ones whole, 256).
void across(FitStage& st, uint32_t p)
{
    const uint32_t* light = st.light.data();
    const uint8_t* px = st.line.data();
    uint64_t* row = st.row.data();
    for (uint32_t i = 0; i < st.x_count; ++i) {
        const FitStage::Column& c = st.columns[i];
        const uint8_t* a = px + 3 * size_t(c.first);
        uint64_t s[3];
        for (size_t k = 0; k < 3; ++k)
            s[k] = uint64_t(c.first_share) * light[a[k]];
        if (c.last != c.first) {
            // The hot loop: a byte loaded and its light added, two pixels
            // a turn, each into sums of its own (so no addition waits for
            // the one before). At most 65526 pixels of 65535: below 2^32.
            uint32_t b = 0, g = 0, r = 0, b2 = 0, g2 = 0, r2 = 0;
            const uint8_t* q = a + 3;
            const uint8_t* z = px + 3 * size_t(c.last);
            for (const uint8_t* twos = q + 6 * (size_t(c.last - c.first - 1) / 2); q != twos; q += 6) {
                b += light[q[0]];
                g += light[q[1]];
                r += light[q[2]];
                b2 += light[q[3]];
                g2 += light[q[4]];
                r2 += light[q[5]];
            }
            if (q != z) {
                b += light[q[0]];
                g += light[q[1]];
                r += light[q[2]];
            }
            const uint64_t inner[3] = {uint64_t(b) + b2, uint64_t(g) + g2, uint64_t(r) + r2};
            for (size_t k = 0; k < 3; ++k)
                s[k] += 256 * inner[k] + uint64_t(c.last_share) * light[z[k]];
        }
        for (size_t k = 0; k < 3; ++k)
            row[3 * size_t(i) + k] = s[k];
    }
    if (!st.line_clear.empty()) {
        // The transparent places, by the same shares.
        const uint8_t* cl = st.line_clear.data();
        for (uint32_t i = 0; i < st.x_count; ++i) {
            const FitStage::Column& c = st.columns[i];
            uint64_t n = uint64_t(c.first_share) * cl[c.first];
            if (c.last != c.first) {
                uint64_t inner = 0;
                for (uint32_t x = c.first + 1; x < c.last; ++x)
                    inner += cl[x];
                n += 256 * inner + uint64_t(c.last_share) * cl[c.last];
            }
            st.row_clear[i] = n;
        }
    }
    st.row_line = p;
}

// Screen line j of the picture's part: the picture lines it covers, each
// across, summed by their shares, divided by the area, in 24 bits of light.
// A sum is below rows * columns * 65535 places, and rows and columns are
// each below 2^24 places: it fits 64 bits.
PictureError make_line(FitStage& st, uint32_t j, uint8_t* out, uint8_t* clear)
{
    const uint32_t e0 = st.ys[j].from, e1 = st.ys[j].to;
    const size_t n = 3 * size_t(st.x_count);
    const bool alpha = !st.line_clear.empty();
    std::fill(st.acc.begin(), st.acc.begin() + ptrdiff_t(n), 0);
    std::fill(st.acc_clear.begin(), st.acc_clear.end(), 0);
    for (uint32_t p = e0 >> 8; p <= (e1 - 1) >> 8; ++p) {
        if (st.row_line != p) {
            // Picture line p, read now, past the lines above the cut; a
            // line kept from the screen line before is across already.
            while (st.lines_read <= p) {
                if (const PictureError e = read_lines(st.up, st.line.data(), st.line.size(), 1,
                                                      alpha ? st.line_clear.data() : nullptr, st.line_clear.size());
                    e != PictureError::ok)
                    return e;
                ++st.lines_read;
            }
            across(st, p);
        }
        // Most lines are covered whole: a shift, which vectorizes.
        const uint64_t w = share(p, e0, e1);
        if (w == 256)
            for (size_t k = 0; k < n; ++k)
                st.acc[k] += st.row[k] << 8;
        else
            for (size_t k = 0; k < n; ++k)
                st.acc[k] += w * st.row[k];
        if (alpha)
            for (uint32_t i = 0; i < st.x_count; ++i)
                st.acc_clear[i] += w * st.row_clear[i];
    }
    const uint64_t rows = e1 - e0;
    for (uint32_t i = 0; i < st.x_count; ++i) {
        const uint64_t area = rows * st.columns[i].places;
        uint8_t* o = out + 3 * size_t(st.x_first + i);
        for (size_t k = 0; k < 3; ++k) {
            const uint64_t sum = st.acc[3 * size_t(i) + k], whole = sum / area, part = sum % area;
            o[k] = srgb_of_linear(uint32_t(std::min<uint64_t>(whole * 256 + (part * 256 + area / 2) / area, 65535u * 256)));
        }
        if (clear)
            clear[st.x_first + i] = alpha && 2 * st.acc_clear[i] > area;
    }
    return PictureError::ok;
}

PictureError read_fitted(void* state, uint8_t* out, size_t stride, uint32_t count, uint8_t* clear,
                         size_t clear_stride)
{
    FitStage& st = *static_cast<FitStage*>(state);
    if (count > st.height - st.given)
        return PictureError::truncated;
    const size_t line = 3 * size_t(st.width);
    for (uint32_t k = 0; k < count; ++k, ++st.given) {
        uint8_t* o = out + k * stride;
        uint8_t* c = clear ? clear + k * clear_stride : nullptr;
        std::memset(o, 0, line);
        if (c)
            std::memset(c, 0, st.width); // bars are opaque
        if (st.given >= st.y_first && st.given - st.y_first < st.y_count)
            if (const PictureError e = make_line(st, st.given - st.y_first, o, c); e != PictureError::ok)
                return e;
    }
    return PictureError::ok;
}

// The picture lines below the cut are read and dropped: a PNG is read to its
// end, and a short file is still found short.
PictureError finish_fitted(void* state)
{
    FitStage& st = *static_cast<FitStage*>(state);
    uint8_t* clear = st.line_clear.empty() ? nullptr : st.line_clear.data();
    for (; st.lines_read < st.up.height; ++st.lines_read)
        if (const PictureError e = read_lines(st.up, st.line.data(), st.line.size(), 1, clear, st.line_clear.size());
            e != PictureError::ok)
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
    st.ys = spans(y, 256 * sh);
    st.y_first = y.first;
    if (!up.top_down) {
        // Lines arrive bottom first: the same plan, counted from the bottom.
        std::reverse(st.ys.begin(), st.ys.end());
        for (FitStage::Span& e : st.ys)
            e = {uint32_t(256 * sh) - e.to, uint32_t(256 * sh) - e.from};
        st.y_first = st.height - y.first - y.count;
    }
    const std::vector<FitStage::Span> xs = spans(x, 256 * sw);
    for (uint32_t i = 0; i < st.x_count; ++i) {
        const uint32_t c0 = xs[i].from, c1 = xs[i].to;
        FitStage::Column c;
        c.first = c0 >> 8;
        c.last = (c1 - 1) >> 8;
        c.places = c1 - c0;
        c.first_share = share(c.first, c0, c1);
        c.last_share = share(c.last, c0, c1);
        st.columns.push_back(c);
    }
    // The light table widened to 32 bits: a lookup then adds straight from
    // memory, one instruction where a 16-bit value takes two.
    const std::array<uint16_t, 256>& light = linear_of_srgb();
    std::copy(light.begin(), light.end(), st.light.begin());
    st.line.resize(3 * size_t(sw));
    st.row.resize(3 * size_t(st.x_count));
    st.acc.resize(3 * size_t(st.x_count));
    if (up.alpha) {
        st.line_clear.resize(size_t(sw));
        st.row_clear.resize(st.x_count);
        st.acc_clear.resize(st.x_count);
    }
    LineSource s = up;
    s.width = st.width;
    s.height = st.height;
    s.top_down = up.top_down;
    s.read = read_fitted;
    s.finish = finish_fitted;
    s.state = &st;
    return s;
}
