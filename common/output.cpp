#include "common/output.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

#include "common/files.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

enum class Created {
    yes,
    taken,   // the name is in use: try another
    refused, // the folder allows no new file: write in place instead
    failed,
};

#ifdef _WIN32

Created create_exclusive(const fs::path& temp, bool text, const fs::path&, bool, std::FILE*& stream)
{
    const int fd = _wopen(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | (text ? _O_TEXT : _O_BINARY),
                          _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return errno == EEXIST ? Created::taken : errno == EACCES ? Created::refused : Created::failed;
    stream = _fdopen(fd, text ? "w" : "wb");
    if (!stream) {
        _close(fd);
        _wremove(temp.c_str());
        return Created::failed;
    }
    return Created::yes;
}

// The read-only attribute stops fopen; it must stop the rename too.
bool may_write(const fs::path& p) { return _waccess(p.c_str(), 2) == 0; }

// MoveFileExW replaces the target in one step, as rename does on POSIX.
bool replace_file(const fs::path& temp, const fs::path& target)
{
    return MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

unsigned process_id() { return unsigned(_getpid()); }

#else

// A replaced file keeps its permission bits, and its owner and group where
// the system lets us give the file away: root can, others can keep the group
// where they belong to it, but the file becomes theirs. Set-id bits are
// dropped where the owner or group could not be kept.
void keep_owner_and_mode(int fd, const struct stat& old)
{
    mode_t mode = old.st_mode & 07777;
    if (old.st_uid == geteuid() && old.st_gid == getegid())
        return void(fchmod(fd, mode));
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        mode &= ~mode_t(S_ISUID | S_ISGID);
        if (fchown(fd, uid_t(-1), old.st_gid) != 0)
            mode &= ~mode_t(S_IRWXG) | ((mode & S_IRWXO) << 3); // no more to our group than to all
    }
    fchmod(fd, mode);
}

Created create_exclusive(const fs::path& temp, bool, const fs::path& target, bool replacing, std::FILE*& stream)
{
    struct stat old;
    if (replacing && stat(target.c_str(), &old) != 0)
        return Created::failed;
    // A new file gets 0666 less the umask, as from fopen; a file that replaces
    // another starts private and then takes the old file's mode.
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, replacing ? 0600 : 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            return Created::taken;
        return errno == EACCES || errno == EPERM ? Created::refused : Created::failed;
    }
    if (replacing)
        keep_owner_and_mode(fd, old);
    stream = fdopen(fd, "wb");
    if (!stream) {
        close(fd);
        unlink(temp.c_str());
        return Created::failed;
    }
    return Created::yes;
}

bool may_write(const fs::path& p) { return faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) == 0; }

bool replace_file(const fs::path& temp, const fs::path& target)
{
    return std::rename(temp.c_str(), target.c_str()) == 0;
}

unsigned process_id() { return unsigned(getpid()); }

#endif

// Follows symbolic links to the file they name, as fopen does, so that the
// temporary goes beside that file and the rename replaces it, not the link.
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

Created open_temporary(const fs::path& target, bool replacing, bool text, Output& out)
{
    uint64_t seed = mix(uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        (uint64_t(process_id()) << 32));
    for (int attempt = 0; attempt < 100; ++attempt, seed = mix(seed)) {
        char name[32];
        std::snprintf(name, sizeof name, ".vorne-%08x.tmp", unsigned(seed));
        const fs::path temp = target.parent_path() / name;
        std::FILE* stream = nullptr;
        const Created c = create_exclusive(temp, text, target, replacing, stream);
        if (c == Created::taken)
            continue;
        if (c == Created::yes) {
            out.stream = stream;
            out.target = target;
            out.temp = temp;
        }
        return c;
    }
    return Created::failed;
}

} // namespace

bool writes_to_standard_output(const char* path)
{
    return is_standard_stream_name(path) || is_standard_output_file(path_from_utf8(path));
}

bool open_output(const char* path, OutputMode mode, Output& out)
{
    discard_output(out);
    const bool text = mode == OutputMode::text;
    if (writes_to_standard_output(path)) {
        // The listing stays text on Windows, with CR LF like a listing file.
        if (!text)
            set_binary_mode(stdout);
        out.stream = stdout;
        out.standard = true;
        return true;
    }

    fs::path p = path_from_utf8(path);
    if (!resolve_links(p))
        return false;
    std::error_code ec;
    const fs::file_status st = fs::status(p, ec);
    const bool absent = st.type() == fs::file_type::not_found;
    if (absent || fs::is_regular_file(st)) {
        if (!absent && !may_write(p))
            return false;
        const Created c = open_temporary(p, !absent, text, out);
        if (c != Created::refused)
            return c == Created::yes;
    }
    // Devices, FIFOs, and a file in a folder that allows no new file: written
    // where they are. A folder or a path that cannot be reached fails here.
    out.stream = open_file(p, text ? "w" : "wb");
    return out.stream != nullptr;
}

bool finish_output(Output& out)
{
    if (!out.stream)
        return false;
    bool ok = std::fflush(out.stream) == 0 && !std::ferror(out.stream);
    if (out.standard) {
        out.stream = nullptr;
        return ok;
    }
    // Not synced: a conversion should cost what copying its files costs, and
    // an fsync of a 48 MiB BMP waits for the disk longer than the whole
    // conversion takes. A full disk shows at the write, the flush or the
    // close, and file systems such as ext4 write a file's data before a
    // rename that replaces another one.
    ok = std::fclose(out.stream) == 0 && ok;
    out.stream = nullptr;
    if (out.temp.empty())
        return ok;
    if (ok)
        ok = replace_file(out.temp, out.target);
    if (!ok)
        discard_output(out);
    out.temp.clear();
    out.target.clear();
    return ok;
}

void discard_output(Output& out)
{
    if (out.stream && !out.standard)
        std::fclose(out.stream);
    out.stream = nullptr;
    out.standard = false;
    if (!out.temp.empty()) {
        std::error_code ec;
        fs::remove(out.temp, ec);
    }
    out.temp.clear();
    out.target.clear();
}
