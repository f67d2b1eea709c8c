// The perceptual conversion: the colour maths against published values, the
// choice of codes, pixel art kept exactly through the real programs, and the
// option's failures the same as the default conversion's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <cstring>
#include <vector>

#include "colour/four_colours.hpp"
#include "colour/lab.hpp"
#include "formats/bmp.hpp"
#include "encode/quantize_perceptual.hpp"
#include "encode/sprite_perceptual.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

static const std::string kEnc = q(ENCSCREEN_EXE), kSpr = q(ENCSPRITE_EXE), kDec = q(DECSCREEN_EXE);

static Lab lab(double L, double a, double b) { return {L, a, b, std::sqrt(a * a + b * b)}; }

TEST(Perceptual, PinnedFunctionsFollowTheLibrary)
{
    // The library's results to within a few units in the last place, over the
    // ranges the conversion uses; a wrong branch or a series cut short shows.
    for (double x = 1e-4; x < 1.2; x *= 1.013)
        EXPECT_NEAR(pinned_cbrt(x), std::cbrt(x), 4e-16) << x;
    for (double x = 0; x < 70; x += 0.173)
        EXPECT_NEAR(pinned_exp_neg(x), std::exp(-x), 4e-16 * std::exp(-x)) << x;
    for (double t = -3.2; t < 3.2; t += 0.0137) {
        const double want = std::atan2(std::sin(t), std::cos(t)) * 180 / std::numbers::pi;
        EXPECT_NEAR(pinned_atan2_deg(2 * std::sin(t), 2 * std::cos(t)), want < 0 ? want + 360 : want, 1e-9) << t;
    }
    for (double x = -1.5; x < 1.5; x += 0.0113)
        EXPECT_NEAR(pinned_sin(x), std::sin(x), 4e-16) << x;
}

TEST(Perceptual, CiedeMatchesPublishedPairs)
{
    // Pairs from Sharma, Wu and Dalal's test data for CIEDE2000: blues, where
    // the rotation term matters; hues on either side of 0/360 degrees and
    // opposite ones; greys; large differences.
    struct Pair {
        Lab x, y;
        double de;
    };
    const Pair pairs[] = {
        {lab(50, 2.6772, -79.7751), lab(50, 0, -82.7485), 2.0425},
        {lab(50, 3.1571, -77.2803), lab(50, 0, -82.7485), 2.8615},
        {lab(50, 2.8361, -74.0200), lab(50, 0, -82.7485), 3.4412},
        {lab(50, 0, 0), lab(50, -1, 2), 2.3669},
        {lab(50, 2.49, -0.001), lab(50, -2.49, 0.0009), 7.1792},
        {lab(50, 2.49, -0.001), lab(50, -2.49, 0.0011), 7.2195},
        {lab(50, 2.5, 0), lab(73, 25, -18), 27.1492},
        {lab(50, 2.5, 0), lab(61, -5, 29), 22.8977},
        {lab(50, 2.5, 0), lab(56, -27, -3), 31.9030},
        {lab(50, 2.5, 0), lab(58, 24, 15), 19.4535},
        {lab(50, 2.5, 0), lab(50, 3.1736, 0.5854), 1.0000},
        {lab(60.2574, -34.0099, 36.2677), lab(60.4626, -34.1751, 39.4387), 1.2644},
        {lab(22.7233, 20.0904, -46.6940), lab(23.0331, 14.9730, -42.5619), 2.0373},
    };
    for (const Pair& p : pairs) {
        EXPECT_NEAR(ciede2000(p.x, p.y), p.de, 1e-4) << p.x.L << " " << p.x.a << " " << p.x.b;
        EXPECT_EQ(ciede2000(p.x, p.x), 0);
    }
    // sRGB red and white as every CIELAB converter gives them (D65).
    const Lab red = lab_of_srgb(255, 0, 0), white = lab_of_srgb(255, 255, 255);
    EXPECT_NEAR(red.L, 53.2408, 1e-3);
    EXPECT_NEAR(red.a, 80.0925, 1e-3);
    EXPECT_NEAR(red.b, 67.2032, 1e-3);
    EXPECT_NEAR(white.L, 100, 1e-3);
    // The screen's colours are the ones decscreen writes.
    for (unsigned v = 0; v < 256; ++v) {
        const std::array<uint8_t, 3> shown = screen_rgb(uint8_t(v));
        const Lab want = lab_of_srgb(shown[0], shown[1], shown[2]), got = screen_labs()[v];
        EXPECT_EQ(std::tie(got.L, got.a, got.b, got.C), std::tie(want.L, want.a, want.b, want.C)) << v;
    }
}

