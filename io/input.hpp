// Reading an input without trusting the sizes its header claims.
//
// A header can promise gigabytes in a few bytes. A regular file tells its size
// up front, so a promise larger than the file is refused before anything is
// allocated. A pipe has no size: its readers take what they need as it
// arrives, so memory follows the bytes that actually come. Nothing here
// seeks, so /dev/stdin and pipes work.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

inline constexpr uint64_t kUnknownSize = UINT64_MAX;

struct Input {
    std::FILE* stream = nullptr;
    uint64_t remaining = kUnknownSize; // bytes not yet read, where the size is known
    uint64_t got = 0;                  // bytes read so far
    int error = 0;                     // why it could not be opened (errno)
};

// Opens `path` for binary reading. False, with the reason in in.error, when
// it cannot be opened, or names a directory, or is a closed standard input.
bool open_input(const char* path, Input& in);
void close_input(Input& in);

// Reads exactly dst.size() bytes; false on a short read.
bool read_bytes(Input& in, std::span<uint8_t> dst);

// Reads and drops n bytes (the gap before a BMP's pixels); false on a short read.
bool skip_bytes(Input& in, uint64_t n);
