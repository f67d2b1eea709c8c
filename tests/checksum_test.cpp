// Pinned outputs: each program's output for the generated photo-like picture,
// summed up as a checksum. The conversions are tuned for speed; these sums say
// that no byte of their output has moved.
#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "formats/le.hpp"
#include "png_support.hpp"

namespace fs = std::filesystem;

// 64-bit FNV-1a: small, and any changed byte changes it.
static uint64_t fnv1a(const Bytes& b)
{
    uint64_t h = 0xCBF29CE484222325u;
    for (const uint8_t c : b) {
        h ^= c;
        h *= 0x100000001B3u;
    }
    return h;
}

// The photo of side n into `dir` as photo.bmp, as photo-topdown.bmp (a
// top-down file behind a 124-byte header), and in the four colours by
// brightness as four.bmp: a picture encsprite keeps whole.
static void write_photos(const fs::path& dir, int n, const Rgb (&four)[4])
{
    const Picture p = photo_picture(n, n);
    write_file(dir / "photo.bmp", make_bmp(p));
    write_file(dir / "photo-topdown.bmp", make_bmp(p, {124, 0, true, 0, {'B', 'M'}}));
    write_file(dir / "four.bmp", make_bmp(make_picture(n, n, [&](int x, int y) {
                   const Rgb c = p.at(x, y);
                   return four[(c.r + 2 * c.g + c.b / 2) * 4 / 893];
               })));
}

TEST(PinnedOutput, PhotoThroughEveryProgram)
{
    const fs::path dir = scratch_dir();
    write_photos(dir, 512, {{10, 20, 30}, {200, 40, 40}, {40, 200, 90}, {250, 250, 250}});
    write_file(dir / "photo1024.bmp", make_bmp(photo_picture(1024, 1024)));

    const std::string enc = q(ENCSCREEN_EXE), spr = q(ENCSPRITE_EXE), dec = q(DECSCREEN_EXE);
    ASSERT_EQ(run(enc + " " + q(dir / "photo.bmp") + " " + q(dir / "photo.scn")).status, 1);
    // The screen file with its size fields set to 509 x 507: a screen of partial
    // symbols, whose bytes are all there (and more).
    Bytes odd = read_file(dir / "photo.scn");
    ASSERT_GE(odd.size(), 16u);
    put_le16(odd, 8, 509);
    put_le16(odd, 10, 507);
    write_file(dir / "odd.scn", odd);

    struct Case {
        const char* name;
        std::string command; // writes the output to the path appended
        size_t size;
        uint64_t sum;
    };
    const size_t scn_size = 16 + 2 * 64 * 512 + 4 * 64 * 64;
    // The head up to "SPR:", 14 bytes a DEFW line, "ATTR:", 27 bytes a DEFB line.
    const size_t listing_size = 211 + 14 * 64 * 512 + 6 + 27 * 64 * 64;
    const uint64_t scn = 0x9c24456a6cbaf826;
    const Case cases[] = {
        {"encscreen", enc + " " + q(dir / "photo.bmp"), scn_size, scn},
        {"encscreen, top-down file", enc + " " + q(dir / "photo-topdown.bmp"), scn_size, scn},
        {"encscreen, through a pipe", "cat " + q(dir / "photo.bmp") + " | " + enc + " /dev/stdin", scn_size, scn},
        {"encscreen, 1024x1024 through a pipe", "cat " + q(dir / "photo1024.bmp") + " | " + enc + " /dev/stdin",
         16 + 2 * 128 * 1024 + 4 * 128 * 128, 0xe505d820f95a98ea},
        {"encsprite", spr + " " + q(dir / "photo.bmp"), listing_size, 0x71f7ddb171e2c880},
        {"encsprite, four colours", spr + " " + q(dir / "four.bmp"), listing_size, 0xa9bda2df14786969},
        {"decscreen", dec + " " + q(dir / "photo.scn"), 54 + 512 * 512 * 3, 0xdd924834a86d3459},
        {"decscreen, 509x507", dec + " " + q(dir / "odd.scn"), 54 + 507 * (3 * 509 + 1), 0x1c1befbaa4e43d22},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir / "out");
        const RunResult r = run(c.command + " " + q(dir / "out"));
        EXPECT_EQ(r.out + r.err, "");
        const Bytes out = read_file(dir / "out");
        EXPECT_EQ(out.size(), c.size);
        EXPECT_EQ(fnv1a(out), c.sum) << std::hex << "0x" << fnv1a(out);
    }
}

// A run whose output's sum is pinned: the command writes to the path appended.
struct Case {
    const char* name;
    std::string command;
    int status;
    uint64_t sum;
};

static void check_sums(const fs::path& dir, std::span<const Case> cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir / "out");
        const RunResult r = run(c.command + " " + q(dir / "out"));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(fnv1a(read_file(dir / "out")), c.sum) << std::hex << "0x" << fnv1a(read_file(dir / "out"));
    }
}

