// The command line as a user meets it, through the real programs: options
// and their errors, the help, the diagnostic line after every failure, and
// the guard that keeps pictures and screens from being overwritten.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include <algorithm>
#include <cctype>

#include <unistd.h>

#include "formats/le.hpp"
#include "png_support.hpp"
#include "cli/options.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

namespace {

struct Program {
    const char* name;
    std::string exe;
    int success, failure;
    const char* usage;
    const char* not_opened; // the message about the output
};

const Program kPrograms[] = {
    {"encscreen", q(ENCSCREEN_EXE), 1, 0, "Usage: encscreen <>.bmp <>.scn \n\a", "scnfile was not opened\n"},
    {"encsprite", q(ENCSPRITE_EXE), 0, 1, "Usage: encsprite <>.bmp <>.txt \n\a", "sprfile was not opened\n"},
    {"decscreen", q(DECSCREEN_EXE), 0, 1, "Usage: decscreen <>.scn <>.bmp \n\a", "bmpfile was not opened\n"},
};
const Program& kEncscreen = kPrograms[0];
const Program& kEncsprite = kPrograms[1];
const Program& kDecscreen = kPrograms[2];

Bytes small_bmp(int w = 16, int h = 8, const BmpLayout& layout = {})
{
    return make_bmp(make_picture(w, h, [](int x, int y) { return Rgb{uint8_t(x * 15), uint8_t(y * 30), 90}; }),
                    layout);
}

// A scratch folder with a picture, a.bmp, and its screen, a.scn.
fs::path folder_with_a_picture()
{
    const fs::path dir = scratch_dir();
    write_file(dir / "a.bmp", small_bmp());
    EXPECT_EQ(run(kPrograms[0].exe + " " + q(dir / "a.bmp") + " " + q(dir / "a.scn")).status, 1);
    return dir;
}

} // namespace

