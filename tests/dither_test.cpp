// --dither=ordered and --dither (the search) through the real programs: art
// the screen shows comes out as --perceptual makes it, flat areas stay flat,
// the file's line order does not matter, and a gradient or a photograph seen
// from a distance beats --perceptual's bands.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "colour/lab.hpp"
#include "colour/rgb332.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kEnc = q(ENCSCREEN_EXE), kSpr = q(ENCSPRITE_EXE), kDec = q(DECSCREEN_EXE);

Rgb screen_colour(uint8_t v)
{
    const std::array<uint8_t, 3> c = screen_rgb(v);
    return {c[0], c[1], c[2]};
}

// The screen's levels as art drawn with bit-replicated levels shows them:
// 0, 36, 73, ... 255 for red and green, 0, 85, 170, 255 for blue.
Rgb bit_replicated(Rgb c)
{
    return {uint8_t((c.r / 36 * 255 + 3) / 7), uint8_t((c.g / 36 * 255 + 3) / 7), uint8_t(c.b / 84 * 85)};
}

// Every symbol of up to four screen colours of its own, in rectangles.
Picture art(int w, int h, uint32_t seed, bool replicated)
{
    std::mt19937 rng(seed);
    Picture p = make_picture(w, h, [](int, int) { return Rgb{0, 0, 0}; });
    for (int sy = 0; sy < h; sy += 8)
        for (int sx = 0; sx < w; sx += 8) {
            Rgb pal[4];
            for (Rgb& c : pal) {
                c = screen_colour(uint8_t(rng()));
                if (replicated)
                    c = bit_replicated(c);
            }
            for (int shape = 0; shape < 6; ++shape) {
                const int x0 = int(rng() % 8), y0 = int(rng() % 8), x1 = x0 + int(rng() % 8), y1 = y0 + int(rng() % 8);
                const Rgb c = pal[shape == 0 ? 0 : rng() % 4];
                for (int y = shape == 0 ? 0 : y0; y <= (shape == 0 ? 7 : std::min(7, y1)); ++y)
                    for (int x = shape == 0 ? 0 : x0; x <= (shape == 0 ? 7 : std::min(7, x1)); ++x)
                        p.at(sx + x, sy + y) = c;
            }
        }
    return p;
}

// The bytes a program writes for `picture` with `options`.
Bytes converted(const std::string& program, const std::string& options, const fs::path& picture, int status)
{
    const fs::path out = picture.parent_path() / "out";
    fs::remove(out);
    const RunResult r = run(program + " " + options + " " + q(picture) + " " + q(out));
    EXPECT_EQ(r.status, status) << r.err << r.diagnostics;
    return read_file(out);
}

// What decscreen shows of a screen file's bytes.
Bytes shown(const fs::path& dir, const Bytes& scn)
{
    write_file(dir / "shown.scn", scn);
    EXPECT_EQ(run(kDec + " " + q(dir / "shown.scn") + " " + q(dir / "shown.bmp")).status, 0);
    return read_file(dir / "shown.bmp");
}

double linear(uint8_t v) { return linear_lights()[v]; }

// Mean difference of luminance in linear light after a Gaussian blur
// (standard deviation 1.5 pixels, mirrored borders): what the eye sees of a
// small screen from across the room, in one number.
double blurred_difference(const Picture& a, const Bytes& bmp)
{
    const int r = 5;
    std::vector<double> k(2 * r + 1);
    double sum = 0;
    for (int t = -r; t <= r; ++t)
        sum += k[size_t(t + r)] = std::exp(-t * t / (2 * 1.5 * 1.5));
    const auto mirror = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * n - 2 - i : i; };
    const auto blur = [&](const std::function<double(int, int)>& f) {
        std::vector<double> across(size_t(a.w * a.h)), out(size_t(a.w * a.h));
        for (int y = 0; y < a.h; ++y)
            for (int x = 0; x < a.w; ++x)
                for (int t = -r; t <= r; ++t)
                    across[size_t(y * a.w + x)] += k[size_t(t + r)] / sum * f(mirror(x + t, a.w), y);
        for (int y = 0; y < a.h; ++y)
            for (int x = 0; x < a.w; ++x)
                for (int t = -r; t <= r; ++t)
                    out[size_t(y * a.w + x)] += k[size_t(t + r)] / sum * across[size_t(mirror(y + t, a.h) * a.w + x)];
        return out;
    };
    const auto lum = [](Rgb c) { return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b); };
    const std::vector<double> pa = blur([&](int x, int y) { return lum(a.at(x, y)); });
    const std::vector<double> pb = blur([&](int x, int y) { return lum(bmp_pixel(bmp, x, y)); });
    double d = 0;
    for (size_t i = 0; i < pa.size(); ++i)
        d += std::abs(pa[i] - pb[i]);
    return d / double(pa.size());
}

} // namespace

