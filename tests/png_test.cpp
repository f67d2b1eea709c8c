// PNG in and out, through the real programs. A PNG must convert exactly as a
// BMP of the pixels the rules give: samples as stored, 16 bits as
// floor(v / 257), small greys scaled exactly, alpha and tRNS over black as
// floor(c * a / 255). The expected pixels are computed here from the samples
// written, independently of the reader.
#include <gtest/gtest.h>

#include "bench/photo.hpp"
#include "png_support.hpp"

namespace fs = std::filesystem;

namespace {

struct Rgba16 {
    uint16_t r, g, b, a;
};

struct Source {
    const char* name;
    uint32_t w, h;
    Rgba16 (*pixel)(uint32_t x, uint32_t y, uint32_t w, uint32_t h);
};

// Photo-like, with low bytes that make floor(v / 257) differ from the high
// byte, and an alpha that takes every kind of value.
Rgba16 photo(uint32_t x, uint32_t y, uint32_t w, uint32_t h)
{
    const PhotoPixel p = photo_pixel(x, y, w, h);
    const unsigned low = (x * 37 + y * 101) & 0xFF;
    const uint16_t a = (x / 8 + y / 8) % 2 ? uint16_t((x + y) * 4099) : 65535;
    return {uint16_t(p.r << 8 | low), uint16_t(p.g << 8 | (low ^ 0x5A)), uint16_t(p.b << 8 | (255 - low)), a};
}

// Flat 8x8 blocks of pure colours, one of them transparent, one half so.
Rgba16 flat(uint32_t x, uint32_t y, uint32_t, uint32_t)
{
    static const Rgba16 blocks[] = {{0, 0, 0, 65535},          {65535, 65535, 65535, 65535}, {65535, 0, 0, 65535},
                                    {0, 32896, 65535, 0},      {4369, 60000, 257, 65535},    {65535, 65535, 0, 32768},
                                    {12850, 12850, 12850, 65535}, {0, 0, 65535, 65535}};
    return blocks[(x / 8 + 2 * (y / 8)) % 8];
}

// A sprite on a transparent magenta background, with a soft edge.
Rgba16 pixel_art(uint32_t x, uint32_t y, uint32_t, uint32_t)
{
    const int dx = int(x) - 12, dy = int(y) - 8, d = dx * dx + dy * dy;
    if (d > 49)
        return {65535, 0, 65535, 0};
    if (d > 36)
        return {65535, 32768, 0, 32896};
    return (x + y) % 3 ? Rgba16{65535, 65535, 65535, 65535} : Rgba16{0, 25700, 0, 65535};
}

const Source kSources[] = {{"photo", 48, 32, photo}, {"flat", 32, 16, flat}, {"pixel art", 24, 16, pixel_art}};

struct Format {
    uint8_t colour_type, depth;
};
const Format kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

enum class Variant { plain, transparent_colour_and_colour_chunks, interlaced };

uint8_t palette_sample(unsigned k, unsigned c) { return uint8_t(k * (73 + 78 * c) + 11 + 90 * c); }

PngContent make_content(const Source& src, Format f, Variant v)
{
    PngContent s;
    s.w = src.w;
    s.h = src.h;
    s.colour_type = f.colour_type;
    s.depth = f.depth;
    s.interlaced = v == Variant::interlaced;
    const unsigned n = 1u << std::min<unsigned>(f.depth, 8);
    auto q = [&](uint16_t x) { return uint16_t(f.depth == 16 ? x : x >> (16 - f.depth)); };
    for (uint32_t y = 0; y < s.h; ++y) {
        for (uint32_t x = 0; x < s.w; ++x) {
            const Rgba16 p = src.pixel(x, y, s.w, s.h);
            const uint16_t grey = q(uint16_t((p.r + p.g + p.b) / 3));
            switch (f.colour_type) {
            case 0:
                s.samples.push_back(grey);
                break;
            case 2:
                s.samples.insert(s.samples.end(), {q(p.r), q(p.g), q(p.b)});
                break;
            case 3:
                s.samples.push_back(uint16_t(((p.r >> 8) ^ (p.g >> 9) ^ (p.b >> 10) ^ (p.a >> 12)) % n));
                break;
            case 4:
                s.samples.insert(s.samples.end(), {grey, q(p.a)});
                break;
            default:
                s.samples.insert(s.samples.end(), {q(p.r), q(p.g), q(p.b), q(p.a)});
            }
        }
    }
    if (f.colour_type == 3)
        for (unsigned k = 0; k < n; ++k)
            s.plte.insert(s.plte.end(), {palette_sample(k, 0), palette_sample(k, 1), palette_sample(k, 2)});
    if (v != Variant::transparent_colour_and_colour_chunks)
        return s;
    // The first pixel's colour is the transparent one.
    if (f.colour_type == 0 || f.colour_type == 2)
        for (int c = 0; c < png_channels(f.colour_type); ++c)
            s.trns.insert(s.trns.end(), {uint8_t(s.samples[size_t(c)] >> 8), uint8_t(s.samples[size_t(c)])});
    if (f.colour_type == 3)
        s.trns = Bytes({0, 255, 128, 37, 254, 1}).size() > n ? Bytes{0, 128} : Bytes{0, 255, 128, 37, 254, 1};
    // Colour management the tools must not apply, and a text chunk whose CRC
    // is broken below: an ancillary chunk's fault is no reason to refuse.
    s.extra = {{"gAMA", {0, 0, 0x4E, 0x20}},
               {"cHRM", Bytes(32, 7)},
               {"sRGB", {0}},
               {"iCCP", {'x', 0, 0, 0x78, 0x9C, 1, 2, 3}},
               {"tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'}}};
    return s;
}

unsigned to8(unsigned v, unsigned depth)
{
    if (depth == 16)
        return v / 257;
    return depth == 8 ? v : v * 255 / ((1u << depth) - 1);
}

// The colour and the alpha the rules give for pixel (x, y) of `s`.
Rgba16 expected_pixel(const PngContent& s, int x, int y)
{
    const size_t ch = size_t(png_channels(s.colour_type));
    const uint16_t* p = &s.samples[(size_t(y) * s.w + size_t(x)) * ch];
    unsigned r, g, b, a = 255;
    if (s.colour_type == 3) {
        r = s.plte[3 * p[0]], g = s.plte[3 * p[0] + 1], b = s.plte[3 * p[0] + 2];
        if (p[0] < s.trns.size())
            a = s.trns[p[0]];
    } else {
        const bool colour = s.colour_type & 2;
        r = to8(p[0], s.depth), g = to8(p[colour ? 1 : 0], s.depth), b = to8(p[colour ? 2 : 0], s.depth);
        if (s.colour_type & 4)
            a = to8(p[colour ? 3 : 1], s.depth);
        bool transparent = !s.trns.empty();
        for (size_t c = 0; c < ch && transparent; ++c)
            transparent = p[c] == (s.trns[2 * c] << 8 | s.trns[2 * c + 1]);
        if (transparent)
            a = 0;
    }
    return {uint16_t(r * a / 255), uint16_t(g * a / 255), uint16_t(b * a / 255), uint16_t(a)};
}

// The picture the rules give for the samples of `s`: shown over black.
Picture expected_pixels(const PngContent& s)
{
    return make_picture(int(s.w), int(s.h), [&](int x, int y) {
        const Rgba16 p = expected_pixel(s, x, y);
        return Rgb{uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)};
    });
}

// Which pixels encsprite takes as transparent: alpha below half.
std::vector<bool> expected_clear(const PngContent& s)
{
    std::vector<bool> clear;
    for (int y = 0; y < int(s.h); ++y)
        for (int x = 0; x < int(s.w); ++x)
            clear.push_back(expected_pixel(s, x, y).a < 128);
    return clear;
}

struct Encoder {
    const char* exe;
    int success;
};
const Encoder kEncoders[] = {{ENCSCREEN_EXE, 1}, {ENCSPRITE_EXE, 0}};

// Both encoders give the same bytes for `png` as for the BMP `bmp` of its
// pixels shown over black; but where `clear` marks transparent pixels,
// encsprite gives a picture's raw bytes in which those pixels take no
// colour: those of the BMP where they take an opaque pixel's colour (which
// brings no new one), their codes 0, and the mask after the attributes.
void expect_same_output(const fs::path& dir, const Bytes& png, const Picture& pixels, bool through_pipe = false,
                        const std::vector<bool>& clear = {})
{
    write_file(dir / "in.png", png);
    write_file(dir / "in.bmp", make_bmp(pixels));
    const auto first_opaque = std::find(clear.begin(), clear.end(), false);
    const bool masked = std::find(clear.begin(), clear.end(), true) != clear.end();
    for (const Encoder& e : kEncoders) {
        SCOPED_TRACE(e.exe);
        const bool bin = masked && e.success == 0;
        const std::string kind = bin ? "--format bin " : "";
        if (bin) {
            const size_t at = size_t(first_opaque - clear.begin());
            const Rgb stand_in = first_opaque == clear.end() ? Rgb{0, 0, 0} : pixels.px[at];
            Picture opaque = pixels;
            for (size_t i = 0; i < clear.size(); ++i)
                if (clear[i])
                    opaque.px[i] = stand_in;
            write_file(dir / "in.bmp", make_bmp(opaque));
        }
        fs::remove(dir / "from-png");
        fs::remove(dir / "from-bmp");
        const std::string png_run = through_pipe ? "cat " + q(dir / "in.png") + " | " + q(e.exe) + " " + kind + "/dev/stdin "
                                                 : q(e.exe) + " " + kind + q(dir / "in.png") + " ";
        const RunResult a = run(png_run + q(dir / "from-png"));
        const RunResult b = run(q(e.exe) + " " + kind + q(dir / "in.bmp") + " " + q(dir / "from-bmp"));
        ASSERT_EQ(b.status, e.success) << b.err;
        EXPECT_EQ(a.status, e.success) << a.out << a.err;
        if (!bin) {
            EXPECT_EQ(a.out + a.err, "");
            EXPECT_EQ(read_file(dir / "from-png"), read_file(dir / "from-bmp"));
            continue;
        }
        Bytes want = read_file(dir / "from-bmp");
        const size_t w = size_t(pixels.w), words = w / 8 * size_t(pixels.h);
        ASSERT_EQ(want.size(), 2 * words + words / 2);
        Bytes mask;
        for (size_t i = 0; i < words; ++i) {
            unsigned m = 0;
            for (size_t c = 0; c < 8; ++c)
                m = m << 2 | (clear[(i / (w / 8)) * w + (i % (w / 8)) * 8 + c] ? 3u : 0u);
            want[2 * i] &= uint8_t(~m);
            want[2 * i + 1] &= uint8_t(~m >> 8);
            mask.insert(mask.end(), {uint8_t(m), uint8_t(m >> 8)});
        }
        want.insert(want.end(), mask.begin(), mask.end());
        EXPECT_EQ(read_file(dir / "from-png"), want);
    }
}

bool have_pillow() { return run("/usr/bin/python3 -c 'import PIL'").status == 0; }

} // namespace

TEST(PngInput, EveryColourTypeAndDepthConvertsAsTheBmpOfItsPixels)
{
    const fs::path dir = scratch_dir();
    for (const Source& src : kSources) {
        for (const Format f : kFormats) {
            for (const Variant v : {Variant::plain, Variant::transparent_colour_and_colour_chunks, Variant::interlaced}) {
                if (v == Variant::transparent_colour_and_colour_chunks && (f.colour_type & 4))
                    continue; // tRNS is for pictures without an alpha channel
                SCOPED_TRACE(std::string(src.name) + ", colour type " + std::to_string(f.colour_type) + ", " +
                             std::to_string(f.depth) + " bits, variant " + std::to_string(int(v)));
                const PngContent content = make_content(src, f, v);
                Bytes png = encode_png(content);
                if (const size_t text = find_chunk(png, "tEXt"); text != std::string::npos)
                    png[text + 12 + 10 - 1] ^= 0xFF; // the CRC's last byte
                expect_same_output(dir, png, expected_pixels(content), v == Variant::interlaced, expected_clear(content));
            }
        }
    }
}

TEST(PngInput, PngsFromImageMagickAndPillowConvertAsTheirBmp)
{
    const bool im = have_imagemagick(), pil = have_pillow();
    if (!im && !pil)
        GTEST_SKIP() << "neither ImageMagick nor Pillow (python3-pil) is installed";
    const fs::path dir = scratch_dir();
    const Picture photo_picture = make_picture(48, 32, [](int x, int y) {
        const PhotoPixel p = photo_pixel(uint32_t(x), uint32_t(y), 48, 32);
        return Rgb{p.r, p.g, p.b};
    });
    const Picture grey_picture = make_picture(32, 16, [](int x, int y) {
        const uint8_t v = uint8_t(x * 7 + y * 3);
        return Rgb{v, v, v};
    });
    const Picture flat_picture = make_picture(32, 16, [](int x, int y) {
        const Rgba16 p = flat(uint32_t(x), uint32_t(y), 0, 0);
        return Rgb{uint8_t(p.r >> 8), uint8_t(p.g >> 8), uint8_t(p.b >> 8)};
    });
    const std::string pillow = "/usr/bin/python3 -c 'import sys; from PIL import Image; "
                               "i = Image.open(sys.argv[1]); ";
    struct Case {
        const char* name;
        const Picture& picture;
        bool needs_im;
        std::string command; // makes out.png from in.bmp
    };
    const Case cases[] = {
        {"ImageMagick, 8-bit RGB", photo_picture, true, "convert in.bmp png24:out.png"},
        {"ImageMagick, 16-bit RGB", photo_picture, true, "convert in.bmp png48:out.png"},
        {"ImageMagick, interlaced", photo_picture, true, "convert in.bmp -interlace PNG png24:out.png"},
        {"ImageMagick, palette", flat_picture, true, "convert in.bmp png8:out.png"},
        {"ImageMagick, grey", grey_picture, true, "convert in.bmp -type Grayscale out.png"},
        {"Pillow, RGB", photo_picture, false, pillow + "i.save(sys.argv[2])' in.bmp out.png"},
        {"Pillow, RGBA", photo_picture, false, pillow + "i.convert(\"RGBA\").save(sys.argv[2])' in.bmp out.png"},
        {"Pillow, palette", flat_picture, false,
         pillow + "i.convert(\"P\", palette=Image.ADAPTIVE).save(sys.argv[2])' in.bmp out.png"},
        {"Pillow, grey", grey_picture, false, pillow + "i.convert(\"L\").save(sys.argv[2])' in.bmp out.png"},
    };
    for (const Case& c : cases) {
        if (c.needs_im ? !im : !pil) {
            std::printf("skipped %s: %s not installed\n", c.name, c.needs_im ? "ImageMagick" : "Pillow");
            continue;
        }
        SCOPED_TRACE(c.name);
        const Bytes bmp = make_bmp(c.picture);
        write_file(dir / "in.bmp", bmp);
        ASSERT_EQ(run("cd " + q(dir) + " && " + c.command).status, 0);
        expect_same_output(dir, read_file(dir / "out.png"), c.picture);
    }
}

TEST(PngOutput, DecscreenWritesThePixelsOfItsBmp)
{
    const fs::path dir = scratch_dir();
    const bool im = have_imagemagick(), pil = have_pillow();
    struct Case {
        uint16_t w, h;
        const char* name; // of the PNG output
    };
    // 20x12: the pixels that belong to no whole symbol are black, as in the BMP.
    const Case cases[] = {{24, 16, "out.png"}, {20, 12, "OUT.Png"}, {8, 8, "x.bmp.png"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "in.scn", make_scn(c.w, c.h, [](size_t i) { return uint8_t(i * 131 + i / 7); }));
        ASSERT_EQ(run(q(DECSCREEN_EXE) + " " + q(dir / "in.scn") + " " + q(dir / "out.bmp")).status, 0);
        const RunResult r = run(q(DECSCREEN_EXE) + " " + q(dir / "in.scn") + " " + q(dir / c.name));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const Bytes png = read_file(dir / c.name), bmp = read_file(dir / "out.bmp");
        // IHDR: the size, 8 bits, colour type 2 (RGB), no interlace.
        ASSERT_GE(png.size(), 33u);
        EXPECT_EQ(Bytes(png.begin() + 16, png.begin() + 29),
                  Bytes({0, 0, uint8_t(c.w >> 8), uint8_t(c.w), 0, 0, uint8_t(c.h >> 8), uint8_t(c.h), 8, 2, 0, 0, 0}));
        std::string want;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const Rgb p = bmp_pixel(bmp, x, y);
                want += {char(p.r), char(p.g), char(p.b)};
            }
        if (im) {
            EXPECT_EQ(run("convert " + q(dir / c.name) + " -depth 8 rgb:-").out, want) << "ImageMagick";
        }
        if (pil) {
            EXPECT_EQ(run("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                          "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert(\"RGB\").tobytes())' " +
                          q(dir / c.name))
                          .out,
                      want)
                << "Pillow";
        }
    }
    // Any other name still gets the BMP, and a failed write is reported.
    EXPECT_EQ(run(q(DECSCREEN_EXE) + " " + q(dir / "in.scn") + " " + q(dir / "out.pngx")).status, 0);
    EXPECT_EQ(read_file(dir / "out.pngx"), read_file(dir / "out.bmp"));
    const RunResult full = run("cd " + q(dir) + " && ln -sf /dev/full full.png && " + q(DECSCREEN_EXE) + " in.scn full.png");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, "bmpfile was not written\n");
    if (!im || !pil)
        GTEST_SKIP() << "decoded with " << (im ? "ImageMagick" : pil ? "Pillow" : "neither ImageMagick nor Pillow")
                     << " only: install imagemagick and python3-pil";
}

