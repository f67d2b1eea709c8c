// The search of --dither: see dither_search.hpp. Built with -ffp-contract=off:
// a move's change of the difference is computed in double and must round
// the same everywhere.
#include "encode/dither_search.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <vector>

#include "colour/lab.hpp"
#include "colour/light.hpp"
#include "colour/rgb332.hpp"
#include "encode/dither.hpp"
#include "io/parallel.hpp"
#include "pipeline/walk.hpp"

namespace {

// The farthest a kept value changes from the pixel that moved: a symbol's
// width, so that a symbol's moves reach into its two neighbours only.
constexpr int kReach = 8;
constexpr int kSpan = 2 * kReach + 1;
constexpr unsigned kSweeps = 5;

// Threads: a phase's symbols in chunks of kChunk, no thread for fewer than
// kMinSymbols of them a phase (a symbol's moves take some 10 microseconds a
// sweep, a band's 15 phases on a thread more than two milliseconds).
constexpr size_t kChunk = 4;
constexpr size_t kMinSymbols = 16;

// kColumns[dx + 7]: the bits (8 r + x) of an 8 x 8 mask whose column x + dx
// is inside the symbol, for pairs of pixels dx apart.
constexpr std::array<uint64_t, 15> kColumns = [] {
    std::array<uint64_t, 15> t{};
    for (int dx = -7; dx <= 7; ++dx)
        for (int r = 0; r < 8; ++r)
            for (int x = 0; x < 8; ++x)
                if (x + dx >= 0 && x + dx < 8)
                    t[size_t(dx + 7)] |= uint64_t(1) << (8 * r + x);
    return t;
}();

// Linear sRGB to CIE XYZ (D65), then XYZ to the opponent channels of
// S-CIELAB; their product, in 1/4096ths.
constexpr double kXyz[3][3] = {{0.4124564, 0.3575761, 0.1804375},
                               {0.2126729, 0.7151522, 0.0721750},
                               {0.0193339, 0.1191920, 0.9503041}};
constexpr double kOpponent[3][3] = {{0.279, 0.720, -0.107}, {-0.449, 0.290, -0.077}, {0.086, -0.590, 0.501}};
constexpr std::array<std::array<int32_t, 3>, 3> kToOpponent = [] {
    std::array<std::array<int32_t, 3>, 3> t{};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 3; ++i) {
            double v = 0;
            for (int j = 0; j < 3; ++j)
                v += kOpponent[c][j] * kXyz[j][i];
            t[size_t(c)][size_t(i)] = int32_t(v * 4096 + (v < 0 ? -0.5 : 0.5));
        }
    return t;
}();

// A colour's opponent channels, in 1/65535ths of white's light or so.
using Opponent = std::array<int32_t, 3>;
Opponent opponent_of(uint8_t r, uint8_t g, uint8_t b)
{
    const std::array<uint16_t, 256>& l = linear_of_srgb();
    Opponent o;
    for (size_t c = 0; c < 3; ++c)
        o[c] = (kToOpponent[c][0] * int32_t(l[r]) + kToOpponent[c][1] * int32_t(l[g]) + kToOpponent[c][2] * int32_t(l[b])) >> 12;
    return o;
}

const std::array<Opponent, 256>& screen_opponents()
{
    static const std::array<Opponent, 256> t = [] {
        std::array<Opponent, 256> o{};
        for (size_t v = 0; v < 256; ++v) {
            const std::array<uint8_t, 3> s = screen_rgb(uint8_t(v));
            o[v] = opponent_of(s[0], s[1], s[2]);
        }
        return o;
    }();
    return t;
}


// One channel's share of the difference: the autocorrelation of its blur, a
// Gaussian of standard deviation `spread` pixels, as a[dy] * a[dx] (a sums
// to about 256, so the whole to about 65536), and the channel's weight.
struct Kernel {
    std::array<int64_t, kSpan> a{};          // a[d + kReach]
    std::array<int64_t, kSpan * kSpan> a2{}; // a2[(dy + kReach) * kSpan + dx + kReach]
    std::array<uint32_t, kSpan * kSpan> a2u{}; // the same, for unsigned 32 x 32-bit products
    double centre = 0;
    double weight = 0;
    int reach = 0;
};

