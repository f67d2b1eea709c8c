// Fuzz target: a picture from anywhere through both encoders.
//
// The bytes go through each encoder's conversion as the program runs it, a
// band at a time, once as a pipe (no size known: the screen grows as rows
// arrive) and once as a regular file (size known up front: the screen is
// allocated whole); both must give the same answer. Where the picture loads,
// the result must also match the plain way: the whole picture in memory,
// every symbol gathered and quantized step by step. encscreen's screen file
// must read back as the screen it was written from, and encsprite's listing
// must be the listing of the plainly built screen. Read padded, pipe and file
// agree as well, and a picture that needs no padding converts as without it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pipeline/lines.hpp"
#include "formats/scnfile.hpp"
#include "encode/quantize_luma.hpp"
#include "formats/listing.hpp"
#include "encode/sprite_output.hpp"
#include "encode/sprite_palette.hpp"
#include "fuzz/streams.hpp"
#include "tests/reference/encoders.hpp"

// The bytes read by `read` as from a file of `known_size` bytes, or as from a
// pipe where that is kUnknownSize.
template <class Read>
static PictureError read_from(const uint8_t* data, size_t size, uint64_t known_size, Read&& read,
                              const ReadOptions& opt = {})
{
    Input in{open_bytes(data, size), known_size};
    require(in.stream != nullptr);
    return read_through_chain(in, read, opt);
}

// The luminance quantizer written plainly, one step after another, as the
// yardstick for the vectorised one the program runs.
static SymbolCodes plain_luma(const SymbolPixels& p)
{
    uint32_t y[64], total = 0;
    for (size_t j = 0; j < 64; ++j)
        total += y[j] = uint32_t(p.r[j] + 2 * p.g[j] + (p.b[j] >> 1));
    const uint32_t mean = total >> 6;
    uint32_t upper_sum = 0, upper_count = 0, lower_sum = 0, lower_count = 0;
    for (size_t j = 0; j < 64; ++j) {
        if (y[j] >= mean) {
            upper_sum += y[j];
            ++upper_count;
        } else {
            lower_sum += y[j];
            ++lower_count;
        }
    }
    const uint32_t high = upper_sum / upper_count;
    const uint32_t low = lower_count ? lower_sum / lower_count : 0;
    SymbolCodes q;
    uint32_t count[4] = {}, sum_r[4] = {}, sum_g[4] = {}, sum_b[4] = {};
    for (size_t j = 0; j < 64; ++j) {
        const PixelCode code = y[j] >= high ? 3 : y[j] >= mean ? 2 : y[j] >= low ? 1 : 0;
        q.codes[j] = code;
        ++count[code];
        sum_r[code] += p.r[j];
        sum_g[code] += p.g[j];
        sum_b[code] += p.b[j];
    }
    for (size_t k = 0; k < 4; ++k) {
        const uint32_t c = count[k];
        q.attributes[k] = c ? pack_rgb332(uint8_t(sum_r[k] / c), uint8_t(sum_g[k] / c), uint8_t(sum_b[k] / c)) : 0;
    }
    return q;
}

static bool same(const ScreenImage& a, const ScreenImage& b)
{
    return a.width == b.width && a.height == b.height && a.raster == b.raster && a.attributes == b.attributes;
}

template <class Write>
static std::string written(Write&& write)
{
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    require(out != nullptr);
    require(write(out));
    std::fclose(out);
    std::string text(buf, len);
    std::free(buf);
    return text;
}

static void encscreen_conversion(const BmpPixels& bmp, const ScreenImage& screen)
{
    require(same(screen, build_screen(bmp, plain_luma)));

    const std::string file = written([&](std::FILE* out) { return write_screen_file(out, screen); });
    require(file.size() == screen_file_size(screen.width, screen.height));
    ScreenImage back;
    Input in{open_bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size()), file.size()};
    require(read_screen_file(in, back) == ScnError::ok);
    close_input(in);
    require(same(back, screen));
}

static void encsprite_conversion(const BmpPixels& bmp, const SpritePicture& sprites)
{
    const ExtremePalette palette = select_extreme_palette(bmp);
    const ScreenImage plain =
        build_screen(bmp, [&](const SymbolPixels& px) { return quantize_symbol_palette(palette, px); });
    require(written([&](std::FILE* out) { return write_sprite_listing(out, sprites); }) ==
            written([&](std::FILE* out) { return write_sprite_listing(out, plain); }));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ScreenImage piped, sized;
    SpritePicture sprites_piped, sprites_sized;
    const auto luma = [](ScreenImage& s) { return [&](const LineSource& src) { return encode_picture_luma(src, s); }; };
    const auto sprites = [](SpritePicture& s) { return [&](const LineSource& src) { return read_sprites(src, s); }; };
    const PictureError e = read_from(data, size, kUnknownSize, luma(piped));
    require(read_from(data, size, size, luma(sized)) == e);
    require(read_from(data, size, kUnknownSize, sprites(sprites_piped)) == e);
    require(read_from(data, size, size, sprites(sprites_sized)) == e);
    BmpPixels bmp;
    Input in{open_bytes(data, size), kUnknownSize};
    require(in.stream != nullptr);
    require(read_bmp24(in, bmp) == e);
    ScreenImage padded_piped, padded_sized;
    ReadOptions pad;
    pad.pad = true;
    const PictureError pe = read_from(data, size, kUnknownSize, luma(padded_piped), pad);
    require(read_from(data, size, size, luma(padded_sized), pad) == pe);
    require(pe != PictureError::ok || same(padded_piped, padded_sized));
    require(e != PictureError::ok || (pe == PictureError::ok && same(padded_piped, piped)));
    if (e != PictureError::ok)
        return 0;
    require(same(piped, sized));
    require(sprites_piped.values == sprites_sized.values);
    require(bmp.w > 0 && bmp.w <= int32_t(kMaxScreenSide) && bmp.w % 8 == 0);
    require(bmp.h > 0 && bmp.h <= int32_t(kMaxScreenSide) && bmp.h % 8 == 0);
    require(bmp.pixels.size() == 3 * size_t(bmp.w) * size_t(bmp.h));

    encscreen_conversion(bmp, piped);
    encsprite_conversion(bmp, sprites_piped);
    return 0;
}
