// Allocating, growing and freeing large blocks: mappings of their own on Linux,
// malloc for small ones, for other systems and under AddressSanitizer.
#include "io/bigbuf.hpp"

#include <cstdlib>

// AddressSanitizer sees only what goes through malloc: under it every block
// comes from calloc, so that overruns are caught and allocation limits hold.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORNE_NO_MAPPINGS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VORNE_NO_MAPPINGS 1
#endif

#if defined(__linux__) && !defined(VORNE_NO_MAPPINGS)
#define VORNE_MAPPINGS 1
#include <sys/mman.h>
#endif

#if defined(VORNE_MAPPINGS)
namespace {

// Below this a block comes from malloc: a mapping of its own would cost a
// system call for a few pages.
constexpr size_t kMapFrom = size_t(1) << 20;
constexpr size_t kHugePage = size_t(2) << 20;

size_t round_up(size_t n, size_t to) { return (n + to - 1) / to * to; }

// A mapping whose start and length are multiples of 2 MiB, so that every
// part of it can be a huge page: map 2 MiB more, then trim the ends.
void* map_aligned(size_t bytes)
{
    if (bytes > SIZE_MAX - kHugePage)
        return nullptr;
    const size_t span = bytes + kHugePage;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = round_up(start, kHugePage);
    if (aligned > start)
        munmap(p, aligned - start);
    if (start + span > aligned + bytes)
        munmap(reinterpret_cast<void*>(aligned + bytes), start + span - (aligned + bytes));
    void* q = reinterpret_cast<void*>(aligned);
    madvise(q, bytes, MADV_HUGEPAGE); // a hint: refused, the pages are merely small
    return q;
}

} // namespace
#endif

bool big_alloc(BigBlock& b, size_t bytes)
{
    b = {};
#if defined(VORNE_MAPPINGS)
    if (bytes >= kMapFrom) {
        const size_t size = round_up(bytes, kHugePage);
        if (size < bytes)
            return false;
        void* p = map_aligned(size);
        if (!p)
            return false;
        b = {p, size, true};
        return true;
    }
#endif
    void* p = std::calloc(bytes ? bytes : 1, 1);
    if (!p)
        return false;
    b = {p, bytes, false};
    return true;
}

bool big_grow(BigBlock& b, size_t bytes)
{
    if (bytes <= b.bytes)
        return true;
#if defined(VORNE_MAPPINGS)
    if (b.mapped) {
        const size_t size = round_up(bytes, kHugePage);
        if (size < bytes)
            return false;
        // The page tables move, the bytes do not; the new part is zero.
        void* p = mremap(b.data, b.bytes, size, MREMAP_MAYMOVE);
        if (p == MAP_FAILED)
            return false;
        madvise(p, size, MADV_HUGEPAGE);
        b.data = p;
        b.bytes = size;
        return true;
    }
    if (bytes >= kMapFrom) {
        BigBlock bigger;
        if (!big_alloc(bigger, bytes))
            return false;
        std::memcpy(bigger.data, b.data, b.bytes);
        big_free(b);
        b = bigger;
        return true;
    }
#endif
    void* p = std::realloc(b.data, bytes);
    if (!p)
        return false;
    std::memset(static_cast<char*>(p) + b.bytes, 0, bytes - b.bytes);
    b.data = p;
    b.bytes = bytes;
    return true;
}

void big_free(BigBlock& b)
{
#if defined(VORNE_MAPPINGS)
    if (b.mapped) {
        munmap(b.data, b.bytes);
        b = {};
        return;
    }
#endif
    std::free(b.data);
    b = {};
}