Kernel kernel(double spread, double weight)
{
    Kernel k;
    std::array<double, kSpan> g{};
    double sum = 0;
    for (int d = -kReach; d <= kReach; ++d)
        sum += g[size_t(d + kReach)] = pinned_exp_neg(double(d * d) / (2 * spread * spread));
    for (int d = -kReach; d <= kReach; ++d) {
        k.a[size_t(d + kReach)] = int64_t(256 * g[size_t(d + kReach)] / sum + 0.5);
        if (k.a[size_t(d + kReach)] > 0)
            k.reach = std::max(k.reach, d);
    }
    for (size_t y = 0; y < kSpan; ++y)
        for (size_t x = 0; x < kSpan; ++x)
            k.a2u[y * kSpan + x] = uint32_t(k.a2[y * kSpan + x] = k.a[y] * k.a[x]);
    k.centre = double(k.a2[kReach * kSpan + kReach]);
    k.weight = weight;
    return k;
}

// The three channels' kernels, and the weight of the unblurred difference in
// the units of the blurred one.
struct Measure {
    std::array<Kernel, 3> channel;
    double per_pixel = 0;
};

const Measure& measure()
{
    static const Measure m = [] {
        Measure t;
        // The narrow Gaussians of S-CIELAB at 48 pixels per degree: spreads
        // of 0.0283, 0.0392 and 0.0536 degrees, 1.36, 1.88 and 2.57 pixels;
        // the autocorrelation of exp(-r^2 / s^2) has the standard deviation
        // s. The weights: each channel's mean squared CIEDE2000 for a small
        // change, over many colours.
        t.channel[0] = kernel(0.0283 * 48, 1.0);
        t.channel[1] = kernel(0.0392 * 48, 11.0);
        t.channel[2] = kernel(0.0536 * 48, 1.4);
        t.per_pixel = 0.005 * 65536;
        return t;
    }();
    return m;
}

// One band (symbol row) of the picture and of the screen being searched,
// line by line from the top.
struct Band {
    std::vector<int32_t> target;     // the picture's opponent channels, three a pixel
    std::vector<uint8_t> code;       // a code a pixel
    std::vector<uint8_t> attributes; // four a symbol
    std::vector<uint8_t> frozen;     // a symbol's codes and colours must stay
};

struct Search {
    size_t width = 0, bands = 0;
    bool colours = true;      // the symbols' colours may move
    std::array<Band, 3> ring; // band k in ring[k % 3]
    // The blurred error of the band searched, channel by channel, line by
    // line: the error (screen minus picture) convolved with each channel's
    // autocorrelation.
    std::array<std::vector<int64_t>, 3> kept;
    // A line's error blurred down, for a fresh start: one line a part.
    std::vector<std::vector<int64_t>> down;
    unsigned threads = 1;
    // The tables every move reads, looked up once.
    const std::array<Opponent, 256>* opponents = nullptr;
    const Measure* m = nullptr;
    int pair_reach = 0; // the farthest any channel's autocorrelation reaches
    // CIEDE2000 between screen colours for the ordered starts, where the
    // picture has enough symbols to pay for it (or none: computed).
    ScreenDifferences differences;
};

Search make_search(size_t width, size_t bands, bool colours, unsigned threads)
{
    Search s;
    s.threads = std::max(1u, threads);
    s.width = width;
    s.bands = bands;
    s.colours = colours;
    for (Band& b : s.ring) {
        b.target.resize(3 * 8 * width);
        b.code.resize(8 * width);
        b.attributes.resize(width / 2);
        b.frozen.resize(width / 8);
    }
    for (std::vector<int64_t>& k : s.kept)
        k.resize(8 * width);
    s.down.resize(std::min<size_t>(s.threads, 24), std::vector<int64_t>(width));
    s.opponents = &screen_opponents();
    s.m = &measure();
    for (const Kernel& k : s.m->channel)
        s.pair_reach = std::max(s.pair_reach, k.reach);
    // The table costs as much as some 300 symbols' starts save with it.
    constexpr uint64_t kTableSymbols = 1024;
    if (colours && uint64_t(width / 8) * bands >= kTableSymbols)
        s.differences = screen_differences(s.threads);
    return s;
}

