// What a file holds, told from its first bytes: for the guard that keeps
// pictures and screens from being overwritten by mistake, and for saying what
// an input is when it is not what a program reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

// As many first bytes as tell every kind below, and a PNG's first chunks
// after its IHDR.
inline constexpr size_t kSniffSize = 128;

enum class FileKind {
    other,
    // What the BMP or the PNG reader takes from its header (any side from 1
    // to 65528, as with --pad), and the first bytes of every other picture
    // format named by describe_head, any "BM" among them: a user's JPEG is
    // worth as much as their BMP.
    picture,
    // What the screen file reader takes (see is_screen_file), and no picture.
    screen,
};

// The kind of a file of `size` bytes that starts with `head` (kSniffSize
// bytes, or all the file has). The constant words encscreen writes make a
// screen file whatever else the bytes might be read as.
FileKind kind_of(std::span<const uint8_t> head, uint64_t size);

// Opens `path` for binary reading where it is a regular file; null for
// anything else (missing, a directory, a pipe, a device, no permission),
// which is never looked into. A FIFO is opened without waiting for a writer.
std::FILE* open_regular_file(const char* path);

// The kind of the file at `path` where it is a regular file that can be
// read; `other` for anything else.
FileKind kind_of_file(const char* path);

// What the first bytes show, in a few words for a diagnostic: "a JPEG
// picture", "a BMP of 8 bits a pixel with a palette", "a compressed BMP",
// "a screen file", "an empty file", "not a picture".
std::string describe_head(std::span<const uint8_t> head);
