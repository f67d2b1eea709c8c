// The search for four screen colours: see four_colours.hpp. Built with
// -ffp-contract=off, as lab.cpp.
#include "colour/four_colours.hpp"

#include <algorithm>
#include <cmath>

namespace {

using Column = std::array<double, kMaxColours>;

// An RGB332 byte from red, green and blue levels (0 .. 7, 0 .. 7, 0 .. 3).
uint8_t value_of(int r, int g, int b) { return uint8_t(r << 5 | g << 2 | b); }

double squared(const Lab& x, const Lab& y)
{
    const double dl = x.L - y.L, da = x.a - y.a, db = x.b - y.b;
    return dl * dl + da * da + db * db;
}

// Colours as four arrays, for the batched differences (LabLanes).
struct LabArrays {
    std::array<double, kMaxColours> L, a, b, C;
    void set(size_t i, const Lab& c)
    {
        L[i] = c.L;
        a[i] = c.a;
        b[i] = c.b;
        C[i] = c.C;
    }
    LabLanes view() const { return {L.data(), a.data(), b.data(), C.data()}; }
    // n colours made a whole number of vectors (eight doubles) by copies of
    // the last, whose differences are computed and not used: a batch of a
    // few colours then runs in vector instructions rather than one at a
    // time after them. The count to compute; room for it, as kMaxColours is
    // a multiple of eight.
    size_t padded(size_t n)
    {
        const size_t whole = (n + 7) / 8 * 8;
        for (size_t i = n; i < whole; ++i)
            set(i, {L[n - 1], a[n - 1], b[n - 1], C[n - 1]});
        return whole;
    }
};
static_assert(kMaxColours % 8 == 0);

struct Groups {
    std::array<uint8_t, kMaxColours> of; // each colour's group
    std::array<Lab, 4> centre;
    double spread = 0; // weighted sum of squared distances to the centres
};

// Each of n colours' nearest centre (the lowest of equally near ones) as
// 0.0 .. 3.0, and its squared distance: squared()'s operations, without a
// branch, so that the loop runs in vector instructions.
VORNE_LANES void nearest_centres(const LabArrays& px, size_t n, const std::array<Lab, 4>& centre, double* __restrict dist,
                     double* __restrict group)
{
    const double* __restrict L = px.L.data();
    const double* __restrict A = px.a.data();
    const double* __restrict B = px.b.data();
    const std::array<Lab, 4> c = centre;
    for (size_t i = 0; i < n; ++i) {
        double d = 0, k = 0;
        for (size_t j = 0; j < 4; ++j) {
            const double dl = L[i] - c[j].L, da = A[i] - c[j].a, db = B[i] - c[j].b;
            const double e = dl * dl + da * da + db * db;
            const bool nearer = j == 0 || e < d;
            d = nearer ? e : d;
            k = nearer ? double(j) : k;
        }
        dist[i] = d;
        group[i] = k;
    }
}

// Lloyd's k-means in CIELAB from the given centres, until no colour changes
// group (at most 12 rounds). A group that empties keeps its centre. px: the
// colours of s as arrays.
Groups lloyd(const ColourSet& s, const LabArrays& px, std::array<Lab, 4> centre)
{
    Groups g{};
    g.of.fill(255);
    std::array<double, kMaxColours> dist, group;
    for (int round = 0; round < 12; ++round) {
        bool moved = false;
        g.spread = 0;
        nearest_centres(px, s.n, centre, dist.data(), group.data());
        for (size_t i = 0; i < s.n; ++i) {
            const uint8_t best = uint8_t(group[i]);
            moved |= g.of[i] != best;
            g.of[i] = best;
            g.spread += s.weight[i] * dist[i];
        }
        if (!moved)
            break;
        std::array<double, 4> w{}, L{}, a{}, b{};
        for (size_t i = 0; i < s.n; ++i) {
            const uint8_t k = g.of[i];
            w[k] += s.weight[i];
            L[k] += s.weight[i] * s.lab[i].L;
            a[k] += s.weight[i] * s.lab[i].a;
            b[k] += s.weight[i] * s.lab[i].b;
        }
        for (size_t k = 0; k < 4; ++k)
            if (w[k] > 0)
                centre[k] = {L[k] / w[k], a[k] / w[k], b[k] / w[k], 0};
    }
    g.centre = centre;
    return g;
}

// Two starts, and the grouping of less spread: the colours farthest apart
// (each next one the farthest from those taken), which keeps a small detail
// of its own colour, and the four quarters of the weight in order of
// lightness, which shares the groups out evenly over a gradient.
Groups group_in_four(const ColourSet& s, const LabArrays& px)
{
    std::array<Lab, 4> far{};
    {
        double total = 0, L = 0, a = 0, b = 0;
        for (size_t i = 0; i < s.n; ++i) {
            total += s.weight[i];
            L += s.weight[i] * s.lab[i].L;
            a += s.weight[i] * s.lab[i].a;
            b += s.weight[i] * s.lab[i].b;
        }
        const Lab mean{L / total, a / total, b / total, 0};
        std::array<double, kMaxColours> nearest;
        for (size_t i = 0; i < s.n; ++i)
            nearest[i] = squared(s.lab[i], mean);
        for (size_t k = 0; k < 4; ++k) {
            size_t pick = 0;
            for (size_t i = 1; i < s.n; ++i)
                if (nearest[i] > nearest[pick])
                    pick = i;
            far[k] = s.lab[pick];
            for (size_t i = 0; i < s.n; ++i)
                nearest[i] = k == 0 ? squared(s.lab[i], far[0]) : std::min(nearest[i], squared(s.lab[i], far[k]));
        }
    }
    std::array<Lab, 4> quarters{};
    {
        std::array<uint16_t, kMaxColours> order;
        for (size_t i = 0; i < s.n; ++i)
            order[i] = uint16_t(i);
        // Equal lightness in the colours' order: the same order everywhere,
        // and no buffer to allocate as stable_sort would.
        std::sort(order.begin(), order.begin() + ptrdiff_t(s.n), [&](uint16_t x, uint16_t y) {
            return s.lab[x].L < s.lab[y].L || (s.lab[x].L == s.lab[y].L && x < y);
        });
        double total = 0;
        for (size_t i = 0; i < s.n; ++i)
            total += s.weight[i];
        std::array<double, 4> w{}, L{}, a{}, b{};
        double before = 0;
        for (size_t j = 0; j < s.n; ++j) {
            const size_t i = order[j];
            const size_t k = std::min<size_t>(3, size_t(4 * (before + 0.5 * s.weight[i]) / total));
            before += s.weight[i];
            w[k] += s.weight[i];
            L[k] += s.weight[i] * s.lab[i].L;
            a[k] += s.weight[i] * s.lab[i].a;
            b[k] += s.weight[i] * s.lab[i].b;
        }
        for (size_t k = 0; k < 4; ++k)
            quarters[k] = w[k] > 0 ? Lab{L[k] / w[k], a[k] / w[k], b[k] / w[k], 0} : far[k];
    }
    const Groups x = lloyd(s, px, far), y = lloyd(s, px, quarters);
    return y.spread < x.spread ? y : x;
}

// The weighted sums of differences between the colours of group k and each
// of the values: their differences in a batch, added in the colours' order.
void group_costs(const ColourSet& s, const Groups& g, uint8_t k, const uint8_t* values, size_t count, double* out)
{
    LabArrays members;
    std::array<double, kMaxColours> weight, d;
    size_t m = 0;
    for (size_t i = 0; i < s.n; ++i)
        if (g.of[i] == k) {
            members.set(m, s.lab[i]);
            weight[m++] = s.weight[i];
        }
    const size_t lanes = m == 0 ? 0 : members.padded(m);
    for (size_t j = 0; j < count; ++j) {
        ciede2000_column(members.view(), lanes, screen_labs()[values[j]], d.data());
        double sum = 0;
        for (size_t i = 0; i < m; ++i)
            sum += weight[i] * d[i];
        out[j] = sum;
    }
}

// The differences from c to each of the values, in a batch.
void costs_from(const Lab& c, const uint8_t* values, size_t count, double* out)
{
    LabArrays to;
    std::array<double, 256> d;
    for (size_t j = 0; j < count; ++j)
        to.set(j, screen_labs()[values[j]]);
    if (count == 0)
        return;
    if (count == 1) { // one alone costs less than a vector of copies
        out[0] = ciede2000(c, screen_labs()[values[0]]);
        return;
    }
    ciede2000_row(c, to.view(), to.padded(count), d.data());
    std::copy_n(d.begin(), count, out);
}

// The screen's levels (red, green, blue) nearest to a colour.
std::array<int, 3> nearest_levels(const double* rgb)
{
    return {std::min(7, int(rgb[0] / 36 + 0.5)), std::min(7, int(rgb[1] / 36 + 0.5)), std::min(3, int(rgb[2] / 84 + 0.5))};
}

// The value of least cost(v) among all 256 or among the 3 x 3 x 3 levels
// around `levels`; the lowest value where two cost the same. floor(v) is
// at most cost(v) (-1 where nothing is known).
//
// The value at `levels` is tried first, as the likeliest to win, so that
// the floors of most others are above its cost and theirs is never
// computed. The lowest value winning a tie is what trying them all in order
// gave, as values grow with red, then green, then blue.
//
// costs(values, count, out) gives the costs of several values at once (a
// batch computes several at a time): first the first value's, then those of
// every value whose floor is not above it, the only ones the trial in order
// can ask for, as the least cost found only falls. The trial then takes its
// costs from them: the same comparisons, the same value.
template <class Costs, class Floor>
uint8_t best_value(bool every_value, std::array<int, 3> levels, Costs&& costs, Floor&& floor)
{
    int lo[3], hi[3];
    for (size_t c = 0; c < 3; ++c) {
        const int top = c == 2 ? 3 : 7;
        lo[c] = every_value ? 0 : std::max(0, levels[c] - 1);
        hi[c] = every_value ? top : std::min(top, levels[c] + 1);
    }
    std::array<uint8_t, 256> order; // the values in the order tried
    size_t count = 0;
    const uint8_t first = value_of(levels[0], levels[1], levels[2]);
    order[count++] = first;
    for (int r = lo[0]; r <= hi[0]; ++r)
        for (int g = lo[1]; g <= hi[1]; ++g)
            for (int b = lo[2]; b <= hi[2]; ++b)
                if (const uint8_t v = value_of(r, g, b); v != first)
                    order[count++] = v;

    std::array<double, 256> floors, cost;
    costs(&order[0], 1, &cost[0]);
    std::array<uint8_t, 256> asked, at;
    size_t m = 0;
    for (size_t j = 1; j < count; ++j) {
        floors[j] = floor(order[j]);
        if (!(floors[j] > cost[0])) {
            at[m] = uint8_t(j);
            asked[m++] = order[j];
        }
    }
    std::array<double, 256> answers;
    costs(asked.data(), m, answers.data());
    for (size_t i = 0; i < m; ++i)
        cost[at[i]] = answers[i];

    uint8_t best = 0;
    double least = -1;
    for (size_t j = 0; j < count; ++j) {
        const uint8_t v = order[j];
        if (j > 0 && least >= 0 && floors[j] > least)
            continue;
        if (const double c = cost[j]; least < 0 || c < least || (c == least && v < best)) {
            least = c;
            best = v;
        }
    }
    return best;
}

// Each colour's code: the nearest value, the lowest code of equally near ones.
void nearest_codes(size_t n, const std::array<Column, 4>& d, uint8_t* codes)
{
    for (size_t i = 0; i < n; ++i) {
        uint8_t code = 0;
        for (uint8_t k = 1; k < 4; ++k)
            if (d[k][i] < d[code][i])
                code = k;
        codes[i] = code;
    }
}

} // namespace

