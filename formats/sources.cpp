// Writing a screen as each kind of output; see sources.hpp.
#include "formats/sources.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "formats/scnfile.hpp"

namespace {

// The sizes, in the order every kind gives them.
struct Sizes {
    uint64_t width, height, count, bytes, raster, attributes;
};

Sizes sizes_of(const SheetShape& s)
{
    const bool sheet = s.sprite_width && s.sprite_height;
    const uint64_t w = sheet ? s.sprite_width : s.width, h = sheet ? s.sprite_height : s.height;
    const uint64_t count = sheet ? uint64_t(s.width / w) * (s.height / h) : 1;
    const uint64_t n = s.width >> 3;
    return {w, h, count, 2 * (w >> 3) * h, 2 * n * s.height, 4 * n * (s.height >> 3)};
}

// Each size's line: before and between name and value, then what ends it.
std::string constant_lines(const DataWriter& dw, const SheetShape& shape, const char* before, const char* between,
                           const char* after)
{
    const Sizes z = sizes_of(shape);
    const std::pair<std::string, uint64_t> rows[] = {
        {dw.names[0] + "_WIDTH", z.width},  {dw.names[0] + "_HEIGHT", z.height}, {dw.names[0] + "_COUNT", z.count},
        {dw.names[0] + "_BYTES", z.bytes},  {dw.names[0] + "_SIZE", z.raster},   {dw.names[1] + "_SIZE", z.attributes},
        {dw.names[2] + "_SIZE", z.raster},
    };
    std::string text;
    for (const auto& [name, value] : std::span(rows, shape.mask ? 7 : 6))
        text += before + name + between + std::to_string(value) + after;
    return text;
}

std::string comment_text(const SheetShape& s)
{
    std::string t = "VORNE screen of " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                    " pixels: 2 bits a pixel, raster words little-endian, top line first";
    if (s.sprite_width && s.sprite_height)
        t += ", sprite by sprite (" + std::to_string(s.sprite_width) + "x" + std::to_string(s.sprite_height) +
             ", left to right, top to bottom)";
    t += "; then four RGB332 attribute bytes a symbol of 8x8 pixels";
    if (s.mask)
        t += "; then the mask, a word per raster word in the same order, bits 11 where the pixel is transparent";
    return t;
}

void put_string(ListingWriter& lw, std::string_view s)
{
    std::memcpy(text_room(lw, s.size()), s.data(), s.size());
    lw.used += s.size();
}

// Writes n bytes to a binary output.
void put_bytes(DataWriter& dw, const uint8_t* bytes, size_t n)
{
    if (n && std::fwrite(bytes, 1, n, dw.out) != n)
        dw.ok = false;
    count_written(dw.out, dw.wb, n);
}

} // namespace

OutputKind output_kind_named(std::string_view name)
{
    static constexpr std::pair<std::string_view, OutputKind> kNames[] = {
        {"scn", OutputKind::scn}, {"asm", OutputKind::asm_listing}, {"c", OutputKind::c},
        {"sdas", OutputKind::sdas}, {"bin", OutputKind::bin}};
    for (const auto& [n, k] : kNames)
        if (n == name)
            return k;
    return OutputKind::unset;
}

bool begin_data(DataWriter& dw, std::FILE* out, OutputKind kind, bool c_header, const SheetShape& shape,
                std::string_view prefix)
{
    dw.kind = kind;
    dw.header = kind == OutputKind::c && c_header;
    dw.out = out;
    dw.ok = true;
    dw.wb = {};
    const std::string p = prefix.empty() ? std::string() : std::string(prefix) + "_";
    dw.names[0] = p + "SPR";
    dw.names[1] = p + "ATTR";
    dw.names[2] = p + "MASK";
    dw.in_mask = false;
    const bool sheet = shape.sprite_width && shape.sprite_height;
    switch (kind) {
    case OutputKind::unset:
    case OutputKind::asm_listing:
        return begin_listing(dw.text, out, shape.width, shape.height, prefix,
                             sheet ? constant_lines(dw, shape, "", ":\tEQU\t", "\n") : std::string());
    case OutputKind::scn:
        return write_screen_header(out, shape.width, shape.height);
    case OutputKind::bin:
        return true;
    case OutputKind::c: {
        std::string head = "/* " + comment_text(shape) + ". */\n";
        const std::string guard = dw.names[0] + "_H_INCLUDED";
        if (dw.header)
            head += "#ifndef " + guard + "\n#define " + guard + "\n";
        head += constant_lines(dw, shape, "#define ", " ", "\n") + "\n";
        if (dw.header) {
            for (size_t i = 0; i < (shape.mask ? 3 : 2); ++i)
                head += "extern const unsigned char " + dw.names[i] + "[" + dw.names[i] + "_SIZE];\n";
            head += "#endif\n";
        } else
            head += "const unsigned char " + dw.names[0] + "[" + dw.names[0] + "_SIZE] = {\n";
        return begin_text(dw.text, out, head, shape.width, shape.height);
    }
    case OutputKind::sdas: {
        const std::string head = "; " + comment_text(shape) + ".\n\t.area _CODE\n" +
                                 constant_lines(dw, shape, "", " = ", "\n") + "_" + dw.names[0] + "::\n";
        return begin_text(dw.text, out, head, shape.width, shape.height);
    }
    }
    return false;
}