TEST(CommandLine, OptionsAndTheirErrors)
{
    const std::string kSizeRule = "the size must be WIDTHxHEIGHT, each a multiple of 8 from 8 to 65528 (256x192, say)\n";
    const std::string kThreadsRule = "the number of threads must be a whole number from 1 to 256\n";
    const std::string kPlaceRule =
        "the place must be X,Y, two fractions from 0 to 1 (0,0 the top left, 0.5,0.5 the middle)\n";
    const fs::path dir = folder_with_a_picture();
    const struct {
        const Program& p;
        std::string args;
        std::string error; // the usage error's line, empty where the run converts
    } cases[] = {
        {kEncscreen, "--bogus a.bmp x", "encscreen: unknown option '--bogus'\n"},
        {kEncscreen, "-x a.bmp x", "encscreen: unknown option '-x'\n"},
        {kDecscreen, "--pad a.scn x", "decscreen: unknown option '--pad'\n"},
        {kDecscreen, "--prefix x a.scn x", "decscreen: unknown option '--prefix'\n"},
        {kEncscreen, "--pad=1 a.bmp x", "encscreen: option '--pad' takes no value\n"},
        {kEncsprite, "a.bmp x --prefix", "encsprite: option '--prefix' needs a name\n"},
        {kEncsprite, "--prefix 9lives a.bmp x", "encsprite: '--prefix 9lives': the prefix must be an assembler name: "
                                                "a letter or underscore, then letters, digits or underscores, at "
                                                "most 32 characters\n"},
        {kEncsprite, "--prefix=" + std::string(33, 'a') + " a.bmp x", "encsprite: '--prefix " + std::string(33, 'a') +
                                                                          "': the prefix must be an assembler name: "
                                                                          "a letter or underscore, then letters, "
                                                                          "digits or underscores, at most 32 "
                                                                          "characters\n"},
        {kEncsprite, "--prefix " + q("a\nb") + " a.bmp x", "encsprite: '--prefix a'$'\\n''b': the prefix must be an "
                                                  "assembler name: a letter or underscore, then letters, digits or "
                                                  "underscores, at most 32 characters\n"},
        {kEncscreen, q("--\x1b[2J") + " a.bmp x", "encscreen: unknown option '--'$'\\033''[2J'\n"},
        // Not two names: the usage message as ever, and where to look.
        {kEncscreen, "", "encscreen: try 'encscreen --help'\n"},
        {kDecscreen, "a.scn", "decscreen: one name given, two needed; try 'decscreen --help'\n"},
        {kEncsprite, "a.bmp x y", "encsprite: 3 names given, two needed; try 'encsprite --help'\n"},
        // The size, the cut and the adjustments, each with the rule it broke.
        {kEncscreen, "--fit 250x192 a.bmp x", "encscreen: '--fit 250x192': " + kSizeRule},
        {kEncsprite, "--fit=0x8 a.bmp x", "encsprite: '--fit 0x8': " + kSizeRule},
        {kEncscreen, "--fit 65536x8 a.bmp x", "encscreen: '--fit 65536x8': " + kSizeRule},
        {kEncscreen, "--fit 256 a.bmp x", "encscreen: '--fit 256': " + kSizeRule},
        {kEncscreen, "--fit -8x8 a.bmp x", "encscreen: '--fit -8x8': " + kSizeRule},
        {kEncscreen, "a.bmp x --fit", "encscreen: option '--fit' needs a size\n"},
        {kDecscreen, "--fit 8x8 a.scn x", "decscreen: unknown option '--fit'\n"},
        {kEncscreen, "--letterbox a.bmp x", "encscreen: --letterbox needs --fit WxH\n"},
        {kEncscreen, "--fit-at 0,0 a.bmp x", "encscreen: --fit-at needs --fit WxH\n"},
        {kEncscreen, "--fit 8x8 --fit-at 1.5,0 a.bmp x", "encscreen: '--fit-at 1.5,0': " + kPlaceRule},
        {kEncscreen, "--fit 8x8 --fit-at 0.5 a.bmp x", "encscreen: '--fit-at 0.5': " + kPlaceRule},
        {kEncscreen, "--fit 8x8 --fit-at -0.1,0 a.bmp x", "encscreen: '--fit-at -0.1,0': " + kPlaceRule},
        {kEncscreen, "--brightness 101 a.bmp x", "encscreen: '--brightness 101': the brightness must be a whole "
                                                 "number from -100 to 100 (0 leaves the picture)\n"},
        {kEncsprite, "--contrast -100.5 a.bmp x", "encsprite: '--contrast -100.5': the contrast must be a whole "
                                                  "number from -100 to 100 (0 leaves the picture)\n"},
        {kEncscreen, "--saturation -1 a.bmp x", "encscreen: '--saturation -1': the saturation must be a whole "
                                                "number from 0 to 200 (100 leaves the picture)\n"},
        {kEncscreen, "--gamma 0.19 a.bmp x", "encscreen: '--gamma 0.19': the gamma must be a number from 0.2 to 5 "
                                             "(1 leaves the picture)\n"},
        {kEncscreen, "--gamma 5.001 a.bmp x", "encscreen: '--gamma 5.001': the gamma must be a number from 0.2 to "
                                              "5 (1 leaves the picture)\n"},
        {kEncscreen, "--gamma x a.bmp x", "encscreen: '--gamma x': the gamma must be a number from 0.2 to 5 (1 "
                                          "leaves the picture)\n"},
        {kEncscreen, "--fit 8x8 --letterbox --fit-at 0,1 --brightness -100 --contrast 100 --saturation 200 "
                     "--gamma 0.2 a.bmp x",
         ""},
        {kEncsprite, "--fit=65528x8 --gamma=5 --saturation=0 a.bmp x", ""},
        {kEncsprite, "--prefix hero a.bmp x", ""},
        {kEncsprite, "a.bmp --prefix=hero_2 x", ""},
        {kEncscreen, "--perceptual --pad --force a.bmp x", ""},
        // A value only after "=": the next argument is never taken for it.
        {kEncscreen, "--dither a.bmp x", ""},
        {kEncsprite, "a.bmp x --dither", ""},
        {kEncsprite, "--dither= a.bmp x", "encsprite: option '--dither' needs a mode: --dither=ordered\n"},
        // --dither alone is the search: "ordered" after it is a name.
        {kEncscreen, "--dither ordered a.bmp x", "encscreen: 3 names given, two needed; try 'encscreen --help'\n"},
        {kEncscreen, "--dither=bayer a.bmp x",
         "encscreen: '--dither=bayer': dithering is --dither (the search) or --dither=ordered (the pattern)\n"},
        {kDecscreen, "--dither=ordered a.scn x", "decscreen: unknown option '--dither=ordered'\n"},
        {kEncscreen, "--dither=ordered a.bmp x", ""},
        // The number of threads, 1 to 256; the default conversion takes it too.
        {kEncscreen, "--threads 0 a.bmp x", "encscreen: '--threads 0': " + kThreadsRule},
        {kEncsprite, "--threads=257 a.bmp x", "encsprite: '--threads 257': " + kThreadsRule},
        {kEncscreen, "--threads 1.5 a.bmp x", "encscreen: '--threads 1.5': " + kThreadsRule},
        {kEncscreen, "--threads -2 a.bmp x", "encscreen: '--threads -2': " + kThreadsRule},
        {kEncsprite, "--threads many a.bmp x", "encsprite: '--threads many': " + kThreadsRule},
        {kEncscreen, "a.bmp x --threads", "encscreen: option '--threads' needs a number\n"},
        {kDecscreen, "--threads 2 a.scn x", "decscreen: unknown option '--threads'\n"},
        {kEncscreen, "--threads 256 --perceptual a.bmp x", ""},
        {kEncsprite, "--threads=1 --dither=ordered a.bmp x", ""},
        {kEncscreen, "--threads 3 a.bmp x", ""},
        {kEncsprite, "a.bmp --dither=ordered x", ""},
        {kDecscreen, "--force a.scn x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove(dir / "x");
        const RunResult r = run("cd " + q(dir) + " && " + c.p.exe + " " + c.args);
        if (c.error.empty()) {
            EXPECT_EQ(r.status, c.p.success) << r.out << r.err << r.diagnostics;
            EXPECT_TRUE(fs::exists(dir / "x"));
        } else {
            EXPECT_EQ(r.status, c.p.failure);
            EXPECT_EQ(r.diagnostics, c.error);
            EXPECT_EQ(r.out, c.p.usage);
            EXPECT_FALSE(fs::exists(dir / "x"));
        }
    }
    // "--" ends the options: a file may be named like one; "-" alone is a stream.
    write_file(dir / "--pad", small_bmp());
    EXPECT_EQ(run("cd " + q(dir) + " && " + kEncscreen.exe + " -- --pad -x").status, 1);
    EXPECT_EQ(read_file(dir / "-x"), read_file(dir / "a.scn"));
    EXPECT_EQ(run(kEncscreen.exe + " - - < " + q(dir / "a.bmp") + " > " + q(dir / "std.scn")).status, 1);
    EXPECT_EQ(read_file(dir / "std.scn"), read_file(dir / "a.scn"));
    // With a prefix only the two labels change.
    ASSERT_EQ(run(kEncsprite.exe + " " + q(dir / "a.bmp") + " " + q(dir / "plain.asm")).status, 0);
    ASSERT_EQ(run(kEncsprite.exe + " --prefix hero " + q(dir / "a.bmp") + " " + q(dir / "hero.asm")).status, 0);
    const Bytes plain_bytes = read_file(dir / "plain.asm"), hero_bytes = read_file(dir / "hero.asm");
    std::string plain(plain_bytes.begin(), plain_bytes.end());
    const std::string hero(hero_bytes.begin(), hero_bytes.end());
    plain.replace(plain.find("\nSPR:"), 5, "\nhero_SPR:");
    plain.replace(plain.find("\nATTR:"), 6, "\nhero_ATTR:");
    EXPECT_EQ(hero, plain);
    // A value after "=" is the same as the next argument.
    ASSERT_EQ(run(kEncsprite.exe + " --prefix=hero " + q(dir / "a.bmp") + " " + q(dir / "hero2.asm")).status, 0);
    EXPECT_EQ(read_file(dir / "hero2.asm"), hero_bytes);
}

// --help lists exactly the rows of the table of options that the program
// takes, each spelt as the parser takes it, and the parser takes each one.
TEST(CommandLine, HelpAndParserReadOneTable)
{
    const unsigned bits[] = {kEncscreenBit, kEncspriteBit, kDecscreenBit};
    for (size_t k = 0; k < 3; ++k) {
        const RunResult help = run(kPrograms[k].exe + " --help");
        ASSERT_EQ(help.status, kPrograms[k].success);
        for (const OptionSpec& o : option_table()) {
            const std::string spelt = std::string("\n  ") + (o.alias ? std::string(o.alias) + ", " : "") + o.name +
                                      (o.value ? o.after_equals ? "[=" + std::string(o.value) + "]" : " " + std::string(o.value) : "") + " ";
            // Rows of one option for other programs say it in other words.
            const bool takes = find_option(bits[k], o.name) != nullptr, own = (o.programs & bits[k]) != 0;
            EXPECT_EQ(help.out.find(spelt) != std::string::npos, takes) << kPrograms[k].name << " " << o.name;
            // The first line of the row's help follows its spelling.
            const std::string first(o.help, std::strchr(o.help, '\n'));
            if (own) {
                EXPECT_NE(help.out.find(first), std::string::npos) << kPrograms[k].name << " " << o.name;
            }
            std::array<char*, 3> argv{nullptr, const_cast<char*>(o.name), nullptr};
            const CommandLine line = parse_command_line(bits[k], 2, argv.data());
            if (o.id != OptionId::end_of_options) {
                EXPECT_EQ(line.error.rfind("unknown option", 0) == 0, !takes) << kPrograms[k].name << " " << o.name;
            }
        }
    }
}

TEST(CommandLine, HelpSaysWhatEachProgramTakes)
{
    const struct {
        const Program& p;
        std::vector<const char*> words;
    } cases[] = {
        {kEncscreen, {"[OPTIONS] PICTURE SCREEN", "--pad", "--perceptual", "--force", "PNG", "\"-\"", "1 on success",
                      "man encscreen"}},
        {kEncsprite, {"[OPTIONS] PICTURE LISTING", "--prefix NAME", "--pad", "--perceptual", "--force", ".scn",
                      "man encsprite"}},
        {kDecscreen, {"[OPTIONS] SCREEN PICTURE", "--force", ".png", "man decscreen"}},
    };
    for (const auto& c : cases) {
        for (const char* flag : {"-h", "--help"}) {
            SCOPED_TRACE(std::string(c.p.name) + " " + flag);
            const RunResult r = run(c.p.exe + " " + flag);
            EXPECT_EQ(r.status, c.p.success);
            EXPECT_EQ(r.err + r.diagnostics, "");
            for (const char* w : c.words)
                EXPECT_NE(r.out.find(w), std::string::npos) << w;
        }
    }
    // Help that never arrived is no success.
    for (const Program& p : kPrograms) {
        for (const char* flag : {"--help", "--version"}) {
            for (const auto& [to, reason] : {std::pair{">/dev/full", "No space left on device"},
                                             std::pair{">&-", "Bad file descriptor"}}) {
                SCOPED_TRACE(std::string(p.name) + " " + flag + " " + to);
                const RunResult r = run(p.exe + " " + flag + " " + to);
                EXPECT_EQ(r.status, p.failure);
                EXPECT_EQ(r.diagnostics, std::string(p.name) + ": standard output: " + reason + "\n");
            }
        }
    }
}

TEST(CommandLine, EveryFailureSaysWhichFileAndWhy)
{
    const fs::path dir = scratch_dir();
    Bytes bmp8 = small_bmp(), bmp32 = small_bmp(), rle = small_bmp(), scn_short;
    put_le16(bmp8, 28, 8);
    put_le16(bmp32, 28, 32);
    put_le32(rle, 30, 1);
    write_file(dir / "a.bmp", small_bmp());
    write_file(dir / "odd.bmp", small_bmp(250, 190));
    write_file(dir / "8bit.bmp", bmp8);
    write_file(dir / "32bit.bmp", bmp32);
    write_file(dir / "rle.bmp", rle);
    write_file(dir / "photo.png", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'});
    write_file(dir / "anim.gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    write_file(dir / "notes.txt", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
    write_file(dir / "empty.bmp", {});
    // PNGs of the sizes of odd.bmp's and one too wide: RGB, and 1-bit grey.
    write_file(dir / "odd.png",
               encode_png({250, 190, 2, 8, false, std::vector<uint16_t>(250 * 190 * 3, 7), {}, {}, {}}));
    write_file(dir / "big.png",
               encode_png({65536, 8, 0, 1, false, std::vector<uint16_t>(65536 * 8, 1), {}, {}, {}}));
    const Bytes whole = small_bmp();
    write_file(dir / "cut.bmp", Bytes(whole.begin(), whole.end() - 100));
    ASSERT_EQ(run(kEncscreen.exe + " " + q(dir / "a.bmp") + " " + q(dir / "a.scn")).status, 1);
    const Bytes scn = read_file(dir / "a.scn");
    write_file(dir / "cut.scn", Bytes(scn.begin(), scn.end() - 5));
    write_file(dir / "zero.scn", Bytes(40, 0));
    write_file(dir / "pic.png", small_bmp()); // a picture by its bytes
    const std::string no_bmp = "the file is not 24bit bmp \n";
    const struct {
        const Program& p;
        std::string in, out;
        std::string message;     // as ever, on its stream
        bool message_on_stderr;
        std::string diagnostic;  // after "PROG: NAME: "
    } cases[] = {
        {kEncscreen, "missing.png", "x.scn", "bmpfile was not opened\n", false, "No such file or directory"},
        {kEncscreen, ".", "x.scn", "bmpfile was not opened\n", false, "Is a directory"},
        {kEncscreen, "photo.png", "x.scn", no_bmp, true, "it is a JPEG picture: convert it to PNG or to a 24-bit BMP"},
        {kEncsprite, "anim.gif", "x.asm", no_bmp, true, "it is a GIF picture: convert it to PNG or to a 24-bit BMP"},
        {kEncscreen, "8bit.bmp", "x.scn", no_bmp, true,
         "it is a BMP of 8 bits a pixel with a palette: convert it to PNG or to a 24-bit BMP"},
        {kEncscreen, "32bit.bmp", "x.scn", no_bmp, true, "it is a BMP of 32 bits a pixel: convert it"},
        {kEncscreen, "rle.bmp", "x.scn", no_bmp, true, "it is a compressed BMP: convert it"},
        {kEncscreen, "notes.txt", "x.scn", no_bmp, true, "it is not a picture: convert it"},
        {kEncscreen, "empty.bmp", "x.scn", no_bmp, true, "it is an empty file"},
        {kEncscreen, "odd.bmp", "x.scn", "the picture width and height must be multiples of 8 up to 65528\n", true,
         "the picture is 250x190; --pad makes it 256x192 by repeating its last column and line, --fit 256x192 "
         "scales it to a screen size"},
        {kEncscreen, "odd.png", "x.scn", "the picture width and height must be multiples of 8 up to 65528\n", true,
         "the picture is 250x190; --pad makes it 256x192 by repeating its last column and line, --fit 256x192 "
         "scales it to a screen size"},
        {kEncsprite, "odd.png", "x.asm", "the picture width and height must be multiples of 8 up to 65528\n", true,
         "the picture is 250x190; --pad makes it 256x192 by repeating its last column and line, --fit 256x192 "
         "scales it to a screen size"},
        {kEncscreen, "big.png", "x.scn", "the picture width and height must be multiples of 8 up to 65528\n", true,
         "the picture is 65536x8, larger than a screen can be"},
        {kEncscreen, "cut.bmp", "x.scn", "bmpfile is truncated\n", true,
         "the file has " + std::to_string(whole.size() - 100) + " bytes; the picture needs " +
             std::to_string(whole.size())},
        {kDecscreen, "cut.scn", "x.bmp", "scnfile is truncated\n", true,
         "the file has " + std::to_string(scn.size() - 5) + " bytes; a 16x8 screen needs " +
             std::to_string(scn.size())},
        {kDecscreen, "zero.scn", "x.bmp", "scnfile is not a screen file\n", true,
         "it is not a screen file: its width or height is 0"},
        {kDecscreen, "a.bmp", "x.bmp", "scnfile is not a screen file\n", true,
         "it is a BMP picture, not a screen file: encscreen makes one of a picture"},
        {kEncscreen, "a.bmp", "no-folder/x.scn", "scnfile was not opened\n", false,
         "the folder 'no-folder' does not exist"},
        {kDecscreen, "a.scn", "no/such/x.bmp", "bmpfile was not opened\n", false, "the folder 'no/such' does not exist"},
        // The names the wrong way round, told before the guard's "it holds a picture".
        {kEncscreen, "a.scn", "pic.png", "scnfile was not opened\n", false,
         "the names are the wrong way round: a.scn is a screen file; the picture comes first, then the screen"},
        {kEncsprite, "a.scn", "x.bmp", "sprfile was not opened\n", false,
         "the names are the wrong way round: a.scn is a screen file; the picture comes first, then the listing"},
        {kDecscreen, "a.bmp", "a.scn", "bmpfile was not opened\n", false,
         "the names are the wrong way round: a.bmp is a picture; the screen comes first, then the picture"},
        {kDecscreen, "pic.png", "x.scn", "bmpfile was not opened\n", false,
         "the names are the wrong way round: pic.png is a picture; the screen comes first, then the picture"},
        {kDecscreen, "a.scn", "/dev/full", "bmpfile was not written\n", false, "No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.p.name) + " " + c.in + " " + c.out);
        const RunResult r = run("cd " + q(dir) + " && " + c.p.exe + " " + q(c.in) + " " + q(c.out));
        EXPECT_EQ(r.status, c.p.failure);
        EXPECT_EQ(c.message_on_stderr ? r.err : r.out, c.message);
        const bool about_output = c.message == c.p.not_opened || c.message.find("written") != std::string::npos;
        const std::string name = about_output ? c.out : c.in;
        const std::string head = std::string(c.p.name) + ": " + name + ": ";
        EXPECT_EQ(r.diagnostics.rfind(head + c.diagnostic, 0), 0u) << r.diagnostics;
        EXPECT_EQ(r.diagnostics.back(), '\n');
        EXPECT_FALSE(fs::exists(dir / "x.scn") || fs::exists(dir / "x.asm") || fs::exists(dir / "x.bmp"));
    }
    EXPECT_EQ(read_file(dir / "pic.png"), small_bmp());
    EXPECT_EQ(read_file(dir / "a.scn"), scn);
}

// A name goes to a terminal: what a terminal would act on (escape sequences,
// line feeds, bytes that are not UTF-8) and an empty name are shown quoted as
// the shell reads them, the same in every program; other names as they are.
TEST(CommandLine, NamesInDiagnosticsAreQuotedWhereATerminalWouldActOnThem)
{
    const fs::path dir = scratch_dir();
    const struct {
        std::string name; // a missing input
        std::string shown;
    } cases[] = {
        {"evil\x1b]2;title\a\x1b[2J.bmp", "'evil'$'\\033'']2;title'$'\\a\\033''[2J.bmp'"},
        {"\x1b[2J", "''$'\\033''[2J'"},
        {"a\nb\tc\x7f", "'a'$'\\n''b'$'\\t''c'$'\\177'"},
        {"it's\r", "'it'\\''s'$'\\r'"},
        {"bad\xff\xc3.bmp", "'bad'$'\\377\\303''.bmp'"},
        {"c1\xc2\x9b.bmp", "'c1'$'\\302\\233''.bmp'"},         // a C1 control in UTF-8
        {"over\xc0\xaf\xed\xa0\x80", "'over'$'\\300\\257\\355\\240\\200'"}, // overlong, surrogate
        {"", "''"},
        {"café 日本 it's.bmp", "café 日本 it's.bmp"},
        {"-", "standard input"},
    };
    for (const Program& p : kPrograms) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(p.name) + " " + c.shown);
            const RunResult r = run("cd " + q(dir) + " && " + p.exe + " " + q(c.name) + " out.x");
            EXPECT_EQ(r.status, p.failure);
            EXPECT_EQ(r.diagnostics.rfind(std::string(p.name) + ": " + c.shown + ": ", 0), 0u) << r.diagnostics;
            EXPECT_EQ(std::count(r.diagnostics.begin(), r.diagnostics.end(), '\n'), 1);
            EXPECT_EQ(r.diagnostics.find('\x1b'), std::string::npos);
        }
        // The output's name, and the folder a missing one names.
        const RunResult r = run("cd " + q(dir) + " && " + p.exe + " in " + q("no\x1b[2J/x\n.scn"));
        EXPECT_EQ(r.diagnostics, std::string(p.name) + ": 'no'$'\\033''[2J/x'$'\\n''.scn': the folder 'no'$'\\033''[2J' " +
                                     "does not exist\n");
    }
}

// A name says what a file holds: a screen file or a listing under a
// picture's name, or a BMP under a JPEG's, is refused without --force.
TEST(CommandLine, OutputsAreNotNamedLikeAnotherFormat)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "a.bmp", small_bmp());
    ASSERT_EQ(run(kEncscreen.exe + " " + q(dir / "a.bmp") + " " + q(dir / "a.scn")).status, 1);
    const std::vector<std::string> pictures = {"x.png", "x.bmp", "x.jpg", "x.jpeg", "x.gif", "x.webp", "x.tif",
                                               "x.tiff", "X.PNG", "x.JpEg", "x.TIFF"};
    const struct {
        const Program& p;
        const char* in;
        std::vector<std::string> refused, written;
        std::string reason;
    } cases[] = {
        {kEncscreen, "a.bmp", pictures, {"x.scn", "x.png.scn", "x", "png"},
         "it would be a screen file under a picture's name: name it .scn, or --force writes it all the same"},
        {kEncsprite, "a.bmp", pictures, {"x.asm", "x.scn", "x.png.asm", "x"},
         "it would be a listing under a picture's name: name it .asm, or --force writes it all the same"},
        {kDecscreen, "a.scn", {"x.jpg", "x.jpeg", "x.gif", "x.webp", "x.tif", "x.tiff", "X.JPG", "x.Gif"},
         {"x.bmp", "x.png", "X.PNG", "x", "x.jpg.bmp"},
         "it would be a BMP under a ## name: name it .bmp, or .png for a PNG; --force writes the BMP all the same"},
    };
    const auto format = [](const std::string& name) {
        const std::string ext = name.substr(name.rfind('.') + 1);
        const char f = char(std::tolower(ext[0]));
        return std::string(f == 'j' ? "JPEG's" : f == 'g' ? "GIF's" : f == 'w' ? "WebP's" : "TIFF's");
    };
    for (const auto& c : cases) {
        for (const std::string& name : c.refused) {
            SCOPED_TRACE(std::string(c.p.name) + " " + name);
            const std::string args = q(dir / c.in) + " " + q(dir / name);
            RunResult r = run(c.p.exe + " " + args);
            std::string reason = c.reason;
            if (const size_t at = reason.find("##"); at != std::string::npos)
                reason.replace(at, 2, format(name));
            EXPECT_EQ(r.status, c.p.failure);
            EXPECT_EQ(r.out, c.p.not_opened);
            EXPECT_EQ(r.diagnostics, std::string(c.p.name) + ": " + (dir / name).string() + ": " + reason + "\n");
            EXPECT_FALSE(fs::exists(dir / name));
            r = run(c.p.exe + " --force " + args);
            EXPECT_EQ(r.status, c.p.success) << r.diagnostics;
            EXPECT_EQ(read_file(dir / name).at(0), &c.p == &kDecscreen ? 'B' : &c.p == &kEncscreen ? 'S' : ';');
            fs::remove(dir / name);
        }
        for (const std::string& name : c.written) {
            SCOPED_TRACE(std::string(c.p.name) + " " + name);
            EXPECT_EQ(run(c.p.exe + " " + q(dir / c.in) + " " + q(dir / name)).status, c.p.success);
            EXPECT_TRUE(fs::exists(dir / name));
            fs::remove(dir / name);
        }
        // Standard output and devices have no format to say, whatever their names.
        fs::create_symlink("/dev/null", dir / "null.jpg");
        EXPECT_EQ(run(c.p.exe + " " + q(dir / c.in) + " " + q(dir / "null.jpg")).status, c.p.success);
        EXPECT_EQ(run(c.p.exe + " " + q(dir / c.in) + " - >/dev/null").status, c.p.success);
        fs::remove(dir / "null.jpg");
    }
}

