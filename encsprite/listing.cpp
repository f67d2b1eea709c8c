// Formatting the listing: its lines into a large buffer, written in blocks.
#include "encsprite/listing.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "common/scnfile.hpp"

namespace {

void flush(ListingWriter& lw)
{
    if (lw.used && std::fwrite(lw.buf.data(), 1, lw.used, lw.out) != lw.used)
        lw.ok = false;
    count_written(lw.out, lw.wb, lw.used);
    lw.used = 0;
}

// Room for `bytes` more; the buffer is never smaller than what is asked.
char* room(ListingWriter& lw, size_t bytes)
{
    if (lw.buf.size() - lw.used < bytes)
        flush(lw);
    return lw.buf.data() + lw.used;
}

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

// The raster words of picture line y, coded against the picture's palette:
// word i covers the eight values 8i .. 8i+7, so a line of the top-down
// picture is exactly n words.
void code_line(const SpritePicture& sp, size_t y, uint16_t* words)
{
    const size_t w = sp.width;
    code_words(sp.values.data() + y * w, w >> 3, sp.palette, words);
}

} // namespace

bool begin_listing(ListingWriter& lw, std::FILE* out, uint32_t width, uint32_t height, std::string_view prefix)
{
    lw.prefix = prefix.empty() ? std::string() : std::string(prefix) + "_";
    const std::string head = ";New ZX screen format (VORNE)\n"
                             ";Converter: bmp sprites (24 bits RGB888) to asm\n"
                             ";Rastr format: 2 bits per pixel\n"
                             ";Attribute format: 4 byte attributes (RGB332) per symbol (8x8 pixs)\n"
                             ";Height = " + std::to_string(height) + "; Width = " + std::to_string(width) +
                             "\n\n" + lw.prefix + "SPR:\n";
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size())
        return false;

    const size_t n = width >> 3, words = n * height, symbols = n * (height >> 3);
    // 14 bytes a DEFW line and 27 a DEFB line: a small listing needs no large
    // buffer, and a large one's buffer holds a picture line's words at least.
    lw.out = out;
    lw.buf.assign(std::min<size_t>(std::max<size_t>(size_t(1) << 18, 14 * n + 128),
                                   128 + lw.prefix.size() + 14 * words + 27 * symbols),
                  0);
    lw.used = 0;
    lw.ok = true;
    lw.wb = {};
    return true;
}

void put_raster_words(ListingWriter& lw, const uint16_t* words, size_t n)
{
    // A picture line's words fit the buffer at once; more go in blocks.
    const size_t per_block = lw.buf.size() / 14;
    while (n > 0) {
        const size_t k = std::min(n, per_block);
        char* p = room(lw, 14 * k);
        for (size_t i = 0; i < k; ++i) {
            const unsigned w = words[i];
            p = put_text(p, "\tDEFW\t0");
            p = put_hex2(p, w >> 8);
            p = put_hex2(p, w);
            p = put_text(p, "h;\n");
        }
        lw.used = size_t(p - lw.buf.data());
        words += k;
        n -= k;
    }
}

void put_attribute_lines(ListingWriter& lw, const uint8_t* attributes, size_t symbols, size_t stride)
{
    const std::string label = lw.prefix + "ATTR:\n";
    std::memcpy(room(lw, label.size()), label.data(), label.size());
    lw.used += label.size();
    for (size_t i = 0; i < symbols; ++i) {
        const uint8_t* a = attributes + i * stride;
        char* p = put_text(room(lw, 27), "\tDEFB\t0");
        for (size_t k = 0; k < 4; ++k) {
            p = put_hex2(p, a[k]);
            p = put_text(p, k < 3 ? "h,0" : "h;\n");
        }
        lw.used = size_t(p - lw.buf.data());
    }
}

bool end_listing(ListingWriter& lw)
{
    flush(lw);
    return lw.ok && std::fflush(lw.out) == 0 && !std::ferror(lw.out);
}

bool valid_label_prefix(std::string_view name)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (name.empty() || name.size() > 32 || !letter(name[0]))
        return false;
    return std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

bool write_sprite_listing(std::FILE* out, const SpritePicture& sp, std::string_view prefix)
{
    const size_t n = sp.width >> 3;
    ListingWriter lw;
    if (!begin_listing(lw, out, sp.width, sp.height, prefix))
        return false;
    std::vector<uint16_t> line(n); // the words of the line being written
    for (size_t y = 0; y < sp.height && n > 0; ++y) {
        code_line(sp, y, line.data());
        put_raster_words(lw, line.data(), n);
    }
    put_attribute_lines(lw, sp.palette.attributes.data(), n * (sp.height >> 3), 0);
    return end_listing(lw);
}

bool wants_screen_output(const char* name) { return has_extension(name, ".scn"); }

bool write_sprite_screen(std::FILE* out, const SpritePicture& sp)
{
    if (!write_screen_header(out, sp.width, sp.height))
        return false;
    // The listing's words, a line at a time, so that no second copy of the
    // screen is made: the same order as its DEFW lines.
    const size_t n = sp.width >> 3, symbols = n * (sp.height >> 3);
    std::vector<uint16_t> line(n);
    WriteBack wb{};
    for (size_t y = 0; y < sp.height && n > 0; ++y) {
        code_line(sp, y, line.data());
        if (!write_raster_words(out, line))
            return false;
        count_written(out, wb, 2 * n);
    }
    // The attributes: one block of the four bytes repeated, written over and over.
    std::array<uint8_t, 4096> block;
    const std::array<uint8_t, 4>& a = sp.palette.attributes;
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
