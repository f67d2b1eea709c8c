// Files by name and the standard streams on Windows and POSIX: UTF-8 names,
// binary mode, what kind of file a stream is, wider pipes and early
// write-back; see files.hpp.
#include "io/files.hpp"

#include <cstring>
#include <string_view>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool is_standard_stream_name(const char* path) { return std::strcmp(path, "-") == 0; }

bool has_extension(const char* path, std::string_view ext)
{
    const std::string_view name(path);
    if (name.size() < ext.size())
        return false;
    for (size_t i = 0; i < ext.size(); ++i) {
        const char c = name[name.size() - ext.size() + i];
        if ((c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c) != ext[i])
            return false;
    }
    return true;
}

#ifdef _WIN32

std::filesystem::path path_from_utf8(const char* path)
{
    return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(path)));
}

std::FILE* open_file(const std::filesystem::path& path, const char* mode)
{
    wchar_t wide_mode[8] = {};
    for (size_t i = 0; mode[i] && i + 1 < std::size(wide_mode); ++i)
        wide_mode[i] = wchar_t(mode[i]);
    return _wfopen(path.c_str(), wide_mode);
}

void set_binary_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

namespace {
using FileStatus = struct _stat64;
int status_of(std::FILE* f, FileStatus& st) { return _fstat64(_fileno(f), &st); }
int64_t position_of(std::FILE* f) { return _lseeki64(_fileno(f), 0, SEEK_CUR); }
bool is_directory(const FileStatus& st) { return (st.st_mode & _S_IFMT) == _S_IFDIR; }
bool is_regular(const FileStatus& st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
} // namespace

// A file's identity is its volume's serial number and its index there; the
// C library's st_ino is always 0. Opened for no access at all, so that even a
// file open elsewhere without sharing can be looked at.
FileId file_id(const char* path, bool output)
{
    FileId id;
    HANDLE h = INVALID_HANDLE_VALUE;
    const bool standard = is_standard_stream_name(path);
    if (standard)
        h = reinterpret_cast<HANDLE>(_get_osfhandle(output ? 1 : 0));
    else if (*path)
        h = CreateFileW(path_from_utf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
        id.ok = true;
        id.regular = !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        id.device = info.dwVolumeSerialNumber;
        id.number = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        id.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
        id.changed = uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
    }
    if (!standard)
        CloseHandle(h);
    return id;
}

// Windows has no name for the file behind standard output: only "-" means it.
bool is_standard_output_file(const std::filesystem::path&) { return false; }

#else

// POSIX names are bytes; they need not even be valid UTF-8.
std::filesystem::path path_from_utf8(const char* path) { return std::filesystem::path(path); }

std::FILE* open_file(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

void set_binary_mode(std::FILE*) {}

namespace {
using FileStatus = struct stat;
int status_of(std::FILE* f, FileStatus& st) { return fstat(fileno(f), &st); }
int64_t position_of(std::FILE* f) { return lseek(fileno(f), 0, SEEK_CUR); }
bool is_directory(const FileStatus& st) { return S_ISDIR(st.st_mode); }
bool is_regular(const FileStatus& st) { return S_ISREG(st.st_mode); }
} // namespace

FileId file_id(const char* path, bool output)
{
    FileId id;
    struct stat st;
    const bool found = is_standard_stream_name(path) ? fstat(output ? STDOUT_FILENO : STDIN_FILENO, &st) == 0
                                                     : *path && stat(path, &st) == 0;
    if (found) {
        id.ok = true;
        id.regular = S_ISREG(st.st_mode);
        id.device = uint64_t(st.st_dev);
        id.number = uint64_t(st.st_ino);
        id.size = uint64_t(st.st_size);
        id.changed = uint64_t(st.st_ctim.tv_sec) * 1000000000u + uint64_t(st.st_ctim.tv_nsec);
    }
    return id;
}

bool is_standard_output_file(const std::filesystem::path& path)
{
    struct stat named, standard;
    return fstat(STDOUT_FILENO, &standard) == 0 && stat(path.c_str(), &named) == 0 &&
           named.st_dev == standard.st_dev && named.st_ino == standard.st_ino;
}

#endif

StreamKind examine_stream(std::FILE* stream)
{
    StreamKind k;
    FileStatus st;
    if (status_of(stream, st) != 0)
        return k;
    k.ok = true;
    k.directory = is_directory(st);
    // Standard input may have been read from before the program started:
    // what is left is what counts.
    const int64_t at = is_regular(st) ? position_of(stream) : -1;
    k.regular = at >= 0;
    k.size_left = k.regular && at < st.st_size ? uint64_t(st.st_size - at) : 0;
    return k;
}

void widen_pipe([[maybe_unused]] std::FILE* stream)
{
#if !defined(_WIN32) && defined(F_SETPIPE_SZ)
    // A pipe holds 64 KiB by default: a 48 MiB picture would make the writer
    // and the reader take some 800 turns each. 1 MiB is what an unprivileged
    // process may ask for; a refusal only leaves the pipe as it was.
    struct stat st;
    if (fstat(fileno(stream), &st) == 0 && S_ISFIFO(st.st_mode))
        fcntl(fileno(stream), F_SETPIPE_SZ, 1 << 20);
#endif
}

void count_written([[maybe_unused]] std::FILE* out, WriteBack& wb, size_t bytes)
{
    wb.gathered += bytes;
    if (wb.gathered < (uint64_t(8) << 20))
        return;
    wb.gathered = 0;
#if defined(__linux__)
    // The whole file from its start: pages already on their way are not
    // dirty any more, so only the new ones are looked at.
    if (std::fflush(out) == 0)
        sync_file_range(fileno(out), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}
