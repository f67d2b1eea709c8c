// Writing an output file so that it is never half-written, and only where the
// system would let the user write it.
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
// Who may write where is the kernel's decision, not ours. An existing name is
// first opened for writing as the shell's `>` opens it, without truncating:
// the kernel follows its links and applies the permissions and the
// protections of shared sticky folders (Linux's fs.protected_symlinks and
// fs.protected_regular), so where `>` is refused the program is refused too,
// and nothing is touched. Only a regular file that this open reached is then
// replaced by the rename; everything else is written through that open file.
//
// - A symbolic link is followed where the kernel follows it: the file it
//   points to is replaced, and the link stays.
// - A replaced file keeps its permission bits, less the set-user-ID,
//   set-group-ID and sticky bits, and its owner and group where the system
//   allows; a new file gets 0666 less the umask, as fopen gives. A file with
//   other hard links is replaced whole under this name: the other names keep
//   the old contents.
// - Where the folder allows no new file (or no rename over another user's
//   file) but the existing file may be written, it is written in place.
// - Standard output ("-", or the file standard output is open on, such as
//   /dev/stdout), devices and FIFOs are written directly: they have no
//   contents to keep, and a rename would replace the device node.
// - A name that reaches a file one of the program's open descriptors writes
//   (/dev/stderr, /dev/fd/N, //dev/fd/N, /proc/<pid>/fd/N, a link to one,
//   or the file's own name) is written through a duplicate of that
//   descriptor, at its position or appending as it does: decided by what the
//   name opens, not by how it is spelt. A socket, which no name opens, is
//   reached that way too.
#pragma once

#include <cstdio>
#include <filesystem>

enum class OutputMode {
    binary,
    text, // line feeds become CR LF on Windows
};

struct Output;

// Closes the output without completing it and removes its temporary, and a
// file that opening the output created.
void discard_output(Output& out);

struct Output {
    std::FILE* stream = nullptr;
    bool standard = false; // the stream is standard output: flushed, never closed
    // A temporary that replaces a file: the folder they share (an open
    // descriptor where the system has them, so that a long path is walked
    // once and a renamed folder cannot redirect the rename), their names in it.
    int folder = -1;
    std::filesystem::path folder_path; // where there is no descriptor
    std::filesystem::path target, temp;
    bool fresh = false;   // the target did not exist: the rename must not replace one
    bool created = false; // opening the target created it (through a dangling link)
    int error = 0;        // the system's error of the failure, errno-style; 0 when unknown

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
// when it may not or cannot be created, with the system's reason in
// out.error; nothing has changed then.
bool open_output(const char* path, OutputMode mode, Output& out);

// Completes the output: flush, close and, for a temporary, the rename
// over the target. False when any byte may not have got there, with the
// reason in out.error where the system gave one; a temporary is removed
// then and the old file left as it was.
bool finish_output(Output& out);
