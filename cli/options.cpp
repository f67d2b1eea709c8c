// The table of options; see options.hpp.
#include "cli/options.hpp"

#include <algorithm>
#include <array>

#include "cli/quoting.hpp"
#include "formats/listing.hpp"

namespace {

constexpr unsigned kEncoders = kEncscreenBit | kEncspriteBit;

constexpr std::array<OptionSpec, 12> kOptions{{
    {OptionId::perceptual, "--perceptual", nullptr, nullptr, false, nullptr, kEncscreenBit,
     "choose each symbol's four colours so that the screen looks\n"
     "as close to the picture as it can (CIELAB, CIEDE2000), where\n"
     "the default picks them by brightness alone\n"},
    {OptionId::perceptual, "--perceptual", nullptr, nullptr, false, nullptr, kEncspriteBit,
     "choose the four colours so that the screen looks as close to\n"
     "the picture as it can (CIELAB, CIEDE2000), where the default\n"
     "takes the extreme RGB332 values\n"},
    {OptionId::dither, "--dither", nullptr, "MODE", true, "a mode: --dither=ordered", kEncscreenBit,
     "MODE ordered: mix each symbol's four colours in a fixed 8x8\n"
     "pattern, so that from a normal viewing distance a gradient\n"
     "looks smooth where --perceptual shows bands; the pattern\n"
     "repeats with every symbol (for animated, tiled or scrolled\n"
     "pictures); a symbol of at most four screen colours is kept\n"
     "as --perceptual keeps it\n"},
    {OptionId::dither, "--dither", nullptr, "MODE", true, "a mode: --dither=ordered", kEncspriteBit,
     "MODE ordered: mix the four colours in a fixed 8x8 pattern, so\n"
     "that from a normal viewing distance a gradient looks smooth\n"
     "where --perceptual shows bands; a picture of at most four\n"
     "screen colours is kept as --perceptual keeps it; the whole\n"
     "picture is held in memory, three bytes a pixel\n"},
    {OptionId::prefix, "--prefix", nullptr, "NAME", false, "a name", kEncspriteBit,
     "the labels become NAME_SPR: and NAME_ATTR:, so that several\n"
     "listings go into one program; NAME is a letter or underscore,\n"
     "then letters, digits or underscores, at most 32 characters\n"},
    {OptionId::pad, "--pad", nullptr, nullptr, false, nullptr, kEncoders,
     "a picture whose width or height is not a multiple of 8 is\n"
     "converted as if its last column and line were repeated up to\n"
     "the next multiples of 8\n"},
    {OptionId::force, "--force", nullptr, nullptr, false, nullptr, kEncscreenBit,
     "replace SCREEN even where it holds a picture (BMP or PNG),\n"
     "which is otherwise left alone, and write SCREEN even where\n"
     "its name is a picture's (.png, .bmp, .jpg, ...)\n"},
    {OptionId::force, "--force", nullptr, nullptr, false, nullptr, kEncspriteBit,
     "replace LISTING even where it holds a picture or a screen\n"
     "file, which is otherwise left alone, and write LISTING even\n"
     "where its name is a picture's (.png, .bmp, .jpg, ...)\n"},
    {OptionId::force, "--force", nullptr, nullptr, false, nullptr, kDecscreenBit,
     "replace PICTURE even where it holds a screen file or a\n"
     "picture that decscreen did not write, which is otherwise\n"
     "left alone, and write a BMP even where the name says another\n"
     "format (.jpg, .gif, .webp, .tif)\n"},
    {OptionId::end_of_options, "--", nullptr, nullptr, false, nullptr, kEveryProgram,
     "the end of the options: a name after it may start with \"-\"\n"},
    {OptionId::help, "--help", "-h", nullptr, false, nullptr, kEveryProgram, "print this help\n"},
    {OptionId::version, "--version", nullptr, nullptr, false, nullptr, kEveryProgram, "print the version\n"},
}};

// How a row is spelt in the help: "-h, --help", "--prefix NAME".
std::string spelling(const OptionSpec& o)
{
    std::string s = o.alias ? std::string(o.alias) + ", " : std::string();
    s += o.name;
    if (o.value)
        s += std::string(o.after_equals ? "=" : " ") + o.value;
    return s;
}

} // namespace

