// The kinds of output of --format, as the programs write them: their bytes
// equal the screen file's, C compiles warning-free, and a small Z80 program
// built from each (with the assemblers and the compiler a user builds with)
// puts exactly those bytes into memory when it runs in the z80ex emulator.
// Then --sprite, the warning about merged colours and the usage errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "png_support.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kSpr = q(ENCSPRITE_EXE);
const std::string kScr = q(ENCSCREEN_EXE);

// Four colours, so that each crop of a sheet has the sheet's palette.
const Rgb kFour[] = {{0, 0, 0}, {255, 255, 255}, {200, 30, 90}, {20, 160, 250}};

Picture four_colour_picture(int w, int h)
{
    return make_picture(w, h, [](int x, int y) { return kFour[size_t((x * 3 + y * 5 + x * y / 7) % 4)]; });
}

// The screen file's bytes after its 16-byte header: raster, then attributes.
Bytes screen_body(const fs::path& scn)
{
    const Bytes b = read_file(scn);
    return b.size() >= 16 ? Bytes(b.begin() + 16, b.end()) : Bytes{};
}

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

void replace_all(std::string& s, const std::string& key, const std::string& value)
{
    for (size_t at; (at = s.find(key)) != std::string::npos;)
        s.replace(at, key.size(), value);
}

// A program's converter, as a test runs it: the command and the status of success.
struct Converter {
    const char* name;
    std::string command;
    int success;
};
const Converter kConverters[] = {{"encsprite", kSpr, 0}, {"encscreen", kScr, 1}};

} // namespace

// The raw bytes are the screen file's without its header, and the C arrays
// hold them too: a host program built warning-free from the .c and the .h
// prints them back.
TEST(OutputKinds, BinAndCHoldTheScreenFilesBytes)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "in.bmp", make_bmp(photo_picture(24, 16)));
    const bool cc = run("command -v cc").status == 0;
    for (const Converter& c : kConverters) {
        SCOPED_TRACE(c.name);
        const std::string in = q(dir / "in.bmp") + " ";
        ASSERT_EQ(run(c.command + " " + in + q(dir / "x.scn")).status, c.success);
        const Bytes want = screen_body(dir / "x.scn");
        ASSERT_EQ(run(c.command + " --format bin " + in + q(dir / "x.bin")).status, c.success);
        EXPECT_EQ(read_file(dir / "x.bin"), want);
        ASSERT_EQ(run(c.command + " --format scn " + in + q(dir / "x.out")).status, c.success);
        EXPECT_EQ(read_file(dir / "x.out"), read_file(dir / "x.scn"));
        if (!cc)
            continue;
        ASSERT_EQ(run(c.command + " --format c --prefix pic " + in + q(dir / "pic.c")).status, c.success);
        ASSERT_EQ(run(c.command + " --format c --prefix pic " + in + q(dir / "pic.h")).status, c.success);
        const std::string main = "#include <stdio.h>\n#include \"pic.h\"\n"
                                 "int main(void) { fwrite(pic_SPR, 1, pic_SPR_SIZE, stdout);"
                                 " fwrite(pic_ATTR, 1, pic_ATTR_SIZE, stdout); return 0; }\n";
        write_file(dir / "main.c", Bytes(main.begin(), main.end()));
        const RunResult built = run("cc -std=c99 -Wall -Wextra -pedantic -Werror -o " + q(dir / "host") + " " +
                                    q(dir / "main.c") + " " + q(dir / "pic.c"));
        ASSERT_EQ(built.status, 0) << built.out << built.err;
        EXPECT_EQ(run(q(dir / "host") + " > " + q(dir / "host.bin")).status, 0);
        EXPECT_EQ(read_file(dir / "host.bin"), want);
    }
    if (!cc)
        GTEST_SKIP() << "no C compiler (cc): the C arrays were not compiled";
}

