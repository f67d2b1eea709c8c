// Ordered dithering: see dither.hpp. Built with -ffp-contract=off, as
// colour/lab.cpp (the linear-light table is made from its doubles).
#include "encode/dither.hpp"

#include <algorithm>
#include <vector>

#include "io/parallel.hpp"

#include "colour/four_colours.hpp"
#include "colour/lab.hpp"
#include "colour/rgb332.hpp"
#include "encode/quantize_perceptual.hpp"
#include "encode/sprite_perceptual.hpp"

namespace {

// Each byte's linear light in 1/65535ths, rounded. Made on first use, as
// the table it comes from is another file's and may not be made before.
const std::array<uint32_t, 256>& light()
{
    static const std::array<uint32_t, 256> t = [] {
        std::array<uint32_t, 256> l{};
        for (size_t v = 0; v < 256; ++v)
            l[v] = uint32_t(linear_lights()[v] * 65535.0 + 0.5);
        return l;
    }();
    return t;
}

// The 8 x 8 Bayer matrix: 0 .. 63, each threshold as far from the ones
// before it as the grid allows.
constexpr std::array<std::array<uint8_t, 8>, 8> kBayer = [] {
    std::array<std::array<uint8_t, 8>, 8> m{};
    m[0][0] = 0;
    for (size_t n = 1; n < 8; n *= 2)
        for (size_t y = 0; y < n; ++y)
            for (size_t x = 0; x < n; ++x) {
                const uint8_t v = uint8_t(4 * m[y][x]);
                m[y][x] = v;
                m[y][x + n] = uint8_t(v + 2);
                m[y + n][x] = uint8_t(v + 3);
                m[y + n][x + n] = uint8_t(v + 1);
            }
    return m;
}();

// Where a channel's byte lies between two screen levels: the lower level's
// index and the weight of the upper one, 0 .. 256, in linear light. The
// levels are step * i for i < levels; above the top level is the top level.
struct Between {
    unsigned lo;
    uint32_t t;
};
Between between_levels(uint8_t v, unsigned step, unsigned levels)
{
    const unsigned lo = v / step;
    if (lo + 1 >= levels)
        return {levels - 1, 0};
    const std::array<uint32_t, 256>& l = light();
    const uint32_t a = l[lo * step], b = l[(lo + 1) * step];
    return {lo, ((l[v] - a) * 256 + (b - a) / 2) / (b - a)};
}

// Every byte's place, for red and green (8 levels) and for blue (4), made
// once: a pixel's corners are then three look-ups.
struct Places {
    std::array<Between, 256> eight, four;
};
const Places& places()
{
    static const Places p = [] {
        Places t;
        for (size_t v = 0; v < 256; ++v) {
            t.eight[v] = between_levels(uint8_t(v), 36, 8);
            t.four[v] = between_levels(uint8_t(v), 84, 4);
        }
        return t;
    }();
    return p;
}

// A byte's place as the corners need it: its lower level's bits in the
// RGB332 byte, what stepping one level up adds to them (nothing at the top
// level, whose upper corner weighs nothing), and the weights of the lower
// and the upper corner.
struct Cell {
    uint32_t low, up;
    std::array<uint32_t, 2> weight;
};
struct Cells {
    std::array<Cell, 256> red, green, blue;
};
const Cells& cells()
{
    static const Cells c = [] {
        Cells t;
        const Places& p = places();
        for (size_t v = 0; v < 256; ++v) {
            const Between e = p.eight[v], f = p.four[v];
            t.red[v] = {e.lo << 5, e.lo < 7 ? 1u << 5 : 0, {256 - e.t, e.t}};
            t.green[v] = {e.lo << 2, e.lo < 7 ? 1u << 2 : 0, {256 - e.t, e.t}};
            t.blue[v] = {f.lo, f.lo < 3 ? 1u : 0, {256 - f.t, f.t}};
        }
        return t;
    }();
    return c;
}

// The weights of a cell's eight corners, in the order of for_each_corner.
inline std::array<uint32_t, 8> corner_weights(const Cell& cr, const Cell& cg, const Cell& cb)
{
    const uint32_t r0g0 = cr.weight[0] * cg.weight[0], r0g1 = cr.weight[0] * cg.weight[1];
    const uint32_t r1g0 = cr.weight[1] * cg.weight[0], r1g1 = cr.weight[1] * cg.weight[1];
    const uint32_t b0 = cb.weight[0], b1 = cb.weight[1];
    return {r0g0 * b0, r0g0 * b1, r0g1 * b0, r0g1 * b1, r1g0 * b0, r1g0 * b1, r1g1 * b0, r1g1 * b1};
}

// The eight corners of a colour's cell: corner k steps up in red where bit
// 2 of k is set, in green bit 1, in blue bit 0, and weighs the product of
// the three channels' weights. `each(byte, weight)` for the corners of any
// weight (a corner beyond the top level has none, t being 0 there), or with
// kAll for all eight, which costs no unforeseeable branch where adding a
// zero weight does no harm.
template <bool kAll, class Each>
inline void for_each_corner(const Cells& t, uint8_t r, uint8_t g, uint8_t b, Each&& each)
{
    const Cell &cr = t.red[r], &cg = t.green[g], &cb = t.blue[b];
    const unsigned low = cr.low + cg.low + cb.low;
    const std::array<uint32_t, 8> w = corner_weights(cr, cg, cb);
    const auto corner = [&each](unsigned byte, uint32_t weight) {
        if (kAll || weight != 0)
            each(uint8_t(byte), weight);
    };
    corner(low, w[0]);
    corner(low + cb.up, w[1]);
    corner(low + cg.up, w[2]);
    corner(low + cg.up + cb.up, w[3]);
    corner(low + cr.up, w[4]);
    corner(low + cr.up + cb.up, w[5]);
    corner(low + cr.up + cg.up, w[6]);
    corner(low + cr.up + cg.up + cb.up, w[7]);
}

// The corners of a tetrahedron (below) and their weights.
struct Corners {
    std::array<uint8_t, 4> byte;
    std::array<uint32_t, 4> weight;
};

// The corners of the tetrahedron of the cell that holds the colour, and
// their weights; the four other corners have none. The cell splits into six
// tetrahedra along its diagonal from the lowest corner to the highest, one
// for each order of the colour's places in the three channels (Kuhn's
// split): from the lowest corner one steps up the channel of the largest
// place, then the next, then the last, and the colour is the mix of those
// four corners weighted by the differences of its places. Unlike the eight
// corners' weights, a grey between levels weighs only greyish corners, and
// any colour is met exactly by four. Equal places go red, green, blue.
Corners tetrahedron_of(uint8_t r, uint8_t g, uint8_t b)
{
    const Places& p = places();
    const std::array<Between, 3> c = {p.eight[r], p.eight[g], p.four[b]};
    // The axes by place, largest first, equal ones in their order (an
    // insertion sort that moves an axis only past smaller places).
    std::array<unsigned, 3> axis = {0, 1, 2};
    for (size_t i = 1; i < 3; ++i)
        for (size_t j = i; j > 0 && c[axis[j]].t > c[axis[j - 1]].t; --j)
            std::swap(axis[j], axis[j - 1]);
    const std::array<unsigned, 3> top = {7, 7, 3}, shift = {5, 2, 0};
    std::array<unsigned, 3> level = {c[0].lo, c[1].lo, c[2].lo};
    Corners k{};
    uint32_t above = 256;
    for (unsigned v = 0; v < 4; ++v) {
        // A step beyond the top level has no weight (t is 0 there).
        const uint32_t t = v < 3 ? c[axis[v]].t : 0;
        k.byte[v] = uint8_t(level[0] << shift[0] | level[1] << shift[1] | level[2] << shift[2]);
        k.weight[v] = (above - t) * 256 * 256;
        above = t;
        if (v < 3)
            level[axis[v]] = std::min(level[axis[v]] + 1, top[axis[v]]);
    }
    return k;
}

bool near_level(uint8_t v, unsigned step)
{
    const unsigned m = v % step;
    return m <= 4 || m + 4 >= step;
}

// The symbol's pixels as `each(r, g, b, x, y)`, y counted from its top line.
template <class Each>
void for_each_pixel(const uint8_t* bgr, ptrdiff_t stride, Each&& each)
{
    for (unsigned r = 0; r < 8; ++r) {
        const uint8_t* p = bgr + ptrdiff_t(r) * stride;
        for (unsigned x = 0; x < 8; ++x, p += 3)
            each(p[2], p[1], p[0], x, 7 - r);
    }
}

// nearest_code of a corner against the coder's four: the nearest by
// CIEDE2000, the lowest code where two are equally near.
uint8_t nearest_corner_code(const OrderedCoder& c, uint8_t corner)
{
    uint8_t code = 0;
    double least = screen_difference(c.table, corner, c.attributes[0]);
    for (uint8_t k = 1; k < 4; ++k)
        if (const double d = screen_difference(c.table, corner, c.attributes[k]); d < least) {
            least = d;
            code = k;
        }
    return code;
}

inline void add_corner_weights(const Cells& t, uint8_t r, uint8_t g, uint8_t b, std::array<uint64_t, 256>& weights)
{
    for_each_corner<true>(t, r, g, b, [&weights](uint8_t byte, uint32_t w) { weights[byte] += w; });
}

} // namespace

