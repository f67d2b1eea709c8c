// Formatting the listing: its lines into a large buffer, written in blocks.
#include "formats/listing.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "io/files.hpp"
#include "formats/scnfile.hpp"

namespace {

void flush(ListingWriter& lw)
{
    if (lw.used && std::fwrite(lw.buf.data(), 1, lw.used, lw.out) != lw.used)
        lw.ok = false;
    count_written(lw.out, lw.wb, lw.used);
    lw.used = 0;
}


// The two upper-case hexadecimal digits of every byte.
const std::array<std::array<char, 2>, 256> kHexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = {digits[v >> 4], digits[v & 15]};
    return t;
}();


// A literal's characters without its terminating zero; the length is a
// constant, so the copy is a few moves.
template <size_t N>
char* put_text(char* p, const char (&s)[N])
{
    std::memcpy(p, s, N - 1);
    return p + N - 1;
}

} // namespace

// Room for `bytes` more; the buffer is never smaller than what is asked.
char* text_room(ListingWriter& lw, size_t bytes)
{
    if (lw.buf.size() - lw.used < bytes)
        flush(lw);
    return lw.buf.data() + lw.used;
}

char* put_hex_pair(char* p, unsigned v)
{
    std::memcpy(p, kHexPairs[v & 255].data(), 2);
    return p + 2;
}

bool begin_listing(ListingWriter& lw, std::FILE* out, uint32_t width, uint32_t height, std::string_view prefix,
                   std::string_view constants)
{
    lw.prefix = prefix.empty() ? std::string() : std::string(prefix) + "_";
    const std::string head = ";New ZX screen format (VORNE)\n"
                             ";Converter: bmp sprites (24 bits RGB888) to asm\n"
                             ";Rastr format: 2 bits per pixel\n"
                             ";Attribute format: 4 byte attributes (RGB332) per symbol (8x8 pixs)\n"
                             ";Height = " + std::to_string(height) + "; Width = " + std::to_string(width) +
                             "\n\n" + std::string(constants) + lw.prefix + "SPR:\n";
    return begin_text(lw, out, head, width, height);
}

bool begin_text(ListingWriter& lw, std::FILE* out, std::string_view head, uint32_t width, uint32_t height)
{
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size())
        return false;

    const size_t n = width >> 3, words = n * height, symbols = n * (height >> 3);
    // 14 bytes a DEFW line and 27 a DEFB line: a small listing needs no large
    // buffer, and a large one's buffer holds a picture line's words at least.
    lw.out = out;
    lw.buf.assign(std::min<size_t>(std::max<size_t>(size_t(1) << 18, 14 * n + 128),
                                   192 + 14 * words + 27 * symbols),
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
        char* p = text_room(lw, 14 * k);
        for (size_t i = 0; i < k; ++i) {
            const unsigned w = words[i];
            p = put_text(p, "\tDEFW\t0");
            p = put_hex_pair(p, w >> 8);
            p = put_hex_pair(p, w);
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
    std::memcpy(text_room(lw, label.size()), label.data(), label.size());
    lw.used += label.size();
    for (size_t i = 0; i < symbols; ++i) {
        const uint8_t* a = attributes + i * stride;
        char* p = put_text(text_room(lw, 27), "\tDEFB\t0");
        for (size_t k = 0; k < 4; ++k) {
            p = put_hex_pair(p, a[k]);
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