Band& band_of(Search& s, size_t k) { return s.ring[k % 3]; }

// Columns [x0, x1) of the band's picture from its lines: line r from the
// top at top + r * step.
void set_target(Band& b, size_t width, const uint8_t* top, ptrdiff_t step, size_t x0, size_t x1)
{
    for (size_t r = 0; r < 8; ++r) {
        const uint8_t* p = top + ptrdiff_t(r) * step + ptrdiff_t(3 * x0);
        int32_t* t = b.target.data() + 3 * (r * width + x0);
        for (size_t x = x0; x < x1; ++x, p += 3, t += 3) {
            const Opponent o = opponent_of(p[2], p[1], p[0]);
            t[0] = o[0];
            t[1] = o[1];
            t[2] = o[2];
        }
    }
}

// How many threads a band of s is shared over: as many as its phases (a
// third of its symbols) have kMinSymbols for. A band's start and its fresh
// kept values take the same number: on a narrower band, threads started
// for them cost more than they save.
unsigned parts_for(const Search& s)
{
    return threads_for(s.threads, (s.width / 8 + 2) / 3, kChunk, kMinSymbols);
}

// The ordered dither of a band of the picture, where the search starts;
// every symbol on its own, so over threads.
void start_screen_band(Search& s, size_t k, const uint8_t* top, ptrdiff_t step)
{
    Band& b = band_of(s, k);
    const size_t n = s.width / 8;
    parallel_chunks(parts_for(s), n, kChunk, [&](size_t begin, size_t end, unsigned) {
        set_target(b, s.width, top, step, 8 * begin, 8 * end);
        const uint8_t* bottom = top + 7 * step;
        for (size_t sx = begin; sx < end; ++sx) {
            const uint8_t* first = bottom + ptrdiff_t(24 * sx);
            const SymbolRaster q = quantize_tetrahedra_bgr(first, -step, &s.differences);
            b.frozen[sx] = exact_art(first, -step);
            std::copy(q.attributes.begin(), q.attributes.end(), b.attributes.begin() + ptrdiff_t(4 * sx));
            for (size_t r = 0; r < 8; ++r)
                for (size_t x = 0; x < 8; ++x)
                    b.code[r * s.width + 8 * sx + x] = uint8_t(q.words[7 - r] >> (14 - 2 * x) & 3);
        }
    });
}

// The error of pixel i of the band, in column x, in channel c: screen minus
// picture. (The column given, not i % width: a division a pixel costs.)
inline int32_t error_at(const Search& s, const Band& b, size_t i, size_t x, size_t c)
{
    const uint8_t v = b.attributes[x / 8 * 4 + b.code[i]];
    return (*s.opponents)[v][c] - b.target[3 * i + c];
}

// The kept values of band k from scratch: the error of bands k - 1, k and
// k + 1 (none beyond the picture) convolved with each channel's
// autocorrelation, down and then across.
void fresh_kept(Search& s, size_t k)
{
    const size_t w = s.width;
    // A job a line of a channel: 24, each writing its own line of kept values,
    // each part blurring down into its own line.
    const unsigned parts = std::min(parts_for(s), unsigned(s.down.size()));
    parallel_chunks(parts, 24, 1, [&](size_t begin, size_t end, unsigned part) {
        std::vector<int64_t>& down = s.down[part];
        for (size_t job = begin; job < end; ++job) {
            const size_t c = job / 8, r = job % 8;
            const Kernel& kern = s.m->channel[c];
            const int reach = kern.reach;
            std::fill(down.begin(), down.end(), 0);
            for (int dy = -reach; dy <= reach; ++dy) {
                const ptrdiff_t line = ptrdiff_t(8 * k + r) + dy;
                if (line < 0 || size_t(line) >= 8 * s.bands)
                    continue;
                const Band& b = band_of(s, size_t(line) / 8);
                const size_t first = size_t(line) % 8 * w;
                const int64_t ay = kern.a[size_t(dy + kReach)];
                for (size_t x = 0; x < w; ++x)
                    down[x] += ay * error_at(s, b, first + x, x, c);
            }
            int64_t* out = s.kept[c].data() + r * w;
            const int64_t* a = kern.a.data() + kReach; // a[dx], dx from -reach to reach
            for (size_t x = 0; x < w; ++x) {
                // The part of the kernel inside the picture.
                const ptrdiff_t lo = std::max<ptrdiff_t>(-reach, -ptrdiff_t(x));
                const ptrdiff_t hi = std::min<ptrdiff_t>(reach, ptrdiff_t(w - 1 - x));
                const int64_t* d = down.data() + x;
                int64_t v = 0;
                for (ptrdiff_t dx = lo; dx <= hi; ++dx)
                    v += d[dx] * a[dx];
                out[x] = v;
            }
        }
    });
}