void add_corner_weights(uint8_t r, uint8_t g, uint8_t b, std::array<uint64_t, 256>& weights)
{
    add_corner_weights(cells(), r, g, b, weights);
}

std::array<uint8_t, 4> heaviest_four(const std::array<uint64_t, 256>& weights)
{
    std::array<uint8_t, 4> four{};
    std::array<bool, 256> taken{};
    for (size_t i = 0; i < 4; ++i) {
        size_t best = 256;
        for (size_t v = 0; v < 256; ++v)
            if (!taken[v] && weights[v] > 0 && (best == 256 || weights[v] > weights[best]))
                best = v;
        if (best == 256)
            break;
        taken[best] = true;
        four[i] = uint8_t(best);
    }
    return four;
}

std::array<uint8_t, 4> best_four_corners(const std::array<uint64_t, 256>& weights, const ScreenDifferences* table)
{
    // The corners that carry weight, heaviest first.
    std::array<uint8_t, 256> corner;
    size_t m = 0;
    for (size_t v = 0; v < 256; ++v)
        if (weights[v] > 0)
            corner[m++] = uint8_t(v);
    std::stable_sort(corner.begin(), corner.begin() + ptrdiff_t(m),
                     [&](uint8_t x, uint8_t y) { return weights[x] > weights[y]; });
    std::array<uint8_t, 4> four{};
    if (m <= 4) {
        std::copy_n(corner.begin(), m, four.begin());
        return four;
    }
    // Of the eight heaviest, the four that leave the least weighted CIEDE2000
    // between every corner and the nearest of them: a small dark detail on a
    // light ground keeps a colour (the four heaviest alone would all be the
    // ground's and blot the detail out).
    constexpr size_t kCandidates = 8;
    const size_t k = std::min(m, kCandidates);
    std::array<std::array<double, kCandidates>, 256> d;
    for (size_t i = 0; i < m; ++i)
        for (size_t j = 0; j < k; ++j)
            d[i][j] = i == j ? 0.0 : screen_difference(table, corner[i], corner[j]);
    std::array<double, 256> w;
    for (size_t i = 0; i < m; ++i)
        w[i] = double(weights[corner[i]]);
    double best = -1;
    std::array<size_t, 4> pick{0, 1, 2, 3};
    for (size_t a = 0; a < k; ++a)
        for (size_t b = a + 1; b < k; ++b)
            for (size_t c = b + 1; c < k; ++c)
                for (size_t e = c + 1; e < k; ++e) {
                    // A sum of shares of no less than 0 only grows: once it
                    // reaches the best, these four cannot take its place.
                    double cost = 0;
                    for (size_t i = 0; i < m && (best < 0 || cost < best); ++i)
                        cost += w[i] * std::min(std::min(d[i][a], d[i][b]), std::min(d[i][c], d[i][e]));
                    if (best < 0 || cost < best) {
                        best = cost;
                        pick = {a, b, c, e};
                    }
                }
    for (size_t i = 0; i < 4; ++i)
        four[i] = corner[pick[i]];
    return four;
}

