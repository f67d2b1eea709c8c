// Padded reading: a picture of any size converts exactly as the same picture
// padded by hand (its last column repeated at its right, its last line below
// it, up to multiples of 8), for every file layout, from a file and from a
// pipe; sizes no screen can reach are refused for their size.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <thread>

#include "encode/quantize_luma.hpp"
#include "pipeline/lines.hpp"
#include "encode/sprite_palette.hpp"
#include "png_support.hpp"

namespace fs = std::filesystem;

namespace {

Picture padded_by_hand(const Picture& p)
{
    return make_picture((p.w + 7) & ~7, (p.h + 7) & ~7,
                        [&](int x, int y) { return p.at(std::min(x, p.w - 1), std::min(y, p.h - 1)); });
}

// Every pixel different from its neighbours, nothing symmetric: a shifted,
// flipped or mis-padded line changes the screen.
Picture sample(int w, int h)
{
    return make_picture(w, h, [](int x, int y) {
        return Rgb{uint8_t(x * 37 + y * 11), uint8_t((y * 53) ^ x), uint8_t(x * y + 7 * y + 200)};
    });
}

enum class Layout { bottom_up, top_down, os2, png, png_interlaced };

Bytes encode(const Picture& p, Layout l)
{
    if (l == Layout::png || l == Layout::png_interlaced) {
        PngContent c;
        c.w = uint32_t(p.w);
        c.h = uint32_t(p.h);
        c.interlaced = l == Layout::png_interlaced;
        for (const Rgb& px : p.px)
            c.samples.insert(c.samples.end(), {px.r, px.g, px.b});
        return encode_png(c);
    }
    BmpLayout b;
    b.top_down = l == Layout::top_down;
    if (l == Layout::os2)
        b.info_size = 12;
    return make_bmp(p, b);
}

// Writes `bytes` into a FIFO that `load` reads by its name, as a pipe from
// another program: no size known, nothing seekable. SIGPIPE is blocked in the
// writer alone, so a reader that stops early costs the writer an error, not
// the test its process.
template <class Load>
PictureError through_fifo(const Bytes& bytes, Load&& load)
{
    const fs::path fifo = scratch_dir() / "pipe";
    if (mkfifo(fifo.c_str(), 0600) != 0)
        return PictureError::cannot_open;
    std::thread writer([&] {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        const int fd = open(fifo.c_str(), O_WRONLY);
        for (size_t at = 0; fd >= 0 && at < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                break;
            at += size_t(n);
        }
        if (fd >= 0)
            close(fd);
    });
    const PictureError e = load(fifo.c_str());
    // A reader that never opened the FIFO would leave the writer waiting.
    if (const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); fd >= 0)
        close(fd);
    writer.join();
    return e;
}

template <class Load>
PictureError load_bytes(const Bytes& bytes, bool pipe, Load&& load)
{
    if (pipe)
        return through_fifo(bytes, load);
    const fs::path file = scratch_dir() / "picture";
    write_file(file, bytes);
    return load(file.c_str());
}

const ReadOptions kPad = [] {
    ReadOptions r;
    r.pad = true;
    return r;
}();

struct Size {
    int w, h;
};

TEST(Pad, ConvertsAsThePicturePaddedByHand)
{
    const Layout layouts[] = {Layout::bottom_up, Layout::top_down, Layout::os2, Layout::png,
                              Layout::png_interlaced};
    const Size sizes[] = {{1, 1}, {7, 9}, {8, 13}, {13, 8}, {250, 190}, {16, 16}};
    for (const Layout layout : layouts)
        for (const Size size : sizes)
            for (const bool pipe : {false, true}) {
                SCOPED_TRACE(testing::Message() << "layout " << int(layout) << ", " << size.w << "x" << size.h
                                                << (pipe ? ", pipe" : ", file"));
                const Picture picture = sample(size.w, size.h);
                const Bytes padded = encode(picture, layout), by_hand = encode(padded_by_hand(picture), layout);

                // Loaded padded from the feed, and by hand from a file: the same size.
                const auto load_both = [&](auto& got, auto& want, auto load) {
                    ASSERT_EQ(load_bytes(padded, pipe, [&](const char* f) { return load(f, got, kPad); }),
                              PictureError::ok);
                    ASSERT_EQ(load_bytes(by_hand, false, [&](const char* f) { return load(f, want, ReadOptions{}); }),
                              PictureError::ok);
                    EXPECT_EQ(got.width, want.width);
                    EXPECT_EQ(got.height, want.height);
                };
                ScreenImage got, want;
                load_both(got, want, load_screen_luma);
                EXPECT_TRUE(got.raster == want.raster);
                EXPECT_TRUE(got.attributes == want.attributes);
                SpritePicture sprites, sprites_want;
                load_both(sprites, sprites_want, load_sprites);
                EXPECT_TRUE(sprites.values == sprites_want.values);
                EXPECT_EQ(sprites.palette.attributes, sprites_want.palette.attributes);
            }
}

