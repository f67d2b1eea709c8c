// Microbenchmarks of the conversions' hot paths, on the photo-like picture.
//
//   build/bin/microbench [--benchmark_filter=REGEX]
//
// Each reports its rate in the unit that the hot path works in: symbols,
// pixels, listing lines, BMP rows. Where a kernel has versions for several
// instruction sets, NAME times the one the programs choose on this
// processor and NAME/portable, NAME/ssse3, NAME/avx2 each version alone.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench/photo.hpp"
#include "formats/le.hpp"
#include "formats/bmp.hpp"
#include "encode/quantize_luma.hpp"
#include "formats/listing.hpp"
#include "encode/sprite_output.hpp"
#include "encode/sprite_palette.hpp"
#include "tests/reference/encoders.hpp"

namespace {

constexpr uint32_t kSide = 1024;

// The picture as the BMP reader leaves it: bottom line first.
BmpPixels photo_pixels(uint32_t w, uint32_t h)
{
    BmpPixels bmp;
    bmp.w = int32_t(w);
    bmp.h = int32_t(h);
    bmp.pixels.resize(size_t(3) * w * h);
    for (uint32_t i = 0; i < h; ++i)
        photo_line(h - 1 - i, w, h, bmp.pixels.data() + size_t(3) * w * i);
    return bmp;
}

const BmpPixels& photo()
{
    static const BmpPixels bmp = photo_pixels(kSide, kSide);
    return bmp;
}

const ScreenImage& photo_screen()
{
    static const ScreenImage s = encode_screen_luma(photo());
    return s;
}

// The photo as a BMP file in the temporary folder, bottom-up or top-down.
std::filesystem::path photo_file(bool top_down)
{
    const auto path = std::filesystem::temp_directory_path() /
                      (top_down ? "vorne-microbench-topdown.bmp" : "vorne-microbench.bmp");
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    const BmpPixels& bmp = photo();
    std::array<uint8_t, kBmpHeaderSize> hdr{};
    hdr[0] = 'B';
    hdr[1] = 'M';
    put_le32(hdr, 10, 54);
    put_le32(hdr, 14, 40);
    put_le32(hdr, 18, uint32_t(bmp.w));
    put_le32(hdr, 22, uint32_t(top_down ? -bmp.h : bmp.h));
    put_le16(hdr, 26, 1);
    put_le16(hdr, 28, 24);
    std::fwrite(hdr.data(), 1, hdr.size(), f);
    const size_t line = size_t(3) * size_t(bmp.w);
    for (size_t i = 0; i < size_t(bmp.h); ++i) {
        const size_t stored = top_down ? size_t(bmp.h) - 1 - i : i;
        std::fwrite(bmp.pixels.data() + stored * line, 1, line, f);
    }
    std::fclose(f);
    return path;
}

// The luminance quantizer, one symbol at a time, over every symbol of the
// photo: as the programs call it (the best version this processor runs), and
// each version alone.
template <SymbolRaster (*Quantize)(const uint8_t*, ptrdiff_t)>
void QuantizeLuma(benchmark::State& state)
{
    const BmpPixels& bmp = photo();
    const ptrdiff_t stride = ptrdiff_t(3) * kSide;
    size_t sx = 0, sy = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Quantize(bmp.pixels.data() + 8 * sy * size_t(stride) + 24 * sx, stride));
        if (++sx == kSide / 8) {
            sx = 0;
            sy = sy + 1 < kSide / 8 ? sy + 1 : 0;
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetLabel("symbols");
}
BENCHMARK(QuantizeLuma<quantize_luma_bgr>)->Name("QuantizeLuma");
BENCHMARK(QuantizeLuma<quantize_luma_bgr_portable>)->Name("QuantizeLuma/portable");
#if VORNE_X86_KERNELS
BENCHMARK(QuantizeLuma<quantize_luma_bgr_ssse3>)->Name("QuantizeLuma/ssse3");
BENCHMARK(QuantizeLuma<quantize_luma_bgr_avx2>)->Name("QuantizeLuma/avx2");
#endif

// Quantizing every symbol and placing it in the screen: encscreen's whole walk.
void EncscreenWalk(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(encode_screen_luma(photo()));
    state.SetItemsProcessed(int64_t(state.iterations()) * (kSide / 8) * (kSide / 8));
    state.SetLabel("symbols");
}
BENCHMARK(EncscreenWalk)->Unit(benchmark::kMillisecond);

// The extreme palette over the whole photo.
void ExtremePaletteSelect(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(select_extreme_palette(photo()));
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
    state.SetLabel("pixels");
}
BENCHMARK(ExtremePaletteSelect)->Unit(benchmark::kMillisecond);

// encsprite's first pass as the program reads a picture: each line of the
// photo packed to RGB332 values, each value counted; as the
// program calls it, and each version alone.
template <void (*Pack)(const uint8_t*, uint8_t*, size_t, ValueCounts&)>
void PackLines(benchmark::State& state)
{
    const BmpPixels& bmp = photo();
    std::vector<uint8_t> values(kSide);
    ValueCounts seen{};
    size_t y = 0;
    for (auto _ : state) {
        Pack(bmp.pixels.data() + size_t(3) * kSide * y, values.data(), kSide, seen);
        benchmark::DoNotOptimize(values.data());
        y = y + 1 < kSide ? y + 1 : 0;
    }
    benchmark::DoNotOptimize(seen);
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide);
    state.SetLabel("pixels");
}
BENCHMARK(PackLines<pack_line>)->Name("PackLines");
BENCHMARK(PackLines<pack_line_portable>)->Name("PackLines/portable");
#if VORNE_X86_KERNELS
BENCHMARK(PackLines<pack_line_ssse3>)->Name("PackLines/ssse3");
#endif