// One way a Z80 build takes an output: the kind and the name it is written
// under, the files of the program around it, and the commands that build
// PROGRAM (a flat binary at 0, or Intel HEX) from them. {dir} is the
// folder, {size} the bytes to copy; every program copies the screen's bytes
// from SPR to 8000h and halts.
struct Recipe {
    const char* name;
    const char* probe;
    const char* kind;
    std::vector<const char*> outputs; // the output's names (C: the .c and the .h)
    const char* main_name;
    const char* main;
    const char* build;
    const char* program;
    bool quiet = false; // the build prints nothing: no warning
};

const char* const kCopyAsm = "\tORG 0\n\tLD HL,SPR\n\tLD DE,08000h\n\tLD BC,{size}\n\tLDIR\n\tHALT\n";

const Recipe kRecipes[] = {
    {"listing_pasmo", "pasmo", "asm", {"data.asm"}, "main.asm", "{copy}\tINCLUDE \"{dir}/data.asm\"\n",
     "pasmo --bin {dir}/main.asm {dir}/prog.bin", "prog.bin"},
    {"listing_z80asm", "z80asm", "asm", {"data.asm"}, "main.asm", "{copy}\tinclude \"{dir}/data.asm\"\n",
     "z80asm -o {dir}/prog.bin {dir}/main.asm", "prog.bin"},
    {"bin_pasmo", "pasmo", "bin", {"data.bin"}, "main.asm", "{copy}SPR:\tINCBIN \"{dir}/data.bin\"\n",
     "pasmo --bin {dir}/main.asm {dir}/prog.bin", "prog.bin"},
    {"bin_z80asm", "z80asm", "bin", {"data.bin"}, "main.asm", "{copy}SPR:\tincbin \"{dir}/data.bin\"\n",
     "z80asm -o {dir}/prog.bin {dir}/main.asm", "prog.bin"},
    {"sdas", "sdasz80", "sdas", {"data.s"}, "main.s",
     "\t.globl _SPR\n\t.area _HEADER (ABS)\n\t.org 0\n\tld hl, #_SPR\n\tld de, #0x8000\n\tld bc, #{size}\n"
     "\tldir\n\thalt\n",
     "sdasz80 -o {dir}/main.rel {dir}/main.s && sdasz80 -o {dir}/data.rel {dir}/data.s && "
     "sdldz80 -b _CODE=0x100 -i {dir}/prog.ihx {dir}/main.rel {dir}/data.rel",
     "prog.ihx"},
    {"c_sdcc", "sdcc", "c", {"data.c", "data.h"}, "main.c",
     "#include <string.h>\n#include \"data.h\"\nvoid main(void)\n{\n"
     "    memcpy((void*)0x8000, SPR, SPR_SIZE);\n    memcpy((void*)(0x8000 + SPR_SIZE), ATTR, ATTR_SIZE);\n}\n",
     "cd {dir} && sdcc -mz80 -c data.c && sdcc -mz80 --code-loc 0x200 --data-loc 0xC000 -o prog.ihx main.c data.rel",
     "prog.ihx", true},
};

void PrintTo(const Recipe& r, std::ostream* os) { *os << r.name; }