TEST(PngInput, DamagedPngsAreRefusedAndWriteNothing)
{
    const fs::path dir = scratch_dir();
    const PngContent content = make_content(kSources[0], {2, 8}, Variant::plain);
    const Bytes good = encode_png(content);
    const size_t ihdr = 8, idat = find_chunk(good, "IDAT"), iend = find_chunk(good, "IEND");
    const size_t idat_body = idat + 8;
    auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + ptrdiff_t(n)); };
    auto changed = [&](size_t at, uint8_t x, bool keep_crc_right) {
        Bytes b = good;
        b[at] ^= x;
        if (keep_crc_right)
            fix_crc(b, at < idat ? ihdr : idat);
        return b;
    };
    // A header alone, claiming the size: it must be refused before any data.
    auto with_ihdr_size = [&](uint32_t w, uint32_t h) {
        Bytes b = cut(8);
        const Bytes header = png_chunk("IHDR", {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w),
                                                uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), 8, 2,
                                                0, 0, 0});
        b.insert(b.end(), header.begin(), header.end());
        return b;
    };
    Bytes no_ihdr = good;
    no_ihdr.erase(no_ihdr.begin() + 8, no_ihdr.begin() + 8 + 25);
    Bytes no_idat = cut(idat);
    const Bytes end = png_chunk("IEND", {});
    no_idat.insert(no_idat.end(), end.begin(), end.end());
    PngContent palette = make_content(kSources[1], {3, 4}, Variant::plain);
    palette.plte.clear();
    // The last IDAT holds the zlib stream's end: its Adler-32 checksum.
    const size_t second_idat = find_chunk(good, "IDAT", idat + 12 + chunk_length(good, idat));
    const size_t adler = iend - 5;

    const std::string damaged = "pngfile is damaged\n";
    const std::string bad_size = "the picture width and height must be multiples of 8 up to 65528\n";
    struct Case {
        const char* name;
        Bytes file;
        std::string err;
    };
    const Case cases[] = {
        {"the signature alone", cut(8), damaged},
        {"cut in IHDR", cut(20), damaged},
        {"cut in the image data", cut(idat_body + 40), damaged},
        {"cut in the last image data chunk", cut(second_idat + 20), damaged},
        {"IEND missing", cut(iend), damaged},
        {"IEND cut", cut(iend + 6), damaged},
        {"bad CRC on IHDR", changed(ihdr + 8 + 13, 1, false), damaged},
        {"bad CRC on IDAT", changed(idat_body + 3, 0x10, false), damaged},
        {"broken zlib data", changed(idat_body + 10, 0x20, true), damaged},
        {"bad Adler-32 checksum", [&] { Bytes b = good; b[adler] ^= 1; fix_crc(b, second_idat); return b; }(), damaged},
        {"IHDR missing", no_ihdr, damaged},
        {"no image data", no_idat, damaged},
        {"palette missing", encode_png(palette), damaged},
        {"width not a multiple of 8", with_ihdr_size(12, 8), bad_size},
        {"height above 65528", with_ihdr_size(8, 65536), bad_size},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "in.png", c.file);
        for (const Encoder& e : kEncoders) {
            SCOPED_TRACE(e.exe);
            const RunResult r = run(q(e.exe) + " " + q(dir / "in.png") + " " + q(dir / "out"));
            EXPECT_EQ(r.status, 1 - e.success);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, c.err);
            EXPECT_FALSE(fs::exists(dir / "out"));
        }
    }
}