std::span<const OptionSpec> option_table() { return kOptions; }

const OptionSpec* find_option(unsigned program, std::string_view name)
{
    for (const OptionSpec& o : option_table())
        if ((o.programs & program) && (name == o.name || (o.alias && name == o.alias)))
            return &o;
    return nullptr;
}

std::string set_option(Options& o, const OptionSpec& row, std::string_view value)
{
    switch (row.id) {
    case OptionId::perceptual:
        o.perceptual = true;
        break;
    case OptionId::dither:
        // Only the fixed pattern is built so far: the mode must be named.
        if (value != "ordered")
            return value.empty() ? "option '" + std::string(row.name) + "' needs " + row.needs
                                 : quoted(std::string(row.name) + "=" + std::string(value), true) +
                                       ": the mode of dithering must be ordered";
        o.dither = Options::Dither::ordered;
        break;
    case OptionId::pad:
        o.pad = true;
        break;
    case OptionId::force:
        o.force = true;
        break;
    case OptionId::prefix:
        if (!valid_label_prefix(value))
            return quoted(std::string(row.name) + " " + std::string(value), true) +
                   ": the prefix must be an assembler name: a letter or underscore, then letters, digits or "
                   "underscores, at most 32 characters";
        o.prefix = value;
        break;
    case OptionId::end_of_options:
    case OptionId::help:
    case OptionId::version:
        break; // the parser acts on these itself
    }
    return {};
}

std::string options_help(unsigned program)
{
    size_t width = std::string_view("--perceptual").size();
    for (const OptionSpec& o : option_table())
        if (o.programs & program)
            width = std::max(width, spelling(o).size());
    const std::string indent(2 + width + 2, ' ');
    std::string text;
    for (const OptionSpec& o : option_table()) {
        if (!(o.programs & program))
            continue;
        const std::string s = spelling(o);
        text += "  " + s + std::string(width + 2 - s.size(), ' ');
        for (const char* line = o.help; *line;) {
            const char* end = line;
            while (*end && *end != '\n')
                ++end;
            if (line != o.help)
                text += indent;
            text.append(line, size_t(end - line));
            text += '\n';
            line = *end ? end + 1 : end;
        }
    }
    return text;
}

ReadOptions reading_options(const Options& o)
{
    ReadOptions r;
    r.pad = o.pad;
    return r;
}

CommandLine parse_command_line(unsigned program, int argc, char** argv)
{
    CommandLine line;
    const auto wrong = [&](std::string why) {
        line.asks = CommandLine::wrong;
        line.error = std::move(why);
        return line;
    };
    bool only_names = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (only_names || a == "-" || a.empty() || a[0] != '-') {
            line.names.push_back(argv[i]);
            continue;
        }
        if (a == "--") {
            only_names = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string_view name = a.substr(0, eq);
        const OptionSpec* row = find_option(program, name);
        if (!row)
            return wrong("unknown option " + quoted(a, true));
        if (!row->value && eq != std::string_view::npos)
            return wrong("option '" + std::string(name) + "' takes no value");
        if (row->id == OptionId::help || row->id == OptionId::version) {
            line.asks = row->id == OptionId::help ? CommandLine::help : CommandLine::version;
            return line;
        }
        std::string_view value;
        if (row->after_equals && eq == std::string_view::npos)
            ; // no value: set_option decides whether it will do
        else if (row->value && eq != std::string_view::npos)
            value = a.substr(eq + 1);
        else if (row->value && i + 1 < argc)
            value = argv[++i];
        else if (row->value)
            return wrong("option '" + std::string(name) + "' needs " + row->needs);
        if (std::string why = set_option(line.options, *row, value); !why.empty())
            return wrong(std::move(why));
    }
    return line;
}
