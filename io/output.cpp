// Creating, writing and replacing an output file: see output.hpp for the
// rules. The POSIX half leaves every decision about links and permissions to
// the kernel's own open; the Windows half has no such protections to honour.
#include "io/output.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "io/files.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Temporary names only need to be new, which the exclusive creation checks;
// they vary from run to run so that two runs, or a leftover of a killed run,
// do not make each other retry.
uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

uint64_t first_seed(unsigned pid)
{
    return mix(uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (uint64_t(pid) << 32));
}

// The file `p` names, its links followed as the system follows them (a
// relative link from the folder it lies in), so that the temporary goes
// beside that file and the rename replaces it, not the link. On POSIX this
// only finds the folder and name of the file the kernel already opened.
bool resolve_links(fs::path& p)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec)))
            return true;
        const fs::path link = fs::read_symlink(p, ec);
        if (ec)
            return false;
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return false; // a loop of links, which fopen refuses too
}

void temporary_name(uint64_t seed, char (&name)[32]) { std::snprintf(name, sizeof name, ".vorne-%08x.tmp", unsigned(seed)); }

} // namespace

#ifdef _WIN32

namespace {

// The read-only attribute stops fopen; it must stop the rename too.
bool may_write(const fs::path& p) { return _waccess(p.c_str(), 2) == 0; }

bool written_directly(std::FILE* stream, Output& out)
{
    out.stream = stream;
    if (!stream)
        out.error = errno;
    return stream != nullptr;
}

} // namespace

bool open_output(const char* path, OutputMode mode, Output& out)
{
    discard_output(out);
    out.error = 0;
    const bool text = mode == OutputMode::text;
    if (writes_to_standard_output(path)) {
        // The listing stays text on Windows, with CR LF like a listing file.
        if (!text)
            set_binary_mode(stdout);
        out.stream = stdout;
        out.standard = true;
        return true;
    }
    if (!*path) {
        out.error = ENOENT;
        return false;
    }
    fs::path p = path_from_utf8(path);
    if (!resolve_links(p)) {
        out.error = ELOOP;
        return false;
    }
    std::error_code ec;
    const fs::file_status st = fs::status(p, ec);
    const bool absent = st.type() == fs::file_type::not_found;
    if (absent || fs::is_regular_file(st)) {
        if (!absent && !may_write(p)) {
            out.error = EACCES;
            return false;
        }
        uint64_t seed = first_seed(unsigned(_getpid()));
        for (int attempt = 0; attempt < 100; ++attempt, seed = mix(seed)) {
            char name[32];
            temporary_name(seed, name);
            const fs::path temp = p.parent_path() / name;
            const int fd = _wopen(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | (text ? _O_TEXT : _O_BINARY),
                                  _S_IREAD | _S_IWRITE);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0 && errno == EACCES)
                break; // the folder allows no new file: write in place
            if (fd < 0) {
                out.error = errno;
                return false;
            }
            out.stream = _fdopen(fd, text ? "w" : "wb");
            if (!out.stream) {
                out.error = errno;
                _close(fd);
                _wremove(temp.c_str());
                return false;
            }
            out.folder_path = p.parent_path();
            out.target = p.filename();
            out.temp = name;
            return true;
        }
    }
    // Devices, and a file in a folder that allows no new file: written where
    // they are. A folder or a path that cannot be reached fails here.
    return written_directly(open_file(p, text ? "w" : "wb"), out);
}

namespace {

// MoveFileExW replaces the target in one step, as rename does on POSIX.
bool replace_target(Output& out)
{
    const fs::path temp = out.folder_path / out.temp, target = out.folder_path / out.target;
    if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    out.error = EACCES;
    return false;
}

void remove_temporary(Output& out)
{
    std::error_code ec;
    fs::remove(out.folder_path / out.temp, ec);
}

void close_folder(Output&) {}

} // namespace

#else

namespace {

// A replaced file keeps its permission bits, and its owner and group where
// the system lets us give the file away: root can, others can keep the group
// where they belong to it, but the file becomes theirs. The set-id and sticky
// bits are never carried over: they were granted to the old contents.
void keep_owner_and_mode(int fd, const struct stat& old)
{
    mode_t mode = old.st_mode & 0777;
    if (old.st_uid == geteuid() && old.st_gid == getegid())
        return void(fchmod(fd, mode));
    if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, uid_t(-1), old.st_gid) != 0)
        mode &= ~mode_t(S_IRWXG) | ((mode & S_IRWXO) << 3); // no more to our group than to all
    fchmod(fd, mode);
}

#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

bool stream_on(int fd, Output& out)
{
    out.stream = fdopen(fd, "wb");
    if (out.stream)
        return true;
    out.error = errno;
    close(fd);
    return false;
}

