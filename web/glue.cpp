// The browser page's door into the converters: the three programs, run by
// name over files in the module's memory file system, and the views the page
// draws (the picture as the converters read it, the screen as decscreen
// shows it, and how far apart the two are, symbol by symbol).
//
// Each program is its own main(), compiled under another name, so the page
// runs exactly what the command line runs, options and messages included.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/options.hpp"
#include "colour/colour_difference.hpp"
#include "formats/bmp.hpp"
#include "formats/scnfile.hpp"
#include "formats/screen.hpp"
#include "io/bigbuf.hpp"
#include "pipeline/lines.hpp"
#include "pipeline/walk.hpp"

int encscreen_main(int argc, char** argv);
int encsprite_main(int argc, char** argv);
int decscreen_main(int argc, char** argv);

namespace {

// Everything the page draws of one conversion. Pixels are RGBA, top line
// first, as a canvas takes them.
struct View {
    uint32_t width = 0, height = 0;
    BigArray<uint8_t> picture;    // empty where the picture could not be read
    BigArray<uint8_t> screen;
    BigArray<uint8_t> attributes; // 4 a symbol, as in the screen
    BigArray<float> loss;         // mean CIEDE2000 a symbol, after view_loss
    std::string error;            // the program's words for what went wrong
};

constexpr const char* kNoMemory = "not enough memory";

// --- the views ----------------------------------------------------------------

// The picture's pixels as the converters read them, through the same chain
// of line stages, top line first.
PictureError read_rgba(const char* path, View& v, const ReadOptions& opt = {})
{
    return read_through_chain(
        path,
        [&](const LineSource& src) {
            v.width = src.width;
            v.height = src.height;
            v.picture.resize(size_t(4) * src.width * src.height);
            // Line r of the k-th band (0 = its bottom line) is line 7 - r of
            // symbol row row_of_band(k) of the top-down picture.
            const RowOrder order{src.height / 8, true, src.top_down};
            return for_each_band(src, [&](const uint8_t* bottom, ptrdiff_t stride, size_t k) {
                const size_t top = 8 * row_of_band(order, k);
                for (size_t r = 0; r < 8; ++r) {
                    const uint8_t* s = bottom + ptrdiff_t(r) * stride;
                    uint8_t* d = v.picture.data() + size_t(4) * src.width * (top + 7 - r);
                    for (uint32_t x = 0; x < src.width; ++x, s += 3, d += 4) {
                        d[0] = s[2];
                        d[1] = s[1];
                        d[2] = s[0];
                        d[3] = 255;
                    }
                }
            });
        },
        opt);
}

// The screen's pixels exactly as decscreen writes them, turned into RGBA.
void screen_rgba(const ScreenImage& s, View& v)
{
    v.screen.resize(size_t(4) * s.width * s.height);
    std::vector<uint8_t> row(bmp_row_size(s.width));
    for (uint32_t i = 0; i < s.height; ++i) {
        decode_bmp_row(s, i, row.data());
        uint8_t* d = v.screen.data() + size_t(4) * s.width * (s.height - 1 - i);
        for (uint32_t x = 0; x < s.width; ++x, d += 4) {
            d[0] = row[3 * x + 2];
            d[1] = row[3 * x + 1];
            d[2] = row[3 * x];
            d[3] = 255;
        }
    }
    v.attributes = s.attributes;
}

void make_view(View& v, const char* scn)
{
    ScreenImage s;
    switch (load_screen_file(scn, s, [](uint32_t, uint32_t) { return true; })) {
    case ScnError::ok:
        break;
    case ScnError::cannot_open:
    case ScnError::truncated:
    case ScnError::not_screen:
    case ScnError::too_large:
        v.error = "the screen file could not be read back";
        return;
    }
    screen_rgba(s, v);
    v.width = s.width;
    v.height = s.height;
}

// A command line as the page sends it: the words one a line, the first the
// program's name.
struct Arguments {
    std::vector<std::string> words;
    std::vector<char*> argv; // into words, ending in a null
};

Arguments split_arguments(const char* args)
{
    Arguments a;
    for (const char* p = args;;) {
        const char* end = std::strchr(p, '\n');
        a.words.emplace_back(p, end ? size_t(end - p) : std::strlen(p));
        if (!end)
            break;
        p = end + 1;
    }
    for (std::string& w : a.words)
        a.argv.push_back(w.data());
    a.argv.push_back(nullptr);
    return a;
}

} // namespace

