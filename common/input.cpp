#include "common/input.hpp"

#include <filesystem>
#include <system_error>

bool open_input(const char* path, Input& in)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_directory(status))
        return false;
    in.stream = std::fopen(path, "rb");
    if (!in.stream)
        return false;
    in.remaining = kUnknownSize;
    // Follows links, so /dev/stdin redirected from a file has its size too.
    if (!ec && std::filesystem::is_regular_file(status)) {
        const auto size = std::filesystem::file_size(path, ec);
        if (!ec)
            in.remaining = size;
    }
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