bool exact_art(const uint8_t* bgr, ptrdiff_t stride)
{
    std::array<uint32_t, 4> seen{};
    size_t n = 0;
    bool art = true;
    for_each_pixel(bgr, stride, [&](uint8_t r, uint8_t g, uint8_t b, unsigned, unsigned) {
        if (!art)
            return;
        const uint32_t c = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
        if (std::find(seen.begin(), seen.begin() + ptrdiff_t(n), c) != seen.begin() + ptrdiff_t(n))
            return;
        if (n == 4 || !near_screen_levels(r, g, b))
            art = false;
        else
            seen[n++] = c;
    });
    return art;
}

bool near_screen_levels(uint8_t r, uint8_t g, uint8_t b)
{
    return near_level(r, 36) && near_level(g, 36) && near_level(b, 84);
}

OrderedCoder ordered_coder(const std::array<uint8_t, 4>& attributes, const ScreenDifferences* table)
{
    OrderedCoder c;
    c.attributes = attributes;
    c.table = table;
    c.code_of_corner.fill(-1);
    const std::array<uint32_t, 256>& l = light();
    std::array<uint32_t, 4> lum;
    for (size_t i = 0; i < 4; ++i) {
        const std::array<uint8_t, 3> s = screen_rgb(attributes[i]);
        // Luminance in linear light (Rec. 709 weights in 1/10000ths).
        lum[i] = 2126 * l[s[0]] / 16 + 7152 * l[s[1]] / 16 + 722 * l[s[2]] / 16;
        c.by_brightness[i] = uint8_t(i);
    }
    std::stable_sort(c.by_brightness.begin(), c.by_brightness.end(),
                     [&](uint8_t x, uint8_t y) { return lum[x] < lum[y]; });
    return c;
}