extern "C" {

// Runs encscreen, encsprite or decscreen with the arguments in `args`, one a
// line, the first the program's name. Returns its exit status; what it says
// reaches the page through the module's print and printErr.
int vorne_run(const char* args)
{
    Arguments a = split_arguments(args);
    const int argc = int(a.words.size());
    int status = -1;
    if (a.words[0] == "encscreen")
        status = encscreen_main(argc, a.argv.data());
    else if (a.words[0] == "encsprite")
        status = encsprite_main(argc, a.argv.data());
    else if (a.words[0] == "decscreen")
        status = decscreen_main(argc, a.argv.data());
    // A usage message ends without a line feed: flush it to the page too.
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

// The screen's view of a conversion: `scn` is the screen file encscreen
// wrote, or encsprite (given an output name ending in .scn), each with all
// the page's options. Null where memory ran out; otherwise check
// vorne_view_error.
View* vorne_view(const char* scn)
{
    View* v = new (std::nothrow) View;
    if (!v)
        return nullptr;
    try {
        make_view(*v, scn);
    } catch (const std::bad_alloc&) {
        *v = View{};
        v->error = kNoMemory;
    }
    return v;
}

// Adds the picture's own pixels to the view, read as the program of the
// command line `args` (as vorne_run takes it) reads it: its options, read by
// the programs' own table, give the same stages (--pad, say). 0 when the
// pixels are there, 1 when the picture does not match the screen, 2 when
// memory ran out.
int vorne_view_read_picture(View* v, const char* args)
{
    try {
        Arguments a = split_arguments(args);
        const unsigned program = a.words[0] == "encsprite" ? kEncspriteBit : kEncscreenBit;
        const CommandLine line = parse_command_line(program, int(a.words.size()), a.argv.data());
        View p;
        if (line.asks != CommandLine::convert || line.names.empty() ||
            read_rgba(line.names[0], p, reading_options(line.options)) != PictureError::ok || p.width != v->width ||
            p.height != v->height)
            return 1;
        v->picture = std::move(p.picture);
        return 0;
    } catch (const std::bad_alloc&) {
        return 2;
    }
}

// Fills the loss map: per symbol the mean CIEDE2000 between the picture's
// pixels and the screen's. Returns false where memory ran out.
bool vorne_view_loss(View* v)
{
    if (v->picture.empty())
        return true;
    try {
        const size_t columns = v->width / 8, rows = v->height / 8;
        v->loss.resize(columns * rows);
        const MapLabTables tables = map_lab_tables();
        // The screen has 256 colours at most: each one's L*a*b* is looked up.
        std::array<MapLab, 256> screen_lab{};
        for (unsigned a = 0; a < 256; ++a) {
            const std::array<uint8_t, 3> c = screen_rgb(uint8_t(a));
            screen_lab[a] = map_lab(tables, c[0], c[1], c[2]);
        }
        // A line at a time: the two lines' colours as arrays, then all the
        // line's differences in one go.
        const size_t width = columns * 8;
        std::vector<float> lab(6 * width), difference(width);
        const MapLabLine picture{lab.data(), lab.data() + width, lab.data() + 2 * width};
        const MapLabLine screen{lab.data() + 3 * width, lab.data() + 4 * width, lab.data() + 5 * width};
        for (uint32_t y = 0; y < rows * 8; ++y) {
            const uint8_t* p = v->picture.data() + size_t(4) * v->width * y;
            const uint8_t* s = v->screen.data() + size_t(4) * v->width * y;
            // Pictures repeat colours along a line: one seen just before costs nothing.
            MapLab last = map_lab(tables, p[0], p[1], p[2]);
            for (size_t x = 0; x < width; ++x, p += 4, s += 4) {
                if (x > 0 && (p[0] != p[-4] || p[1] != p[-3] || p[2] != p[-2]))
                    last = map_lab(tables, p[0], p[1], p[2]);
                const MapLab& on_screen = screen_lab[pack_rgb332(s[0], s[1], s[2])];
                lab[x] = last.l;
                lab[width + x] = last.a;
                lab[2 * width + x] = last.b;
                lab[3 * width + x] = on_screen.l;
                lab[4 * width + x] = on_screen.a;
                lab[5 * width + x] = on_screen.b;
            }
            map_ciede2000_pairs(picture, screen, difference.data(), width);
            float* row = v->loss.data() + (y / 8) * columns;
            for (size_t x = 0; x < width; ++x)
                row[x / 8] += difference[x] / 64;
        }
    } catch (const std::bad_alloc&) {
        v->loss = {};
        return false;
    }
    return true;
}

const char* vorne_view_error(const View* v) { return v->error.c_str(); }
uint32_t vorne_view_width(const View* v) { return v->width; }
uint32_t vorne_view_height(const View* v) { return v->height; }
const uint8_t* vorne_view_picture(const View* v) { return v->picture.empty() ? nullptr : v->picture.data(); }
const uint8_t* vorne_view_screen(const View* v) { return v->screen.data(); }
const uint8_t* vorne_view_attributes(const View* v) { return v->attributes.data(); }
const float* vorne_view_loss_map(const View* v) { return v->loss.empty() ? nullptr : v->loss.data(); }
void vorne_view_free(View* v) { delete v; }

} // extern "C"