TEST(Perceptual, TheFloorIsNeverAboveTheDifference)
{
    // The search skips a candidate whose floor is above what it has found:
    // a floor above the difference would skip the best and move bytes. The
    // published pairs, every pair of screen colours, and random colours
    // against screen colours (blues, greys and near-equal lightness, where
    // the rotation and the chroma terms are largest against the lightness).
    const Lab published[][2] = {{lab(50, 2.6772, -79.7751), lab(50, 0, -82.7485)},
                                {lab(50, 2.49, -0.001), lab(50, -2.49, 0.0009)},
                                {lab(22.7233, 20.0904, -46.6940), lab(23.0331, 14.9730, -42.5619)},
                                {lab(50, 0, 0), lab(50, 0, 0)}};
    for (const auto& p : published)
        EXPECT_LE(ciede2000_floor(p[0], p[1]), ciede2000(p[0], p[1]));
    const std::array<Lab, 256>& screen = screen_labs();
    size_t checked = 0, tight = 0;
    for (const Lab& x : screen)
        for (const Lab& y : screen) {
            const double f = ciede2000_floor(x, y), d = ciede2000(x, y);
            ASSERT_LE(f, d);
            tight += f > 0.5 * d;
            ++checked;
        }
    std::mt19937 random(31);
    for (int i = 0; i < 200000; ++i) {
        const Lab x = lab_of_srgb(uint8_t(random()), uint8_t(random()), uint8_t(random()));
        const Lab& y = screen[random() % 256];
        ASSERT_LE(ciede2000_floor(x, y), ciede2000(x, y));
        ++checked;
    }
    // And it is a floor worth having: above half the difference for a fair
    // share of pairs.
    EXPECT_GT(tight, checked / 20);
}

// Colours as the batch functions take them.
struct Lanes {
    std::vector<double> L, a, b, C;
    void add(const Lab& c) { L.push_back(c.L), a.push_back(c.a), b.push_back(c.b), C.push_back(c.C); }
    LabLanes view() const { return {L.data(), a.data(), b.data(), C.data()}; }
};

static uint64_t bits(double v)
{
    uint64_t out;
    std::memcpy(&out, &v, sizeof out);
    return out;
}

TEST(Perceptual, BatchedDifferencesHaveTheBitsOfSingleOnes)
{
    // The searches take their differences in batches, computed several at a
    // time, and the bytes must be those of one pair at a time: every result
    // to the bit, for colours that take each of ciede2000's ways (greys,
    // equal colours, opposite hues, the blue region and its edge at 75
    // degrees from 275, hues either side of 180 degrees from 275) and for
    // many random ones. Odd counts leave a remainder after the vectors.
    std::vector<Lab> colours = {lab(50, 0, 0),      lab(0, 0, 0),         lab(100, 0, 0),     lab(50, 20, 0),
                                lab(50, -20, 0),    lab(50, 0, 20),       lab(50, 0, -20),    lab(50, 2.49, -0.001),
                                lab(50, -2.49, 0.0009), lab(50, 2.6772, -79.7751), lab(50, 0, -82.7485),
                                lab(22.7233, 20.0904, -46.694), lab(60, -30, 30), lab(60, 30, -30), lab(40, 1e-9, 0)};
    for (double deg = 0; deg < 360; deg += 2.5) {
        const double r = deg * std::numbers::pi / 180;
        colours.push_back(lab(55, 40 * std::cos(r), 40 * std::sin(r)));
        colours.push_back(lab(30, 3 * std::cos(r), 3 * std::sin(r)));
    }
    for (const Lab& c : screen_labs())
        colours.push_back(c);
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i)
        colours.push_back(lab_of_srgb(uint8_t(random()), uint8_t(random()), uint8_t(random())));

    Lanes all;
    for (const Lab& c : colours)
        all.add(c);
    const size_t n = colours.size();
    std::vector<double> out(n), floors(n);
    size_t blue = 0;
    for (size_t k = 0; k < n; k += 7) {
        const Lab& c = colours[k];
        ciede2000_column(all.view(), n, c, out.data());
        ciede2000_floor_column(all.view(), n, c, floors.data());
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(bits(out[i]), bits(ciede2000(colours[i], c))) << i << " against " << k;
            ASSERT_EQ(bits(floors[i]), bits(ciede2000_floor(colours[i], c))) << i << " against " << k;
        }
        ciede2000_row(c, all.view(), n, out.data());
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(bits(out[i]), bits(ciede2000(c, colours[i]))) << k << " against " << i;
    }
    // Pairs, both ways round, each colour against a shuffled other.
    Lanes other;
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    for (size_t i = 0; i < n; ++i)
        other.add(colours[order[i]]);
    for (const bool swapped : {false, true}) {
        ciede2000_pairs(swapped ? other.view() : all.view(), swapped ? all.view() : other.view(), n, out.data());
        for (size_t i = 0; i < n; ++i) {
            const Lab& x = swapped ? colours[order[i]] : colours[i];
            const Lab& y = swapped ? colours[i] : colours[order[i]];
            ASSERT_EQ(bits(out[i]), bits(ciede2000(x, y))) << i;
            blue += x.b < -5 && y.b < -5;
        }
    }
    EXPECT_GT(blue, n / 10);
    // Fewer than a vector's worth, and none.
    for (size_t m = 0; m <= 5; ++m) {
        ciede2000_column(all.view(), m, colours[10], out.data());
        for (size_t i = 0; i < m; ++i)
            EXPECT_EQ(bits(out[i]), bits(ciede2000(colours[i], colours[10])));
    }
}

