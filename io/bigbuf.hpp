// Large buffers: few, zeroed, grown without copying, on huge pages where the
// kernel offers them.
//
// Every first touch of a fresh 4 KiB page is a fault, and on a virtual
// machine a fault costs more than quantizing the pixels that fill the page.
// On Linux a large buffer is therefore its own 2 MiB-aligned anonymous
// mapping, marked MADV_HUGEPAGE, so that a fault brings in 2 MiB at once; the
// kernel may decline, which only costs speed. A mapping also grows in place
// or is moved by the page tables (mremap), so growing by the rows that arrive
// copies no bytes. Elsewhere (Windows, MinGW, other systems) the same calls
// fall back on calloc and realloc.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// Where memory runs out: the new-handler first, as operator new calls it (a
// program may keep a reserve to give back there, so that the throw itself
// finds memory), then std::bad_alloc.
[[noreturn]] inline void throw_out_of_memory()
{
    if (const std::new_handler h = std::get_new_handler())
        h();
    throw std::bad_alloc();
}

struct BigBlock {
    void* data = nullptr;
    size_t bytes = 0; // usable, all zero when handed out
    bool mapped = false;
};

// A zeroed block of at least `bytes` bytes; false when memory runs out.
bool big_alloc(BigBlock& b, size_t bytes);

// Grows the block to at least `bytes`, keeping its contents and zeroing the
// rest; false when memory runs out, and the block is then unchanged.
bool big_grow(BigBlock& b, size_t bytes);

void big_free(BigBlock& b);

// An array of plain values in a BigBlock: what std::vector would be, but
// zeroed by the kernel rather than by a loop, and grown without a copy.
// Allocation failure throws std::bad_alloc, as a vector's would.
template <class T>
struct BigArray {
    static_assert(std::is_trivially_copyable_v<T>);
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    BigArray() = default;
    BigArray(std::initializer_list<T> v) { assign(v.begin(), v.size()); }
    BigArray(const BigArray& o) { assign(o.data(), o.size()); }
    BigArray(BigArray&& o) noexcept : block(std::exchange(o.block, {})), count(std::exchange(o.count, 0)) {}
    BigArray& operator=(BigArray o) noexcept
    {
        std::swap(block, o.block);
        std::swap(count, o.count);
        return *this;
    }
    ~BigArray() { big_free(block); }

    // Grows to n zeroed elements more or less; shrinking keeps the memory.
    // Growth is geometric up to `cap` elements, so that arrays grown row by
    // row are moved a few times only and never reserve more than `cap`.
    void resize(size_t n, size_t cap = SIZE_MAX / sizeof(T))
    {
        if (n > SIZE_MAX / sizeof(T))
            throw_out_of_memory();
        if (n * sizeof(T) > block.bytes) {
            size_t want = n;
            if (block.data && n < cap)
                want = std::max(n, std::min(cap, 2 * (block.bytes / sizeof(T))));
            const bool ok = block.data ? big_grow(block, want * sizeof(T)) : big_alloc(block, want * sizeof(T));
            if (!ok)
                throw_out_of_memory();
        } else if (n < count) {
            std::memset(data() + n, 0, (count - n) * sizeof(T));
        }
        count = n;
    }

    T* data() { return static_cast<T*>(block.data); }
    const T* data() const { return static_cast<const T*>(block.data); }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T& operator[](size_t i) { return data()[i]; }
    const T& operator[](size_t i) const { return data()[i]; }
    T* begin() { return data(); }
    T* end() { return data() + count; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + count; }

    friend bool operator==(const BigArray& a, const BigArray& b) { return equal(a, b.data(), b.size()); }
    friend bool operator==(const BigArray& a, const std::vector<T>& b) { return equal(a, b.data(), b.size()); }

private:
    BigBlock block;
    size_t count = 0;

    void assign(const T* src, size_t n)
    {
        resize(n);
        if (n)
            std::memcpy(data(), src, n * sizeof(T));
    }
    static bool equal(const BigArray& a, const T* b, size_t n)
    {
        return a.count == n && (n == 0 || std::memcmp(a.data(), b, n * sizeof(T)) == 0);
    }
};
