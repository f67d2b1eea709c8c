// The programs' options, from one table: each row gives an option's name,
// whether it takes a value, which programs take it and its lines of help.
// The parser, the usage errors and --help all read the table, so a new
// option is one row, one field of Options and the code that uses it.
//
// An option takes its value as `--name VALUE` or `--name=VALUE`; a flag
// takes none, and `--flag=x` is a usage error. A few take theirs only after
// "=", and may go without one (`--dither`, `--dither=ordered`).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/picture.hpp"
#include "formats/sources.hpp"

// The programs, as the rows of the table name them.
enum ProgramBits : unsigned {
    kEncscreenBit = 1,
    kEncspriteBit = 2,
    kDecscreenBit = 4,
    kEveryProgram = 7,
};

enum class OptionId {
    perceptual,
    dither,
    threads,
    prefix,
    format,
    sprite,
    pad,
    fit,
    letterbox,
    fit_at,
    brightness,
    contrast,
    saturation,
    gamma,
    force,
    end_of_options, // "--": every argument after it is a name
    help,
    version,
};

struct OptionSpec {
    OptionId id;
    const char* name;  // "--prefix"
    const char* alias; // another spelling ("-h"), or null
    const char* value; // what the value is called in the help ("NAME"); null for a flag
    // The value comes only after "=" (`--dither=ordered`), never as the next
    // argument, and may be left out (`--dither` alone gives set_option an
    // empty value, which it may refuse).
    bool after_equals;
    const char* needs; // the usage error for a missing value: "a name"
    unsigned programs; // ProgramBits
    // The help's lines for the option, each ending in a line feed; the
    // lines after the first are indented to the column of the first.
    const char* help;
};

// Every row. An option whose help differs between programs has a row for
// each; the help lists a program's rows in this order.
std::span<const OptionSpec> option_table();

// The row of `program` for the argument `name` (the part before any "="),
// or null where the program takes no such option.
const OptionSpec* find_option(unsigned program, std::string_view name);

// What the options set for a conversion.
struct Options {
    bool force = false;      // replace a picture or screen all the same
    bool pad = false;        // sizes not a multiple of 8 are padded
    bool perceptual = false; // colours chosen to look like the picture
    enum class Dither { none, ordered, search } dither = Dither::none; // colours mixed: a pattern, or searched
    unsigned threads = 0;    // --threads N; 0: one for each core
    std::string_view prefix; // the listing's label prefix
    OutputKind format = OutputKind::unset; // --format; unset: by the output's name
    uint32_t sprite_width = 0, sprite_height = 0; // --sprite WxH; 0 x 0: none
    // --fit WxH, --letterbox, --fit-at X,Y: the screen's size and the cut.
    uint32_t fit_width = 0, fit_height = 0;
    bool letterbox = false, fit_at = false;
    uint32_t fit_x = kWhole / 2, fit_y = kWhole / 2;
    // --brightness, --contrast, --saturation, --gamma in the order given.
    std::vector<Adjustment> adjustments;
};

// Sets the option of `row` in `o` from `value` (empty for a flag). Returns
// the usage error's text where the value will not do, empty where it will.
std::string set_option(Options& o, const OptionSpec& row, std::string_view value);

// The help's "Options:" lines of `program`: each option's spelling, then its
// help in a column that every spelling of that program's options fits
// before, and never nearer than that of --perceptual.
std::string options_help(unsigned program);

// The threads a conversion runs on: --threads, or one for each core.
unsigned conversion_threads(const Options& o);

// How the picture is read for these options: the reading options of the
// chain of line stages (--pad, --fit and the adjustments).
ReadOptions reading_options(const Options& o);

// A command line as the table reads it, nothing printed: the programs act on
// it (cli.hpp), and the page reads the options of the command lines it runs
// with it, so that its views read the picture as the programs do.
//
// An argument that starts with "-" is an option wherever it stands, until
// "--"; "-" alone is a standard stream. A file named like an option is
// ./-x, or comes after "--". --help and --version win wherever they stand,
// unless an error comes first.
struct CommandLine {
    enum Asks { convert, help, version, wrong } asks = convert;
    Options options;
    std::vector<const char*> names;
    std::string error; // wrong: the usage error's text
};
CommandLine parse_command_line(unsigned program, int argc, char** argv);