namespace {

// Words as source text: in C each word's two bytes, low one first
// ("\t0x3F, 0xC0,\n", 13 characters), for sdasz80 the word itself
// ("\t.dw 0xC03F\n", 12), which .dw stores little-endian; as many as the
// buffer takes at a time.
void put_source_words(DataWriter& dw, const uint16_t* words, size_t n)
{
    const bool c = dw.kind == OutputKind::c;
    const size_t per_block = dw.text.buf.size() / 14;
    while (n > 0) {
        const size_t k = std::min(n, per_block);
        char* p = text_room(dw.text, 14 * k);
        for (size_t i = 0; i < k; ++i) {
            const unsigned w = words[i];
            if (c) {
                std::memcpy(p, "\t0x", 3);
                p = put_hex_pair(p + 3, w);
                std::memcpy(p, ", 0x", 4);
                p = put_hex_pair(p + 4, w >> 8);
                std::memcpy(p, ",\n", 2);
                p += 2;
            } else {
                std::memcpy(p, "\t.dw 0x", 7);
                p = put_hex_pair(put_hex_pair(p + 7, w >> 8), w);
                *p++ = '\n';
            }
        }
        dw.text.used = size_t(p - dw.text.buf.data());
        words += k;
        n -= k;
    }
}

} // namespace

void put_data_words(DataWriter& dw, const uint16_t* words, size_t n)
{
    switch (dw.kind) {
    case OutputKind::unset:
    case OutputKind::asm_listing:
        put_raster_words(dw.text, words, n);
        return;
    case OutputKind::scn:
    case OutputKind::bin:
        if (!write_raster_words(dw.out, {words, n}))
            dw.ok = false;
        count_written(dw.out, dw.wb, 2 * n);
        return;
    case OutputKind::c:
    case OutputKind::sdas:
        break;
    }
    if (!dw.header)
        put_source_words(dw, words, n);
}

void put_data_mask(DataWriter& dw, const uint16_t* words, size_t n)
{
    if (dw.kind == OutputKind::scn || dw.header)
        return;
    if (!dw.in_mask) {
        dw.in_mask = true;
        switch (dw.kind) {
        case OutputKind::unset:
        case OutputKind::asm_listing:
            put_string(dw.text, ";Mask: a word per raster word, 11 where the pixel is transparent\n" +
                                    dw.text.prefix + "MASK:\n");
            break;
        case OutputKind::c:
            put_string(dw.text, "const unsigned char " + dw.names[2] + "[" + dw.names[2] + "_SIZE] = {\n");
            break;
        case OutputKind::sdas:
            put_string(dw.text, "_" + dw.names[2] + "::\n");
            break;
        case OutputKind::scn:
        case OutputKind::bin:
            break;
        }
    }
    if (dw.kind == OutputKind::c || dw.kind == OutputKind::sdas)
        put_source_words(dw, words, n);
    else
        put_data_words(dw, words, n);
}

void put_data_attributes(DataWriter& dw, const uint8_t* attributes, size_t symbols, size_t stride)
{
    switch (dw.kind) {
    case OutputKind::unset:
    case OutputKind::asm_listing:
        put_attribute_lines(dw.text, attributes, symbols, stride);
        return;
    case OutputKind::scn:
    case OutputKind::bin:
        if (stride == 4) {
            put_bytes(dw, attributes, 4 * symbols);
        } else {
            // The same four bytes for every symbol: one block of them, over and over.
            std::array<uint8_t, 4096> block;
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = attributes[(i / 4) * stride + i % 4];
            for (size_t left = 4 * symbols; left > 0;) {
                const size_t step = std::min(left, block.size());
                put_bytes(dw, block.data(), step);
                left -= step;
            }
        }
        return;
    case OutputKind::c:
    case OutputKind::sdas:
        break;
    }
    if (dw.header)
        return;
    const bool c = dw.kind == OutputKind::c;
    put_string(dw.text, c ? "};\nconst unsigned char " + dw.names[1] + "[" + dw.names[1] + "_SIZE] = {\n"
                          : "_" + dw.names[1] + "::\n");
    for (size_t i = 0; i < symbols; ++i) {
        const uint8_t* a = attributes + i * stride;
        char* p = text_room(dw.text, 27);
        std::memcpy(p, c ? "\t0x" : "\t.db 0x", c ? 3 : 7);
        p += c ? 3 : 7;
        for (size_t k = 0; k < 4; ++k) {
            p = put_hex_pair(p, a[k]);
            if (k < 3) {
                std::memcpy(p, c ? ", 0x" : ",0x", c ? 4 : 3);
                p += c ? 4 : 3;
            }
        }
        if (c)
            *p++ = ',';
        *p++ = '\n';
        dw.text.used = size_t(p - dw.text.buf.data());
    }
    if (c)
        put_string(dw.text, "};\n");
}

bool end_data(DataWriter& dw)
{
    if (dw.kind == OutputKind::c && dw.in_mask)
        put_string(dw.text, "};\n");
    if (is_text_kind(dw.kind) || dw.kind == OutputKind::unset)
        return end_listing(dw.text);
    return dw.ok && std::fflush(dw.out) == 0 && !std::ferror(dw.out);
}

bool write_screen_as(std::FILE* out, const ScreenImage& s, OutputKind kind, bool c_header, std::string_view prefix)
{
    if (kind == OutputKind::scn || kind == OutputKind::unset)
        return write_screen_file(out, s);
    DataWriter dw;
    if (!begin_data(dw, out, kind, c_header, {s.width, s.height, 0, 0}, prefix))
        return false;
    // A line of words at a time, as the listing is written.
    const size_t n = s.width >> 3;
    for (size_t y = 0; y < s.height && n > 0; ++y)
        put_data_words(dw, s.raster.data() + y * n, n);
    put_data_attributes(dw, s.attributes.data(), n * (s.height >> 3), 4);
    return end_data(dw);
}
