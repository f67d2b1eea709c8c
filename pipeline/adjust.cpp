// The adjustment stage: brightness, contrast, saturation and gamma, in the
// order given; see lines.hpp. Tables in integers (gamma's from pinned
// floating point), so every machine gives the same bytes.
#include <algorithm>

#include "colour/light.hpp"
#include "pipeline/lines.hpp"

namespace {

uint8_t clamp_byte(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

// (num / den) rounded half up, den > 0, for num >= 0; 0 below.
int64_t rounded(int64_t num, int64_t den) { return num < 0 ? 0 : (num + den / 2) / den; }

// The table of a brightness, contrast or gamma adjustment.
std::array<uint8_t, 256> table_of(const Adjustment& a)
{
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
        switch (a.kind) {
        case Adjustment::brightness:
            // N % of the whole range added: -100 black, 100 white.
            t[v] = clamp_byte(v + (a.value * 255 + (a.value >= 0 ? 50 : -50)) / 100);
            break;
        case Adjustment::contrast:
            // Distances from the middle (127.5) times (100 + N) / (100 - N):
            // -100 all middle grey, 100 a threshold at the middle.
            if (a.value == 100)
                t[v] = v >= 128 ? 255 : 0;
            else
                t[v] = clamp_byte(rounded(255 * (100 - a.value) + (2 * v - 255) * (100 + a.value), 2 * (100 - a.value)));
            break;
        case Adjustment::gamma:
            // v^(1 / G) on 0 .. 1: above 1 lightens the middle tones, below darkens.
            t[v] = clamp_byte(int64_t(255 * pinned_pow(v / 255.0, 1000, uint32_t(a.value)) + 0.5));
            break;
        case Adjustment::saturation:
            break;
        }
    }
    return t;
}

bool neutral(const Adjustment& a)
{
    return a.kind == Adjustment::saturation ? a.value == 100 : a.kind == Adjustment::gamma ? a.value == 1000 : a.value == 0;
}

PictureError read_adjusted(void* state, uint8_t* out, size_t stride, uint32_t count, uint8_t* clear,
                           size_t clear_stride)
{
    const AdjustStage& st = *static_cast<const AdjustStage*>(state);
    if (const PictureError e = read_lines(st.up, out, stride, count, clear, clear_stride); e != PictureError::ok)
        return e;
    const size_t line = 3 * size_t(st.up.width);
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t* l = out + k * stride;
        for (const AdjustStage::Step& s : st.steps) {
            if (!s.saturation) {
                for (size_t i = 0; i < line; ++i)
                    l[i] = s.table[l[i]];
                continue;
            }
            // Each channel moved from the pixel's grey (Rec. 601 weights
            // in 256ths) by N %: 0 the grey itself, 200 twice as far.
            for (size_t i = 0; i < line; i += 3) {
                const int64_t grey = 29 * l[i] + 150 * l[i + 1] + 77 * l[i + 2];
                for (size_t c = 0; c < 3; ++c)
                    l[i + c] = clamp_byte(rounded(grey * 100 + (256 * l[i + c] - grey) * s.percent, 25600));
            }
        }
    }
    return PictureError::ok;
}

PictureError finish_adjusted(void* state) { return finish_lines(static_cast<AdjustStage*>(state)->up); }

} // namespace

bool changes_colours(const std::vector<Adjustment>& adjustments)
{
    return std::any_of(adjustments.begin(), adjustments.end(), [](const Adjustment& a) { return !neutral(a); });
}

LineSource adjust_lines(AdjustStage& st, const LineSource& up, const std::vector<Adjustment>& adjustments)
{
    st = AdjustStage{};
    st.up = up;
    for (const Adjustment& a : adjustments) {
        if (neutral(a))
            continue;
        AdjustStage::Step s;
        if (a.kind == Adjustment::saturation) {
            s.saturation = true;
            s.percent = a.value;
        } else {
            s.table = table_of(a);
            if (!st.steps.empty() && !st.steps.back().saturation) {
                // Two tables in a row are one: this one after the one before.
                for (uint8_t& v : st.steps.back().table)
                    v = s.table[v];
                continue;
            }
        }
        st.steps.push_back(s);
    }
    LineSource s = up;
    s.read = read_adjusted;
    s.finish = finish_adjusted;
    s.state = &st;
    return s;
}