TEST(PinnedOutput, PerceptualThroughBothEncoders)
{
    // The perceptual conversions compute in floating point pinned to give the
    // same bytes everywhere: these sums hold on every machine, and the tests of
    // the cross-built programs compare against the native ones.
    const fs::path dir = scratch_dir();
    write_photos(dir, 256, {{0, 0, 0}, {216, 36, 84}, {36, 180, 168}, {252, 252, 252}});

    const std::string enc = q(ENCSCREEN_EXE) + " --perceptual ", spr = q(ENCSPRITE_EXE) + " --perceptual ";
    const uint64_t scn = 0xc34ebb7e7a49aac2, asm_sum = 0xb280aa05f4393390;
    const Case cases[] = {
        {"encscreen", enc + q(dir / "photo.bmp"), 1, scn},
        {"encscreen, top-down file", enc + q(dir / "photo-topdown.bmp"), 1, scn},
        {"encscreen, through a pipe", "cat " + q(dir / "photo.bmp") + " | " + enc + "/dev/stdin", 1, scn},
        {"encsprite", spr + q(dir / "photo.bmp"), 0, asm_sum},
        {"encsprite, through a pipe", "cat " + q(dir / "photo-topdown.bmp") + " | " + spr + "/dev/stdin", 0, asm_sum},
        {"encsprite, four screen colours", spr + q(dir / "four.bmp"), 0, 0xec4c34ddc470cdf3},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // On a processor without SSSE3 and AVX2 (qemu's plain x86-64), where the
    // programs take their portable kernels, where qemu is installed (not
    // for the sanitizers' programs, whose run-time qemu cannot host).
#ifndef VORNE_SANITIZED
    if (run("command -v qemu-x86_64").status == 0) {
        const std::string old_cpu = "qemu-x86_64 -cpu qemu64 ";
        all.push_back({"encscreen, portable kernels", old_cpu + enc + q(dir / "photo.bmp"), 1, scn});
        all.push_back({"encsprite, portable kernels", old_cpu + spr + q(dir / "photo.bmp"), 0, asm_sum});
    }
#endif
    check_sums(dir, all);
}

TEST(PinnedOutput, DitherThroughBothEncoders)
{
    // --dither=ordered is integers but for the linear-light table and the
    // CIEDE2000 of the corners, pinned as --perceptual's; --dither keeps its
    // sums in integers and computes each move's change in pinned double.
    // These sums hold on every machine, whichever way the lines arrive, and
    // the cross-built programs are compared with them.
    const fs::path dir = scratch_dir();
    write_photos(dir, 256, {{0, 0, 0}, {216, 36, 84}, {36, 180, 168}, {252, 252, 252}});
    const struct {
        const char* option;
        uint64_t scn, asm_sum;
    } modes[] = {
        {"--dither=ordered ", 0x73d3677cb106d664, 0x9a82fe2b2faf7f5e},
        {"--dither ", 0x2b4cf791eb1c93e5, 0x860556b9778e94ce},
    };
    for (const auto& m : modes) {
        SCOPED_TRACE(m.option);
        const std::string enc = q(ENCSCREEN_EXE) + " " + m.option, spr = q(ENCSPRITE_EXE) + " " + m.option;
        const Case cases[] = {
            {"encscreen", enc + q(dir / "photo.bmp"), 1, m.scn},
            {"encscreen, top-down file", enc + q(dir / "photo-topdown.bmp"), 1, m.scn},
            {"encscreen, through a pipe", "cat " + q(dir / "photo.bmp") + " | " + enc + "/dev/stdin", 1, m.scn},
            {"encsprite", spr + q(dir / "photo.bmp"), 0, m.asm_sum},
            {"encsprite, through a pipe", "cat " + q(dir / "photo-topdown.bmp") + " | " + spr + "/dev/stdin", 0,
             m.asm_sum},
            {"encsprite, four screen colours", spr + q(dir / "four.bmp"), 0, 0xec4c34ddc470cdf3},
        };
        check_sums(dir, cases);
    }
}

TEST(PinnedOutput, FitAndAdjustments)
{
    // The fit and adjustment stages compute in integers and pinned tables:
    // these sums hold on every machine (tests/s390x_e2e.sh and
    // tests/windows_e2e.sh compare the cross-built programs' output too).
    // Neutral adjustments leave the stage out: today's bytes.
    const fs::path dir = scratch_dir();
    write_photos(dir, 512, {{10, 20, 30}, {200, 40, 40}, {40, 200, 90}, {250, 250, 250}});
    const Picture odd = photo_picture(301, 203);
    write_file(dir / "odd.bmp", make_bmp(odd));
    write_file(dir / "odd-topdown.bmp", make_bmp(odd, {124, 0, true, 0, {'B', 'M'}}));

    const std::string enc = q(ENCSCREEN_EXE) + " ", spr = q(ENCSPRITE_EXE) + " ";
    const std::string photo = q(dir / "photo.bmp"), oddbmp = q(dir / "odd.bmp");
    struct Case {
        const char* name;
        std::string command; // writes the output to the path appended
        int status;
        uint64_t sum;
    };
    const uint64_t fit = 0xbeeb5e4c6fa16709, letterbox = 0xbc16f7870fffa361;
    const Case cases[] = {
        {"neutral adjustments", enc + "--brightness 0 --contrast 0 --saturation 100 --gamma 1 " + photo, 1,
         0x9c24456a6cbaf826},
        {"--fit", enc + "--fit 256x192 " + oddbmp, 1, fit},
        {"--fit, top-down file", enc + "--fit 256x192 " + q(dir / "odd-topdown.bmp"), 1, fit},
        {"--fit, through a pipe", "cat " + oddbmp + " | " + enc + "--fit 256x192 /dev/stdin", 1, fit},
        {"--fit --letterbox --fit-at", enc + "--fit 320x240 --letterbox --fit-at 0.25,0.75 " + oddbmp, 1, letterbox},
        {"--fit, top-down, letterbox",
         enc + "--fit 320x240 --letterbox --fit-at 0.25,0.75 " + q(dir / "odd-topdown.bmp"), 1, letterbox},
        {"--fit, enlarged and cut", enc + "--fit 512x384 --fit-at 0,1 " + oddbmp, 1, 0x3f9a6c924ae069e0},
        {"--fit --perceptual", enc + "--perceptual --fit 256x192 " + oddbmp, 1, 0x72b0bb7bd59003a9},
        {"encsprite --fit", spr + "--fit 64x64 --fit-at 1,0 " + oddbmp, 0, 0x4262f8d8a9f2085f},
        {"--brightness", enc + "--brightness 20 " + photo, 1, 0xb9019f409d075b49},
        {"--contrast", enc + "--contrast -30 " + photo, 1, 0xf413064c7426c89f},
        {"--saturation", enc + "--perceptual --saturation 150 " + photo, 1, 0x1bdd206c82014cb0},
        {"--gamma", enc + "--gamma 2.2 " + photo, 1, 0xe692e31b33f52258},
        {"all four, in order", enc + "--gamma 0.8 --saturation 50 --contrast 25 --brightness -10 " + photo, 1, 0x7d9bc3ca5e05327f},
        // The picture adjusted, then fitted: the bars stay black.
        {"--fit --letterbox, adjusted",
         enc + "--fit 320x240 --letterbox --brightness 50 --contrast -20 --gamma 2.2 " + oddbmp, 1, 0x9bf0521c4a5be4c1},
        {"--fit --perceptual, adjusted", enc + "--perceptual --fit 256x192 --saturation 150 --gamma 0.8 " + oddbmp, 1, 0x0a8f9e4726fe8ac3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir / "out");
        const RunResult r = run(c.command + " " + q(dir / "out"));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(fnv1a(read_file(dir / "out")), c.sum) << std::hex << "0x" << fnv1a(read_file(dir / "out"));
    }
}

TEST(PinnedOutput, TransparentSheetThroughEveryPalette)
{
    // A photo-like RGBA sheet with transparent rings and corners, through each
    // of encsprite's palettes and through the stages that carry transparency:
    // the masked outputs of every kind, pinned (the cross-built programs are
    // compared with the native ones too).
    const fs::path dir = scratch_dir();
    const Picture p = photo_picture(256, 128);
    PngContent s;
    s.w = 256;
    s.h = 128;
    s.colour_type = 6;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x) {
            const Rgb c = p.at(x, y);
            const int dx = x % 64 - 32, dy = y % 64 - 32, d = dx * dx + dy * dy;
            const uint16_t a = uint16_t(d > 900 || (d > 300 && d < 400) ? (x * 5 + y) % 128 : 128 + (x + y) % 128);
            s.samples.insert(s.samples.end(), {c.r, c.g, c.b, a});
        }
    write_file(dir / "sheet.png", encode_png(s));
    const std::string spr = q(ENCSPRITE_EXE) + " ", sheet = q(dir / "sheet.png");
    const Case cases[] = {
        {"listing", spr + "--sprite 64x64 " + sheet, 0, 0xa0e03717aa6e1c13},
        {"perceptual, C", spr + "--perceptual --format c --sprite 64x64 " + sheet, 0, 0xd8abd6f808815532},
        {"ordered, sdas", spr + "--dither=ordered --format sdas --sprite 64x64 " + sheet, 0, 0xadb80502efefb5e7},
        {"bin", spr + "--format bin " + sheet, 0, 0xc4d294d86936c917},
        {"fit, bin", spr + "--fit 96x48 --letterbox --format bin " + sheet, 0, 0x602b95eadc6906eb},
    };
    check_sums(dir, cases);
}
