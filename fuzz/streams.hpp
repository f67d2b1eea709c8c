// Streams for the fuzz targets: the input from memory, the output kept in
// memory or only counted.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/types.h>

// A target's own check failed: abort, which the fuzzer reports as a crash
// together with the input that caused it.
inline void require(bool ok)
{
    if (!ok)
        std::abort();
}

// A read-only stream over the fuzzer's bytes, as the programs see a file or a
// pipe. fmemopen wants a buffer even for no bytes.
inline std::FILE* open_bytes(const uint8_t* data, size_t size)
{
    static uint8_t none;
    return fmemopen(size ? const_cast<uint8_t*>(data) : &none, size, "rb");
}

// A stream for writing that keeps nothing and counts the bytes written, so
// that large outputs cost no memory.
inline std::FILE* open_counter(uint64_t& bytes)
{
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char*, size_t n) -> ssize_t {
        *static_cast<uint64_t*>(cookie) += n;
        return ssize_t(n);
    };
    return fopencookie(&bytes, "wb", io);
}