// A move's change of colour at pixel (x, r) of the band: the kept values
// around it change by the autocorrelation times the change.
void spread_change(Search& s, size_t x, size_t r, const Opponent& d)
{
    const ptrdiff_t w = ptrdiff_t(s.width);
    for (size_t c = 0; c < 3; ++c) {
        if (d[c] == 0)
            continue;
        const Kernel& kern = s.m->channel[c];
        const int reach = kern.reach;
        const ptrdiff_t x0 = std::max<ptrdiff_t>(0, ptrdiff_t(x) - reach), x1 = std::min<ptrdiff_t>(w - 1, ptrdiff_t(x) + reach);
        const ptrdiff_t r0 = std::max<ptrdiff_t>(0, ptrdiff_t(r) - reach), r1 = std::min<ptrdiff_t>(7, ptrdiff_t(r) + reach);
        // |d| A, an unsigned product of two 32-bit numbers (|d| is below
        // 2^18, A at most 2^16), added or taken away: the same integers as
        // d A, in one multiply a value where a vector unit has no signed
        // 64-bit one.
        const uint32_t size = uint32_t(d[c] < 0 ? -int64_t(d[c]) : int64_t(d[c]));
        for (ptrdiff_t rr = r0; rr <= r1; ++rr) {
            int64_t* out = s.kept[c].data() + rr * w + x0;
            const uint32_t* a2 = kern.a2u.data() + (rr - ptrdiff_t(r) + kReach) * kSpan + kReach + x0 - ptrdiff_t(x);
            const ptrdiff_t n = x1 - x0 + 1;
            if (d[c] > 0)
                for (ptrdiff_t j = 0; j < n; ++j)
                    out[j] += int64_t(uint64_t(size) * a2[j]);
            else
                for (ptrdiff_t j = 0; j < n; ++j)
                    out[j] -= int64_t(uint64_t(size) * a2[j]);
        }
    }
}