// encsprite's conversion of a whole picture in memory, as the tests' reference
// makes it: palette and codes in two passes over a copy of the photo, which
// the first turns into RGB332 bytes.
void EncspriteWhole(benchmark::State& state)
{
    BmpPixels copy;
    for (auto _ : state) {
        state.PauseTiming();
        copy = photo();
        state.ResumeTiming();
        benchmark::DoNotOptimize(encode_sprites(copy));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
    state.SetLabel("pixels");
}
BENCHMARK(EncspriteWhole)->Unit(benchmark::kMillisecond);

// The sprite listing, written to a temporary file.
void ListingLines(benchmark::State& state)
{
    const ScreenImage& s = photo_screen();
    std::FILE* f = std::tmpfile();
    for (auto _ : state) {
        std::rewind(f);
        benchmark::DoNotOptimize(write_sprite_listing(f, s));
    }
    std::fclose(f);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(s.raster.size() + s.attributes.size() / 4));
    state.SetLabel("lines");
}
BENCHMARK(ListingLines)->Unit(benchmark::kMillisecond);

// One of encsprite's writers over the photo's RGB332 values, to a temporary
// file: each raster word is coded against the palette on the way.
void SpriteWriter(benchmark::State& state, bool (*write)(std::FILE*, const SpritePicture&))
{
    SpritePicture sp;
    if (load_sprites(photo_file(false).string().c_str(), sp) != PictureError::ok) {
        state.SkipWithError("the photo did not load");
        return;
    }
    std::FILE* f = std::tmpfile();
    for (auto _ : state) {
        std::rewind(f);
        benchmark::DoNotOptimize(write(f, sp));
    }
    std::fclose(f);
    state.SetItemsProcessed(int64_t(state.iterations()) * (kSide / 8) * (kSide + kSide / 8));
    state.SetLabel("words and symbols");
}

// The listing as encsprite writes it, and the same words and bytes as its
// screen file.
void ListingFromValues(benchmark::State& state)
{
    SpriteWriter(state, [](std::FILE* f, const SpritePicture& sp) { return write_sprite_listing(f, sp); });
}
BENCHMARK(ListingFromValues)->Unit(benchmark::kMillisecond);

void SpriteScreenFromValues(benchmark::State& state) { SpriteWriter(state, write_sprite_screen); }
BENCHMARK(SpriteScreenFromValues)->Unit(benchmark::kMillisecond);

// decscreen's row decoding alone: one BMP row from the screen, bottom to
// top; as the program calls it, and each version alone.
template <void (*Decode)(const ScreenImage&, uint32_t, uint8_t*)>
void BmpRowDecode(benchmark::State& state)
{
    const ScreenImage& s = photo_screen();
    std::vector<uint8_t> row(size_t(bmp_row_size(s.width)));
    uint32_t i = 0;
    for (auto _ : state) {
        Decode(s, i, row.data());
        benchmark::DoNotOptimize(row.data());
        i = i + 1 < s.height ? i + 1 : 0;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(symbol_columns(s)));
    state.SetLabel("symbols");
}
BENCHMARK(BmpRowDecode<decode_bmp_row>)->Name("BmpRowDecode");
BENCHMARK(BmpRowDecode<decode_bmp_row_portable>)->Name("BmpRowDecode/portable");
#if VORNE_X86_KERNELS
BENCHMARK(BmpRowDecode<decode_bmp_row_ssse3>)->Name("BmpRowDecode/ssse3");
#endif

// decscreen's output: every BMP row decoded from the screen and written to a temporary file.
void BmpRowsOut(benchmark::State& state)
{
    const ScreenImage& s = photo_screen();
    std::FILE* f = std::tmpfile();
    for (auto _ : state) {
        std::rewind(f);
        benchmark::DoNotOptimize(write_bmp24(f, s));
    }
    std::fclose(f);
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide);
    state.SetLabel("rows");
}
BENCHMARK(BmpRowsOut)->Unit(benchmark::kMillisecond);

// The encoders' input: every BMP row read from a file into the picture, in
// stored order whichever way the file runs. Argument: 1 for a top-down file.
void BmpRowsIn(benchmark::State& state)
{
    const auto path = photo_file(state.range(0) != 0);
    for (auto _ : state) {
        BmpPixels bmp;
        benchmark::DoNotOptimize(load_bmp24(path.string().c_str(), bmp));
        benchmark::DoNotOptimize(bmp.pixels.data());
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide);
    state.SetLabel("rows");
}
BENCHMARK(BmpRowsIn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
