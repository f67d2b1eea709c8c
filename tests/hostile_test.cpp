// Hostile input, run as a user would: files cut short, headers that promise
// gigabytes, outputs that cannot be written. Whatever comes in, each program
// must end with its message and its failure status, promptly, within a small
// address space, and must leave its input alone.
#include <gtest/gtest.h>

#include <unistd.h>

#include <zlib.h>

#include "formats/le.hpp"
#include "png_support.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

namespace {

struct Program {
    const char* name;
    const char* path;
    std::string exe;       // path, quoted for the shell
    int failure;           // the program's failure status; success is the other of 0 and 1
    const char* out_file;  // the word its messages use for its output
};

const Program kEncscreen{"encscreen", ENCSCREEN_EXE, q(ENCSCREEN_EXE), 0, "scnfile"};
const Program kEncsprite{"encsprite", ENCSPRITE_EXE, q(ENCSPRITE_EXE), 1, "sprfile"};
const Program kDecscreen{"decscreen", DECSCREEN_EXE, q(DECSCREEN_EXE), 1, "bmpfile"};

// How the input reaches the program: by name or as standard input redirected
// from the file, where its size is known up front, or through a pipe, where it
// is not.
struct Feed {
    const char* name;
    std::string (*command)(const Program& p, const fs::path& in, const fs::path& out);
};
const Feed kFeeds[] = {
    {"regular file", [](const Program& p, const fs::path& in, const fs::path& out) {
         return p.exe + " " + q(in) + " " + q(out);
     }},
    {"standard input from a file", [](const Program& p, const fs::path& in, const fs::path& out) {
         return p.exe + " /dev/stdin " + q(out) + " < " + q(in);
     }},
    {"pipe", [](const Program& p, const fs::path& in, const fs::path& out) {
         return "cat " + q(in) + " | " + p.exe + " /dev/stdin " + q(out);
     }},
};

// An asymmetric 8x8 picture in ImageMagick's layout: a 124-byte info header.
Bytes bmp_with_124_byte_header()
{
    const Picture p = make_picture(8, 8, [](int x, int y) {
        return Rgb{uint8_t(x * 30 + 5), uint8_t(y * 20 + 7), uint8_t(x * y + 9)};
    });
    return make_bmp(p, {124, 0, false, 0, {'B', 'M'}});
}

} // namespace

TEST(Hostile, EveryPrefixOfABmpFailsWithAMessage)
{
    const fs::path dir = scratch_dir();
    const Bytes whole = bmp_with_124_byte_header();
    ASSERT_EQ(whole.size(), 14u + 124 + 192);
    const fs::path out = dir / "out";
    for (const Program& p : {kEncscreen, kEncsprite}) {
        SCOPED_TRACE(p.name);
        // The whole file converts, so every failure below is the cut's doing.
        write_file(dir / "in.bmp", whole);
        ASSERT_EQ(run(kFeeds[0].command(p, dir / "in.bmp", out)).status, 1 - p.failure);
        fs::remove(out);
        for (const Feed& feed : kFeeds) {
            SCOPED_TRACE(feed.name);
            for (size_t len = 0; len < whole.size(); ++len) {
                write_file(dir / "in.bmp", Bytes(whole.begin(), whole.begin() + ptrdiff_t(len)));
                const RunResult r = run(feed.command(p, dir / "in.bmp", out));
                // Short of the 54 header bytes it is no BMP; after them the rest of
                // the 124-byte header and the pixels are missing.
                const std::string want = len < 54 ? "the file is not 24bit bmp \n" : "bmpfile is truncated\n";
                ASSERT_EQ(r.status, p.failure) << len;
                ASSERT_EQ(r.out, "") << len;
                ASSERT_EQ(r.err, want) << len;
                ASSERT_FALSE(fs::exists(out)) << len;
            }
        }
    }
}