namespace {

// The code of the pixel at (x, y) whose corners weigh `weight` by code: the
// codes from the darkest, the first whose weights so far pass the pixel's
// threshold, at the middle of its 1/64th of the whole.
inline PixelCode code_by_threshold(const std::array<uint32_t, 4>& weight, const std::array<uint8_t, 4>& by_brightness,
                                   unsigned x, unsigned y)
{
    const uint32_t threshold = (2 * uint32_t(kBayer[y][x]) + 1) * (kCornerWhole / 128);
    uint32_t sum = 0;
    for (const uint8_t code : by_brightness) {
        sum += weight[code];
        if (threshold < sum)
            return code;
    }
    return by_brightness[3]; // not reached: the weights sum to the whole
}

// A pixel's code from its corners' weights (`corners(each)` calls
// each(byte, weight) for the corners of any weight): see ordered_code.
template <class ForEachCorner>
PixelCode code_of_corners(OrderedCoder& c, ForEachCorner&& corners, unsigned x, unsigned y)
{
    std::array<uint32_t, 4> weight{};
    corners([&](uint8_t byte, uint32_t w) {
        int8_t& code = c.code_of_corner[byte];
        if (code < 0)
            code = int8_t(nearest_corner_code(c, byte));
        weight[size_t(code)] += w;
    });
    return code_by_threshold(weight, c.by_brightness, x, y);
}

// A coder that codes a whole picture with one palette (encsprite's), made
// to code each pixel without a branch or a store: every corner's code is
// found at once (1024 differences), and for every cell, corner by corner,
// whether its code is among the darkest one, two or three (`two`: the first
// in bit 0, the second in bit 32; `three`: 0 or 1). A pixel's weights summed
// by those give the running sums of code_by_threshold, and its code is the
// one after as many sums as its threshold reaches.
struct KnownCorners {
    std::array<std::array<uint64_t, 8>, 256> two{};   // by the cell's lowest corner
    std::array<std::array<uint32_t, 8>, 256> three{};
    std::array<uint8_t, 4> by_brightness;
};

KnownCorners known_corners(const OrderedCoder& c, const Cells& t)
{
    KnownCorners k;
    k.by_brightness = c.by_brightness;
    std::array<uint8_t, 4> rank{}; // of each code, darkest 0
    for (uint8_t i = 0; i < 4; ++i)
        rank[c.by_brightness[i]] = i;
    std::array<uint8_t, 256> corner_rank;
    for (size_t v = 0; v < 256; ++v)
        corner_rank[v] = rank[nearest_corner_code(c, uint8_t(v))];
    // Every cell that a colour can fall in: each channel's distinct cells,
    // combined; its corners in for_each_corner's order.
    const auto distinct = [](const std::array<Cell, 256>& cells) {
        std::vector<Cell> d;
        for (const Cell& x : cells)
            if (d.empty() || d.back().low != x.low)
                d.push_back(x);
        return d;
    };
    for (const Cell& cr : distinct(t.red))
        for (const Cell& cg : distinct(t.green))
            for (const Cell& cb : distinct(t.blue)) {
                const unsigned low = cr.low + cg.low + cb.low;
                size_t i = 0;
                for (const unsigned ur : {0u, cr.up})
                    for (const unsigned ug : {0u, cg.up})
                        for (const unsigned ub : {0u, cb.up}) {
                            const uint8_t r = corner_rank[low + ur + ug + ub];
                            k.two[low][i] = uint64_t(r < 1) | uint64_t(r < 2) << 32;
                            k.three[low][i] = r < 3;
                            ++i;
                        }
            }
    return k;
}

// ordered_code with the known corners: the same code.
inline PixelCode code_of_known_corners(const KnownCorners& k, const Cells& t, uint8_t r, uint8_t g, uint8_t b, unsigned x,
                                       unsigned y)
{
    const Cell &cr = t.red[r], &cg = t.green[g], &cb = t.blue[b];
    const unsigned low = cr.low + cg.low + cb.low;
    const std::array<uint64_t, 8>& two = k.two[low];
    const std::array<uint32_t, 8>& three = k.three[low];
    const std::array<uint32_t, 8> w = corner_weights(cr, cg, cb);
    uint64_t sums = 0; // the darkest code's weight, and the two darkest's at bit 32
    uint32_t sum3 = 0;
    for (size_t i = 0; i < 8; ++i) {
        sums += w[i] * two[i];
        sum3 += w[i] * three[i];
    }
    const uint32_t threshold = (2 * uint32_t(kBayer[y][x]) + 1) * (kCornerWhole / 128);
    const unsigned passed = unsigned(uint32_t(sums) <= threshold) + unsigned(uint32_t(sums >> 32) <= threshold) +
                            unsigned(sum3 <= threshold);
    return k.by_brightness[passed];
}

} // namespace

