// The fit and adjustment stages through the chain the programs read with:
// the bytes of the lines they hand out, for pictures whose right result is
// known (a flat colour, a checkerboard, a picture that marks where each
// column and line came from), from bottom-up and top-down files alike.
#include <gtest/gtest.h>

#include "colour/light.hpp"
#include "pipeline/lines.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

namespace {

// The picture the chain hands out for `p` written as a BMP of either order.
Picture through_chain(const Picture& p, const ReadOptions& opt, bool top_down)
{
    BmpLayout layout;
    layout.top_down = top_down;
    const fs::path file = scratch_dir() / "in.bmp";
    write_file(file, make_bmp(p, layout));
    Picture out;
    const PictureError e = read_through_chain(
        file.string().c_str(),
        [&](const LineSource& src) {
            out.w = int(src.width);
            out.h = int(src.height);
            out.px.assign(size_t(out.w) * size_t(out.h), Rgb{});
            std::vector<uint8_t> line(3 * size_t(src.width));
            for (uint32_t k = 0; k < src.height; ++k) {
                if (const PictureError r = read_lines(src, line.data(), line.size(), 1); r != PictureError::ok)
                    return r;
                const int y = src.top_down ? int(k) : out.h - 1 - int(k);
                for (int x = 0; x < out.w; ++x)
                    out.at(x, y) = {line[3 * size_t(x) + 2], line[3 * size_t(x) + 1], line[3 * size_t(x)]};
            }
            return finish_lines(src);
        },
        opt);
    EXPECT_EQ(e, PictureError::ok);
    return out;
}

ReadOptions fit(uint32_t w, uint32_t h, bool letterbox = false, uint32_t at_x = kWhole / 2, uint32_t at_y = kWhole / 2)
{
    ReadOptions o;
    o.fit_width = w;
    o.fit_height = h;
    o.letterbox = letterbox;
    o.fit_x = at_x;
    o.fit_y = at_y;
    return o;
}

// Both orders of the file give the same picture; that picture.
Picture fitted(const Picture& p, const ReadOptions& opt)
{
    const Picture a = through_chain(p, opt, false), b = through_chain(p, opt, true);
    EXPECT_TRUE(a.px == b.px) << "bottom-up and top-down files differ";
    return a;
}

} // namespace

TEST(Fit, FlatColourStaysThatColour)
{
    const Rgb colours[] = {{200, 30, 90}, {1, 2, 3}, {0, 0, 0}, {255, 255, 255}, {128, 64, 250}};
    const struct {
        int w, h;
        uint32_t fw, fh;
        bool letterbox;
    } cases[] = {
        {301, 203, 64, 48, false}, // reduced, cut at the sides
        {301, 203, 64, 48, true},  // reduced, bars
        {5, 3, 40, 32, false},     // enlarged
        {7, 100, 16, 8, false},    // a thin strip across
        {1, 1, 8, 8, false},
    };
    for (const auto& c : cases)
        for (const Rgb colour : colours) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " to " << c.fw << "x" << c.fh
                                            << (c.letterbox ? " letterboxed" : "") << ", colour " << int(colour.r));
            const Picture out = fitted(make_picture(c.w, c.h, [&](int, int) { return colour; }), fit(c.fw, c.fh, c.letterbox));
            ASSERT_EQ(out.w, int(c.fw));
            ASSERT_EQ(out.h, int(c.fh));
            size_t same = 0;
            for (const Rgb px : out.px)
                same += px == colour || (c.letterbox && px == Rgb{0, 0, 0});
            EXPECT_EQ(same, out.px.size());
        }
}

// Half the light of white is sRGB 188, not the byte mean of 128: averages
// are of light.
TEST(Fit, CheckerboardBecomesTheGreyOfItsMeanLight)
{
    for (const int factor : {2, 4}) {
        const Picture board = make_picture(32 * factor, 16 * factor, [](int x, int y) {
            return (x + y) % 2 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
        });
        const Picture out = fitted(board, fit(32, 16));
        for (const Rgb px : out.px)
            ASSERT_EQ(px, (Rgb{188, 188, 188})) << "reduced " << factor << ":1";
    }
}

