// The command line as a user meets it, through the real programs: options
// and their errors, the help, the diagnostic line after every failure, and
// the guard that keeps pictures and screens from being overwritten.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include <unistd.h>

#include "common/le.hpp"
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

Bytes small_bmp(int w = 16, int h = 8)
{
    return make_bmp(make_picture(w, h, [](int x, int y) { return Rgb{uint8_t(x * 15), uint8_t(y * 30), 90}; }));
}

} // namespace

TEST(CommandLine, OptionsAndTheirErrors)
{
    const fs::path dir = scratch_dir();
    write_file(dir / "a.bmp", small_bmp());
    ASSERT_EQ(run(kEncscreen.exe + " " + q(dir / "a.bmp") + " " + q(dir / "a.scn")).status, 1);
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
        {kEncsprite, "--prefix hero a.bmp x", ""},
        {kEncsprite, "a.bmp --prefix=hero_2 x", ""},
        {kEncscreen, "--perceptual --pad --force a.bmp x", ""},
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
         "the picture is 250x190; --pad makes it 256x192 by repeating its last column and line"},
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
    const fs::path dir = scratch_dir();
    write_file(dir / "a.bmp", small_bmp());
    ASSERT_EQ(run(kEncscreen.exe + " " + q(dir / "a.bmp") + " " + q(dir / "a.scn")).status, 1);
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
        {kDecscreen, "a.scn", "out", {false, false, true, false, false}},
        {kDecscreen, "a.scn", "out.png", {false, false, true, false, false}},
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
