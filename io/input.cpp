// Opening an input by name or as standard input, with its size where it is
// known, and reading or skipping no more than it holds; see input.hpp.
#include "io/input.hpp"

#include <cerrno>

#include "io/files.hpp"

bool open_input(const char* path, Input& in)
{
    // "-" is standard input, binary on Windows too. A file named "-" is ./-.
    const bool standard = is_standard_stream_name(path);
    if (standard)
        set_binary_mode(stdin);
    errno = 0;
    std::FILE* f = standard ? stdin : open_file(path_from_utf8(path), "rb");
    if (!f) {
        in.error = errno;
        return false;
    }
    // The size comes from the open file, so standard input redirected from a
    // file, by "-" or by /dev/stdin, has its size too.
    const StreamKind kind = examine_stream(f);
    // A standard input that was closed (`<&-`) is no input at all.
    if (kind.directory || (standard && !kind.ok)) {
        in.error = kind.directory ? EISDIR : EBADF;
        if (!standard)
            std::fclose(f);
        return false;
    }
    in.stream = f;
    in.remaining = kind.ok && kind.regular ? kind.size_left : kUnknownSize;
    if (in.remaining == kUnknownSize)
        widen_pipe(f);
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
    in.got += got;
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