Opponent change_of(const Search& s, uint8_t from, uint8_t to)
{
    const Opponent &a = (*s.opponents)[from], &b = (*s.opponents)[to];
    return {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
}

// The change of the difference when pixel i changes colour by d, its error
// being e and its kept values k: per channel 2 d (k + p e) + d^2 (A(0) + p),
// with p the weight of the unblurred difference.
inline double pixel_change(const Search& s, size_t i, const Opponent& e, const Opponent& d)
{
    const Measure& m = *s.m;
    double sum = 0;
    for (size_t c = 0; c < 3; ++c) {
        const double dc = d[c];
        sum += m.channel[c].weight *
               (2 * dc * (double(s.kept[c][i]) + m.per_pixel * e[c]) + dc * dc * (m.channel[c].centre + m.per_pixel));
    }
    return sum;
}

// The pixel moves of symbol sx: each pixel, line by line, tries the other
// three codes and keeps the one that lowers the difference most.
void move_pixels(Search& s, Band& b, size_t sx)
{
    const size_t w = s.width;
    const uint8_t* attr = b.attributes.data() + 4 * sx;
    for (size_t r = 0; r < 8; ++r)
        for (size_t x = 8 * sx; x < 8 * sx + 8; ++x) {
            const size_t i = r * w + x;
            const uint8_t now = b.code[i];
            const Opponent e = {error_at(s, b, i, x, 0), error_at(s, b, i, x, 1), error_at(s, b, i, x, 2)};
            double best = 0;
            uint8_t pick = now;
            for (uint8_t code = 0; code < 4; ++code) {
                if (attr[code] == attr[now])
                    continue;
                const double change = pixel_change(s, i, e, change_of(s, attr[now], attr[code]));
                if (change < best) {
                    best = change;
                    pick = code;
                }
            }
            if (pick != now) {
                spread_change(s, x, r, change_of(s, attr[now], attr[pick]));
                b.code[i] = pick;
            }
        }
}

// A colour one level up or down in one channel (0 red, 1 green, 2 blue), or
// the colour itself where that leaves the screen's levels.
uint8_t step_colour(uint8_t v, unsigned channel, bool up)
{
    const unsigned shift = channel == 0 ? 5 : channel == 1 ? 2 : 0, top = channel == 2 ? 3 : 7;
    const unsigned level = unsigned(v >> shift) & top;
    if (up ? level == top : level == 0)
        return v;
    const unsigned moved = up ? level + 1 : level - 1;
    return uint8_t((v & ~(top << shift)) | moved << shift);
}

// The colour moves of symbol sx: each code used, in turn, tries its colour
// one level up and down in red, green and blue, and keeps the best that
// lowers the difference. Every pixel of the code changes by the same d, so
// the change is 2 d (the sum of their k + p e) + d^2 (the sum of A over
// their pairs + p times their count).
void move_colours(Search& s, Band& b, size_t sx)
{
    const size_t w = s.width;
    const Measure& m = *s.m;
    uint8_t* attr = b.attributes.data() + 4 * sx;
    // The pairs of same-code pixels by their offset (dy, dx), from each
    // code's 8 x 8 bitmask (bit 8 r + x): the pixels whose partner at that
    // offset has the code too. The sums are of integers, exact in a double
    // whatever their order.
    std::array<uint64_t, 4> mask{};
    for (size_t r = 0; r < 8; ++r)
        for (size_t x = 0; x < 8; ++x)
            mask[b.code[r * w + 8 * sx + x]] |= uint64_t(1) << (8 * r + x);
    std::array<std::array<double, 3>, 4> pairs{};
    std::array<unsigned, 4> count{};
    for (size_t code = 0; code < 4; ++code) {
        const uint64_t m_code = mask[code];
        count[code] = unsigned(std::popcount(m_code));
        if (m_code == 0)
            continue;
        // A pair at (dy, dx) is one at (-dy, -dx) seen from its other end:
        // the offsets after (0, 0) in reading order, each for both.
        std::array<int64_t, 3> sum{};
        for (size_t c = 0; c < 3; ++c)
            sum[c] = count[code] * m.channel[c].a2[kReach * kSpan + kReach];
        for (int dy = 0; dy <= s.pair_reach; ++dy)
            for (int dx = dy == 0 ? 1 : -s.pair_reach; dx <= s.pair_reach; ++dx) {
                const int shift = 8 * dy + dx; // above 0
                const int n = std::popcount(m_code & m_code >> shift & kColumns[size_t(dx + 7)]);
                if (n == 0)
                    continue;
                const size_t at = size_t((dy + kReach) * kSpan + dx + kReach), back = size_t((kReach - dy) * kSpan + kReach - dx);
                for (size_t c = 0; c < 3; ++c)
                    sum[c] += n * (m.channel[c].a2[at] + m.channel[c].a2[back]);
            }
        for (size_t c = 0; c < 3; ++c)
            pairs[code][c] = double(sum[c]);
    }
    for (uint8_t code = 0; code < 4; ++code) {
        if (count[code] == 0)
            continue;
        std::array<double, 3> sum{};
        for (size_t r = 0; r < 8; ++r)
            for (size_t x = 8 * sx; x < 8 * sx + 8; ++x) {
                const size_t i = r * w + x;
                if (b.code[i] != code)
                    continue;
                for (size_t c = 0; c < 3; ++c)
                    sum[c] += double(s.kept[c][i]) + m.per_pixel * error_at(s, b, i, x, c);
            }
        double best = 0;
        uint8_t pick = attr[code];
        // Red, green, blue, each down and then up.
        for (unsigned move = 0; move < 6; ++move) {
            const uint8_t to = step_colour(attr[code], move / 2, move % 2 == 1);
            if (to == attr[code])
                continue;
            const Opponent d = change_of(s, attr[code], to);
            double change = 0;
            for (size_t c = 0; c < 3; ++c) {
                const double dc = d[c];
                change += m.channel[c].weight * (2 * dc * sum[c] + dc * dc * (pairs[code][c] + m.per_pixel * count[code]));
            }
            if (change < best) {
                best = change;
                pick = to;
            }
        }
        if (pick == attr[code])
            continue;
        const Opponent d = change_of(s, attr[code], pick);
        for (size_t r = 0; r < 8; ++r)
            for (size_t x = 8 * sx; x < 8 * sx + 8; ++x)
                if (b.code[r * w + x] == code)
                    spread_change(s, x, r, d);
        attr[code] = pick;
    }
}

// One phase of a band's sweeps shared out: its chunks of symbols are
// claimed one at a time by whichever part comes, and the phase is done once
// every chunk is. Which part searches which symbol does not change a byte
// (the symbols of a phase are independent); a part that could not get a
// thread of its own and runs after the others finds every phase done.
struct PhaseClaims {
    std::atomic<uint32_t> next{0}; // the next chunk to claim
    std::atomic<uint32_t> done{0}; // the chunks searched
};

// Band k searched: bands k - 1 (searched) and k + 1 (as started) are in the
// ring where they exist. The sweeps' 15 phases in one call over threads, the
// threads meeting between phases, rather than a call (and threads started)
// a phase.
void search_band(Search& s, size_t k)
{
    fresh_kept(s, k);
    Band& b = band_of(s, k);
    const size_t n = s.width / 8;
    if (n == 0)
        return;
    std::array<PhaseClaims, 3 * kSweeps> claims;
    const unsigned parts = parts_for(s);
    parallel_chunks(parts, parts, 1, [&](size_t, size_t, unsigned) {
        for (size_t step = 0; step < claims.size(); ++step) {
            // Symbols phase, phase + 3, ...: job j is symbol phase + 3 j.
            const size_t phase = step % 3;
            if (phase >= n)
                continue;
            const size_t jobs = (n - phase + 2) / 3, chunks = (jobs + kChunk - 1) / kChunk;
            PhaseClaims& c = claims[step];
            uint32_t mine = 0;
            for (size_t chunk = c.next.fetch_add(1); chunk < chunks; chunk = c.next.fetch_add(1), ++mine)
                for (size_t j = chunk * kChunk; j < std::min(jobs, (chunk + 1) * kChunk); ++j) {
                    const size_t sx = phase + 3 * j;
                    if (b.frozen[sx])
                        continue;
                    move_pixels(s, b, sx);
                    if (s.colours)
                        move_colours(s, b, sx);
                }
            // The part that searched the phase's last chunk wakes the others.
            const bool last = mine > 0 && c.done.fetch_add(mine) + mine == chunks;
#ifdef __EMSCRIPTEN__
            // The page runs the parts one after the other: the first does
            // every chunk, and nothing waits.
            (void)last;
#else
            if (last)
                c.done.notify_all();
            for (uint32_t d = c.done.load(); d < chunks; d = c.done.load())
                c.done.wait(d);
#endif
        }
    });
}

// Band k, searched, into symbol row k of the screen.
void put_band(Search& s, size_t k, ScreenImage& screen)
{
    const Band& b = band_of(s, k);
    const size_t n = s.width / 8;
    room_for_band(RowOrder{s.bands, false, true}, screen.raster, 8 * n, k);
    room_for_band(RowOrder{s.bands, false, true}, screen.attributes, 4 * n, k);
    uint16_t* words = screen.raster.data() + 8 * k * n;
    for (size_t r = 0; r < 8; ++r)
        for (size_t sx = 0; sx < n; ++sx) {
            uint16_t word = 0;
            for (size_t x = 0; x < 8; ++x)
                word = uint16_t(word | raster_bits(b.code[r * s.width + 8 * sx + x], unsigned(x)));
            words[r * n + sx] = word;
        }
    std::copy(b.attributes.begin(), b.attributes.begin() + ptrdiff_t(4 * n), screen.attributes.data() + 4 * k * n);
}

} // namespace