TEST(Dither, ArtTheScreenShowsAsPerceptualMakesIt)
{
    const fs::path dir = scratch_dir();
    const Rgb four[] = {{0, 0, 0}, {252, 36, 84}, {36, 216, 168}, {252, 252, 252}};
    std::mt19937 rng(5);
    const Picture sprites = make_picture(32, 16, [&](int, int) { return four[rng() % 4]; });
    const Picture sprites_replicated = make_picture(32, 16, [&](int x, int y) { return bit_replicated(sprites.at(x, y)); });
    const struct {
        const char* name;
        std::string program;
        Picture picture;
        int status;
    } cases[] = {
        {"encscreen, screen levels", kEnc, art(64, 48, 1, false), 1},
        {"encscreen, bit-replicated levels", kEnc, art(64, 48, 2, true), 1},
        {"encsprite, four screen colours", kSpr, sprites, 0},
        {"encsprite, bit-replicated", kSpr, sprites_replicated, 0},
    };
    for (const auto& c : cases)
        for (const char* mode : {"--dither=ordered", "--dither"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + mode);
            write_file(dir / "art.bmp", make_bmp(c.picture));
            const Bytes perceptual = converted(c.program, "--perceptual", dir / "art.bmp", c.status);
            EXPECT_EQ(converted(c.program, mode, dir / "art.bmp", c.status), perceptual);
        }
    // And --perceptual gives the screen levels back exactly (its own test
    // holds that), so the dithers do too; the search leaves art alone beside
    // a photograph's symbols, whose moves reach into their neighbours.
    Picture a = art(64, 48, 2, true);
    const Picture photo = photo_picture(64, 48);
    for (int y = 0; y < a.h; ++y)
        for (int x = 32; x < a.w; ++x)
            a.at(x, y) = photo.at(x, y);
    write_file(dir / "art.bmp", make_bmp(a));
    for (const char* mode : {"--dither=ordered", "--dither"}) {
        SCOPED_TRACE(mode);
        const Bytes back = shown(dir, converted(kEnc, mode, dir / "art.bmp", 1));
        for (int y = 0; y < a.h; ++y)
            for (int x = 0; x < 32; ++x) {
                const Rgb c = a.at(x, y), s = bmp_pixel(back, x, y);
                ASSERT_EQ(bit_replicated(s), c) << x << "," << y;
            }
    }
}

