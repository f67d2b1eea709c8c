// Fuzz target: a screen file from anywhere through decscreen.
//
// The bytes are read as decscreen reads its input, once as a pipe (no size
// known) and once as a regular file (size known up front); both must give the
// same answer. A screen that reads must write back as the very bytes it came
// from, and, where its BMP fits the format, decode into a BMP of exactly the
// length its header states.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formats/scnfile.hpp"
#include "formats/bmp.hpp"
#include "fuzz/streams.hpp"
#include "tests/reference/screen.hpp"

static ScnError read_screen_from(const uint8_t* data, size_t size, uint64_t known_size, ScreenImage& out)
{
    Input in{open_bytes(data, size), known_size};
    require(in.stream != nullptr);
    const ScnError e = read_screen_file(in, out);
    close_input(in);
    return e;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ScreenImage piped, sized;
    const ScnError e = read_screen_from(data, size, kUnknownSize, piped);
    require(read_screen_from(data, size, size, sized) == e);
    if (e != ScnError::ok)
        return 0;
    require(piped.width != 0 && piped.height != 0);
    require(piped.width == sized.width && piped.height == sized.height);
    require(piped.raster == sized.raster && piped.attributes == sized.attributes);

    // Written back, the screen is the input's width, height and body; only the
    // signature and the constant header words may differ, as they are not read.
    const uint64_t length = screen_file_size(piped.width, piped.height);
    require(length <= size);
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* again = open_memstream(&buf, &len);
    require(again != nullptr);
    require(write_screen_file(again, piped));
    std::fclose(again);
    require(len == length);
    require(std::memcmp(buf + 8, data + 8, 4) == 0);
    require(std::memcmp(buf + kScreenHeaderSize, data + kScreenHeaderSize, len - kScreenHeaderSize) == 0);
    std::free(buf);

    // decscreen's decoding, behind its size check.
    if (bmp_file_size(piped.width, piped.height) > kMaxBmpFileSize)
        return 0;
    uint64_t written = 0;
    std::FILE* out = open_counter(written);
    require(out != nullptr);
    require(write_bmp24(out, piped));
    std::fclose(out);
    require(written == bmp_file_size(piped.width, piped.height));
    return 0;
}