// The descriptor of this process, other than `except`, that writes to the
// file `st` describes: -1 where none does. A name of a descriptor, however
// spelt (/dev/stderr, /dev/fd/3, //dev/fd/3, /proc/<pid>/fd/3, a link to
// one of them), and the file itself by its own name reach the same file; a
// log appended with `2>>log` then gets the data appended through the shell's
// own open file, instead of replaced by a new file or overwritten from its
// start by a second open.
int descriptor_writing(const struct stat& st, int except)
{
    const auto writes = [&](int fd) {
        struct stat d;
        if (fd == except || fstat(fd, &d) != 0 || d.st_dev != st.st_dev || d.st_ino != st.st_ino)
            return false;
        const int flags = fcntl(fd, F_GETFL);
        return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
    };
#ifdef __linux__
    // The open descriptors are listed there, however high they go.
    if (DIR* d = opendir("/proc/self/fd")) {
        int found = -1;
        for (const dirent* e; found < 0 && (e = readdir(d));) {
            char* end = nullptr;
            const long fd = std::strtol(e->d_name, &end, 10);
            if (end != e->d_name && *end == '\0' && fd != dirfd(d) && fd <= 1 << 24 && writes(int(fd)))
                found = int(fd);
        }
        closedir(d);
        return found;
    }
#endif
    for (int fd = 0; fd < 1024; ++fd)
        if (writes(fd))
            return fd;
    return -1;
}

// Writes through a duplicate of `held`, which shares its position and its
// O_APPEND, and closes `fd` where it is one.
bool written_through(int held, int fd, Output& out)
{
    if (fd >= 0)
        close(fd);
    const int dup = fcntl(held, F_DUPFD_CLOEXEC, 3);
    if (dup < 0) {
        out.error = errno;
        return false;
    }
    return stream_on(dup, out);
}

int open_folder(const fs::path& file)
{
    const fs::path folder = file.parent_path();
    return open(folder.empty() ? "." : folder.c_str(), kFolderFlags);
}