TEST(Dither, FlatAreasAndTheirPattern)
{
    const fs::path dir = scratch_dir();
    // A flat screen colour comes back flat; a colour between levels comes
    // back of the right light, under --dither=ordered as the same pattern in
    // every symbol. (The greys mix from greys under the search, whose start
    // weighs the corners of a tetrahedron: 130 lies where the eight corners'
    // heaviest four are all too red.)
    for (const std::string mode : {"--dither=ordered", "--dither"})
    for (const Rgb flat : {Rgb{36, 180, 168}, Rgb{100, 100, 100}, Rgb{250, 120, 30}, Rgb{130, 130, 130}}) {
        SCOPED_TRACE(mode + " " + std::to_string(flat.r));
        if (mode == "--dither=ordered" && flat.r == 130)
            continue;
        const Picture p = make_picture(32, 24, [&](int, int) { return flat; });
        write_file(dir / "flat.bmp", make_bmp(p));
        // encsprite writes a screen file where the name ends in .scn.
        ASSERT_EQ(run(kSpr + " " + mode + " " + q(dir / "flat.bmp") + " " + q(dir / "sprites.scn")).status, 0);
        for (const Bytes& scn : {converted(kEnc, mode, dir / "flat.bmp", 1), read_file(dir / "sprites.scn")}) {
            const Bytes back = shown(dir, scn);
            double light = 0;
            for (int y = 0; y < p.h; ++y)
                for (int x = 0; x < p.w; ++x) {
                    const Rgb s = bmp_pixel(back, x, y);
                    if (mode == "--dither=ordered") {
                        ASSERT_EQ(s, bmp_pixel(back, x % 8, y % 8)) << x << "," << y;
                    }
                    if (flat.r == 36) {
                        ASSERT_EQ(s, flat);
                    }
                    light += linear(s.r) + linear(s.g) + linear(s.b);
                }
            const double want = linear(flat.r) + linear(flat.g) + linear(flat.b);
            EXPECT_NEAR(light / (p.w * p.h), want, 0.03 * want);
        }
    }
}

TEST(Dither, SameBytesWhateverTheLineOrder)
{
    // The search runs from the top band down whichever way the lines arrive
    // (a bottom-up file is kept whole first); 64 x 48 has bands above and
    // below the middle ones, and through a pipe the screen grows band by band.
    const fs::path dir = scratch_dir();
    const Picture p = photo_picture(64, 48);
    write_file(dir / "up.bmp", make_bmp(p));
    write_file(dir / "down.bmp", make_bmp(p, {124, 0, true, 0, {'B', 'M'}}));
    for (const auto& [program, status] : {std::pair{kEnc, 1}, std::pair{kSpr, 0}})
        for (const std::string mode : {"--dither=ordered", "--dither"}) {
            SCOPED_TRACE(program + " " + mode);
            const Bytes up = converted(program, mode, dir / "up.bmp", status);
            EXPECT_FALSE(up.empty());
            EXPECT_EQ(converted(program, mode, dir / "down.bmp", status), up);
            for (const char* file : {"up.bmp", "down.bmp"}) {
                fs::remove(dir / "piped");
                const RunResult r =
                    run("cat " + q(dir / file) + " | " + program + " " + mode + " /dev/stdin " + q(dir / "piped"));
                EXPECT_EQ(r.status, status);
                EXPECT_EQ(read_file(dir / "piped"), up);
            }
        }
}

TEST(Dither, GradientSeenFromAfarBeatsPerceptual)
{
    const fs::path dir = scratch_dir();
    const struct {
        const char* name;
        Picture picture;
    } cases[] = {
        {"grey ramp", make_picture(64, 32, [](int x, int) { return Rgb{uint8_t(4 * x), uint8_t(4 * x), uint8_t(4 * x)}; })},
        {"dusk sky", make_picture(32, 64, [](int, int y) { return Rgb{uint8_t(20 + 3 * y), uint8_t(20 + y), uint8_t(90 - y / 2)}; })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "ramp.bmp", make_bmp(c.picture));
        const double perceptual = blurred_difference(c.picture, shown(dir, converted(kEnc, "--perceptual", dir / "ramp.bmp", 1)));
        const double ordered = blurred_difference(c.picture, shown(dir, converted(kEnc, "--dither=ordered", dir / "ramp.bmp", 1)));
        EXPECT_LT(ordered, 0.6 * perceptual) << ordered << " against " << perceptual;
        // The search starts from a pattern of the same kind and keeps only
        // what brings the blurred screen nearer.
        const double searched = blurred_difference(c.picture, shown(dir, converted(kEnc, "--dither", dir / "ramp.bmp", 1)));
        EXPECT_LT(searched, 0.6 * perceptual) << searched << " against " << perceptual;
    }
}