TEST(Hostile, HugeClaimsFailAtOnceInASmallAddressSpace)
{
    if (const std::string why = why_no_memory_limit(); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = scratch_dir();
    Bytes with_data = bmp_header(65528, 65528);
    with_data.resize(with_data.size() + 200000, 0x42);
    Bytes scn_header = make_scn(0, 0, [](size_t) { return 0; });
    put_le16(scn_header, 8, 32768); // 256 MiB of raster promised, a BMP of 3 GiB
    put_le16(scn_header, 10, 32768);
    Bytes scn_too_large = scn_header;
    put_le16(scn_too_large, 8, 65528);
    put_le16(scn_too_large, 10, 65528);
    scn_too_large.resize(200000, 0x42);
    // Cut short after a few of the 512 KiB reads a pipe is read in, and of
    // the 1 MiB reads of a screen file.
    Bytes cut = bmp_header(4096, 4096);
    cut.resize(cut.size() + 3000000, 0x42);
    Bytes scn_cut = make_scn(0, 0, [](size_t) { return 0; });
    put_le16(scn_cut, 8, 4096);
    put_le16(scn_cut, 10, 4096);
    scn_cut.resize(3000000, 0x42);
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Program> programs;
        std::string err;
    };
    const Case cases[] = {
        {"54-byte header claiming 65528x65528", bmp_header(65528, 65528), {kEncscreen, kEncsprite},
         "bmpfile is truncated\n"},
        {"the same followed by 200 KB", with_data, {kEncscreen, kEncsprite}, "bmpfile is truncated\n"},
        {"top-down header claiming 65528x65528", bmp_header(65528, -65528), {kEncscreen, kEncsprite},
         "bmpfile is truncated\n"},
        {"4096x4096 cut short after 3 MB", cut, {kEncscreen, kEncsprite}, "bmpfile is truncated\n"},
        {"16-byte screen header claiming 32768x32768", scn_header, {kDecscreen}, "scnfile is truncated\n"},
        {"4096x4096 screen cut short after 3 MB", scn_cut, {kDecscreen}, "scnfile is truncated\n"},
        {"screen header claiming a BMP above 4 GiB, and 200 KB", scn_too_large, {kDecscreen},
         "the picture is too large for a bmp file\n"},
    };
    const fs::path out = dir / "out";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "in", c.file);
        for (const Program& p : c.programs) {
            SCOPED_TRACE(p.name);
            Program limited = p;
            limited.exe = "timeout 60 prlimit --as=67108864 " + p.exe;
            for (const Feed& feed : kFeeds) {
                SCOPED_TRACE(feed.name);
                const RunResult r = run(feed.command(limited, dir / "in", out));
                EXPECT_EQ(r.status, p.failure);
                EXPECT_EQ(r.out, "");
                EXPECT_EQ(r.err, c.err);
                EXPECT_FALSE(fs::exists(out));
            }
        }
    }
}

