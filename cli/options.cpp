// The table of options; see options.hpp.
#include "cli/options.hpp"

#include <algorithm>
#include <array>

#include "cli/quoting.hpp"
#include "formats/listing.hpp"
#include "formats/screen.hpp"
#include "io/parallel.hpp"

namespace {

constexpr unsigned kEncoders = kEncscreenBit | kEncspriteBit;

constexpr std::array<OptionSpec, 25> kOptions{{
    {OptionId::perceptual, "--perceptual", nullptr, nullptr, false, nullptr, kEncscreenBit,
     "choose each symbol's four colours so that the screen looks\n"
     "as close to the picture as it can (CIELAB, CIEDE2000), where\n"
     "the default picks them by brightness alone\n"},
    {OptionId::perceptual, "--perceptual", nullptr, nullptr, false, nullptr, kEncspriteBit,
     "choose the four colours so that the screen looks as close to\n"
     "the picture as it can (CIELAB, CIEDE2000), where the default\n"
     "takes the extreme RGB332 values\n"},
    {OptionId::dither, "--dither", nullptr, "MODE", true, "a mode: --dither=ordered", kEncscreenBit,
     "mix each symbol's four colours, so that from a normal viewing\n"
     "distance a gradient looks smooth where --perceptual shows\n"
     "bands: alone, a search for the pixels and colours that look\n"
     "most like the picture from about 10 screen widths away; MODE\n"
     "ordered: a fixed 8x8 pattern that repeats with every symbol\n"
     "(for animated, tiled or scrolled pictures); either way a\n"
     "symbol of at most four screen colours is kept as\n"
     "--perceptual keeps it\n"},
    {OptionId::dither, "--dither", nullptr, "MODE", true, "a mode: --dither=ordered", kEncspriteBit,
     "mix the four colours, so that from a normal viewing distance\n"
     "a gradient looks smooth where --perceptual shows bands:\n"
     "alone, a search for the pixels that look most like the\n"
     "picture from about 10 screen widths away; MODE ordered: a\n"
     "fixed 8x8 pattern; either way a picture of at most four\n"
     "screen colours is kept as --perceptual keeps it, and the\n"
     "whole picture is held in memory, three bytes a pixel\n"},
    {OptionId::threads, "--threads", nullptr, "N", false, "a number", kEncscreenBit,
     "convert with --perceptual or --dither on N threads, 1 to 256\n"
     "(the default: one for each core); the screen is the same for\n"
     "any N; 1 where several conversions run at once (xargs -P,\n"
     "make -j)\n"},
    {OptionId::threads, "--threads", nullptr, "N", false, "a number", kEncspriteBit,
     "code the pixels of --dither on N threads, 1 to 256 (the\n"
     "default: one for each core); the listing is the same for any\n"
     "N; 1 where several conversions run at once (xargs -P, make -j)\n"},
    {OptionId::prefix, "--prefix", nullptr, "NAME", false, "a name", kEncspriteBit,
     "the labels become NAME_SPR: and NAME_ATTR:, so that several\n"
     "listings go into one program; NAME is a letter or underscore,\n"
     "then letters, digits or underscores, at most 32 characters\n"},
    {OptionId::prefix, "--prefix", nullptr, "NAME", false, "a name", kEncscreenBit,
     "the names of the source kinds of --format become NAME_SPR and\n"
     "NAME_ATTR; NAME is a letter or underscore, then letters,\n"
     "digits or underscores, at most 32 characters\n"},
    {OptionId::format, "--format", nullptr, "KIND", false, "a kind", kEncscreenBit,
     "write SCREEN as KIND: scn (the screen file, the default),\n"
     "asm (a listing, DEFW and DEFB), c (C arrays; the header\n"
     "with their declarations for a name ending in .h), sdas\n"
     "(SDCC's assembler) or bin (raster then attributes alone)\n"},
    {OptionId::format, "--format", nullptr, "KIND", false, "a kind", kEncspriteBit,
     "write LISTING as KIND: asm (the listing, the default), scn\n"
     "(a screen file; the default for .scn), c (C arrays; the\n"
     "default for .c, and the header with their declarations for\n"
     "a name ending in .h), sdas (SDCC's assembler) or bin (raster\n"
     "then attributes alone, for INCBIN)\n"},
    {OptionId::sprite, "--sprite", nullptr, "WxH", false, "a size", kEncspriteBit,
     "cut the picture into sprites of W x H pixels (multiples of\n"
     "8), left to right, top to bottom: each sprite's raster words\n"
     "together, with its count and size as constants\n"},
    {OptionId::pad, "--pad", nullptr, nullptr, false, nullptr, kEncoders,
     "a picture whose width or height is not a multiple of 8 is\n"
     "converted as if its last column and line were repeated up to\n"
     "the next multiples of 8\n"},
    {OptionId::fit, "--fit", nullptr, "WxH", false, "a size", kEncoders,
     "scale the picture, of any size, to cover a screen of W x H\n"
     "pixels and cut out the middle (multiples of 8: 256x192,\n"
     "320x200, 320x240, 512x384); averaged in linear light\n"},
    {OptionId::letterbox, "--letterbox", nullptr, nullptr, false, nullptr, kEncoders,
     "with --fit: scale the picture to fit inside the screen and\n"
     "fill the rest with black\n"},
    {OptionId::fit_at, "--fit-at", nullptr, "X,Y", false, "a place", kEncoders,
     "with --fit: where the cut (or the picture between the bars)\n"
     "lies, fractions from 0 to 1: 0,0 top left, 0.5,0.5 the middle\n"},
    {OptionId::brightness, "--brightness", nullptr, "N", false, "a number", kEncoders,
     "add N % of white, -100 to 100 (0 leaves the picture)\n"},
    {OptionId::contrast, "--contrast", nullptr, "N", false, "a number", kEncoders,
     "spread the tones from the middle grey (N > 0) or draw them\n"
     "together (N < 0), -100 to 100 (0 leaves the picture)\n"},
    {OptionId::saturation, "--saturation", nullptr, "N", false, "a number", kEncoders,
     "colours at N % of their strength, 0 (grey) to 200 (100\n"
     "leaves the picture)\n"},
    {OptionId::gamma, "--gamma", nullptr, "G", false, "a number", kEncoders,
     "the middle tones lighter (G > 1) or darker (G < 1), 0.2 to 5\n"
     "(1 leaves the picture); the adjustments apply in the order\n"
     "given, after --fit\n"},
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
        // A value after "=" may be left out: "--dither[=MODE]".
        s.append(o.after_equals ? "[=" : " ").append(o.value).append(o.after_equals ? "]" : "");
    return s;
}

// "16x24": two multiples of 8 from 8 to 65528, as the screens take them.
bool parse_sprite_size(std::string_view v, uint32_t& w, uint32_t& h)
{
    const auto number = [](std::string_view d, uint32_t& out) {
        if (d.empty() || d.size() > 5 || !std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        out = 0;
        for (char c : d)
            out = out * 10 + uint32_t(c - '0');
        return out >= 8 && out <= 65528 && out % 8 == 0;
    };
    const size_t x = v.find('x');
    return x != std::string_view::npos && number(v.substr(0, x), w) && number(v.substr(x + 1), h);
}

// An option with its value as a usage error shows it: '--fit 250x192'.
std::string as_given(const OptionSpec& row, std::string_view value)
{
    return quoted(std::string(row.name) + " " + std::string(value), true);
}

// A decimal number with at most `places` digits after the point, an
// optional sign before it, as an integer count of 10^-places; false for
// anything else (or more than 12 digits).
bool parse_decimal(std::string_view s, int places, int64_t& out)
{
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int64_t v = 0;
    int digits = 0, after = -1;
    for (const char c : s) {
        if (c == '.' && after < 0 && digits > 0) {
            after = 0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 12 || (after >= 0 && ++after > places))
            return false;
        v = v * 10 + (c - '0');
    }
    if (digits == 0 || after == 0)
        return false;
    for (int k = std::max(after, 0); k < places; ++k)
        v *= 10;
    out = negative ? -v : v;
    return true;
}

// --fit's WxH: two multiples of 8 from 8 to 65528.
bool parse_size(std::string_view s, uint32_t& w, uint32_t& h)
{
    const size_t x = s.find_first_of("xX");
    int64_t a = 0, b = 0;
    if (x == std::string_view::npos || s.substr(0, 1) == "-" || s.substr(x + 1, 1) == "-" || s.substr(0, 1) == "+" ||
        s.substr(x + 1, 1) == "+" || !parse_decimal(s.substr(0, x), 0, a) || !parse_decimal(s.substr(x + 1), 0, b))
        return false;
    const auto fits = [](int64_t v) { return v >= 8 && v <= kMaxScreenSide && v % 8 == 0; };
    if (!fits(a) || !fits(b))
        return false;
    w = uint32_t(a);
    h = uint32_t(b);
    return true;
}

// --fit-at's X,Y: two fractions from 0 to 1, as parts of kWhole.
bool parse_place(std::string_view s, uint32_t& x, uint32_t& y)
{
    const size_t comma = s.find(',');
    int64_t a = 0, b = 0;
    if (comma == std::string_view::npos || !parse_decimal(s.substr(0, comma), 6, a) ||
        !parse_decimal(s.substr(comma + 1), 6, b) || a < 0 || b < 0 || a > 1000000 || b > 1000000)
        return false;
    x = uint32_t((a * kWhole + 500000) / 1000000);
    y = uint32_t((b * kWhole + 500000) / 1000000);
    return true;
}

// An adjustment's value: a whole number from lo to hi, or for gamma a number
// from 0.2 to 5 in thousandths.
std::string set_adjustment(Options& o, const OptionSpec& row, std::string_view value, Adjustment::Kind kind)
{
    int64_t v = 0;
    const bool gamma = kind == Adjustment::gamma;
    const int64_t lo = gamma ? 200 : kind == Adjustment::saturation ? 0 : -100;
    const int64_t hi = gamma ? 5000 : kind == Adjustment::saturation ? 200 : 100;
    if (parse_decimal(value, gamma ? 3 : 0, v) && v >= lo && v <= hi) {
        o.adjustments.push_back({kind, int(v)});
        return {};
    }
    const std::string what = as_given(row, value);
    switch (kind) {
    case Adjustment::brightness:
        return what + ": the brightness must be a whole number from -100 to 100 (0 leaves the picture)";
    case Adjustment::contrast:
        return what + ": the contrast must be a whole number from -100 to 100 (0 leaves the picture)";
    case Adjustment::saturation:
        return what + ": the saturation must be a whole number from 0 to 200 (100 leaves the picture)";
    case Adjustment::gamma:
        break;
    }
    return what + ": the gamma must be a number from 0.2 to 5 (1 leaves the picture)";
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
        // Alone, the search; "=ordered", the fixed pattern.
        if (!value.empty() && value != "ordered")
            return quoted(std::string(row.name) + "=" + std::string(value), true) +
                   ": dithering is --dither (the search) or --dither=ordered (the pattern)";
        o.dither = value.empty() ? Options::Dither::search : Options::Dither::ordered;
        break;
    case OptionId::threads: {
        int64_t n = 0;
        if (!parse_decimal(value, 0, n) || n < 1 || n > int64_t(kMaxThreads))
            return as_given(row, value) + ": the number of threads must be a whole number from 1 to " +
                   std::to_string(kMaxThreads);
        o.threads = unsigned(n);
        break;
    }
    case OptionId::pad:
        o.pad = true;
        break;
    case OptionId::force:
        o.force = true;
        break;
    case OptionId::fit:
        if (!parse_size(value, o.fit_width, o.fit_height))
            return as_given(row, value) +
                   ": the size must be WIDTHxHEIGHT, each a multiple of 8 from 8 to 65528 (256x192, say)";
        break;
    case OptionId::letterbox:
        o.letterbox = true;
        break;
    case OptionId::fit_at:
        if (!parse_place(value, o.fit_x, o.fit_y))
            return as_given(row, value) +
                   ": the place must be X,Y, two fractions from 0 to 1 (0,0 the top left, 0.5,0.5 the middle)";
        o.fit_at = true;
        break;
    case OptionId::brightness:
        return set_adjustment(o, row, value, Adjustment::brightness);
    case OptionId::contrast:
        return set_adjustment(o, row, value, Adjustment::contrast);
    case OptionId::saturation:
        return set_adjustment(o, row, value, Adjustment::saturation);
    case OptionId::gamma:
        return set_adjustment(o, row, value, Adjustment::gamma);
    case OptionId::prefix:
        if (!valid_label_prefix(value))
            return as_given(row, value) +
                   ": the prefix must be an assembler name: a letter or underscore, then letters, digits or "
                   "underscores, at most 32 characters";
        o.prefix = value;
        break;
    case OptionId::format:
        o.format = output_kind_named(value);
        if (o.format == OutputKind::unset)
            return quoted(std::string(row.name) + " " + std::string(value), true) + ": the kind must be one of " +
                   kOutputKindNames;
        break;
    case OptionId::sprite:
        if (!parse_sprite_size(value, o.sprite_width, o.sprite_height))
            return quoted(std::string(row.name) + " " + std::string(value), true) +
                   ": the size must be WxH, each a multiple of 8 from 8 to 65528";
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

unsigned conversion_threads(const Options& o) { return o.threads ? o.threads : cores(); }

ReadOptions reading_options(const Options& o)
{
    ReadOptions r;
    r.pad = o.pad;
    r.fit_width = o.fit_width;
    r.fit_height = o.fit_height;
    r.letterbox = o.letterbox;
    r.fit_x = o.fit_x;
    r.fit_y = o.fit_y;
    r.adjustments = o.adjustments;
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
        else if (row->after_equals && eq + 1 == a.size())
            return wrong("option '" + std::string(name) + "' needs " + row->needs); // "--dither=": a value left empty
        else if (row->value && eq != std::string_view::npos)
            value = a.substr(eq + 1);
        else if (row->value && i + 1 < argc)
            value = argv[++i];
        else if (row->value)
            return wrong("option '" + std::string(name) + "' needs " + row->needs);
        if (std::string why = set_option(line.options, *row, value); !why.empty())
            return wrong(std::move(why));
    }
    // The cut and the bars belong to a size.
    if (line.options.fit_width == 0 && (line.options.letterbox || line.options.fit_at))
        return wrong(std::string(line.options.letterbox ? "--letterbox" : "--fit-at") + " needs --fit WxH");
    return line;
}
