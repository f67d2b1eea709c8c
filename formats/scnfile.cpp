// Writing and reading the screen file.
#include "formats/scnfile.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <span>
#include <vector>

#include "formats/le.hpp"

// A screen less than 8 pixels wide or high has no attribute bytes, and an empty
// array's data() may be null, which fwrite must not be given even for no bytes.
static bool write_all(std::FILE* out, std::span<const uint8_t> bytes)
{
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

static std::span<const uint8_t> bytes_of(std::span<const uint16_t> words)
{
    return {reinterpret_cast<const uint8_t*>(words.data()), 2 * words.size()};
}

bool write_screen_header(std::FILE* out, uint32_t width, uint32_t height)
{
    std::array<uint8_t, kScreenHeaderSize> hdr;
    const uint16_t words[8] = {0x4353, 0, 0, 16, uint16_t(width), uint16_t(height), 16, 2};
    for (size_t i = 0; i < 8; ++i)
        put_le16(hdr, 2 * i, words[i]);
    return write_all(out, hdr);
}

bool write_raster_words(std::FILE* out, std::span<const uint16_t> words)
{
    // As they lie on a little-endian host, through a small buffer on the heap
    // on any other.
    if constexpr (std::endian::native == std::endian::little) {
        return write_all(out, bytes_of(words));
    } else {
        std::vector<uint8_t> buf(std::min(words.size(), size_t(1) << 15) * 2);
        for (size_t i = 0; i < words.size();) {
            const size_t count = std::min(words.size() - i, buf.size() / 2);
            for (size_t k = 0; k < count; ++k)
                put_le16(buf, 2 * k, words[i + k]);
            if (!write_all(out, std::span<const uint8_t>(buf.data(), 2 * count)))
                return false;
            i += count;
        }
        return true;
    }
}

bool write_screen_file(std::FILE* out, const ScreenImage& s)
{
    if (!write_screen_header(out, s.width, s.height) ||
        !write_raster_words(out, {s.raster.data(), s.raster.size()}) ||
        !write_all(out, {s.attributes.data(), s.attributes.size()}))
        return false;
    return std::fflush(out) == 0 && !std::ferror(out);
}

uint64_t screen_file_size(uint32_t width, uint32_t height)
{
    const uint64_t n = width >> 3;
    return kScreenHeaderSize + 2 * n * height + 4 * n * (height >> 3);
}

ScnError read_screen_header(Input& in, ScreenImage& s, uint8_t* head)
{
    std::array<uint8_t, kScreenHeaderSize> hdr{};
    const bool whole = read_bytes(in, hdr);
    if (head)
        std::copy(hdr.begin(), hdr.end(), head);
    return parse_screen_header(std::span<const uint8_t>(hdr.data(), whole ? hdr.size() : 0), s.width, s.height);
}

ScnError parse_screen_header(std::span<const uint8_t> hdr, uint32_t& width, uint32_t& height)
{
    if (hdr.size() < kScreenHeaderSize)
        return ScnError::truncated;
    width = get_le16(hdr, 8);
    height = get_le16(hdr, 10);
    return width == 0 || height == 0 ? ScnError::not_screen : ScnError::ok;
}

bool is_screen_file(std::span<const uint8_t> head, uint64_t size)
{
    uint32_t w = 0, h = 0;
    return parse_screen_header(head, w, h) == ScnError::ok && size >= screen_file_size(w, h);
}

// Reads `count` elements into `a`: at once where the size is known, else by
// blocks of 1 MiB that grow the array (geometrically) as they arrive. 1 MiB
// is what a pipe holds (see widen_pipe): a read that takes a full pipe's
// worth wakes the program writing into it once a pipeful, where each wake-up
// across processors is dear on a virtual machine.
template <class T>
static bool read_array(Input& in, BigArray<T>& a, size_t count)
{
    const size_t block = in.remaining == kUnknownSize ? (size_t(1) << 20) / sizeof(T) : count;
    a.resize(0);
    for (size_t done = 0; done < count;) {
        const size_t step = std::min(block, count - done);
        a.resize(done + step, count);
        if (!read_bytes(in, std::span<uint8_t>(reinterpret_cast<uint8_t*>(a.data() + done), step * sizeof(T))))
            return false;
        done += step;
    }
    return true;
}

ScnError read_screen_body(Input& in, ScreenImage& s)
{
    const uint64_t words = uint64_t(symbol_columns(s)) * s.height;
    const uint64_t attrs = uint64_t(symbol_columns(s)) * symbol_rows(s) * 4;
    // Both sizes must be present before either is allocated in full.
    if (in.remaining != kUnknownSize && screen_file_size(s.width, s.height) - kScreenHeaderSize > in.remaining)
        return ScnError::truncated;
    if (!read_array(in, s.raster, size_t(words)) || !read_array(in, s.attributes, size_t(attrs)))
        return ScnError::truncated;
    if constexpr (std::endian::native != std::endian::little) {
        const auto raw = bytes_of({s.raster.data(), s.raster.size()});
        std::vector<uint8_t> bytes(raw.begin(), raw.end());
        for (size_t i = 0; i < s.raster.size(); ++i)
            s.raster[i] = get_le16(bytes, 2 * i);
    }
    return ScnError::ok;
}

ScnError load_screen_file(const char* path, ScreenImage& s, bool (*fits)(uint32_t width, uint32_t height),
                          ScreenReport* report)
{
    ScreenReport scratch;
    ScreenReport& r = report ? *report : scratch;
    Input in;
    if (!open_input(path, in)) {
        r.error = in.error;
        return ScnError::cannot_open;
    }
    r.size = in.remaining;
    ScnError e = read_screen_header(in, s, r.head);
    if (e != ScnError::truncated) {
        r.width = s.width;
        r.height = s.height;
        r.needed = screen_file_size(s.width, s.height);
    }
    if (e == ScnError::ok && !fits(s.width, s.height))
        e = ScnError::too_large;
    if (e == ScnError::ok)
        e = read_screen_body(in, s);
    r.got = in.got;
    close_input(in);
    return e;
}
