// What a file holds, told from its first bytes: for the guard that keeps
// pictures and screens from being overwritten by mistake, and for saying what
// an input is when it is not what a program reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// As many first bytes as tell every kind below.
inline constexpr size_t kSniffSize = 64;

enum class FileKind {
    other,
    picture, // "BM" with an info header size that readers know, or the PNG signature
    screen,  // "SC" and the constant words of a screen file's header
};

FileKind kind_of(std::span<const uint8_t> head);

// The kind of the file at `path` where it is a regular file that can be
// read; `other` for anything else (missing, a pipe, a device, no permission),
// which is never looked into.
FileKind kind_of_file(const char* path);

// What the first bytes show, in a few words for a diagnostic: "a JPEG
// picture", "a BMP of 8 bits a pixel with a palette", "a compressed BMP",
// "a screen file", "an empty file", "not a picture".
std::string describe_head(std::span<const uint8_t> head);