// A 24-bit picture's bytes as the walk hands a symbol over: bottom line first.
static SymbolRaster quantize(const std::array<Rgb, 64>& px)
{
    std::array<uint8_t, 192> bgr;
    for (size_t j = 0; j < 64; ++j)
        bgr[3 * j] = px[j].b, bgr[3 * j + 1] = px[j].g, bgr[3 * j + 2] = px[j].r;
    return quantize_perceptual_bgr(bgr.data(), 24);
}

TEST(Perceptual, EveryPixelTakesTheNearestOfItsSymbolsColours)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        // Noise around a few centres, as in a photograph's busy symbol.
        const int spread = 4 + round % 60;
        Rgb centre[3];
        for (Rgb& c : centre)
            c = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
        std::array<Rgb, 64> px;
        for (Rgb& p : px) {
            const Rgb& c = centre[rng() % 3];
            const auto near = [&](uint8_t v) { return uint8_t(std::clamp(int(v) + int(rng() % (2 * spread)) - spread, 0, 255)); };
            p = {near(c.r), near(c.g), near(c.b)};
        }
        const SymbolRaster q = quantize(px);
        for (size_t j = 0; j < 64; ++j) {
            const unsigned code = (q.words[j / 8] >> (14 - 2 * (j % 8))) & 3;
            const Lab l = lab_of_srgb(px[j].r, px[j].g, px[j].b);
            const double mine = ciede2000(l, screen_labs()[q.attributes[code]]);
            for (unsigned k = 0; k < 4; ++k)
                ASSERT_LE(mine, ciede2000(l, screen_labs()[q.attributes[k]])) << round << " " << j;
        }
    }
}

