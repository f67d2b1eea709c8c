// Reading an input file whole, without trusting the sizes its header claims.
//
// A header can promise gigabytes in a few bytes. A regular file tells its size
// up front, so a promise larger than the file is refused before anything is
// allocated, and a promise it can keep is read with one read. A pipe has no
// size: its data is read in pieces, so memory follows the bytes that actually
// arrive. Nothing here seeks, so /dev/stdin and pipes work.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
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

// A vector allocator that leaves new elements uninitialised instead of zeroed:
// a buffer that a read is about to fill whole need not be written twice.
template <class T>
struct NoZeroAllocator : std::allocator<T> {
    using value_type = T;
    NoZeroAllocator() = default;
    template <class U>
    NoZeroAllocator(const NoZeroAllocator<U>&) noexcept
    {
    }
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using ByteBuffer = std::vector<uint8_t, NoZeroAllocator<uint8_t>>;

// The bytes of a stream of unknown length, as they arrived: pieces of
// kPieceSize bytes, the last one shorter.
inline constexpr size_t kPieceSize = size_t(1) << 20;
struct Pieces {
    std::vector<std::unique_ptr<uint8_t[]>> parts;
    uint64_t size = 0;
};

// Reads exactly `bytes` bytes piece by piece; false on a short read.
bool read_pieces(Input& in, uint64_t bytes, Pieces& out);

// Copies the pieces to dst in lines of `line` bytes, stream line i to line
// i, or to line count-1-i where `reversed`; each piece is released as soon as
// it is copied, so the bytes are in memory about once, never twice.
void copy_pieces(Pieces& p, uint8_t* dst, uint64_t line, bool reversed);

// Reverses the order of `count` lines of `line` bytes in place.
void reverse_lines(uint8_t* p, uint64_t line, uint64_t count);
inline constexpr uint64_t kReverseBlock = uint64_t(1) << 18;

// Reads `count` lines of `line` bytes into dst, which is resized to hold them;
// false on a short read. Stream line i lands as line i, or as line count-1-i
// where `reversed`: rows go straight to where they belong. The bytes land as
// they come in dst's own storage, so an array of 16-bit words is read raw and
// put in host order by the caller; line * count must be a multiple of the
// element size.
//
// With the size known, dst is allocated once and filled by one read (by
// blocks of lines where reversed). From a pipe, the bytes are read in pieces
// first and dst allocated only when they have all arrived.
template <class Vector>
bool read_lines(Input& in, Vector& dst, uint64_t line, uint64_t count, bool reversed)
{
    using T = typename Vector::value_type;
    static_assert(std::is_trivially_copyable_v<T>);
    if (count != 0 && line > UINT64_MAX / count)
        return false;
    const uint64_t bytes = line * count;
    if (bytes > SIZE_MAX || (in.remaining != kUnknownSize && bytes > in.remaining))
        return false;
    if (in.remaining != kUnknownSize) {
        dst.resize(size_t(bytes / sizeof(T)));
        auto* base = reinterpret_cast<uint8_t*>(dst.data());
        if (!reversed)
            return read_bytes(in, std::span<uint8_t>(base, size_t(bytes)));
        // Blocks of about 256 KiB go straight to the end of the buffer that
        // is theirs, then their lines are reversed while still in the cache.
        const uint64_t block = line ? std::max<uint64_t>(1, kReverseBlock / line) : count;
        for (uint64_t i = 0; i < count;) {
            const uint64_t k = std::min(block, count - i);
            uint8_t* region = base + (count - i - k) * line;
            if (!read_bytes(in, std::span<uint8_t>(region, size_t(k * line))))
                return false;
            reverse_lines(region, line, k);
            i += k;
        }
        return true;
    }
    Pieces p;
    if (!read_pieces(in, bytes, p))
        return false;
    dst.resize(size_t(bytes / sizeof(T)));
    copy_pieces(p, reinterpret_cast<uint8_t*>(dst.data()), line, reversed);
    return true;
}

// Reads exactly `bytes` bytes into dst, as read_lines does.
template <class Vector>
bool read_block(Input& in, Vector& dst, uint64_t bytes)
{
    return read_lines(in, dst, bytes, 1, false);
}
