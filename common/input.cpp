#include "common/input.hpp"

#include <algorithm>
#include <cstring>

#include "common/files.hpp"

bool open_input(const char* path, Input& in)
{
    // "-" is standard input, binary on Windows too. A file named "-" is ./-.
    const bool standard = is_standard_stream_name(path);
    if (standard)
        set_binary_mode(stdin);
    std::FILE* f = standard ? stdin : open_file(path_from_utf8(path), "rb");
    if (!f)
        return false;
    // The size comes from the open file, so standard input redirected from a
    // file, by "-" or by /dev/stdin, has its size too.
    const StreamKind kind = examine_stream(f);
    if (kind.directory) {
        if (!standard)
            std::fclose(f);
        return false;
    }
    in.stream = f;
    in.remaining = kind.ok && kind.regular ? kind.size_left : kUnknownSize;
    return true;
}

void close_input(Input& in)
{
    if (in.stream)
        std::fclose(in.stream);
    in.stream = nullptr;
}

bool read_bytes(Input& in, std::span<uint8_t> dst)
{
    if (dst.empty())
        return true;
    if (in.remaining != kUnknownSize && dst.size() > in.remaining)
        return false;
    const size_t got = std::fread(dst.data(), 1, dst.size(), in.stream);
    if (in.remaining != kUnknownSize)
        in.remaining -= got;
    return got == dst.size();
}

bool skip_bytes(Input& in, uint64_t n)
{
    uint8_t scratch[4096];
    while (n > 0) {
        const size_t step = n < sizeof scratch ? size_t(n) : sizeof scratch;
        if (!read_bytes(in, std::span<uint8_t>(scratch, step)))
            return false;
        n -= step;
    }
    return true;
}

bool read_pieces(Input& in, uint64_t bytes, Pieces& out)
{
    out.parts.clear();
    out.size = 0;
    while (out.size < bytes) {
        const size_t step = size_t(std::min<uint64_t>(kPieceSize, bytes - out.size));
        out.parts.push_back(std::make_unique_for_overwrite<uint8_t[]>(step));
        if (!read_bytes(in, std::span<uint8_t>(out.parts.back().get(), step)))
            return false;
        out.size += step;
    }
    return true;
}

void copy_pieces(Pieces& p, uint8_t* dst, uint64_t line, bool reversed)
{
    const uint64_t count = line ? p.size / line : 0;
    uint64_t at = 0; // offset in the stream
    for (auto& part : p.parts) {
        const uint64_t end = std::min<uint64_t>(at + kPieceSize, p.size);
        const uint8_t* src = part.get();
        if (!reversed) {
            std::memcpy(dst + at, src, size_t(end - at));
            at = end;
        }
        // Reversed, a piece holds the end of one line, whole lines, and the
        // start of another: copy it run by run.
        while (at < end) {
            const uint64_t i = at / line, within = at % line;
            const uint64_t run = std::min(line - within, end - at);
            std::memcpy(dst + (count - 1 - i) * line + within, src, size_t(run));
            src += run;
            at += run;
        }
        part.reset();
    }
    p.parts.clear();
}

void reverse_lines(uint8_t* p, uint64_t line, uint64_t count)
{
    for (uint64_t i = 0, j = count; i + 1 < j; ++i, --j)
        std::swap_ranges(p + i * line, p + (i + 1) * line, p + (j - 1) * line);
}
