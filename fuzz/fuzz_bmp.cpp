// Fuzz target: a BMP from anywhere through both encoders.
//
// The bytes are read as encscreen and encsprite read their input, once as a
// pipe (no size known) and once as a regular file (size known up front); both
// must give the same answer. A picture that loads then goes through each
// encoder's conversion, the one the program runs, and its writer: encscreen's
// screen file must read back as the screen it was written from, and
// encsprite's listing must be written whole. Each fast conversion must also
// agree with the plain one, symbol by symbol through the shared walk.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/bmp.hpp"
#include "common/scnfile.hpp"
#include "common/walk.hpp"
#include "encscreen/quantize_luma.hpp"
#include "encsprite/listing.hpp"
#include "encsprite/palette.hpp"
#include "fuzz/streams.hpp"

static BmpError read_bmp_from(const uint8_t* data, size_t size, uint64_t known_size, BmpPixels& out)
{
    Input in{open_bytes(data, size), known_size};
    require(in.stream != nullptr);
    const BmpError e = read_bmp24(in, out);
    close_input(in);
    return e;
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

static void encscreen_conversion(const BmpPixels& bmp)
{
    const ScreenImage screen = encode_screen_luma(bmp);
    const ScreenImage plain = build_screen(bmp, plain_luma);
    require(screen.raster == plain.raster && screen.attributes == plain.attributes);

    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    require(out != nullptr);
    require(write_screen_file(out, screen));
    std::fclose(out);
    require(len == screen_file_size(screen.width, screen.height));

    ScreenImage back;
    Input in{open_bytes(reinterpret_cast<const uint8_t*>(buf), len), len};
    require(read_screen_file(in, back));
    close_input(in);
    std::free(buf);
    require(back.width == screen.width && back.height == screen.height);
    require(back.raster == screen.raster && back.attributes == screen.attributes);
}

static void encsprite_conversion(BmpPixels& bmp)
{
    const ExtremePalette palette = select_extreme_palette(bmp);
    const ScreenImage plain =
        build_screen(bmp, [&](const SymbolPixels& px) { return quantize_symbol_palette(palette, px); });
    const ScreenImage screen = encode_sprites(bmp); // uses up the pixels
    require(screen.raster == plain.raster && screen.attributes == plain.attributes);
    uint64_t written = 0;
    std::FILE* out = open_counter(written);
    require(out != nullptr);
    require(write_sprite_listing(out, screen));
    std::fclose(out);
    // The comment lines, then a 14-byte line per raster word and a 27-byte line per symbol.
    require(written > 14 * screen.raster.size() + 27 * (screen.attributes.size() / 4));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BmpPixels piped, sized;
    const BmpError e = read_bmp_from(data, size, kUnknownSize, piped);
    require(read_bmp_from(data, size, size, sized) == e);
    if (e != BmpError::ok)
        return 0;
    require(piped.w == sized.w && piped.h == sized.h && piped.pixels == sized.pixels);
    require(piped.w > 0 && piped.w <= int32_t(kMaxScreenSide) && piped.w % 8 == 0);
    require(piped.h > 0 && piped.h <= int32_t(kMaxScreenSide) && piped.h % 8 == 0);
    require(piped.pixels.size() == 3 * size_t(piped.w) * size_t(piped.h));

    encscreen_conversion(piped);
    encsprite_conversion(piped);
    return 0;
}