TEST(Hostile, UnwritableOutputsFailWithAMessageAndLeaveTheInputAlone)
{
    const fs::path dir = scratch_dir();
    // The read-only case needs a user whom the file's mode stops: root writes anyway.
    std::string as_user;
    if (geteuid() == 0) {
        if (run("command -v setpriv").status != 0)
            GTEST_SKIP() << "running as root without setpriv: a read-only output cannot be tested";
        as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    // Open to all, so that only the file's own mode stops the write.
    fs::permissions(dir, fs::perms::all);
    std::vector<Program> programs = {kEncscreen, kEncsprite, kDecscreen};
    if (!as_user.empty()) {
        // The build folder may lie where that user cannot go: run copies of the programs.
        for (Program& p : programs) {
            fs::copy_file(p.path, dir / p.name);
            p.exe = q(dir / p.name);
        }
        if (run(as_user + "test -x " + programs[0].exe).status != 0)
            GTEST_SKIP() << "user 65534 cannot reach " << dir << ": a read-only output cannot be tested";
    }

    const Bytes bmp = bmp_with_124_byte_header();
    const Bytes scn = make_scn(16, 8, [](size_t i) { return uint8_t(i * 37 + 11); });
    fs::create_directory(dir / "folder");
    const Bytes old = {'o', 'l', 'd'};
    write_file(dir / "read-only", old);
    fs::permissions(dir / "read-only", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    struct Target {
        const char* name;
        std::string path, word; // word: "opened" or "written"
    };
    const Target targets[] = {
        {"a folder", q(dir / "folder"), "opened"},
        {"a read-only file", q(dir / "read-only"), "opened"},
        {"a full device", "/dev/full", "written"},
    };
    const std::pair<Program, Bytes> runs[] = {{programs[0], bmp}, {programs[1], bmp}, {programs[2], scn}};
    for (const auto& [p, input] : runs) {
        SCOPED_TRACE(p.name);
        write_file(dir / "in", input);
        fs::permissions(dir / "in", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        const auto stamp = fs::last_write_time(dir / "in");
        for (const Target& t : targets) {
            SCOPED_TRACE(t.name);
            const RunResult r = run(as_user + p.exe + " " + q(dir / "in") + " " + t.path);
            EXPECT_EQ(r.status, p.failure);
            EXPECT_EQ(r.out, std::string(p.out_file) + " was not " + t.word + "\n");
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(read_file(dir / "in"), input);
            EXPECT_EQ(fs::last_write_time(dir / "in"), stamp);
        }
        fs::remove(dir / "in");
    }
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
    EXPECT_EQ(read_file(dir / "read-only"), old);
}

// The pictures are read a symbol row at a time, whichever way their lines
// run and however they arrive: every layout and feed must give the bytes of
// the plain bottom-up file, at the extreme shapes too.
TEST(Streaming, EveryLayoutAndFeedGivesTheSameOutput)
{
    const fs::path dir = scratch_dir();
    struct Layout {
        const char* name;
        BmpLayout layout;
    };
    const Layout layouts[] = {
        {"top-down", {40, 0, true, 0, {'B', 'M'}}},
        {"OS/2 core header", {12, 0, false, 0, {'B', 'M'}}},
        {"bottom-up, 124-byte header with masks", {124, 0, false, 3, {'B', 'M'}}},
    };
    // 16x65528 is 3 MiB: from a pipe it comes in reads of 512 KiB of bands,
    // the last one short.
    for (const auto& [w, h] : {std::pair<int, int>{8, 8}, {8, 65528}, {65528, 8}, {16, 65528}, {24, 40}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const Picture p = make_picture(w, h, [](int x, int y) {
            return Rgb{uint8_t(x * 7 + y), uint8_t(y * 13 + 1), uint8_t((x ^ y) * 3)};
        });
        write_file(dir / "plain.bmp", make_bmp(p));
        for (const Program& prog : {kEncscreen, kEncsprite}) {
            SCOPED_TRACE(prog.name);
            const fs::path want_file = dir / (std::string(prog.name) + ".want");
            ASSERT_EQ(run(kFeeds[0].command(prog, dir / "plain.bmp", want_file)).status, 1 - prog.failure);
            const Bytes want = read_file(want_file);
            for (const Layout& l : layouts) {
                SCOPED_TRACE(l.name);
                write_file(dir / "in.bmp", make_bmp(p, l.layout));
                for (const Feed& feed : kFeeds) {
                    SCOPED_TRACE(feed.name);
                    fs::remove(dir / "out");
                    const RunResult r = run(feed.command(prog, dir / "in.bmp", dir / "out"));
                    EXPECT_EQ(r.status, 1 - prog.failure);
                    EXPECT_EQ(r.out + r.err, "");
                    EXPECT_TRUE(read_file(dir / "out") == want);
                }
            }
        }
    }
}

// Only the screen is held (and for encsprite one byte a pixel), never the
// picture: a 24 MiB picture converts in less address space than its own size,
// from a file and from a pipe, and decscreen needs little more than the
// screen file.
TEST(Streaming, MemoryFollowsTheScreenNotThePicture)
{
#ifdef VORNE_SANITIZED
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no program can start under prlimit --as";
#endif
    if (run("command -v prlimit").status != 0)
        GTEST_SKIP() << "prlimit not installed";
    const fs::path dir = scratch_dir();
    const int w = 4096, h = 2048;
    write_file(dir / "in.bmp", make_bmp(make_picture(w, h, [](int x, int y) {
                   return Rgb{uint8_t(x * 3 + y), uint8_t(x ^ y), uint8_t(y * 5)};
               })));
    const uint64_t screen = 16 + 2 * uint64_t(w / 8) * h + 4 * uint64_t(w / 8) * (h / 8);
    // A program's own code and libraries take some 6 MiB of address space,
    // and reading a pipe 4 MiB more while its 2 MiB buffer is being placed.
    const uint64_t slack = uint64_t(12) << 20;
    ASSERT_EQ(run(kEncscreen.exe + " " + q(dir / "in.bmp") + " " + q(dir / "in.scn")).status, 1);
    struct Case {
        Program program;
        const char* input;
        uint64_t limit;
    };
    const Case cases[] = {
        {kEncscreen, "in.bmp", screen + slack},
        {kEncsprite, "in.bmp", uint64_t(w) * h + slack},
        {kDecscreen, "in.scn", screen + slack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program.name);
        const fs::path want_file = dir / (std::string(c.program.name) + ".want");
        ASSERT_EQ(run(kFeeds[0].command(c.program, dir / c.input, want_file)).status, 1 - c.program.failure);
        Program limited = c.program;
        limited.exe = "prlimit --as=" + std::to_string(c.limit) + " " + c.program.exe;
        for (const Feed& feed : kFeeds) {
            SCOPED_TRACE(feed.name);
            fs::remove(dir / "out");
            const RunResult r = run(feed.command(limited, dir / c.input, dir / "out"));
            EXPECT_EQ(r.status, 1 - c.program.failure) << r.err;
            EXPECT_TRUE(read_file(dir / "out") == read_file(want_file));
        }
    }
}

// --- PNG ----------------------------------------------------------------------

namespace {

// An 8x8 interlaced palette picture with transparency: every path of the
// reader in a hundred-odd bytes.
Bytes small_png()
{
    PngContent s;
    s.w = s.h = 8;
    s.colour_type = 3;
    s.depth = 4;
    s.interlaced = true;
    for (uint16_t i = 0; i < 64; ++i)
        s.samples.push_back(uint16_t((i * 7 + i / 8) % 16));
    for (uint8_t k = 0; k < 16; ++k)
        s.plte.insert(s.plte.end(), {uint8_t(k * 16), uint8_t(255 - k * 9), uint8_t(k * 41)});
    s.trns = {0, 128, 255, 7};
    return encode_png(s);
}

} // namespace

TEST(Hostile, EveryPrefixAndBitFlipOfAPngFailsCleanly)
{
    const fs::path dir = scratch_dir();
    const Bytes whole = small_png();
    const fs::path out = dir / "out";
    for (const Program& p : {kEncscreen, kEncsprite}) {
        SCOPED_TRACE(p.name);
        write_file(dir / "in.png", whole);
        ASSERT_EQ(run(kFeeds[0].command(p, dir / "in.png", out)).status, 1 - p.failure);
        fs::remove(out);
        // Cut anywhere, from a file and from a pipe: short of the signature
        // it is no picture at all, after it a damaged PNG.
        for (const Feed& feed : {kFeeds[0], kFeeds[2]}) {
            SCOPED_TRACE(feed.name);
            for (size_t len = 0; len < whole.size(); ++len) {
                write_file(dir / "in.png", Bytes(whole.begin(), whole.begin() + ptrdiff_t(len)));
                const RunResult r = run(feed.command(p, dir / "in.png", out));
                ASSERT_EQ(r.status, p.failure) << len;
                ASSERT_EQ(r.out, "") << len;
                ASSERT_EQ(r.err, len < 8 ? "the file is not 24bit bmp \n" : "pngfile is damaged\n") << len;
                ASSERT_FALSE(fs::exists(out)) << len;
            }
        }
        // One bit flipped in every byte after the signature: a flip may leave
        // a readable picture (in a colour, or in an ancillary chunk's CRC), but
        // a program either converts or ends with a message and writes nothing.
        for (size_t at = 8; at < whole.size(); ++at) {
            Bytes b = whole;
            b[at] ^= uint8_t(1u << (at % 8));
            write_file(dir / "in.png", b);
            const RunResult r = run(kFeeds[0].command(p, dir / "in.png", out));
            if (r.status == 1 - p.failure) {
                EXPECT_EQ(r.out + r.err, "") << at;
                EXPECT_TRUE(fs::exists(out)) << at;
            } else {
                ASSERT_EQ(r.status, p.failure) << at;
                EXPECT_TRUE(r.err == "pngfile is damaged\n" ||
                            r.err == "the picture width and height must be multiples of 8 up to 65528\n")
                    << at << ": " << r.err;
                EXPECT_FALSE(fs::exists(out)) << at;
            }
            fs::remove(out);
        }
    }
}

TEST(Hostile, HugePngClaimsFailAtOnceInASmallAddressSpace)
{
#ifdef VORNE_SANITIZED
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no program can start under prlimit --as";
#endif
    if (run("command -v prlimit && command -v timeout").status != 0)
        GTEST_SKIP() << "prlimit or timeout not installed";
    const fs::path dir = scratch_dir();
    // 65528x65528 claimed, 200 KB of rows delivered in a few hundred bytes of
    // zlib data, then the file ends. An interlaced picture is held whole, so
    // it must still cost only what its passes reached.
    for (const bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "not interlaced");
        PngContent s;
        s.w = s.h = 8;
        s.interlaced = interlaced;
        s.samples.assign(8 * 8 * 3, 0);
        Bytes png = encode_png(s);
        // The same header claiming 65528x65528, then zlib data of zero rows.
        for (const size_t at : {16u, 20u})
            png[at + 2] = 0xFF, png[at + 3] = 0xF8;
        fix_crc(png, 8);
        png.resize(find_chunk(png, "IDAT"));
        Bytes rows(200000, 0);
        uLongf size = compressBound(uLong(rows.size()));
        Bytes z(size);
        ASSERT_EQ(compress2(z.data(), &size, rows.data(), uLong(rows.size()), 9), Z_OK);
        z.resize(size);
        ASSERT_LT(z.size(), 1000u);
        const Bytes idat = png_chunk("IDAT", z);
        png.insert(png.end(), idat.begin(), idat.end());
        write_file(dir / "in", png);
        for (const Program& p : {kEncscreen, kEncsprite}) {
            SCOPED_TRACE(p.name);
            Program limited = p;
            limited.exe = "timeout 60 prlimit --as=268435456 " + p.exe;
            for (const Feed& feed : kFeeds) {
                SCOPED_TRACE(feed.name);
                const RunResult r = run(feed.command(limited, dir / "in", dir / "out"));
                EXPECT_EQ(r.status, p.failure);
                EXPECT_EQ(r.out, "");
                EXPECT_EQ(r.err, "pngfile is damaged\n");
                EXPECT_FALSE(fs::exists(dir / "out"));
            }
        }
    }
}

// --- Damaged zlib streams, PNG bombs, pipes and odd names ---------------------

namespace {

// zlib data of `raw`, ending with a final block and the checksum, or, with
// `sync`, a stream that simply stops after the data (no final block).
Bytes deflate_bytes(const Bytes& raw, bool sync = false)
{
    z_stream z{};
    deflateInit(&z, 9);
    Bytes out(compressBound(uLong(raw.size())) + 64);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = uInt(raw.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, sync ? Z_SYNC_FLUSH : Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void put_be32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// A PNG of the given header and zlib data, cut into IDAT chunks at `cuts`.
Bytes png_of(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced, const Bytes& z,
             std::vector<size_t> cuts = {})
{
    Bytes ihdr(13, 0);
    put_be32(ihdr, 0, w);
    put_be32(ihdr, 4, h);
    ihdr[8] = depth, ihdr[9] = colour, ihdr[12] = uint8_t(interlaced);
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto add = [&](const std::string& type, const Bytes& body) {
        const Bytes c = png_chunk(type, body);
        png.insert(png.end(), c.begin(), c.end());
    };
    add("IHDR", ihdr);
    cuts.push_back(z.size());
    size_t from = 0;
    for (const size_t to : cuts) {
        add("IDAT", Bytes(z.begin() + ptrdiff_t(from), z.begin() + ptrdiff_t(to)));
        from = to;
    }
    add("IEND", {});
    return png;
}

// The rows of a 16x16 RGB picture with filter bytes, as PNG compresses them.
Bytes filtered_rows()
{
    Bytes raw;
    for (int y = 0; y < 16; ++y) {
        raw.push_back(0);
        for (int i = 0; i < 48; ++i)
            raw.push_back(uint8_t(y * 31 + i * 7));
    }
    return raw;
}

} // namespace

TEST(Hostile, BrokenZlibStreamsAreDamagedHoweverTheyAreSplit)
{
    const fs::path dir = scratch_dir();
    const Bytes raw = filtered_rows();
    const Bytes good = deflate_bytes(raw);
    Bytes bad_sum = good;
    bad_sum[bad_sum.size() - 4] ^= 1;
    Bytes extra = raw;
    extra.resize(raw.size() + 100, 7);
    extra = deflate_bytes(extra);
    extra.back() ^= 0xFF;
    const Bytes no_end = deflate_bytes(raw, true);
    std::vector<size_t> every_byte;
    for (size_t i = 1; i < no_end.size(); ++i)
        every_byte.push_back(i);

    write_file(dir / "good.png", png_of(16, 16, 8, 2, false, good, {good.size() - 4}));
    const std::pair<const char*, Bytes> cases[] = {
        {"wrong checksum, its 4 bytes alone", png_of(16, 16, 8, 2, false, bad_sum, {bad_sum.size() - 4})},
        {"wrong checksum, its last byte alone", png_of(16, 16, 8, 2, false, bad_sum, {bad_sum.size() - 1})},
        {"wrong checksum, 2 bytes alone", png_of(16, 16, 8, 2, false, bad_sum, {bad_sum.size() - 2})},
        {"100 bytes too many and a wrong checksum", png_of(16, 16, 8, 2, false, extra)},
        {"no final block, one IDAT", png_of(16, 16, 8, 2, false, no_end)},
        {"no final block, 1-byte IDATs", png_of(16, 16, 8, 2, false, no_end, every_byte)},
    };
    for (const Program& p : {kEncscreen, kEncsprite}) {
        SCOPED_TRACE(p.name);
        ASSERT_EQ(run(kFeeds[0].command(p, dir / "good.png", dir / "out")).status, 1 - p.failure);
        fs::remove(dir / "out");
        for (const auto& [name, png] : cases) {
            SCOPED_TRACE(name);
            write_file(dir / "in.png", png);
            for (const Feed& feed : {kFeeds[0], kFeeds[2]}) {
                const RunResult r = run(feed.command(p, dir / "in.png", dir / "out"));
                EXPECT_EQ(r.status, p.failure);
                EXPECT_EQ(r.err, "pngfile is damaged\n");
                EXPECT_FALSE(fs::exists(dir / "out"));
            }
        }
    }
}

TEST(Hostile, InterlacedPngBombsEndWithinASmallAddressSpace)
{
    if (const std::string why = why_no_memory_limit(); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = scratch_dir();
    // 65528x65528 1-bit grey, Adam7: 800 rows of the first pass (1 KiB each
    // plus the filter byte), then the file ends; and every first pass and
    // then the end. Each once held a whole 24-bit line for every row reached.
    for (const uint32_t rows : {800u, 8191u}) {
        SCOPED_TRACE(rows);
        Bytes raw;
        for (uint32_t y = 0; y < rows; ++y)
            raw.insert(raw.end(), 1025, 0);
        const Bytes png = png_of(65528, 65528, 1, 0, true, deflate_bytes(raw, true));
        ASSERT_LT(png.size(), 10000u);
        write_file(dir / "in.png", png);
        for (const Program& p : {kEncscreen, kEncsprite}) {
            SCOPED_TRACE(p.name);
            Program limited = p;
            limited.exe = "timeout 10 prlimit --as=268435456 " + p.exe;
            const RunResult r = run(kFeeds[2].command(limited, dir / "in.png", dir / "out"));
            EXPECT_EQ(r.status, p.failure);
            EXPECT_EQ(r.err, "pngfile is damaged\n");
            EXPECT_FALSE(fs::exists(dir / "out"));
        }
    }
}

TEST(Hostile, PipesStreamsAndNames)
{
    const fs::path dir = scratch_dir();
    // A reader that leaves early (head): a write failure, not a silent
    // SIGPIPE. Each output is far larger than a pipe holds.
    const Picture big = make_picture(1024, 1024, [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), uint8_t(x ^ y)}; });
    write_file(dir / "big.bmp", make_bmp(big));
    ASSERT_EQ(run(kEncscreen.exe + " " + q(dir / "big.bmp") + " " + q(dir / "big.scn")).status, 1);
    for (const Program& p : {kEncscreen, kEncsprite, kDecscreen}) {
        SCOPED_TRACE(p.name);
        const fs::path in = dir / (p.name == std::string("decscreen") ? "big.scn" : "big.bmp");
        const RunResult r = run("bash -c 'set -o pipefail; " + p.exe + " " + q(in) + " - | head -c 1 >/dev/null'");
        EXPECT_EQ(r.status, p.failure);
        EXPECT_EQ(r.err, std::string(p.out_file) + " was not written\n");
    }

    write_file(dir / "in.bmp", bmp_with_124_byte_header());
    for (const Program& p : {kEncscreen, kEncsprite, kDecscreen}) {
        SCOPED_TRACE(p.name);
        const int ok = 1 - p.failure;
        const fs::path in = p.name == std::string("decscreen") ? dir / "in.scn" : dir / "in.bmp";
        if (p.name == std::string("decscreen")) {
            ASSERT_EQ(run(kEncscreen.exe + " " + q(dir / "in.bmp") + " " + q(in)).status, 1);
        }
        const fs::path want_file = dir / (std::string(p.name) + ".want");
        ASSERT_EQ(run(p.exe + " " + q(in) + " " + q(want_file)).status, ok);
        const Bytes want = read_file(want_file);

        // A process substitution's /dev/fd/N is written through, not reopened by its link's name.
        RunResult r = run("bash -c '" + p.exe + " " + q(in) + " >(cat > " + q(dir / "fd") + "); s=$?; wait; exit $s'");
        EXPECT_EQ(r.status, ok) << r.out << r.err;
        EXPECT_EQ(read_file(dir / "fd"), want);

        // An empty name, and a closed standard input.
        r = run(p.exe + " " + q(in) + " ''");
        EXPECT_EQ(r.status, p.failure);
        EXPECT_EQ(r.out, std::string(p.out_file) + " was not opened\n");
        r = run(p.exe + " - " + q(dir / "closed") + " <&-");
        EXPECT_EQ(r.status, p.failure);
        EXPECT_EQ(r.out, p.name == std::string("decscreen") ? "scnfile was not opened\n" : "bmpfile was not opened\n");
        EXPECT_FALSE(fs::exists(dir / "closed"));

        // A name as long as the system allows: the temporary beside it must not be longer.
        fs::path deep = dir;
        while (deep.native().size() < 3900)
            deep /= std::string(200, 'd');
        fs::create_directories(deep);
        const fs::path longest = deep / std::string(4087 - deep.native().size() - 1, 'f');
        EXPECT_EQ(run(p.exe + " " + q(in) + " " + q(longest)).status, ok);
        EXPECT_EQ(read_file(longest), want);
        fs::remove_all(dir / std::string(200, 'd'));

        // A replaced file drops set-id bits, and its other hard links keep the old contents.
        write_file(dir / "old", {'o', 'l', 'd'});
        fs::permissions(dir / "old", fs::perms(06755));
        fs::create_hard_link(dir / "old", dir / "other-name");
        EXPECT_EQ(run(p.exe + " " + q(in) + " " + q(dir / "old")).status, ok);
        EXPECT_EQ(fs::status(dir / "old").permissions(), fs::perms(0755));
        EXPECT_EQ(read_file(dir / "old"), want);
        EXPECT_EQ(read_file(dir / "other-name"), (Bytes{'o', 'l', 'd'}));
        fs::remove(dir / "old"), fs::remove(dir / "other-name");
    }
}