TEST(CommandLine, PicturesAndScreensAreNeverOverwrittenByMistake)
{
    const fs::path dir = folder_with_a_picture();
    ASSERT_EQ(run(kDecscreen.exe + " " + q(dir / "a.scn") + " " + q(dir / "a.png")).status, 0);
    ASSERT_EQ(run(kEncsprite.exe + " " + q(dir / "a.bmp") + " " + q(dir / "a.asm")).status, 0);
    const Bytes kinds[] = {read_file(dir / "a.bmp"), read_file(dir / "a.png"), read_file(dir / "a.scn"),
                           read_file(dir / "a.asm"), Bytes{'t', 'e', 'x', 't'}};
    const char* kind_names[] = {"BMP", "PNG", "screen", "listing", "text"};
    const struct {
        const Program& p;
        const char* in;
        const char* out;
        bool keeps[5]; // for each kind above: refused without --force
    } cases[] = {
        {kEncscreen, "a.bmp", "out", {true, true, false, false, false}},
        {kEncsprite, "a.bmp", "out", {true, true, true, false, false}},
        {kEncsprite, "a.bmp", "out.scn", {true, true, false, false, false}},
        // a.png is decscreen's own preview, a.bmp a picture of the user's.
        {kDecscreen, "a.scn", "out", {true, false, true, false, false}},
        {kDecscreen, "a.scn", "out.png", {true, false, true, false, false}},
    };
    for (const auto& c : cases) {
        for (size_t k = 0; k < 5; ++k) {
            SCOPED_TRACE(std::string(c.p.name) + " over " + kind_names[k] + " named " + c.out);
            write_file(dir / c.out, kinds[k]);
            const std::string args = q(dir / c.in) + " " + q(dir / c.out);
            RunResult r = run(c.p.exe + " " + args);
            if (c.keeps[k]) {
                EXPECT_EQ(r.status, c.p.failure);
                EXPECT_NE(r.out.find("was not opened\n"), std::string::npos);
                EXPECT_NE(r.diagnostics.find(std::string(k < 2 ? "it holds a picture" : "it holds a screen") +
                                             ", left alone; --force replaces it"),
                          std::string::npos)
                    << r.diagnostics;
                EXPECT_EQ(read_file(dir / c.out), kinds[k]);
                r = run(c.p.exe + " --force " + args);
            }
            EXPECT_EQ(r.status, c.p.success) << r.out << r.diagnostics;
            fs::remove(dir / (std::string("fresh-") + c.out));
            ASSERT_EQ(run(c.p.exe + " " + q(dir / c.in) + " " + q(dir / (std::string("fresh-") + c.out))).status,
                      c.p.success);
            EXPECT_EQ(read_file(dir / c.out), read_file(dir / (std::string("fresh-") + c.out)));
        }
    }
    // The globs of a folder of pictures, and a picture named twice.
    write_file(dir / "b.bmp", small_bmp(8, 8));
    const Bytes b = read_file(dir / "b.bmp");
    EXPECT_EQ(run("cd " + q(dir) + " && " + kEncscreen.exe + " a.bmp b.bmp").status, 0);
    EXPECT_EQ(run("cd " + q(dir) + " && " + kEncscreen.exe + " a.bmp a.bmp").status, 0);
    EXPECT_EQ(run("cd " + q(dir) + " && " + kDecscreen.exe + " a.scn a.scn").status, 1);
    EXPECT_EQ(read_file(dir / "b.bmp"), b);
}