PictureError load_screen_dither(const char* path, ScreenImage& s, const ReadOptions& opt, unsigned threads)
{
    return read_through_chain(
        path,
        [&](const LineSource& src) {
            s = ScreenImage{};
            s.width = src.width;
            s.height = src.height;
            const size_t w = src.width, bands = src.height / 8, line = 3 * w;
            Search search = make_search(w, bands, true, threads);
            // Band k arrived: start it, and search the one above it, whose
            // neighbours are now there.
            const auto arrived = [&](size_t k, const uint8_t* top, ptrdiff_t step) {
                start_screen_band(search, k, top, step);
                if (k > 0) {
                    search_band(search, k - 1);
                    put_band(search, k - 1, s);
                }
            };
            PictureError e;
            if (src.top_down) {
                e = for_each_band(src, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k) {
                    arrived(k, bottom + 7 * stride, -stride);
                });
            } else {
                // Bottom band first: all of it kept, then searched from the top.
                BigArray<uint8_t> whole;
                e = for_each_band(src, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k) {
                    whole.resize((k + 1) * 8 * line, bands * 8 * line);
                    uint8_t* to = whole.data() + k * 8 * line;
                    for (size_t r = 0; r < 8; ++r)
                        std::copy_n(bottom + ptrdiff_t(r) * stride, line, to + r * line);
                });
                if (e == PictureError::ok)
                    for (size_t k = 0; k < bands; ++k)
                        arrived(k, whole.data() + ((bands - 1 - k) * 8 + 7) * line, -ptrdiff_t(line));
            }
            if (e == PictureError::ok && bands > 0) {
                search_band(search, bands - 1);
                put_band(search, bands - 1, s);
            }
            return e;
        },
        opt);
}