PixelCode ordered_code(OrderedCoder& c, uint8_t r, uint8_t g, uint8_t b, unsigned x, unsigned y)
{
    return code_of_corners(c, [&](auto&& each) { for_each_corner<false>(cells(), r, g, b, each); }, x, y);
}

SymbolRaster quantize_tetrahedra_bgr(const uint8_t* bgr, ptrdiff_t stride, const ScreenDifferences* table)
{
    if (exact_art(bgr, stride))
        return quantize_perceptual_bgr(bgr, stride);
    std::array<uint64_t, 256> weights{};
    std::array<Corners, 64> corners; // each pixel's, 8 y + x
    for_each_pixel(bgr, stride, [&](uint8_t r, uint8_t g, uint8_t b, unsigned x, unsigned y) {
        const Corners& k = corners[8 * y + x] = tetrahedron_of(r, g, b);
        for (size_t i = 0; i < 4; ++i)
            weights[k.byte[i]] += k.weight[i];
    });
    SymbolRaster out;
    out.attributes = best_four_corners(weights, table);
    OrderedCoder c = ordered_coder(out.attributes, table);
    out.words = {};
    for (unsigned y = 0; y < 8; ++y)
        for (unsigned x = 0; x < 8; ++x) {
            const Corners& k = corners[8 * y + x];
            const PixelCode code = code_of_corners(
                c,
                [&k](auto&& each) {
                    for (size_t i = 0; i < 4; ++i)
                        if (k.weight[i] != 0)
                            each(k.byte[i], k.weight[i]);
                },
                x, y);
            out.words[7 - y] = uint16_t(out.words[7 - y] | raster_bits(code, x));
        }
    return out;
}