// The input is never replaced by its own conversion, by any name, --force or
// not: `encscreen a.bmp a.bmp` would leave nothing of the picture.
TEST(CommandLine, TheOutputIsNeverTheInput)
{
    const fs::path dir = folder_with_a_picture();
    const struct {
        const Program& p;
        const char* in;
    } programs[] = {{kEncscreen, "a.bmp"}, {kEncsprite, "a.bmp"}, {kDecscreen, "a.scn"}};
    const struct {
        const char* what;
        std::string args; // IN stands for the input's name
    } namings[] = {
        {"the same name", "IN IN"},
        {"another spelling", "IN ./IN"},
        {"another spelling through the folder", "IN ../" + dir.filename().string() + "/IN"},
        {"a symbolic link", "IN link"},
        {"a hard link", "IN hard"},
        {"standard input", "- IN < IN"},
        {"/dev/stdin", "/dev/stdin IN < IN"},
        {"standard output", "IN - 1<> IN"},
        {"/dev/stdout", "IN /dev/stdout 1<> IN"},
    };
    for (const auto& p : programs) {
        const Bytes before = read_file(dir / p.in);
        fs::remove(dir / "link");
        fs::remove(dir / "hard");
        fs::create_symlink(p.in, dir / "link");
        fs::create_hard_link(dir / p.in, dir / "hard");
        for (const auto& n : namings) {
            for (const char* force : {"", "--force "}) {
                SCOPED_TRACE(std::string(p.p.name) + " " + force + n.what);
                std::string args = n.args;
                for (size_t at; (at = args.find("IN")) != std::string::npos;)
                    args.replace(at, 2, p.in);
                const RunResult r = run("cd " + q(dir) + " && " + p.p.exe + " " + force + args);
                EXPECT_EQ(r.status, p.p.failure);
                EXPECT_NE((r.out + r.err).find("was not opened\n"), std::string::npos) << r.out << r.err;
                EXPECT_NE(r.diagnostics.find(": it is the input\n"), std::string::npos) << r.diagnostics;
                EXPECT_EQ(read_file(dir / p.in), before);
            }
        }
    }
}