// Padding brings no colour: a sheet of four colours whose edges are not on
// symbol boundaries keeps exactly its four values, each with its own code.
TEST(Pad, FourColourSheetStaysLossless)
{
    const Rgb colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const Picture sheet = make_picture(21, 11, [&](int x, int y) { return colours[(x / 3 + y / 2) % 4]; });
    SpritePicture sp;
    ASSERT_EQ(load_bytes(make_bmp(sheet), false, [&](const char* f) { return load_sprites(f, sp, kPad); }),
              PictureError::ok);
    ASSERT_EQ(sp.width, 24u);
    ASSERT_EQ(sp.height, 16u);
    const std::set<uint8_t> palette(sp.palette.attributes.begin(), sp.palette.attributes.end());
    EXPECT_EQ(palette.size(), 4u);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const Rgb c = sheet.at(std::min(x, 20), std::min(y, 10));
            EXPECT_EQ(sp.values.data()[size_t(y) * 24 + size_t(x)], pack_rgb332(c.r, c.g, c.b)) << x << "," << y;
        }
}

// What the header claims decides, before any pixel is read: 1 .. 65528 a
// side is padded, anything else is a bad size; without padding a side off
// the multiples of 8 is a bad size as ever; a file short of its claimed
// lines (BMP lines counted with their padding to 4 bytes) is truncated.
TEST(Pad, SizesClaimedByTheHeader)
{
    const auto png_claiming = [](uint32_t w, uint32_t h) {
        PngContent c;
        c.w = c.h = 1;
        c.samples = {1, 2, 3};
        Bytes b = encode_png(c);
        const size_t ihdr = find_chunk(b, "IHDR");
        for (int i = 0; i < 4; ++i) {
            b[ihdr + 8 + size_t(i)] = uint8_t(w >> (24 - 8 * i));
            b[ihdr + 12 + size_t(i)] = uint8_t(h >> (24 - 8 * i));
        }
        fix_crc(b, ihdr);
        return b;
    };
    Bytes cut = make_bmp(sample(7, 9));
    cut.pop_back(); // the last line's padding, one byte of it
    const struct {
        const char* name;
        Bytes file;
        bool pad;
        PictureError want;
    } cases[] = {
        {"BMP 65529 wide", bmp_header(65529, 8), true, PictureError::bad_size},
        {"BMP 65529 high, top-down", bmp_header(8, -65529), true, PictureError::bad_size},
        {"BMP 0 wide", bmp_header(0, 8), true, PictureError::bad_size},
        {"BMP 65527 x 3, no pixels", bmp_header(65527, 3), true, PictureError::truncated},
        {"BMP 7 x 9 unpadded", make_bmp(sample(7, 9)), false, PictureError::bad_size},
        {"BMP 7 x 9 short a byte", cut, true, PictureError::truncated},
        {"PNG 65529 wide", png_claiming(65529, 1), true, PictureError::bad_size},
        {"PNG 1 x 65536", png_claiming(1, 65536), true, PictureError::bad_size},
        {"PNG 65528 x 1 of 1 x 1 data", png_claiming(65528, 1), true, PictureError::png_damaged},
        {"PNG 7 x 9 unpadded", encode(sample(7, 9), Layout::png), false, PictureError::bad_size},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScreenImage s;
        ReadOptions opt;
        opt.pad = c.pad;
        EXPECT_EQ(load_bytes(c.file, false, [&](const char* f) { return load_screen_luma(f, s, opt); }), c.want);
    }
}

// A picture's lines in memory as a stage before the pad stage: bottom line
// first or top line first, and how often it was finished.
struct MemoryLines {
    const Picture* picture;
    bool top_down;
    uint32_t next = 0;
    int finished = 0;
};

PictureError memory_read(void* state, uint8_t* out, size_t stride, uint32_t count, uint8_t* = nullptr, size_t = 0)
{
    MemoryLines& m = *static_cast<MemoryLines*>(state);
    const Picture& p = *m.picture;
    if (count > uint32_t(p.h) - m.next)
        return PictureError::truncated;
    for (uint32_t k = 0; k < count; ++k, ++m.next) {
        const int y = m.top_down ? int(m.next) : p.h - 1 - int(m.next);
        for (int x = 0; x < p.w; ++x) {
            const Rgb c = p.at(x, y);
            uint8_t* d = out + k * stride + 3 * size_t(x);
            d[0] = c.b;
            d[1] = c.g;
            d[2] = c.r;
        }
    }
    return PictureError::ok;
}

