// Fuzz target: a PNG from anywhere through the PNG reader, and what it reads
// back through the PNG writer.
//
// The bytes after the signature are read as the encoders read a PNG, once as
// a pipe (no size known) and once as a file of known size: both must give
// the same status and the same pixels, 8 rows at a time as the encoders take
// them. A picture that reads whole is written as a PNG preview is written and
// read again: it must come back pixel for pixel. The first 8 bytes stand for
// the signature, whatever they hold, so that the fuzzer need not find it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "formats/pngio.hpp"
#include "formats/screen.hpp"
#include "fuzz/streams.hpp"

namespace {

struct Result {
    PngStatus status = PngStatus::ok;
    uint32_t width = 0, height = 0;
    uint64_t hash = 0; // of every pixel byte, in order
    std::vector<uint8_t> pixels; // kept for small pictures only, to write them back
};

constexpr uint64_t kKeepPixels = 1 << 16;

void hash_bytes(uint64_t& h, const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001B3ull;
}

Result read_png(std::FILE* stream, uint64_t known_size)
{
    Result res;
    Input in{stream, known_size};
    require(in.stream != nullptr);
    uint8_t signature[kPngSignatureSize];
    PngReader* r = nullptr;
    res.status = read_bytes(in, signature) ? png_read_start(in, r, res.width, res.height) : PngStatus::damaged;
    if (res.status != PngStatus::ok) {
        require(r == nullptr);
        close_input(in);
        return res;
    }
    const size_t line = 3 * size_t(res.width);
    std::vector<uint8_t> band(8 * line);
    const bool keep = uint64_t(res.width) * res.height <= kKeepPixels;
    for (uint32_t y = 0; y < res.height && res.status == PngStatus::ok; y += 8) {
        res.status = png_read_rows(r, band.data(), ptrdiff_t(line), 8);
        hash_bytes(res.hash, band.data(), band.size());
        if (keep)
            res.pixels.insert(res.pixels.end(), band.begin(), band.end());
    }
    if (res.status == PngStatus::ok)
        res.status = png_read_finish(r);
    else
        png_read_abort(r);
    close_input(in);
    return res;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Result piped = read_png(open_bytes(data, size), kUnknownSize);
    const Result sized = read_png(open_bytes(data, size), size);
    require(piped.status == sized.status);
    if (piped.status == PngStatus::ok) {
        require(piped.width == sized.width && piped.height == sized.height && piped.hash == sized.hash);
        require(piped.width % 8 == 0 && piped.width <= kMaxScreenSide && piped.height % 8 == 0 &&
                piped.height <= kMaxScreenSide);
    }
    if (piped.status != PngStatus::ok || piped.pixels.empty())
        return 0;

    // Written as a PNG preview is, then read again.
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    require(out != nullptr);
    PngWriter* w = nullptr;
    require(png_write_start(out, piped.width, piped.height, w));
    require(png_write_rows(w, piped.pixels.data(), ptrdiff_t(3 * size_t(piped.width)), piped.height));
    require(png_write_finish(w));
    std::fclose(out);
    require(is_png_signature(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buf), len)));
    const Result back = read_png(open_bytes(reinterpret_cast<const uint8_t*>(buf), len), len);
    std::free(buf);
    require(back.status == PngStatus::ok && back.width == piped.width && back.height == piped.height);
    require(back.pixels == piped.pixels);
    return 0;
}