// Choosing and coding apart give the fused quantizer's bytes, for symbols of
// one colour, of a few, of exactly four screen colours, of noise and of
// ramps, their lines read either way up.
TEST(Perceptual, TwoStepsGiveTheFusedBytes)
{
    std::mt19937 rng(11);
    const auto screen = [&] {
        const std::array<uint8_t, 3> c = screen_rgb(uint8_t(rng()));
        return Rgb{c[0], c[1], c[2]};
    };
    const auto any = [&] { return Rgb{uint8_t(rng()), uint8_t(rng()), uint8_t(rng())}; };
    const struct {
        const char* name;
        std::function<Rgb(size_t j, const Rgb* few)> pixel;
    } kinds[] = {
        {"flat", [](size_t, const Rgb* few) { return few[0]; }},
        {"two colours", [](size_t j, const Rgb* few) { return few[j % 3 == 0]; }},
        {"five colours", [](size_t j, const Rgb* few) { return few[(j * 7) % 5]; }},
        {"noise", [&](size_t, const Rgb*) { return any(); }},
        {"ramp", [](size_t j, const Rgb* few) {
             return Rgb{uint8_t(few[0].r + 3 * j), uint8_t(few[0].g + j), uint8_t(few[0].b - 2 * j)};
         }},
    };
    for (const auto& kind : kinds)
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE(testing::Message() << kind.name << ", round " << round);
            Rgb few[5];
            for (Rgb& c : few)
                c = round % 2 ? screen() : any();
            std::array<uint8_t, 192> bgr, flipped;
            for (size_t j = 0; j < 64; ++j) {
                const Rgb c = kind.pixel(j, few);
                bgr[3 * j] = c.b, bgr[3 * j + 1] = c.g, bgr[3 * j + 2] = c.r;
            }
            for (size_t line = 0; line < 8; ++line)
                std::copy_n(bgr.begin() + 24 * ptrdiff_t(line), 24, flipped.begin() + 24 * ptrdiff_t(7 - line));
            const SymbolRaster fused = quantize_perceptual_bgr(bgr.data(), 24);
            for (const auto& [px, stride] : {std::pair{bgr.data(), ptrdiff_t(24)}, {flipped.data() + 7 * 24, -24}}) {
                const std::array<uint8_t, 4> colours = choose_perceptual_colours(px, stride);
                EXPECT_EQ(colours, fused.attributes);
                EXPECT_EQ(code_perceptual(px, stride, colours), fused.words);
            }
        }
}

// Any pixels against any four colours: a pixel of one of the four screen
// colours gets that colour's code, the first where the four repeat one.
TEST(Perceptual, CodesOtherPixelsToTheirNearestColour)
{
    const std::array<std::array<uint8_t, 4>, 3> fours = {{{0x00, 0xE0, 0x1C, 0xFF}, {0x92, 0x25, 0x92, 0x6D}, {3, 2, 1, 0}}};
    for (const auto& four : fours) {
        std::array<uint8_t, 192> bgr;
        std::array<uint16_t, 8> want{};
        for (size_t j = 0; j < 64; ++j) {
            const uint8_t k = uint8_t((j * 5 + j / 8) % 4);
            const std::array<uint8_t, 3> c = screen_rgb(four[k]);
            bgr[3 * j] = c[2], bgr[3 * j + 1] = c[1], bgr[3 * j + 2] = c[0];
            const uint8_t first = uint8_t(std::find(four.begin(), four.end(), four[k]) - four.begin());
            want[j / 8] = uint16_t(want[j / 8] | raster_bits(first, unsigned(j % 8)));
        }
        EXPECT_EQ(code_perceptual(bgr.data(), 24, four), want);
    }
}

// A picture of random shapes in which every symbol holds at most four colours
// the screen shows exactly: each 8x8 symbol has its own four, of which a random
// number are drawn as rectangles over a background.
static Picture screen_colour_art(int w, int h, uint32_t seed, int colours_per_symbol = 4)
{
    std::mt19937 rng(seed);
    const auto screen_colour = [&] {
        const std::array<uint8_t, 3> c = screen_rgb(uint8_t(rng()));
        return Rgb{c[0], c[1], c[2]};
    };
    Picture p = make_picture(w, h, [](int, int) { return Rgb{0, 0, 0}; });
    for (int sy = 0; sy < h; sy += 8)
        for (int sx = 0; sx < w; sx += 8) {
            Rgb pal[4];
            for (Rgb& c : pal)
                c = screen_colour();
            const int n = 1 + int(rng() % unsigned(colours_per_symbol));
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    p.at(sx + x, sy + y) = pal[0];
            for (int shape = 0; shape < 6; ++shape) {
                const int x0 = int(rng() % 8), y0 = int(rng() % 8), x1 = x0 + int(rng() % 8), y1 = y0 + int(rng() % 8);
                const Rgb c = pal[rng() % unsigned(n)];
                for (int y = y0; y <= std::min(7, y1); ++y)
                    for (int x = x0; x <= std::min(7, x1); ++x)
                        p.at(sx + x, sy + y) = c;
            }
        }
    return p;
}