std::array<uint8_t, 4> choose_four_colours(const ColourSet& s, const FourColourSearch& how, uint8_t* codes)
{
    const std::array<Lab, 256>& screen = screen_labs();
    std::array<uint8_t, 4> values{};
    size_t used = 0;
    LabArrays px;
    for (size_t i = 0; i < s.n; ++i)
        px.set(i, s.lab[i]);
    if (s.n <= 4) {
        for (size_t i = 0; i < s.n; ++i) {
            const double rgb[3] = {double(s.rgb[i][0]), double(s.rgb[i][1]), double(s.rgb[i][2])};
            values[i] = best_value(
                how.every_value, nearest_levels(rgb),
                [&](const uint8_t* v, size_t count, double* out) { costs_from(s.lab[i], v, count, out); },
                [&](uint8_t v) { return ciede2000_floor(s.lab[i], screen[v]); });
        }
        used = s.n;
    } else {
        // Each group starts at the value nearest to its centre among the
        // 3 x 3 x 3 levels around its members' mean colour (for a whole
        // picture: the best value of all for its members). Trying every
        // such value on the members themselves did no better, at twice the
        // time.
        const Groups g = group_in_four(s, px);
        for (uint8_t k = 0; k < 4; ++k) {
            double w = 0, rgb[3] = {0, 0, 0};
            for (size_t i = 0; i < s.n; ++i)
                if (g.of[i] == k) {
                    w += s.weight[i];
                    for (size_t c = 0; c < 3; ++c)
                        rgb[c] += s.weight[i] * s.rgb[i][c];
                }
            if (w == 0)
                continue; // an emptied group: its value stays black
            for (double& c : rgb)
                c /= w;
            if (how.every_value) {
                values[k] = best_value(
                    true, {},
                    [&](const uint8_t* v, size_t count, double* out) { group_costs(s, g, k, v, count, out); },
                    [](uint8_t) { return -1.0; });
            } else {
                Lab c = g.centre[k];
                c.C = std::sqrt(c.a * c.a + c.b * c.b);
                values[k] = best_value(
                    false, nearest_levels(rgb),
                    [&](const uint8_t* v, size_t count, double* out) { costs_from(c, v, count, out); },
                    [&](uint8_t v) { return ciede2000_floor(c, screen[v]); });
            }
        }
        used = 4;
    }

    // Every colour's difference to each value.
    const size_t lanes = px.padded(s.n);
    std::array<Column, 4> d;
    for (size_t k = 0; k < 4; ++k)
        ciede2000_column(px.view(), lanes, screen[values[k]], d[k].data());
    nearest_codes(s.n, d, codes);

    // The moves: value k one level up or down in one channel, judged on the
    // colours coded k, each shown by the nearer of the new value and the
    // others. Colours of other codes could only come nearer, so a move that
    // lowers this sum lowers the whole.
    std::array<uint16_t, kMaxColours> members;
    LabArrays mine, batch;
    Column others, floors, diff, batch_out;
    std::array<uint16_t, kMaxColours> batch_of;
    std::array<double, kMaxColours + 1> rest; // rest[j]: the sum of the floors of members j on
    for (int pass = 0; pass < how.passes; ++pass) {
        bool moved = false;
        for (uint8_t k = 0; k < used; ++k) {
            size_t m = 0;
            double current = 0;
            for (size_t i = 0; i < s.n; ++i)
                if (codes[i] == k) {
                    members[m] = uint16_t(i);
                    mine.set(m, s.lab[i]);
                    double o = 1e300;
                    for (uint8_t j = 0; j < 4; ++j)
                        if (j != k)
                            o = std::min(o, d[j][i]);
                    others[m++] = o;
                    current += s.weight[i] * d[k][i];
                }
            if (current == 0)
                continue; // its colours shown exactly, or none
            const int level[3] = {values[k] >> 5, (values[k] >> 2) & 7, values[k] & 3};
            uint8_t best = values[k];
            for (int c = 0; c < 3; ++c)
                for (const int step : {-1, 1}) {
                    int l[3] = {level[0], level[1], level[2]};
                    l[c] += step;
                    if (l[c] < 0 || l[c] > (c == 2 ? 3 : 7))
                        continue;
                    const uint8_t v = value_of(l[0], l[1], l[2]);
                    // Each member's share of the sum has a floor, its weight
                    // times the nearer of the others and the difference's
                    // floor. A member whose floor is already beyond the
                    // others is shown by them: its share is known without
                    // its difference. And where the shares so far and the
                    // floors of the rest come to the sum to beat (the margin
                    // above the rounding of up to 256 additions), the move
                    // cannot win. Every share that is added is the one the
                    // plain sum adds, in the same order, so a move that
                    // wins has the same sum to the bit.
                    //
                    // The differences are computed in batches of those the
                    // sum goes on to need, kBatch at a time from the first
                    // member still without one: the values the plain sum
                    // takes one at a time, at most kBatch - 1 of them in
                    // vain when the sum stops.
                    ciede2000_floor_column(mine.view(), mine.padded(m), screen[v], floors.data());
                    rest[m] = 0;
                    for (size_t j = m; j-- > 0;)
                        rest[j] = rest[j + 1] + s.weight[members[j]] * std::min(others[j], floors[j]);
                    constexpr double kBelow = 1 - 1e-9;
                    constexpr size_t kBatch = 8, kAlone = 1;
                    double cost = 0;
                    size_t ready = 0; // members before it have their difference where it is needed
                    for (size_t j = 0; j < m && cost < current; ++j) {
                        if ((cost + rest[j]) * kBelow >= current) {
                            cost = current;
                            break;
                        }
                        if (floors[j] >= others[j]) {
                            cost += s.weight[members[j]] * others[j];
                            continue;
                        }
                        if (j >= ready) {
                            size_t q = 0, jj = j;
                            for (; jj < m && q < kBatch; ++jj)
                                if (!(floors[jj] >= others[jj])) {
                                    batch.set(q, s.lab[members[jj]]);
                                    batch_of[q++] = uint16_t(jj);
                                }
                            ready = jj;
                            if (q <= kAlone) // cheaper than a vector of copies
                                for (size_t r = 0; r < q; ++r)
                                    diff[batch_of[r]] = ciede2000(s.lab[members[batch_of[r]]], screen[v]);
                            else {
                                ciede2000_column(batch.view(), batch.padded(q), screen[v], batch_out.data());
                                for (size_t r = 0; r < q; ++r)
                                    diff[batch_of[r]] = batch_out[r];
                            }
                        }
                        cost += s.weight[members[j]] * std::min(others[j], diff[j]);
                    }
                    if (cost < current) {
                        current = cost;
                        best = v;
                    }
                }
            if (best != values[k]) {
                values[k] = best;
                ciede2000_column(px.view(), lanes, screen[best], d[k].data());
                nearest_codes(s.n, d, codes);
                moved = true;
            }
        }
        if (!moved)
            break;
    }
    return values;
}

uint8_t nearest_code(const Lab& c, const std::array<uint8_t, 4>& attributes)
{
    const std::array<Lab, 256>& screen = screen_labs();
    uint8_t code = 0;
    double least = ciede2000(c, screen[attributes[0]]);
    for (uint8_t k = 1; k < 4; ++k)
        if (const double d = ciede2000(c, screen[attributes[k]]); d < least) {
            least = d;
            code = k;
        }
    return code;
}