// A picture four times as wide as the screen (or as tall) at the screen's
// scale: the cut is a quarter of it, and each column (line) of the screen is
// one of the picture, marked by its red (green) value.
TEST(Fit, CutLiesAtTheAnchor)
{
    const Picture wide = make_picture(64, 16, [](int x, int) { return Rgb{uint8_t(4 * x), 0, 0}; });
    const Picture tall = make_picture(16, 64, [](int, int y) { return Rgb{0, uint8_t(4 * y), 0}; });
    const struct {
        uint32_t at;
        int first; // the picture's column or line at the screen's first
    } cases[] = {{0, 0}, {kWhole / 4, 12}, {kWhole / 2, 24}, {kWhole, 48}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "at " << c.at);
        const Picture across = fitted(wide, fit(16, 16, false, c.at, 0));
        const Picture down = fitted(tall, fit(16, 16, false, 0, c.at));
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(across.at(x, 5).r, 4 * (c.first + x));
        for (int y = 0; y < 16; ++y)
            EXPECT_EQ(down.at(5, y).g, 4 * (c.first + y));
    }
}

// Letterboxed, the whole picture at the scale that fits, the bars black and
// placed by the anchor.
TEST(Fit, LetterboxBarsLieWhereTheAnchorPutsThem)
{
    const Rgb grey{90, 90, 90};
    const Picture wide = make_picture(64, 16, [&](int, int) { return grey; });
    const Picture tall = make_picture(16, 64, [&](int, int) { return grey; });
    const struct {
        uint32_t at;
        int first; // the first of the 4 lines (columns) of picture
    } cases[] = {{0, 0}, {kWhole / 2, 6}, {kWhole, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "at " << c.at);
        const Picture across = fitted(wide, fit(16, 16, true, 0, c.at));
        const Picture down = fitted(tall, fit(16, 16, true, c.at, 0));
        for (int i = 0; i < 16; ++i) {
            const Rgb want = i >= c.first && i < c.first + 4 ? grey : Rgb{0, 0, 0};
            EXPECT_EQ(across.at(7, i), want) << "line " << i;
            EXPECT_EQ(down.at(i, 7), want) << "column " << i;
        }
    }
}

// A photo at a scale that is no whole ratio, cut off-centre, letterboxed:
// the same from either order (fitted checks that).
TEST(Fit, EitherOrderGivesTheSameBytes)
{
    const Picture photo = photo_picture(301, 203);
    for (const ReadOptions& o : {fit(64, 48, false, 20000, 50000), fit(64, 64, true, 10000, 60000), fit(512, 384)})
        fitted(photo, o);
}