std::array<uint8_t, 4> choose_dither_colours(const uint8_t* bgr, ptrdiff_t stride, const ScreenDifferences* table)
{
    if (exact_art(bgr, stride))
        return choose_perceptual_colours(bgr, stride);
    std::array<uint64_t, 256> weights{};
    for_each_pixel(bgr, stride, [&](uint8_t r, uint8_t g, uint8_t b, unsigned, unsigned) {
        add_corner_weights(r, g, b, weights);
    });
    return best_four_corners(weights, table);
}

std::array<uint16_t, 8> code_ordered(const uint8_t* bgr, ptrdiff_t stride, const std::array<uint8_t, 4>& attributes,
                                     const ScreenDifferences* table)
{
    OrderedCoder c = ordered_coder(attributes, table);
    std::array<uint16_t, 8> words{};
    for_each_pixel(bgr, stride, [&](uint8_t r, uint8_t g, uint8_t b, unsigned x, unsigned y) {
        words[7 - y] = uint16_t(words[7 - y] | raster_bits(ordered_code(c, r, g, b, x, y), x));
    });
    return words;
}

SymbolRaster quantize_ordered_bgr(const uint8_t* bgr, ptrdiff_t stride, const ScreenDifferences* table)
{
    if (exact_art(bgr, stride))
        return quantize_perceptual_bgr(bgr, stride);
    SymbolRaster out;
    out.attributes = choose_dither_colours(bgr, stride, table);
    out.words = code_ordered(bgr, stride, out.attributes, table);
    return out;
}

PictureError load_screen_ordered(const char* path, ScreenImage& s, const ReadOptions& opt, unsigned threads)
{
    return read_through_chain(
        path,
        [&](const LineSource& src) {
            // The table of the corners' differences costs as much as some
            // 300 symbols' searches save with it.
            constexpr uint64_t kTableSymbols = 1024;
            const ScreenDifferences table = uint64_t(src.width / 8) * (src.height / 8) >= kTableSymbols
                                                ? screen_differences(threads)
                                                : ScreenDifferences{};
            return encode_picture(src, s, threads, [&table](const uint8_t* bgr, ptrdiff_t stride) {
                return quantize_ordered_bgr(bgr, stride, &table);
            });
        },
        opt);
}

namespace {

// The whole picture, top line first, three bytes a pixel (BGR), and its
// transparency where the lines have it, a bit a pixel (SpritePicture::clear).
PictureError read_whole(const LineSource& src, BigArray<uint8_t>& bgr, BigArray<uint8_t>& clear)
{
    const size_t w = src.width, line = 3 * w;
    const RowOrder order = row_order(src);
    return for_each_band(src, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k, const uint8_t* clear_bottom,
                                  ptrdiff_t clear_stride) {
        room_for_band(order, bgr, 8 * line, k);
        const size_t row = row_of_band(order, k);
        for (size_t r = 0; r < 8; ++r)
            std::copy_n(bottom + ptrdiff_t(r) * stride, line, bgr.data() + row * 8 * line + (7 - r) * line);
        if (clear_bottom) {
            room_for_band(order, clear, w, k);
            for (size_t r = 0; r < 8; ++r)
                pack_clear(clear_bottom + ptrdiff_t(r) * clear_stride, w, clear.data() + row * w + (7 - r) * w / 8);
        }
    });
}

} // namespace

PictureError load_sprites_ordered(const char* path, SpritePicture& out, const ReadOptions& opt, unsigned threads)
{
    BigArray<uint8_t> bgr;
    bool art;
    return load_sprites_ordered(path, out, bgr, art, opt, threads);
}

