// Writing PNG files chunk by chunk for the tests, and finding and mending
// chunks in them.
#include "png_support.hpp"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

int png_channels(uint8_t colour_type)
{
    switch (colour_type) {
    case 2:
        return 3;
    case 4:
        return 2;
    case 6:
        return 4;
    default:
        return 1;
    }
}

static void set_be32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

Bytes png_chunk(const std::string& type, const Bytes& body)
{
    Bytes c(12 + body.size());
    set_be32(c.data(), uint32_t(body.size()));
    std::copy(type.begin(), type.begin() + 4, c.begin() + 4);
    std::copy(body.begin(), body.end(), c.begin() + 8);
    set_be32(c.data() + 8 + body.size(), uint32_t(crc32(0, c.data() + 4, uInt(body.size() + 4))));
    return c;
}

// The filtered rows (filter 0) of the pixels at x0 + dx*i, y0 + dy*j.
static void append_rows(const PngContent& s, uint32_t x0, uint32_t y0, uint32_t dx, uint32_t dy, Bytes& raw)
{
    const size_t ch = size_t(png_channels(s.colour_type));
    for (uint32_t y = y0; y < s.h; y += dy) {
        if (x0 >= s.w)
            return; // an empty pass has no rows at all
        raw.push_back(0);
        unsigned acc = 0, bits = 0;
        for (uint32_t x = x0; x < s.w; x += dx) {
            for (size_t c = 0; c < ch; ++c) {
                const uint16_t v = s.samples.at((size_t(y) * s.w + x) * ch + c);
                if (s.depth == 16) {
                    raw.insert(raw.end(), {uint8_t(v >> 8), uint8_t(v)});
                } else {
                    acc = (acc << s.depth) | v;
                    bits += s.depth;
                    if (bits == 8) {
                        raw.push_back(uint8_t(acc));
                        acc = bits = 0;
                    }
                }
            }
        }
        if (bits)
            raw.push_back(uint8_t(acc << (8 - bits)));
    }
}

Bytes encode_png(const PngContent& s)
{
    Bytes raw;
    if (s.interlaced) {
        static const uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, y0[7] = {0, 0, 4, 0, 2, 0, 1};
        static const uint32_t dx[7] = {8, 8, 4, 4, 2, 2, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
        for (int p = 0; p < 7; ++p)
            if (y0[p] < s.h)
                append_rows(s, x0[p], y0[p], dx[p], dy[p], raw);
    } else {
        append_rows(s, 0, 0, 1, 1, raw);
    }
    uLongf size = compressBound(uLong(raw.size()));
    Bytes z(size);
    if (compress2(z.data(), &size, raw.data(), uLong(raw.size()), 9) != Z_OK)
        throw std::runtime_error("zlib failed");
    z.resize(size);

    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr = {0, 0, 0, 0, 0, 0, 0, 0, s.depth, s.colour_type, 0, 0, uint8_t(s.interlaced)};
    set_be32(ihdr.data(), s.w);
    set_be32(ihdr.data() + 4, s.h);
    auto add = [&out](const Bytes& c) { out.insert(out.end(), c.begin(), c.end()); };
    add(png_chunk("IHDR", ihdr));
    for (const auto& [type, body] : s.extra)
        add(png_chunk(type, body));
    if (!s.plte.empty())
        add(png_chunk("PLTE", s.plte));
    if (!s.trns.empty())
        add(png_chunk("tRNS", s.trns));
    const size_t half = z.size() / 2;
    add(png_chunk("IDAT", Bytes(z.begin(), z.begin() + ptrdiff_t(half))));
    add(png_chunk("IDAT", Bytes(z.begin() + ptrdiff_t(half), z.end())));
    add(png_chunk("IEND", {}));
    return out;
}

size_t chunk_length(const Bytes& png, size_t at)
{
    return size_t(png.at(at)) << 24 | size_t(png.at(at + 1)) << 16 | size_t(png.at(at + 2)) << 8 | png.at(at + 3);
}

size_t find_chunk(const Bytes& png, const std::string& type, size_t from)
{
    for (size_t at = from; at + 12 <= png.size();) {
        const size_t len = chunk_length(png, at);
        if (std::string(png.begin() + ptrdiff_t(at + 4), png.begin() + ptrdiff_t(at + 8)) == type)
            return at;
        at += 12 + len;
    }
    return std::string::npos;
}

void fix_crc(Bytes& png, size_t at)
{
    const size_t len = chunk_length(png, at);
    set_be32(png.data() + at + 8 + len, uint32_t(crc32(0, png.data() + at + 4, uInt(len + 4))));
}