// The pad stage on its own: for either order, odd sizes and any number of
// lines a read, into lines further apart than they need, the lines of the
// picture padded by hand in the order they arrive, and the finish passed on.
TEST(Pad, StageGivesThePaddedLinesInOrder)
{
    const Size sizes[] = {{1, 1}, {7, 9}, {8, 13}, {13, 8}, {9, 16}, {16, 16}, {3, 17}};
    for (const Size size : sizes)
        for (const bool top_down : {false, true})
            for (const uint32_t per_read : {1u, 3u, 8u, 24u}) {
                SCOPED_TRACE(testing::Message() << size.w << "x" << size.h << (top_down ? " top-down" : " bottom-up")
                                                << ", " << per_read << " a read");
                const Picture picture = sample(size.w, size.h), want = padded_by_hand(picture);
                MemoryLines m{&picture, top_down};
                LineSource up;
                up.width = uint32_t(size.w);
                up.height = uint32_t(size.h);
                up.top_down = top_down;
                up.read = memory_read;
                up.finish = [](void* state) {
                    ++static_cast<MemoryLines*>(state)->finished;
                    return PictureError::ok;
                };
                up.state = &m;
                PadStage st;
                const LineSource pad = pad_lines(st, up);
                ASSERT_EQ(pad.width, uint32_t(want.w));
                ASSERT_EQ(pad.height, uint32_t(want.h));
                EXPECT_EQ(pad.top_down, top_down);
                const size_t stride = 3 * size_t(want.w) + 5;
                std::vector<uint8_t> lines(stride * size_t(want.h));
                for (uint32_t i = 0; i < pad.height; i += per_read) {
                    const uint32_t n = std::min(per_read, pad.height - i);
                    ASSERT_EQ(read_lines(pad, lines.data() + i * stride, stride, n), PictureError::ok);
                }
                EXPECT_EQ(read_lines(pad, lines.data(), stride, 1), PictureError::truncated); // none left
                MemoryLines by_hand{&want, top_down};
                std::vector<uint8_t> expected(lines.size());
                memory_read(&by_hand, expected.data(), stride, uint32_t(want.h));
                for (size_t i = 0; i < size_t(want.h); ++i)
                    EXPECT_TRUE(std::equal(lines.begin() + ptrdiff_t(i * stride),
                                           lines.begin() + ptrdiff_t(i * stride + 3 * size_t(want.w)),
                                           expected.begin() + ptrdiff_t(i * stride)))
                        << "line " << i;
                EXPECT_EQ(finish_lines(pad), PictureError::ok);
                EXPECT_EQ(m.finished, 1);
            }
}

// The reader's lines at any distance: closer than the file's (each line's
// padding read past), as far apart, or further (moved after one read).
TEST(Pad, ReaderPlacesLinesAtAnyStride)
{
    for (const int w : {5, 6, 7, 8})
        for (const bool top_down : {false, true}) {
            const Picture picture = sample(w, 3);
            BmpLayout layout;
            layout.top_down = top_down;
            const fs::path file = scratch_dir() / "lines.bmp";
            write_file(file, make_bmp(picture, layout));
            const size_t used = 3 * size_t(w), stored = (used + 3) & ~size_t(3);
            for (const size_t stride : {used, stored, used + 9}) {
                SCOPED_TRACE(testing::Message() << w << " wide" << (top_down ? " top-down" : "") << ", stride " << stride);
                std::vector<uint8_t> got(3 * stride), want(3 * stride);
                ASSERT_EQ(read_picture(file.c_str(),
                                       [&](PictureStream& p) {
                                           const PictureError e = read_picture_lines(p, got.data(), stride, 2);
                                           return e != PictureError::ok
                                                      ? e
                                                      : read_picture_lines(p, got.data() + 2 * stride, stride, 1);
                                       },
                                       kPad),
                          PictureError::ok);
                MemoryLines m{&picture, top_down};
                memory_read(&m, want.data(), stride, 3);
                for (size_t i = 0; i < 3; ++i)
                    EXPECT_TRUE(std::equal(got.begin() + ptrdiff_t(i * stride), got.begin() + ptrdiff_t(i * stride + used),
                                           want.begin() + ptrdiff_t(i * stride)))
                        << "line " << i;
            }
        }
}

} // namespace
