// Reading an input file whole, without trusting the sizes its header claims.
//
// A header can promise gigabytes in a few bytes. A regular file tells its size
// up front, so a promise larger than the file is refused before anything is
// allocated, and a promise it can keep is read with one read. A pipe has no
// size: its data is read in growing steps, so memory follows the bytes that
// actually arrive. Nothing here seeks, so /dev/stdin and pipes work.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <type_traits>
#include <vector>

inline constexpr uint64_t kUnknownSize = UINT64_MAX;

struct Input {
    std::FILE* stream = nullptr;
    uint64_t remaining = kUnknownSize; // bytes not yet read, where the size is known
};

// Opens `path` for binary reading. False when it cannot be opened, or names a directory.
bool open_input(const char* path, Input& in);
void close_input(Input& in);

// Reads exactly dst.size() bytes; false on a short read.
bool read_bytes(Input& in, std::span<uint8_t> dst);

// Reads and drops n bytes (the gap before a BMP's pixels); false on a short read.
bool skip_bytes(Input& in, uint64_t n);

// Reads exactly `bytes` bytes into dst, which is resized to hold them; false on a
// short read. The bytes land as they come in dst's own storage, so an array of
// 16-bit words is read raw and put in host order by the caller. `bytes` must be
// a multiple of sizeof(T).
template <class T>
bool read_block(Input& in, std::vector<T>& dst, uint64_t bytes)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if (bytes > SIZE_MAX || (in.remaining != kUnknownSize && bytes > in.remaining))
        return false;
    // Known size: one allocation, one read. Unknown: start small and double.
    constexpr uint64_t first_step = uint64_t(1) << 16;
    uint64_t done = 0;
    while (done < bytes) {
        uint64_t next = in.remaining != kUnknownSize ? bytes : std::min(bytes, std::max(first_step, 2 * done));
        dst.resize(size_t(next / sizeof(T)));
        auto* base = reinterpret_cast<uint8_t*>(dst.data());
        if (!read_bytes(in, std::span<uint8_t>(base + done, size_t(next - done))))
            return false;
        done = next;
    }
    return true;
}