namespace {

// A 16x8 picture with an info header of `info` bytes and the signature
// `sig`, as the reader takes it: sizes other than 12 are read as the 40-byte
// header, whatever follows; masks (compression 3) after 40 bytes or inside.
Bytes header_variant(uint32_t info, const char* sig, uint32_t compression = 0)
{
    BmpLayout layout;
    layout.info_size = info == 12 || info >= 40 ? info : 40;
    layout.compression = compression;
    layout.signature[0] = sig[0];
    layout.signature[1] = sig[1];
    Bytes b = small_bmp(16, 8, layout);
    put_le32(b, 14, info);
    return b;
}

} // namespace

// What the readers take, the guard keeps: every BMP header size and
// signature the reader converts, each a picture at each program's output, as
// are the first bytes of the picture formats the programs do not read; and
// every screen file the screen reader takes, whatever its constant words.
TEST(CommandLine, TheGuardKeepsWhatTheReadersTake)
{
    const fs::path dir = folder_with_a_picture();
    struct Victim {
        std::string what;
        Bytes bytes;
        const char* reason;           // the kept kind's reason; null where every program replaces it
        bool converts = false;        // a picture encscreen reads, to prove the reader takes it
    };
    std::vector<Victim> victims;
    const char* signatures[] = {"BM", "BA", "XX", "\0\0"};
    for (const uint32_t info : {0u, 12u, 16u, 40u, 41u, 52u, 56u, 64u, 100u, 108u, 124u, 200u})
        for (const char* sig : signatures)
            victims.push_back({"BMP header " + std::to_string(info) + " signature " + std::string(sig, 2),
                               header_variant(info, sig), "it holds a picture", true});
    for (const uint32_t info : {40u, 56u, 108u, 124u})
        victims.push_back({"BMP bit fields, header " + std::to_string(info), header_variant(info, "XX", 3),
                           "it holds a picture", true});
    const std::pair<const char*, Bytes> foreign[] = {
        {"JPEG", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}},
        {"GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}},
        {"WebP", {'R', 'I', 'F', 'F', 9, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8'}},
        {"TIFF", {'I', 'I', '*', 0, 8, 0, 0, 0}},
        {"QOI", {'q', 'o', 'i', 'f', 0, 0, 0, 8}},
        {"PNM", {'P', '6', '\n', '8', ' ', '8', '\n'}},
        {"HEIF", {0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'}},
        {"BMP of 8 bits", bmp_header(16, 8, 8)},
        {"BMP of 16x8, 24 bits but for the size", bmp_header(0, 8)},
        {"BM alone", {'B', 'M'}},
    };
    for (const auto& [what, bytes] : foreign)
        victims.push_back({what, bytes, "it holds a picture"});
    // Screens as the reader takes them: any signature and constant words.
    Bytes odd_screen = make_scn(16, 8, [](size_t) { return uint8_t(0x55); });
    for (const size_t at : {0u, 1u, 2u, 5u, 6u, 12u, 14u})
        odd_screen[at] = 'X';
    victims.push_back({"a screen file", read_file(dir / "a.scn"), "it holds a screen"});
    victims.push_back({"a screen file of another writer", odd_screen, "it holds a screen"});
    // What neither reader takes is replaced.
    Bytes cut = odd_screen;
    cut.pop_back();
    victims.push_back({"a screen file cut short", cut, nullptr});
    victims.push_back({"zeros", Bytes(80, 0), nullptr});
    victims.push_back({"text", {'h', 'e', 'l', 'l', 'o', '\n'}, nullptr});

    const struct {
        const Program& p;
        const char* in;
        const char* out;
        bool keeps_screens;
    } programs[] = {
        {kEncscreen, "a.bmp", "victim", false},
        {kEncsprite, "a.bmp", "victim", true},
        {kEncsprite, "a.bmp", "victim.scn", false},
        {kDecscreen, "a.scn", "victim", true},
        {kDecscreen, "a.scn", "victim.png", true},
    };
    for (const Victim& v : victims) {
        if (v.converts) {
            write_file(dir / "in.bmp", v.bytes);
            EXPECT_EQ(run(kEncscreen.exe + " " + q(dir / "in.bmp") + " " + q(dir / "in.scn")).status, 1) << v.what;
        }
        for (const auto& p : programs) {
            SCOPED_TRACE(v.what + " at " + p.p.name + "'s output " + p.out);
            write_file(dir / p.out, v.bytes);
            const bool kept = v.reason && (std::string(v.reason) == "it holds a picture" || p.keeps_screens);
            const RunResult r = run(p.p.exe + " " + q(dir / p.in) + " " + q(dir / p.out));
            if (kept) {
                EXPECT_EQ(r.status, p.p.failure);
                EXPECT_NE(r.diagnostics.find(std::string(v.reason) + ", left alone; --force replaces it\n"),
                          std::string::npos)
                    << r.diagnostics;
                EXPECT_EQ(read_file(dir / p.out), v.bytes);
            } else {
                EXPECT_EQ(r.status, p.p.success) << r.out << r.diagnostics;
            }
        }
    }
}

// decscreen replaces a preview it wrote itself, and no other picture: the
// issue's `encscreen photo.png photo.scn; decscreen photo.scn photo.png`.
TEST(CommandLine, DecscreenReplacesOnlyItsOwnPreviews)
{
    const fs::path dir = scratch_dir();
    const PngContent photo{16, 8, 2, 8, false, std::vector<uint16_t>(16 * 8 * 3, 201), {}, {}, {}};
    write_file(dir / "photo.png", encode_png(photo));
    const std::string cd = "cd " + q(dir) + " && ";
    ASSERT_EQ(run(cd + kEncscreen.exe + " photo.png photo.scn").status, 1);
    ASSERT_EQ(run(cd + kEncsprite.exe + " photo.png sheet.scn").status, 0);
    ASSERT_EQ(run(cd + kDecscreen.exe + " photo.scn own.bmp").status, 0);
    ASSERT_EQ(run(cd + kDecscreen.exe + " photo.scn own.png").status, 0);
    const Bytes own_bmp = read_file(dir / "own.bmp"), own_png = read_file(dir / "own.png");
    // decscreen's PNG says so; the same picture from another writer does not.
    EXPECT_NE(find_chunk(own_png, "tEXt"), std::string::npos);
    Bytes off_colour = own_bmp, longer = own_bmp, other_header = own_bmp, no_mark = own_png, other_text = own_png;
    off_colour[54 + 3 * 5] = 1; // the blue of a pixel no screen colour has
    longer.push_back(0);
    other_header[6] = 1;        // a reserved word
    no_mark.erase(no_mark.begin() + long(find_chunk(no_mark, "tEXt")),
                  no_mark.begin() + long(find_chunk(no_mark, "IDAT")));
    other_text[find_chunk(other_text, "tEXt") + 8 + 9] = 'D';
    fix_crc(other_text, find_chunk(other_text, "tEXt"));
    const struct {
        const char* what;
        Bytes bytes;
        bool replaced;
    } cases[] = {
        {"its BMP", own_bmp, true},
        {"its PNG", own_png, true},
        {"the user's PNG", encode_png(photo), false},
        {"a BMP with a colour no screen has", off_colour, false},
        {"a BMP longer than its header says", longer, false},
        {"a BMP with another header", other_header, false},
        {"its PNG without the text", no_mark, false},
        {"a PNG of another Software", other_text, false},
    };
    for (const auto& c : cases) {
        for (const char* name : {"out.png", "out.bmp"}) {
            SCOPED_TRACE(std::string(c.what) + " as " + name);
            write_file(dir / name, c.bytes);
            RunResult r = run(cd + kDecscreen.exe + " sheet.scn " + name);
            if (!c.replaced) {
                EXPECT_EQ(r.status, 1);
                EXPECT_NE(r.diagnostics.find("it holds a picture, left alone; --force replaces it"),
                          std::string::npos);
                EXPECT_EQ(read_file(dir / name), c.bytes);
                r = run(cd + kDecscreen.exe + " --force sheet.scn " + name);
            }
            EXPECT_EQ(r.status, 0) << r.out << r.diagnostics;
            ASSERT_EQ(run(cd + kDecscreen.exe + " sheet.scn fresh-" + name).status, 0);
            EXPECT_EQ(read_file(dir / name), read_file(dir / (std::string("fresh-") + name)));
            fs::remove(dir / (std::string("fresh-") + name));
        }
    }
    // The most natural name of a preview keeps the photo.
    const RunResult r = run(cd + kDecscreen.exe + " photo.scn photo.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "photo.png"), encode_png(photo));
}
