// The page's loss map: sRGB to L*a*b* and CIEDE2000 against published values.
#include "colour/colour_difference.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "colour/lab.hpp"

#include <gtest/gtest.h>

// Pairs from Sharma, Wu and Dalal's test data (2005), chosen for the parts of
// the formula that go wrong first: a grey against a colour, hue angles on
// either side of 0 and 180 degrees, the blue region's rotation, very dark.
TEST(ColourDifference, MatchesPublishedPairs)
{
    struct Case {
        MapLab p, q;
        float expected;
    };
    const Case cases[] = {
        {{50, 2.6772f, -79.7751f}, {50, 0, -82.7485f}, 2.0425f},
        {{50, 0, 0}, {50, -1, 2}, 2.3669f},
        {{50, 2.49f, -0.001f}, {50, -2.49f, 0.0009f}, 7.1792f},
        {{50, 2.49f, -0.001f}, {50, -2.49f, 0.0012f}, 7.2195f},
        {{50, 2.5f, 0}, {73, 25, -18}, 27.1492f},
        {{50, 2.5f, 0}, {50, 3.1736f, 0.5854f}, 1.0f},
        {{60.2574f, -34.0099f, 36.2677f}, {60.4626f, -34.1751f, 39.4387f}, 1.2644f},
        {{22.7233f, 20.0904f, -46.694f}, {23.0331f, 14.973f, -42.5619f}, 2.0373f},
        {{2.0776f, 0.0795f, -1.135f}, {0.9033f, -0.0636f, -0.5514f}, 0.9082f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(map_ciede2000(c.p, c.q), c.expected, 2e-3) << c.p.l << " " << c.p.a << " " << c.p.b;
        EXPECT_NEAR(map_ciede2000(c.q, c.p), c.expected, 2e-3) << "the other way round";
    }
}

TEST(ColourDifference, LabOfSrgb)
{
    const MapLabTables tables = map_lab_tables();
    struct Case {
        uint8_t r, g, b;
        MapLab expected;
    };
    const Case cases[] = {
        {255, 255, 255, {100, 0, 0}},
        {0, 0, 0, {0, 0, 0}},
        {255, 0, 0, {53.24f, 80.09f, 67.20f}},
        {0, 0, 255, {32.30f, 79.19f, -107.86f}},
        {1, 1, 1, {0.27f, 0, 0}},       // below the cube root's knee
        {128, 128, 128, {53.59f, 0, 0}},
    };
    for (const Case& c : cases) {
        const MapLab lab = map_lab(tables, c.r, c.g, c.b);
        EXPECT_NEAR(lab.l, c.expected.l, 0.05) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_NEAR(lab.a, c.expected.a, 0.05) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_NEAR(lab.b, c.expected.b, 0.05) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

// The loss map's single-precision difference against the screen conversions'
// pinned double-precision one, on the same L*a*b* colours (sRGB every 17
// levels against every screen colour): they must agree to what a map can
// show. Opposite hues are where single precision went wrong first.
TEST(ColourDifference, AgreesWithTheConversionsDifference)
{
    const MapLabTables tables = map_lab_tables();
    const auto pinned = [](const MapLab& m) {
        return Lab{m.l, m.a, m.b, std::sqrt(double(m.a) * m.a + double(m.b) * m.b)};
    };
    std::vector<float> lab(6 * 256), got(256);
    const MapLabLine p{lab.data(), lab.data() + 256, lab.data() + 512};
    const MapLabLine q{lab.data() + 768, lab.data() + 1024, lab.data() + 1280};
    std::array<Lab, 256> screen{};
    for (unsigned s = 0; s < 256; ++s) {
        const std::array<uint8_t, 3> c = screen_rgb(uint8_t(s));
        const MapLab m = map_lab(tables, c[0], c[1], c[2]);
        lab[768 + s] = m.l;
        lab[1024 + s] = m.a;
        lab[1280 + s] = m.b;
        screen[s] = pinned(m);
    }
    double worst = 0;
    for (unsigned r = 0; r < 256; r += 17)
        for (unsigned g = 0; g < 256; g += 17)
            for (unsigned b = 0; b < 256; b += 17) {
                const MapLab m = map_lab(tables, uint8_t(r), uint8_t(g), uint8_t(b));
                std::fill(lab.begin(), lab.begin() + 256, m.l);
                std::fill(lab.begin() + 256, lab.begin() + 512, m.a);
                std::fill(lab.begin() + 512, lab.begin() + 768, m.b);
                map_ciede2000_pairs(p, q, got.data(), 256);
                for (unsigned s = 0; s < 256; ++s) {
                    const double want = ciede2000(pinned(m), screen[s]);
                    worst = std::max(worst, std::fabs(got[s] - want));
                    ASSERT_NEAR(got[s], want, 0.01) << r << "," << g << "," << b << " against screen colour " << s;
                }
            }
    std::printf("largest difference: %.5f\n", worst);
}
