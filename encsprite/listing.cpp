#include "encsprite/listing.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "common/scnfile.hpp"

namespace {

// Lines are formatted into a large buffer and written in blocks: one write per
// line would dominate the run time on large pictures.
struct LineBuffer {
    std::FILE* out;
    std::vector<char> buf;
    size_t used = 0;
    bool ok = true;
    WriteBack wb{};

    void flush()
    {
        if (used && std::fwrite(buf.data(), 1, used, out) != used)
            ok = false;
        count_written(out, wb, used);
        used = 0;
    }
    // Room for `bytes` more; the buffer is never smaller than what is asked.
    char* room(size_t bytes)
    {
        if (buf.size() - used < bytes)
            flush();
        return buf.data() + used;
    }
};

// The two upper-case hexadecimal digits of every byte.
const std::array<std::array<char, 2>, 256> kHexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = {digits[v >> 4], digits[v & 15]};
    return t;
}();

char* put_hex2(char* p, unsigned v)
{
    std::memcpy(p, kHexPairs[v & 255].data(), 2);
    return p + 2;
}

// A literal's characters without its terminating zero; the length is a
// constant, so the copy is a few moves.
template <size_t N>
char* put_text(char* p, const char (&s)[N])
{
    std::memcpy(p, s, N - 1);
    return p + N - 1;
}

// "NAME_SPR:" for a prefix NAME, "SPR:" without one.
std::string label(std::string_view prefix, std::string_view name)
{
    std::string l(prefix);
    if (!l.empty())
        l += '_';
    return l.append(name).append(":\n");
}

// Every symbol of encsprite's picture has the palette's four bytes.
std::array<uint8_t, 4> attribute_bytes(const ExtremePalette& p) { return {p.mx, p.hi2, p.lo2, p.mn}; }

} // namespace

// The listing of a width x height screen: line_words(y) gives the n raster
// words of picture line y (top line first), and attrs(i) the four attribute
// bytes of symbol i.
template <class LineWords, class Attrs>
static bool write_listing(std::FILE* out, uint32_t width, uint32_t height, std::string_view prefix,
                          LineWords&& line_words, Attrs&& attrs)
{
    const std::string head = ";New ZX screen format (VORNE)\n"
                             ";Converter: bmp sprites (24 bits RGB888) to asm\n"
                             ";Rastr format: 2 bits per pixel\n"
                             ";Attribute format: 4 byte attributes (RGB332) per symbol (8x8 pixs)\n"
                             ";Height = " + std::to_string(height) + "; Width = " + std::to_string(width) +
                             "\n\n" + label(prefix, "SPR");
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size())
        return false;

    const size_t n = width >> 3, words = n * height, symbols = n * (height >> 3);
    // 14 bytes a DEFW line and 27 a DEFB line: a small listing needs no large
    // buffer, and a large one's buffer holds a picture line's words at least.
    const std::string attr_label = label(prefix, "ATTR");
    LineBuffer lb{out, std::vector<char>(std::min<size_t>(std::max<size_t>(size_t(1) << 18, 14 * n + 128),
                                                          128 + attr_label.size() + 14 * words + 27 * symbols))};
    for (size_t y = 0; y < height && n > 0; ++y) {
        const uint16_t* line = line_words(y);
        char* p = lb.room(14 * n);
        for (size_t i = 0; i < n; ++i) {
            const unsigned w = line[i];
            p = put_text(p, "\tDEFW\t0");
            p = put_hex2(p, w >> 8);
            p = put_hex2(p, w);
            p = put_text(p, "h;\n");
        }
        lb.used = size_t(p - lb.buf.data());
    }
    std::memcpy(lb.room(attr_label.size()), attr_label.data(), attr_label.size());
    lb.used += attr_label.size();
    for (size_t i = 0; i < symbols; ++i) {
        const uint8_t* a = attrs(i);
        char* p = put_text(lb.room(27), "\tDEFB\t0");
        for (size_t k = 0; k < 4; ++k) {
            p = put_hex2(p, a[k]);
            p = put_text(p, k < 3 ? "h,0" : "h;\n");
        }
        lb.used = size_t(p - lb.buf.data());
    }
    lb.flush();
    return lb.ok && std::fflush(out) == 0 && !std::ferror(out);
}

bool valid_label_prefix(std::string_view name)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (name.empty() || name.size() > 32 || !letter(name[0]))
        return false;
    return std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

bool write_sprite_listing(std::FILE* out, const ScreenImage& s, std::string_view prefix)
{
    const size_t n = symbol_columns(s);
    return write_listing(
        out, s.width, s.height, prefix,
        [&](size_t y) { return s.raster.data() + y * n; },
        [&](size_t i) { return s.attributes.data() + 4 * i; });
}

bool write_sprite_listing(std::FILE* out, const SpritePicture& sp, std::string_view prefix)
{
    // Word i covers the eight values 8i .. 8i+7: a line of the top-down
    // picture is exactly n words, so the words run through the values in order.
    const ExtremePalette& p = sp.palette;
    const std::array<uint8_t, 4> attributes = attribute_bytes(p);
    const size_t w = sp.width, n = w >> 3;
    std::vector<uint16_t> line(n); // the words of the line being written
    return write_listing(
        out, sp.width, sp.height, prefix,
        [&](size_t y) {
            code_words(sp.values.data() + y * w, n, p, line.data());
            return line.data();
        },
        [&](size_t) { return attributes.data(); });
}

bool wants_screen_output(const char* name) { return has_extension(name, ".scn"); }

bool write_sprite_screen(std::FILE* out, const SpritePicture& sp)
{
    if (!write_screen_header(out, sp.width, sp.height))
        return false;
    // The listing's words, a line at a time, so that no second copy of the
    // screen is made: the same order as its DEFW lines.
    const size_t w = sp.width, n = w >> 3, symbols = n * (sp.height >> 3);
    std::vector<uint16_t> line(n);
    WriteBack wb{};
    for (size_t y = 0; y < sp.height && n > 0; ++y) {
        code_words(sp.values.data() + y * w, n, sp.palette, line.data());
        if (!write_raster_words(out, line))
            return false;
        count_written(out, wb, 2 * n);
    }
    // The attributes: one block of the four bytes repeated, written over and over.
    std::array<uint8_t, 4096> block;
    const std::array<uint8_t, 4> a = attribute_bytes(sp.palette);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = a[i % 4];
    for (size_t left = 4 * symbols; left > 0;) {
        const size_t step = std::min(left, block.size());
        if (std::fwrite(block.data(), 1, step, out) != step)
            return false;
        count_written(out, wb, step);
        left -= step;
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}
