// Files by name and the standard streams, the same way on every system.
//
// File names travel through the programs as UTF-8. POSIX systems take the
// bytes as they are; Windows opens files by their UTF-16 names, so a name is
// converted there and any name works, not only those of the system's code
// page. "-" is no file name at all: it stands for standard input or output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string_view>

// True for "-", the name of standard input or output on a command line.
bool is_standard_stream_name(const char* path);

// True when the name ends in `ext` (given in lower case, dot included) in any
// case: "X.PNG" as well as "x.png". The name the user typed decides the
// kind of output, as they expect from the extension.
bool has_extension(const char* path, std::string_view ext);

// The path of a UTF-8 file name.
std::filesystem::path path_from_utf8(const char* path);

// fopen by a UTF-8 name.
std::FILE* open_file(const std::filesystem::path& path, const char* mode);

// Switches a standard stream to binary mode: on Windows a text-mode stream
// would turn every line feed byte of a picture into CR LF. Nothing elsewhere.
void set_binary_mode(std::FILE* stream);

// What an open stream is. size_left is the number of bytes from the current
// position to the end, known only for a regular file.
struct StreamKind {
    bool ok = false;        // false when the stream's file cannot be examined
    bool directory = false;
    bool regular = false;
    uint64_t size_left = 0;
};
StreamKind examine_stream(std::FILE* stream);

// True when `path` names the very file that standard output is open on
// (/dev/stdout, or the file it was redirected to): writing there must go
// through the open stream, since opening the name again would start the file
// over and lose what is already in it.
bool is_standard_output_file(const std::filesystem::path& path);

// The file a name reaches, links followed, or a standard stream ("-":
// standard output where `output`, else standard input): its device and its
// number there, which two names of one file share (another spelling, a
// symbolic or a hard link). ok is false where nothing can be reached.
struct FileId {
    bool ok = false;
    bool regular = false; // a regular file, where a file has contents to lose
    uint64_t device = 0, number = 0;
    // What changes when the file's contents do: its length and the time of
    // its last change (POSIX: the status change time, which every write
    // moves and no program can set back; Windows: the last write time).
    uint64_t size = 0, changed = 0;
};
FileId file_id(const char* path, bool output);

inline bool same_file(const FileId& a, const FileId& b)
{
    return a.ok && b.ok && a.device == b.device && a.number == b.number;
}

// The same file, untouched between the two looks.
inline bool same_contents(const FileId& a, const FileId& b)
{
    return same_file(a, b) && a.size == b.size && a.changed == b.changed;
}

// Makes a pipe that the stream reads from hold more at a time, where the
// system allows (Linux), so that the program and the one writing into the
// pipe take turns less often. Anything else is left as it is.
void widen_pipe(std::FILE* stream);

// Writing a large output out while it is still being made. The system keeps
// written bytes in memory and puts them on disk later; left alone, the whole
// file goes at once when it is renamed over the old one (ext4 writes a
// replacing file's data out then), and on a disk that also frees the old
// file's blocks there and then, that waits behind the new file's writes.
// Started every few MiB instead, the disk works while the program computes.
// A writer counts its bytes with this as it goes.
struct WriteBack {
    uint64_t gathered = 0; // bytes written since the last start
};

// Counts `bytes` more written to `out`; every 8 MiB, starts the system
// writing out what the stream holds so far, without waiting for it (Linux's
// sync_file_range). Nothing happens elsewhere, nor for pipes and devices. A
// write that fails here is left on the stream, for the final check.
void count_written(std::FILE* out, WriteBack& wb, size_t bytes);