TEST(Perceptual, ScreenColourArtComesBackExactly)
{
    const fs::path dir = scratch_dir();
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const Picture art = screen_colour_art(64, 48, seed);
        write_file(dir / "art.bmp", make_bmp(art));
        ASSERT_EQ(run(kEnc + " --perceptual " + q(dir / "art.bmp") + " " + q(dir / "art.scn")).status, 1);
        ASSERT_EQ(run(kDec + " " + q(dir / "art.scn") + " " + q(dir / "back.bmp")).status, 0);
        const Bytes back = read_file(dir / "back.bmp");
        for (int y = 0; y < art.h; ++y)
            for (int x = 0; x < art.w; ++x)
                ASSERT_EQ(bmp_pixel(back, x, y), art.at(x, y)) << x << "," << y;
    }
}

TEST(Perceptual, SpritesOfFourScreenColoursStayLossless)
{
    // Four screen colours over the whole picture: each pixel's value is
    // coded to an attribute that is that value itself.
    const fs::path dir = scratch_dir();
    const Rgb four[] = {{0, 0, 0}, {252, 36, 84}, {36, 216, 168}, {252, 252, 252}};
    std::mt19937 rng(5);
    const Picture p = make_picture(32, 16, [&](int, int) { return four[rng() % 4]; });
    write_file(dir / "four.bmp", make_bmp(p));
    SpritePicture sp;
    ASSERT_EQ(load_sprites_perceptual((dir / "four.bmp").string().c_str(), sp), PictureError::ok);
    for (const Rgb& c : four) {
        const uint8_t v = pack_rgb332(c.r, c.g, c.b);
        EXPECT_EQ(sp.palette.attributes[code_of(sp.palette, v)], v);
    }
    // And the program writes a listing of those attributes.
    const RunResult r = run(kSpr + " --perceptual " + q(dir / "four.bmp") + " " + q(dir / "out.asm"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    const Bytes text = read_file(dir / "out.asm");
    const std::string listing(text.begin(), text.end());
    const std::array<uint8_t, 4>& a = sp.palette.attributes;
    char defb[64];
    std::snprintf(defb, sizeof defb, "\tDEFB\t0%02Xh,0%02Xh,0%02Xh,0%02Xh;\n", a[0], a[1], a[2], a[3]);
    EXPECT_NE(listing.find(defb), std::string::npos) << defb;
}

TEST(Perceptual, FailuresAsTheDefaultConversion)
{
    // The same status, messages and files with the option as without it.
    const fs::path dir = scratch_dir();
    const Picture small = screen_colour_art(16, 8, 9);
    write_file(dir / "good.bmp", make_bmp(small));
    Bytes eight_bit = make_bmp(small);
    eight_bit[28] = 8;
    write_file(dir / "8bit.bmp", eight_bit);
    Bytes cut = make_bmp(small);
    cut.resize(cut.size() - 7);
    write_file(dir / "cut.bmp", cut);
    write_file(dir / "odd.bmp", bmp_header(12, 8));
    struct Case {
        const char* name;
        std::string args; // after the program and the option
    };
    const Case cases[] = {
        {"missing input", q(dir / "none.bmp") + " out"},
        {"8 bits a pixel", q(dir / "8bit.bmp") + " out"},
        {"truncated", q(dir / "cut.bmp") + " out"},
        {"width not a multiple of 8", q(dir / "odd.bmp") + " out"},
        {"no such folder", q(dir / "good.bmp") + " " + q(dir / "no" / "out")},
        {"truncated from a pipe", "- out < " + q(dir / "cut.bmp")},
    };
    for (const std::string& prog : {kEnc, kSpr})
        for (const Case& c : cases) {
            SCOPED_TRACE(prog + ": " + c.name);
            const fs::path a = dir / "a", b = dir / "b";
            fs::create_directories(a);
            fs::create_directories(b);
            const RunResult plain = run("cd " + q(a) + " && " + prog + " " + c.args);
            const RunResult option = run("cd " + q(b) + " && " + prog + " --perceptual " + c.args);
            EXPECT_NE(plain.status, prog == kEnc ? 1 : 0);
            EXPECT_EQ(option.status, plain.status);
            EXPECT_EQ(option.out, plain.out);
            EXPECT_EQ(option.err, plain.err);
            EXPECT_FALSE(fs::exists(b / "out"));
            fs::remove_all(a);
            fs::remove_all(b);
        }
}
