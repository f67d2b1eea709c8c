// Writing an output file so that it is never half-written.
//
// A program that dies or fails half-way through writing its output must not
// leave a fragment where a good file stood: make and scripts take a file that
// exists for a file that is done. So an output that is a regular file, or
// does not exist yet, is written to a new temporary file in the same folder
// (created exclusively, never through a link), flushed and closed,
// and only then renamed over the target. A rename within one folder replaces
// the old file in one step, so readers see the old file or the new one,
// whole, and two runs writing the same output at once leave one of the two.
// On any failure the temporary is removed and the old file is as it was.
//
// - A symbolic link is followed: the file it points to is replaced, and the
//   link stays.
// - A replaced file keeps its permission bits, and its owner and group where
//   the system allows; a new file gets 0666 less the umask, as fopen gives.
// - A file that may not be written is refused, as fopen refuses it, even
//   where the folder would allow the rename.
// - Where the folder allows no new file but the existing file may be written,
//   it is written in place, as fopen would.
// - Standard output ("-", or the file standard output is open on, such as
//   /dev/stdout), devices and FIFOs are written directly: they have no
//   contents to keep, and a rename would replace the device node.
#pragma once

#include <cstdio>
#include <filesystem>

enum class OutputMode {
    binary,
    text, // line feeds become CR LF on Windows
};

struct Output;

// Closes the output without completing it and removes its temporary.
void discard_output(Output& out);

struct Output {
    std::FILE* stream = nullptr;
    std::filesystem::path target; // the file to replace; empty when written directly
    std::filesystem::path temp;   // the temporary file while it is being written
    bool standard = false;        // the stream is standard output: flushed, never closed

    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    // An output given up on, or abandoned by an exception such as
    // std::bad_alloc, leaves no temporary behind.
    ~Output() { discard_output(*this); }
};

// True when `path` sends the data to standard output. The programs then print
// all their messages on standard error, so that none ends up in the data.
bool writes_to_standard_output(const char* path);

// Opens the output `path` (UTF-8; "-" is standard output) for writing. False
// when it cannot be created; nothing has changed then.
bool open_output(const char* path, OutputMode mode, Output& out);

// Completes the output: flush, close and, for a temporary, the rename
// over the target. False when any byte may not have got there; a temporary is
// removed then and the old file left as it was.
bool finish_output(Output& out);
