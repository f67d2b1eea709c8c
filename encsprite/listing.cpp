#include "encsprite/listing.hpp"

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Lines are formatted into a large buffer and written in blocks: one write per
// line would dominate the run time on large pictures.
struct LineBuffer {
    std::FILE* out;
    std::vector<char> buf = std::vector<char>(size_t(1) << 20);
    size_t used = 0;
    bool ok = true;

    void flush()
    {
        if (used && std::fwrite(buf.data(), 1, used, out) != used)
            ok = false;
        used = 0;
    }
    // Room for one more line of at most 128 bytes.
    char* room()
    {
        if (buf.size() - used < 128)
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

} // namespace

bool write_sprite_listing(std::FILE* out, const ScreenImage& s)
{
    const std::string head = ";New ZX screen format (VORNE)\n"
                             ";Converter: bmp sprites (24 bits RGB888) to asm\n"
                             ";Rastr format: 2 bits per pixel\n"
                             ";Attribute format: 4 byte attributes (RGB332) per symbol (8x8 pixs)\n"
                             ";Height = " + std::to_string(s.height) + "; Width = " + std::to_string(s.width) +
                             "\n\nSPR:\n";
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size())
        return false;

    LineBuffer lb{out};
    for (const uint16_t word : s.raster) {
        char* p = put_text(lb.room(), "\tDEFW\t0");
        p = put_hex2(p, word >> 8);
        p = put_hex2(p, word);
        p = put_text(p, "h;\n");
        lb.used = size_t(p - lb.buf.data());
    }
    lb.used = size_t(put_text(lb.room(), "ATTR:\n") - lb.buf.data());
    for (size_t i = 0; i + 4 <= s.attributes.size(); i += 4) {
        char* p = put_text(lb.room(), "\tDEFB\t0");
        for (size_t k = 0; k < 4; ++k) {
            p = put_hex2(p, s.attributes[i + k]);
            p = put_text(p, k < 3 ? "h,0" : "h;\n");
        }
        lb.used = size_t(p - lb.buf.data());
    }
    lb.flush();
    return lb.ok && std::fflush(out) == 0 && !std::ferror(out);
}