// A new temporary in the output's folder, made exclusively, never through a
// link. Its mode is 0666 less the umask for a new file; one that replaces
// another starts private and takes the old file's mode.
int create_temporary(Output& out, const struct stat* old)
{
    uint64_t seed = first_seed(unsigned(getpid()));
    for (int attempt = 0; attempt < 100; ++attempt, seed = mix(seed)) {
        char name[32];
        temporary_name(seed, name);
        const int fd = openat(out.folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, old ? 0600 : 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd >= 0) {
            out.temp = name;
            if (old)
                keep_owner_and_mode(fd, *old);
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

// A name that does not exist: the temporary is made in its folder and later
// linked in under the name without replacing anything (see replace_target).
bool open_new(const fs::path& p, Output& out)
{
    if (p.filename().empty()) {
        out.error = EISDIR; // "folder/", as open() says
        return false;
    }
    out.folder = open_folder(p);
    if (out.folder < 0) {
        out.error = errno;
        return false;
    }
    out.target = p.filename();
    out.fresh = true;
    const int fd = create_temporary(out, nullptr);
    if (fd < 0) {
        out.error = errno;
        return false;
    }
    return stream_on(fd, out);
}

// Whether a rename over `st` in the folder `dir` would be refused although
// the file may be written: a sticky folder lets only the owners of a file or
// of the folder (or root) replace it.
bool rename_refused(const struct stat& dir, const struct stat& st)
{
    const uid_t me = geteuid();
    return (dir.st_mode & S_ISVTX) && me != 0 && st.st_uid != me && dir.st_uid != me;
}

// A name that exists. The kernel opens it as `>` would, minus the truncation.
bool open_existing(const char* path, Output& out)
{
    // A dangling link makes the open create the file it points to: that file
    // is removed again if the run fails.
    struct stat before;
    const bool dangling = stat(path, &before) != 0 && errno == ENOENT;
    const int fd = open(path, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st;
    if (fd < 0) {
        // A socket cannot be opened by name, only written through a
        // descriptor of it, such as the one /dev/fd/N names.
        out.error = errno;
        const bool socket = errno == ENXIO && stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
        const int held = socket ? descriptor_writing(st, -1) : -1;
        return held >= 0 && written_through(held, -1, out);
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return stream_on(fd, out); // a device or FIFO: written through the open file
    if (const int held = descriptor_writing(st, fd); held >= 0)
        return written_through(held, fd, out);

    // The regular file the kernel reached: its folder and name, found by
    // following the links as it did, and checked to be that very file.
    fs::path p = path_from_utf8(path);
    struct stat dir, named;
    if (!resolve_links(p) || p.filename().empty() || (out.folder = open_folder(p)) < 0 ||
        fstat(out.folder, &dir) != 0) {
        out.error = errno;
        close(fd);
        return false;
    }
    if (fstatat(out.folder, p.filename().c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != st.st_dev ||
        named.st_ino != st.st_ino) {
        out.error = EAGAIN; // replaced or moved while it was opened
        close(fd);
        return false;
    }
    out.target = p.filename();
    out.created = dangling;
    const int temp = rename_refused(dir, st) ? -1 : create_temporary(out, &st);
    if (temp >= 0) {
        close(fd);
        return stream_on(temp, out);
    }
    if (errno != EACCES && errno != EPERM && errno != EROFS && !rename_refused(dir, st)) {
        out.error = errno;
        close(fd);
        return false;
    }
    // The folder allows no new file but the file may be written: in place.
    if (ftruncate(fd, 0) != 0) {
        out.error = errno;
        close(fd);
        return false;
    }
    return stream_on(fd, out);
}

// Where the target was new, the temporary takes its name only if nothing has
// taken it meanwhile (renameat2's RENAME_NOREPLACE, or a hard link where the
// file system lacks that): a file or link planted there in the meantime is
// then opened as any existing output is, and replaced only where the kernel
// lets that open through.
bool link_in_new(Output& out)
{
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(out.folder, out.temp.c_str(), out.folder, out.target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    if (linkat(out.folder, out.temp.c_str(), out.folder, out.target.c_str(), 0) == 0) {
        unlinkat(out.folder, out.temp.c_str(), 0);
        return true;
    }
    if (errno == EEXIST)
        return false;
    // No hard links either (a FAT disk): a plain rename, as before.
    return renameat(out.folder, out.temp.c_str(), out.folder, out.target.c_str()) == 0;
}

bool replace_target(Output& out)
{
    if (out.fresh && link_in_new(out))
        return true;
    if (out.fresh) {
        if (errno != EEXIST) {
            out.error = errno;
            return false;
        }
        const int fd = openat(out.folder, out.target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                              0666);
        struct stat st;
        const bool regular = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        out.error = fd < 0 ? errno : EEXIST;
        if (fd >= 0)
            close(fd);
        if (!regular)
            return false;
    }
    if (renameat(out.folder, out.temp.c_str(), out.folder, out.target.c_str()) == 0)
        return true;
    out.error = errno;
    return false;
}

void remove_temporary(Output& out) { unlinkat(out.folder, out.temp.c_str(), 0); }

void close_folder(Output& out)
{
    if (out.folder >= 0)
        close(out.folder);
    out.folder = -1;
}

} // namespace

bool open_output(const char* path, OutputMode, Output& out)
{
    discard_output(out);
    out.error = 0;
    if (writes_to_standard_output(path)) {
        out.stream = stdout;
        out.standard = true;
        return true;
    }
    if (!*path) {
        out.error = ENOENT;
        return false;
    }
    // Another run replacing the same file between our open and our look at
    // its folder shows as a changed file (EAGAIN): then simply again.
    for (int attempt = 0;; ++attempt) {
        struct stat st;
        const bool exists = lstat(path, &st) == 0;
        if (!exists && errno != ENOENT) {
            out.error = errno;
            return false;
        }
        if (exists ? open_existing(path, out) : open_new(path_from_utf8(path), out))
            return true;
        const int error = out.error;
        discard_output(out);
        out.error = error;
        if (error != EAGAIN || attempt == 8)
            return false;
    }
}

#endif

bool writes_to_standard_output(const char* path)
{
    return is_standard_stream_name(path) || is_standard_output_file(path_from_utf8(path));
}

bool finish_output(Output& out)
{
    if (!out.stream)
        return false;
    errno = 0;
    bool ok = std::fflush(out.stream) == 0 && !std::ferror(out.stream);
    if (!ok)
        out.error = errno;
    if (out.standard) {
        out.stream = nullptr;
        return ok;
    }
    // Not synced: a conversion should cost what copying its files costs, and
    // an fsync of a 48 MiB BMP waits for the disk longer than the whole
    // conversion takes. A full disk shows at the write, the flush or the
    // close, and file systems such as ext4 write a file's data before a
    // rename that replaces another one.
    if (std::fclose(out.stream) != 0 && ok) {
        ok = false;
        out.error = errno;
    }
    out.stream = nullptr;
    if (ok && !out.temp.empty()) {
        ok = replace_target(out);
        if (ok)
            out.temp.clear();
    }
    if (ok)
        out.created = false; // the file is whole: it stays
    const int error = out.error;
    discard_output(out);
    out.error = error;
    return ok;
}

void discard_output(Output& out)
{
    if (out.stream && !out.standard)
        std::fclose(out.stream);
    out.stream = nullptr;
    out.standard = false;
    if (!out.temp.empty())
        remove_temporary(out);
#ifndef _WIN32
    if (out.created)
        unlinkat(out.folder, out.target.c_str(), 0);
#endif
    close_folder(out);
    out.temp.clear();
    out.target.clear();
    out.folder_path.clear();
    out.fresh = out.created = false;
}