PictureError load_sprites_ordered(const char* path, SpritePicture& out, BigArray<uint8_t>& bgr, bool& art,
                                  const ReadOptions& opt, unsigned threads)
{
    RowOrder order;
    const PictureError e = read_through_chain(
        path,
        [&](const LineSource& src) {
            out = SpritePicture{};
            out.width = src.width;
            out.height = src.height;
            order = row_order(src);
            return read_whole(src, bgr, out.clear);
        },
        opt);
    if (e != PictureError::ok)
        return e;
    const size_t w = out.width, h = out.height, pixels = w * h;
    if (!order.whole && !order.top_down) {
        reverse_blocks(bgr.data(), 8 * 3 * w, order.rows);
        if (has_mask(out))
            reverse_blocks(out.clear.data(), w, order.rows);
    }
    if (has_mask(out) && std::find_if(out.clear.begin(), out.clear.end(), [](uint8_t b) { return b != 0; }) == out.clear.end())
        out.clear = BigArray<uint8_t>{}; // nothing transparent: no mask
    out.values.resize(pixels, pixels);
    // Transparent pixels take no part in the colours; they are coded 0.
    const uint8_t* clear = has_mask(out) ? out.clear.data() : nullptr;

    // Art of at most four colours near screen levels: --perceptual's palette.
    // (A photograph shows that it is none within its first few pixels.)
    std::array<uint32_t, 4> seen{};
    size_t n = 0;
    art = true;
    for (size_t i = 0; i < pixels && art; ++i) {
        if (clear && clear_bit(clear, i))
            continue;
        const uint8_t* p = bgr.data() + 3 * i;
        const uint32_t c = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        if (std::find(seen.begin(), seen.begin() + ptrdiff_t(n), c) == seen.begin() + ptrdiff_t(n)) {
            if (n == 4 || !near_screen_levels(p[2], p[1], p[0]))
                art = false;
            else
                seen[n++] = c;
        }
    }
    if (art) {
        ValueStats stats;
        for (size_t i = 0; i < pixels; ++i) {
            const uint8_t* p = bgr.data() + 3 * i;
            const uint8_t v = pack_rgb332(p[2], p[1], p[0]);
            out.values.data()[i] = v;
            if (clear && clear_bit(clear, i))
                continue;
            ++stats.count[v];
            for (size_t c = 0; c < 3; ++c)
                stats.sum[v][c] += p[2 - c];
        }
        out.palette = choose_perceptual_palette(stats);
        return PictureError::ok;
    }
    // Otherwise the heaviest corners (the codes below replace every value),
    // the lines over the threads, each part's sums its own: sums of
    // integers, the same in any order.
    constexpr size_t kLineChunk = 8;
    const unsigned parts = threads_for(threads, h, kLineChunk, std::max<size_t>(1, (size_t(1) << 16) / w));
    const Cells& t = cells();
    const uint8_t* in = bgr.data();
    std::vector<std::array<uint64_t, 256>> part_weights(parts);
    parallel_chunks(parts, h, kLineChunk, [&](size_t begin, size_t end, unsigned part) {
        std::array<uint64_t, 256>& weights = part_weights[part];
        for (size_t i = begin * w; i < end * w; ++i)
            if (!clear || !clear_bit(clear, i))
                add_corner_weights(t, in[3 * i + 2], in[3 * i + 1], in[3 * i], weights);
    });
    std::array<uint64_t, 256> weights{};
    for (const std::array<uint64_t, 256>& pw : part_weights)
        for (size_t v = 0; v < 256; ++v)
            weights[v] += pw[v];
    const OrderedCoder coder = ordered_coder(heaviest_four(weights));
    const KnownCorners known = known_corners(coder, t);
    out.palette = SpritePalette{};
    out.palette.attributes = coder.attributes;
    for (uint8_t code = 0; code < 4; ++code)
        set_code(out.palette, code, code);
    // The lines over the threads, which only read the known corners.
    uint8_t* codes = out.values.data();
    parallel_chunks(parts, h, kLineChunk, [&](size_t begin, size_t end, unsigned) {
        // Local copies: a byte stored through `codes` could be any of the
        // captured variables, which would be loaded again at every pixel.
        const KnownCorners& k = known;
        const Cells& cells_ = t;
        const uint8_t *const from = in, *const clear_ = clear;
        uint8_t* const to = codes;
        const size_t width = w;
        for (size_t y = begin; y < end; ++y)
            for (size_t x = 0; x < width; ++x) {
                const size_t i = y * width + x;
                const uint8_t* p = from + 3 * i;
                to[i] = clear_ && clear_bit(clear_, i)
                            ? 0
                            : code_of_known_corners(k, cells_, p[2], p[1], p[0], unsigned(x % 8), unsigned(y % 8));
            }
    });
    return PictureError::ok;
}