class InTheEmulator : public ::testing::TestWithParam<Recipe> {};
INSTANTIATE_TEST_SUITE_P(Z80, InTheEmulator, ::testing::ValuesIn(kRecipes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(InTheEmulator, CopiesTheScreenFilesBytes)
{
#ifndef Z80RUN_EXE
    GTEST_SKIP() << "the z80ex emulator library (libz80ex-dev) was not found when this was built";
#else
    const Recipe& r = GetParam();
    if (run(std::string("command -v ") + r.probe).status != 0)
        GTEST_SKIP() << r.probe << " is not installed";
    const fs::path dir = scratch_dir();
    write_file(dir / "in.bmp", make_bmp(photo_picture(32, 16)));
    for (const Converter& c : kConverters) {
        SCOPED_TRACE(c.name);
        const std::string in = q(dir / "in.bmp") + " ";
        ASSERT_EQ(run(c.command + " " + in + q(dir / "x.scn")).status, c.success);
        const Bytes want = screen_body(dir / "x.scn");
        for (const char* name : r.outputs)
            ASSERT_EQ(run(c.command + " --format " + r.kind + " " + in + q(dir / name)).status, c.success);
        std::string main = r.main, build = r.build;
        replace_all(main, "{copy}", kCopyAsm);
        for (std::string* s : {&main, &build}) {
            replace_all(*s, "{dir}", dir.string());
            replace_all(*s, "{size}", std::to_string(want.size()));
        }
        write_file(dir / r.main_name, Bytes(main.begin(), main.end()));
        const RunResult built = run(build);
        ASSERT_EQ(built.status, 0) << built.out << built.err;
        if (r.quiet) {
            EXPECT_EQ(built.out + built.err, "");
        }
        const RunResult ran = run(q(Z80RUN_EXE) + " " + q(dir / r.program) + " 0x8000 " +
                                  std::to_string(want.size()) + " " + q(dir / "memory.bin"));
        ASSERT_EQ(ran.status, 0) << ran.err;
        EXPECT_EQ(read_file(dir / "memory.bin"), want);
    }
#endif
}

// A masked sprite drawn the way a game draws it: the program fills the
// screen memory at 8000h with a pattern (each byte its address's low byte
// XOR 0A5h), then ANDs every byte with the mask's and ORs the sprite's. The
// memory must show the pattern where the sprite is transparent and the
// sprite where it is not, for the listing, SDCC's assembler and C.
const char* const kDrawAsm =
    "\tORG 0\n\tLD HL,08000h\n\tLD BC,{size}\nfill:\tLD A,L\n\tXOR 0A5h\n\tLD (HL),A\n\tINC HL\n\tDEC BC\n"
    "\tLD A,B\n\tOR C\n\tJR NZ,fill\n\tLD HL,SPR\n\tLD DE,MASK\n\tLD IX,08000h\n\tLD BC,{size}\n"
    "draw:\tLD A,(DE)\n\tAND (IX+0)\n\tOR (HL)\n\tLD (IX+0),A\n\tINC HL\n\tINC DE\n\tINC IX\n\tDEC BC\n"
    "\tLD A,B\n\tOR C\n\tJR NZ,draw\n\tHALT\n";

const Recipe kMaskedRecipes[] = {
    {"listing_pasmo", "pasmo", "asm", {"data.asm"}, "main.asm", "{draw}\tINCLUDE \"{dir}/data.asm\"\n",
     "pasmo --bin {dir}/main.asm {dir}/prog.bin", "prog.bin"},
    {"listing_z80asm", "z80asm", "asm", {"data.asm"}, "main.asm", "{draw}\tinclude \"{dir}/data.asm\"\n",
     "z80asm -o {dir}/prog.bin {dir}/main.asm", "prog.bin"},
    {"sdas", "sdasz80", "sdas", {"data.s"}, "main.s",
     "\t.globl _SPR\n\t.globl _MASK\n\t.area _HEADER (ABS)\n\t.org 0\n\tld hl, #0x8000\n\tld bc, #{size}\n"
     "fill:\tld a, l\n\txor a, #0xA5\n\tld (hl), a\n\tinc hl\n\tdec bc\n\tld a, b\n\tor a, c\n\tjr nz, fill\n"
     "\tld hl, #_SPR\n\tld de, #_MASK\n\tld ix, #0x8000\n\tld bc, #{size}\n"
     "draw:\tld a, (de)\n\tand a, 0 (ix)\n\tor a, (hl)\n\tld 0 (ix), a\n\tinc hl\n\tinc de\n\tinc ix\n"
     "\tdec bc\n\tld a, b\n\tor a, c\n\tjr nz, draw\n\thalt\n",
     "sdasz80 -o {dir}/main.rel {dir}/main.s && sdasz80 -o {dir}/data.rel {dir}/data.s && "
     "sdldz80 -b _CODE=0x100 -i {dir}/prog.ihx {dir}/main.rel {dir}/data.rel",
     "prog.ihx"},
    {"c_sdcc", "sdcc", "c", {"data.c", "data.h"}, "main.c",
     "#include \"data.h\"\nvoid main(void)\n{\n    unsigned char* screen = (unsigned char*)0x8000;\n"
     "    unsigned int i;\n    for (i = 0; i < SPR_SIZE; ++i)\n"
     "        screen[i] = (unsigned char)(((0x8000u + i) & 0xFF) ^ 0xA5);\n"
     "    for (i = 0; i < MASK_SIZE; ++i)\n        screen[i] = (unsigned char)((screen[i] & MASK[i]) | SPR[i]);\n}\n",
     "cd {dir} && sdcc -mz80 -c data.c && sdcc -mz80 --code-loc 0x200 --data-loc 0xC000 -o prog.ihx main.c data.rel",
     "prog.ihx", true},
};

class MaskedInTheEmulator : public ::testing::TestWithParam<Recipe> {};
INSTANTIATE_TEST_SUITE_P(Z80, MaskedInTheEmulator, ::testing::ValuesIn(kMaskedRecipes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(MaskedInTheEmulator, DrawsTheSpriteOverABackground)
{
#ifndef Z80RUN_EXE
    GTEST_SKIP() << "the z80ex emulator library (libz80ex-dev) was not found when this was built";
#else
    const Recipe& r = GetParam();
    if (run(std::string("command -v ") + r.probe).status != 0)
        GTEST_SKIP() << r.probe << " is not installed";
    const fs::path dir = scratch_dir();
    // Two 16x8 sprites: a ring of the four colours on a transparent background.
    PngContent s;
    s.w = 32;
    s.h = 8;
    s.colour_type = 6;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            const int dx = 2 * (x % 16) - 15, dy = 2 * y - 7, d = dx * dx + dy * dy;
            const Rgb c = kFour[size_t((x + y + x / 16) % 4)];
            s.samples.insert(s.samples.end(), {c.r, c.g, c.b, uint16_t(d > 20 && d < 150 ? 255 : 0)});
        }
    write_file(dir / "in.png", encode_png(s));
    const std::string in = " --sprite 16x8 " + q(dir / "in.png") + " ";
    ASSERT_EQ(run(kSpr + " --format bin" + in + q(dir / "x.bin")).status, 0);
    const Bytes bin = read_file(dir / "x.bin");
    const size_t size = 2 * 2 * 2 * 8, attributes = 4 * 4;
    ASSERT_EQ(bin.size(), size + attributes + size);
    Bytes want(size);
    for (size_t i = 0; i < size; ++i)
        want[i] = uint8_t((((0x8000 + i) & 0xFF) ^ 0xA5) & bin[size + attributes + i]) | bin[i];
    ASSERT_NE(want, Bytes(bin.begin(), bin.begin() + ptrdiff_t(size))); // the background shows somewhere
    for (const char* name : r.outputs)
        ASSERT_EQ(run(kSpr + " --format " + r.kind + in + q(dir / name)).status, 0);
    std::string main = r.main, build = r.build;
    replace_all(main, "{draw}", kDrawAsm);
    for (std::string* t : {&main, &build}) {
        replace_all(*t, "{dir}", dir.string());
        replace_all(*t, "{size}", std::to_string(size));
    }
    write_file(dir / r.main_name, Bytes(main.begin(), main.end()));
    const RunResult built = run(build);
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    if (r.quiet) {
        EXPECT_EQ(built.out + built.err, "");
    }
    const RunResult ran = run(q(Z80RUN_EXE) + " " + q(dir / r.program) + " 0x8000 " + std::to_string(size) + " " +
                              q(dir / "memory.bin"));
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(read_file(dir / "memory.bin"), want);
#endif
}

// A sheet of six different sprites of the same four colours: each sprite's
// raster is its own crop converted alone, one after another, and the sizes
// are given.
TEST(Sprites, EachSpriteIsItsOwnCrop)
{
    const fs::path dir = scratch_dir();
    const int sw = 16, sh = 8, across = 3, down = 2;
    // Each sprite its own pattern (the colour index moves with the sprite's
    // number), and all four colours in its top left corner.
    const auto colour = [&](int x, int y) {
        const int k = (y / sh) * across + x / sw;
        if (y % sh == 0 && x % sw < 4)
            return kFour[size_t(x % sw)];
        return kFour[size_t((x % sw + (y % sh) * (k + 1) + k * x) % 4)];
    };
    write_file(dir / "sheet.bmp", make_bmp(make_picture(sw * across, sh * down, colour)));
    ASSERT_EQ(run(kSpr + " --sprite 16x8 --format bin " + q(dir / "sheet.bmp") + " " + q(dir / "sheet.bin")).status, 0);
    const Bytes sheet = read_file(dir / "sheet.bin");
    Bytes want;
    for (int k = 0; k < across * down; ++k) {
        const int x0 = k % across * sw, y0 = k / across * sh;
        write_file(dir / "one.bmp", make_bmp(make_picture(sw, sh, [&](int x, int y) { return colour(x0 + x, y0 + y); })));
        ASSERT_EQ(run(kSpr + " --format bin " + q(dir / "one.bmp") + " " + q(dir / "one.bin")).status, 0);
        const Bytes one = read_file(dir / "one.bin");
        want.insert(want.end(), one.begin(), one.begin() + 2 * (sw / 8) * sh); // its raster
    }
    ASSERT_GE(sheet.size(), want.size());
    EXPECT_EQ(Bytes(sheet.begin(), sheet.begin() + ptrdiff_t(want.size())), want);
    EXPECT_EQ(sheet.size(), want.size() + 4 * (across * sw / 8) * down);

    // A screen file is the screen as it shows, sprites or not.
    ASSERT_EQ(run(kSpr + " --sprite 16x8 " + q(dir / "sheet.bmp") + " " + q(dir / "a.scn")).status, 0);
    ASSERT_EQ(run(kSpr + " " + q(dir / "sheet.bmp") + " " + q(dir / "b.scn")).status, 0);
    EXPECT_EQ(read_file(dir / "a.scn"), read_file(dir / "b.scn"));

    // The sizes, in the listing as EQU and in C as #define.
    ASSERT_EQ(run(kSpr + " --sprite 16x8 --prefix ship " + q(dir / "sheet.bmp") + " " + q(dir / "s.asm")).status, 0);
    const std::string listing = text_of(read_file(dir / "s.asm"));
    for (const char* line : {"ship_SPR_WIDTH:\tEQU\t16\n", "ship_SPR_HEIGHT:\tEQU\t8\n", "ship_SPR_COUNT:\tEQU\t6\n",
                             "ship_SPR_BYTES:\tEQU\t32\n"})
        EXPECT_NE(listing.find(line), std::string::npos) << line;
    ASSERT_EQ(run(kSpr + " --sprite 16x8 " + q(dir / "sheet.bmp") + " " + q(dir / "s.h")).status, 0);
    EXPECT_NE(text_of(read_file(dir / "s.h")).find("#define SPR_COUNT 6\n"), std::string::npos);
}

// Without --format the names give what they always gave; .c and .h give C.
TEST(OutputKinds, ByName)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "in.bmp", make_bmp(four_colour_picture(16, 8)));
    ASSERT_EQ(run(kSpr + " " + q(dir / "in.bmp") + " " + q(dir / "a.s")).status, 0);
    ASSERT_EQ(run(kSpr + " --format asm " + q(dir / "in.bmp") + " " + q(dir / "b.c")).status, 0);
    EXPECT_EQ(read_file(dir / "a.s"), read_file(dir / "b.c"));
    EXPECT_EQ(text_of(read_file(dir / "a.s")).substr(0, 29), ";New ZX screen format (VORNE)");
    ASSERT_EQ(run(kSpr + " " + q(dir / "in.bmp") + " " + q(dir / "c.c")).status, 0);
    EXPECT_NE(text_of(read_file(dir / "c.c")).find("const unsigned char SPR[SPR_SIZE] = {\n\t0x"), std::string::npos);
    ASSERT_EQ(run(kSpr + " " + q(dir / "in.bmp") + " " + q(dir / "c.H")).status, 0);
    EXPECT_NE(text_of(read_file(dir / "c.H")).find("extern const unsigned char ATTR[ATTR_SIZE];"), std::string::npos);
    // encscreen writes a screen file whatever the name, as it always did.
    ASSERT_EQ(run(kScr + " " + q(dir / "in.bmp") + " " + q(dir / "d.c")).status, 1);
    EXPECT_EQ(read_file(dir / "d.c")[0], 'S');
}

// More than four screen colours: the bytes of today and a warning that
// counts; four or fewer: no warning. Then the usage errors.
TEST(Sprites, WarningsAndErrors)
{
    const fs::path dir = scratch_dir();
    // Six values, of which the extreme palette keeps four: 0x00, 0x01 and
    // 0xE0, 0xA0; the pixels of (0, 32, 0) and (96, 0, 0) show another colour.
    const Rgb six[] = {{0, 0, 0}, {0, 0, 64}, {0, 32, 0}, {96, 0, 0}, {160, 0, 0}, {224, 0, 0}};
    write_file(dir / "six.bmp", make_bmp(make_picture(8, 8, [&](int x, int y) { return six[size_t((x + 8 * y) % 6)]; })));
    write_file(dir / "four.bmp", make_bmp(four_colour_picture(24, 16)));
    const RunResult r = run(kSpr + " " + q(dir / "six.bmp") + " " + q(dir / "six.asm"));
    EXPECT_EQ(r.status, 0);
    // Of the 64 pixels, values 2 and 3 of every six: 11 + 11.
    EXPECT_EQ(r.diagnostics, "encsprite: warning: " + (dir / "six.bmp").string() +
                         " has 6 screen colours where four fit: 22 pixels show another colour\n");
    const RunResult quiet = run(kSpr + " " + q(dir / "four.bmp") + " " + q(dir / "four.asm"));
    EXPECT_EQ(quiet.err + quiet.diagnostics, "");

    const std::string in = q(dir / "four.bmp") + " " + q(dir / "o.asm");
    const std::string usage = "Usage: encsprite <>.bmp <>.txt \n\a", size = ": the size must be WxH, each a multiple of 8 from 8 to 65528\n";
    const struct {
        std::string args, diagnostic, err, out;
    } cases[] = {
        {"--format hex " + in, "encsprite: '--format hex': the kind must be one of scn, asm, c, sdas, bin\n", "", usage},
        {"--format", "encsprite: option '--format' needs a kind\n", "", usage},
        {"--sprite 12x8 " + in, "encsprite: '--sprite 12x8'" + size, "", usage},
        {"--sprite 16 " + in, "encsprite: '--sprite 16'" + size, "", usage},
        {"--sprite 0x8 " + in, "encsprite: '--sprite 0x8'" + size, "", usage},
        {"--sprite 16x16 " + in,
         "encsprite: " + (dir / "four.bmp").string() + ": its 24x16 pixels do not cut into sprites of 16x16\n",
         "the sheet is not a whole number of sprites\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult e = run(kSpr + " " + c.args);
        EXPECT_EQ(e.status, 1);
        EXPECT_EQ(e.diagnostics, c.diagnostic);
        EXPECT_EQ(e.err, c.err);
        EXPECT_EQ(e.out, c.out);
        EXPECT_FALSE(fs::exists(dir / "o.asm"));
    }
}
