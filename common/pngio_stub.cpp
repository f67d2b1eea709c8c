// Stand-in until the libpng module is built: every PNG is refused as damaged,
// and no PNG is written.
#include "common/pngio.hpp"

#include <cstring>

bool is_png_signature(std::span<const uint8_t> head)
{
    static const uint8_t sig[kPngSignatureSize] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return head.size() >= kPngSignatureSize && std::memcmp(head.data(), sig, kPngSignatureSize) == 0;
}

PngStatus png_read_start(Input&, PngReader*& reader, uint32_t& width, uint32_t& height)
{
    reader = nullptr;
    width = height = 0;
    return PngStatus::damaged;
}
PngStatus png_read_rows(PngReader*, uint8_t*, ptrdiff_t, uint32_t) { return PngStatus::damaged; }
PngStatus png_read_finish(PngReader*) { return PngStatus::damaged; }
void png_read_abort(PngReader*) {}

bool png_write_start(std::FILE*, uint32_t, uint32_t, PngWriter*& writer)
{
    writer = nullptr;
    return false;
}
bool png_write_rows(PngWriter*, const uint8_t*, ptrdiff_t, uint32_t) { return false; }
bool png_write_finish(PngWriter*) { return false; }
void png_write_abort(PngWriter*) {}