// Each adjustment on one pixel's value, and the order they are given in.
TEST(Adjust, TablesAndOrder)
{
    const Picture p = make_picture(8, 8, [](int x, int y) { return Rgb{uint8_t(32 * x), uint8_t(32 * y), 100}; });
    const auto adjusted = [&](std::vector<Adjustment> a) {
        ReadOptions o;
        o.adjustments = std::move(a);
        return fitted(p, o);
    };
    const struct {
        const char* name;
        std::vector<Adjustment> a;
        Rgb at_3_5; // the pixel of (96, 160, 100)
    } cases[] = {
        {"neutral", {{Adjustment::brightness, 0}, {Adjustment::saturation, 100}, {Adjustment::gamma, 1000}},
         {96, 160, 100}},
        {"brightness 20", {{Adjustment::brightness, 20}}, {147, 211, 151}},
        {"brightness -100", {{Adjustment::brightness, -100}}, {0, 0, 0}},
        {"contrast 50", {{Adjustment::contrast, 50}}, {33, 225, 45}},
        {"contrast -100", {{Adjustment::contrast, -100}}, {128, 128, 128}},
        {"contrast 100", {{Adjustment::contrast, 100}}, {0, 255, 0}},
        {"saturation 0", {{Adjustment::saturation, 0}}, {134, 134, 134}},
        {"saturation 200", {{Adjustment::saturation, 200}}, {58, 186, 66}},
        {"gamma 2", {{Adjustment::gamma, 2000}}, {156, 202, 160}},
        {"gamma 0.5", {{Adjustment::gamma, 500}}, {36, 100, 39}},
        {"brightness then contrast", {{Adjustment::brightness, 20}, {Adjustment::contrast, 50}}, {186, 255, 198}},
        {"contrast then brightness", {{Adjustment::contrast, 50}, {Adjustment::brightness, 20}}, {84, 255, 96}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(adjusted(c.a).at(3, 5), c.at_3_5) << c.name;
}

// Enlarged hundreds of times, a screen pixel covers less than a place of
// the picture: each takes the pixel where it starts, never one past the
// picture's edge, from either order (fitted checks that).
TEST(Fit, EnlargedHundredsOfTimesUpToTheEdges)
{
    const Picture across = make_picture(2, 1, [](int x, int) { return Rgb{uint8_t(50 + 100 * x), 0, 0}; });
    const Picture down = make_picture(1, 2, [](int, int y) { return Rgb{0, uint8_t(50 + 100 * y), 0}; });
    for (const uint32_t at : {0u, kWhole}) {
        const uint8_t want = at == 0 ? 50 : 150;
        for (const Rgb px : fitted(across, fit(8, 1024, false, at, 0)).px)
            ASSERT_EQ(px.r, want) << "at " << at;
        for (const Rgb px : fitted(down, fit(1024, 8, false, 0, at)).px)
            ASSERT_EQ(px.g, want) << "at " << at;
    }
}

// The adjustments change the picture, not the screen: letterboxed, the bars
// stay black however bright, contrasted (-100 makes black middle grey) or
// lightened the picture is, and the picture's part is the colour that the
// adjustment alone gives it.
TEST(Fit, LetterboxBarsStayBlackUnderAdjustments)
{
    const Picture wide = make_picture(64, 16, [](int, int) { return Rgb{90, 120, 30}; });
    const struct {
        const char* name;
        std::vector<Adjustment> a;
    } cases[] = {
        {"brightness 50", {{Adjustment::brightness, 50}}},
        {"contrast -100", {{Adjustment::contrast, -100}}},
        {"gamma 2.2", {{Adjustment::gamma, 2200}}},
        {"saturation 0, brightness 20", {{Adjustment::saturation, 0}, {Adjustment::brightness, 20}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReadOptions only;
        only.adjustments = c.a;
        const Rgb want = fitted(wide, only).at(0, 0);
        ASSERT_NE(want, (Rgb{90, 120, 30}));
        ReadOptions o = fit(16, 16, true);
        o.adjustments = c.a;
        const Picture out = fitted(wide, o);
        for (int y = 0; y < 16; ++y)
            EXPECT_EQ(out.at(7, y), (y >= 6 && y < 10 ? want : Rgb{0, 0, 0})) << "line " << y;
    }
}

// Light back to bytes, for every light the fit stage can give: each byte's
// own light gives that byte, the byte grows one at a time as the light does,
// and each steps up between the lights of its two neighbours.
TEST(Fit, EveryLightGoesBackToItsNearestByte)
{
    const std::array<uint16_t, 256>& lin = linear_of_srgb();
    for (unsigned v = 0; v < 256; ++v)
        ASSERT_EQ(srgb_of_linear(uint32_t(lin[v]) << 8), v);
    unsigned was = 0;
    for (uint32_t light = 0; light <= 65535u * 256; ++light) {
        const unsigned v = srgb_of_linear(light);
        if (v == was)
            continue;
        ASSERT_EQ(v, was + 1) << "at light " << light;
        ASSERT_GT(light, uint32_t(lin[was]) << 8);
        ASSERT_LE(light, uint32_t(lin[v]) << 8);
        was = v;
    }
    EXPECT_EQ(was, 255u);
}