PictureError load_sprites_dither(const char* path, SpritePicture& out, const ReadOptions& opt, unsigned threads)
{
    BigArray<uint8_t> bgr;
    bool art = false;
    const PictureError e = load_sprites_ordered(path, out, bgr, art, opt);
    if (e != PictureError::ok || art)
        return e;
    // The ordered codes are the start; every symbol has the palette's colours
    // and none of them move.
    const size_t w = out.width, bands = out.height / 8, line = 3 * w;
    Search search = make_search(w, bands, false, threads);
    const auto start = [&](size_t k) {
        Band& b = band_of(search, k);
        set_target(b, w, bgr.data() + 8 * k * line, ptrdiff_t(line), 0, w);
        for (size_t sx = 0; sx < w / 8; ++sx)
            std::copy(out.palette.attributes.begin(), out.palette.attributes.end(), b.attributes.begin() + ptrdiff_t(4 * sx));
        std::copy_n(out.values.data() + 8 * k * w, 8 * w, b.code.begin());
    };
    for (size_t k = 0; k < bands; ++k) {
        start(k);
        if (k > 0) {
            search_band(search, k - 1);
            std::copy_n(band_of(search, k - 1).code.begin(), 8 * w, out.values.data() + 8 * (k - 1) * w);
        }
    }
    if (bands > 0) {
        search_band(search, bands - 1);
        std::copy_n(band_of(search, bands - 1).code.begin(), 8 * w, out.values.data() + 8 * (bands - 1) * w);
    }
    // Transparent pixels keep code 0, so that a routine that ANDs the
    // background with the mask and ORs the sprite draws nothing there.
    if (has_mask(out))
        for (size_t i = 0, n = w * out.height; i < n; ++i)
            if (clear_bit(out.clear.data(), i))
                out.values.data()[i] = 0;
    return PictureError::ok;
}
