// The command line and the output, run as a user would: argument counts,
// standard streams, and outputs that are replaced whole or not at all, on a
// full disk, under a race, through links, in read-only folders and when
// memory runs out.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "formats/le.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

namespace {

struct Program {
    const char* name;
    std::string exe; // quoted for the shell
    int success, failure;
    const char* out_word; // the word its messages use for its output
    const char* usage;
    Bytes small, large;   // two inputs whose outputs differ; large's is over 64 KiB
    Bytes large2;         // another, whose output takes as long to write as large's
};

Picture gradient(int w, int h, int seed)
{
    return make_picture(w, h, [seed](int x, int y) {
        return Rgb{uint8_t(x * 3 + seed), uint8_t(y * 5 + x), uint8_t((x ^ y) + seed * 7)};
    });
}

Bytes scn_of(uint16_t w, uint16_t h, int seed)
{
    return make_scn(w, h, [seed](size_t i) { return uint8_t(i * 37 + size_t(seed)); });
}

const std::vector<Program>& programs()
{
    static const std::vector<Program> all = {
        {"encscreen", q(ENCSCREEN_EXE), 1, 0, "scnfile", "Usage: encscreen <>.bmp <>.scn \n\a",
         make_bmp(gradient(16, 8, 1)), make_bmp(gradient(512, 512, 2)), make_bmp(gradient(512, 512, 3))},
        {"encsprite", q(ENCSPRITE_EXE), 0, 1, "sprfile", "Usage: encsprite <>.bmp <>.txt \n\a",
         make_bmp(gradient(16, 8, 1)), make_bmp(gradient(256, 256, 2)), make_bmp(gradient(256, 256, 3))},
        {"decscreen", q(DECSCREEN_EXE), 0, 1, "bmpfile", "Usage: decscreen <>.scn <>.bmp \n\a", scn_of(16, 8, 1),
         scn_of(1024, 1024, 2), scn_of(1024, 1024, 3)},
    };
    return all;
}

// Every file in a folder, so that a leftover temporary shows.
std::vector<std::string> listing(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The output of `input` through the program, written to a file as usual.
Bytes converted(const Program& p, const fs::path& dir, const Bytes& input, const char* name)
{
    write_file(dir / (std::string(name) + ".in"), input);
    const fs::path out = dir / (std::string(p.name) + "." + name + ".out");
    EXPECT_EQ(run(p.exe + " " + q(dir / (std::string(name) + ".in")) + " " + q(out)).status, p.success) << p.name;
    return read_file(out);
}

} // namespace

TEST(Output, ArgumentCounts)
{
    const fs::path dir = scratch_dir();
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.name);
        // A glob that matched three files must not overwrite the second.
        write_file(dir / "a", p.small);
        write_file(dir / "b", p.small);
        const struct {
            const char* args;
            std::string out;
            int status;
        } cases[] = {
            {"", p.usage, p.failure},
            {"a", p.usage, p.failure},
            {"a b c", p.usage, p.failure},
            {"a b c d", p.usage, p.failure},
            {"-h", "help", p.success},
            {"--help", "help", p.success},
            {"--help a b", "help", p.success},
            {"--version", std::string(p.name) + " " + VORNE_VERSION + "\n", p.success},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.args);
            const RunResult r = run("cd " + q(dir) + " && " + p.exe + " " + c.args);
            EXPECT_EQ(r.status, c.status);
            if (c.out == "help")
                EXPECT_EQ(r.out.rfind(std::string("Usage: ") + p.name + " [OPTIONS] ", 0), 0u) << r.out;
            else
                EXPECT_EQ(r.out, c.out);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(read_file(dir / "b"), p.small);
            EXPECT_EQ(listing(dir), (std::vector<std::string>{"a", "b"}));
        }
    }
}

TEST(Output, StandardStreams)
{
    const fs::path dir = scratch_dir();
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.name);
        const Bytes want = converted(p, dir, p.small, "small");
        const Bytes other = converted(p, dir, p.large, "large");
        write_file(dir / "-", p.small);
        const std::string in = q(dir / "small.in"), cd = "cd " + q(dir) + " && ";
        const std::string missing = std::string(p.out_word == std::string("bmpfile") ? "scnfile" : "bmpfile") +
                                    " was not opened\n";
        const struct {
            const char* name;
            std::string command, out_file; // out_file: where the data should be, else standard output
            Bytes data;
            std::string err;
            int status;
        } cases[] = {
            {"- in, - out", p.exe + " - - < " + in, "", want, "", p.success},
            {"- in from a pipe", "cat " + in + " | " + p.exe + " - " + q(dir / "o"), "o", want, "", p.success},
            {"/dev/stdout", p.exe + " " + in + " /dev/stdout", "", want, "", p.success},
            {"two runs appended to one standard output",
             "{ " + p.exe + " " + in + " /dev/stdout; " + p.exe + " " + q(dir / "large.in") + " /dev/stdout; } > " +
                 q(dir / "both"),
             "both", [&] { Bytes b = want; b.insert(b.end(), other.begin(), other.end()); return b; }(), "",
             p.success},
            {"an input named - is ./-", cd + p.exe + " ./- o", "o", want, "", p.success},
            {"an output named - is ./-", cd + p.exe + " --force small.in ./-", "-", want, "", p.success},
            {"message on standard error when the data goes to -", p.exe + " " + q(dir / "none") + " -", "", {},
             missing, p.failure},
            {"same for /dev/stdout", p.exe + " " + q(dir / "none") + " /dev/stdout", "", {}, missing, p.failure},
            {"message stays on standard output otherwise", p.exe + " " + q(dir / "none") + " " + q(dir / "o2"), "",
             Bytes(missing.begin(), missing.end()), "", p.failure},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const RunResult r = run(c.command);
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(r.err, c.err);
            if (c.out_file.empty()) {
                EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), c.data);
            } else {
                EXPECT_EQ(r.out, "");
                EXPECT_EQ(read_file(dir / c.out_file), c.data);
            }
        }
        EXPECT_FALSE(fs::exists(dir / "o2"));
        for (const char* f : {"-", "o", "both"})
            fs::remove(dir / f);
    }
}

// An output of more than 8 MiB is handed to the disk on the way, every 8 MiB:
// it must still arrive whole, in a new file, after what a redirected
// standard output already holds, and through a pipe.
TEST(Output, BigOutputsArriveWhole)
{
    const fs::path dir = scratch_dir();
    for (const Program& p : programs()) {
        if (p.name == std::string("encscreen"))
            continue; // its screen file is a ninth of the picture
        SCOPED_TRACE(p.name);
        const Bytes big = p.name == std::string("decscreen") ? scn_of(2048, 1536, 4)
                                                              : make_bmp(gradient(2048, 2048, 4));
        const Bytes want = converted(p, dir, big, "big"), first = converted(p, dir, p.small, "small");
        ASSERT_GT(want.size(), size_t(8) << 20);
        const std::string in = q(dir / "big.in");
        EXPECT_EQ(run("{ " + p.exe + " " + q(dir / "small.in") + " /dev/stdout; " + p.exe + " " + in +
                      " /dev/stdout; } > " + q(dir / "both"))
                      .status,
                  p.success);
        Bytes both = first;
        both.insert(both.end(), want.begin(), want.end());
        EXPECT_TRUE(read_file(dir / "both") == both);
        const RunResult piped = run(p.exe + " " + in + " - | cat");
        EXPECT_TRUE(Bytes(piped.out.begin(), piped.out.end()) == want);
    }
}

// Mounts a small tmpfs, so that a disk fills up; unmounted at the end.
struct SmallDisk {
    fs::path dir;
    bool mounted = false;
    explicit SmallDisk(const fs::path& at) : dir(at)
    {
        fs::create_directories(dir);
        mounted = run("mount -t tmpfs -o size=64k tmpfs " + q(dir)).status == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            run("umount " + q(dir));
    }
};

TEST(Output, FullDiskKeepsTheOldFile)
{
    const fs::path dir = scratch_dir();
    SmallDisk disk(dir / "disk");
    if (!disk.mounted)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and a system that allows it)";
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.name);
        const Bytes old = converted(p, dir, p.small, "small");
        write_file(dir / "large.in", p.large);
        const fs::path out = disk.dir / "out";
        for (const std::string& in : {q(dir / "large.in"), "- < " + q(dir / "large.in")}) {
            SCOPED_TRACE(in);
            write_file(out, old);
            const RunResult r = run(p.exe + " " + in + " " + q(out));
            EXPECT_EQ(r.status, p.failure);
            EXPECT_EQ(r.out, std::string(p.out_word) + " was not written\n");
            EXPECT_EQ(read_file(out), old);
            EXPECT_EQ(listing(disk.dir), (std::vector<std::string>{"out"}));
        }
        fs::remove(out);
        // With no old file, a failure leaves no file at all.
        EXPECT_EQ(run(p.exe + " " + q(dir / "large.in") + " " + q(out)).status, p.failure);
        EXPECT_TRUE(fs::is_empty(disk.dir));
    }
}

TEST(Output, RacingRunsLeaveOneWholeOutput)
{
    const fs::path dir = scratch_dir();
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.name);
        // Outputs of one size, written at the same pace, overlap the most.
        const Bytes a = converted(p, dir, p.large, "a"), b = converted(p, dir, p.large2, "b");
        const fs::path out = dir / "race" / p.name / "out";
        fs::create_directories(out.parent_path());
        for (int i = 0; i < 5; ++i) {
            const RunResult r = run(p.exe + " " + q(dir / "a.in") + " " + q(out) + " & " + p.exe + " " +
                                    q(dir / "b.in") + " " + q(out) + " & wait");
            EXPECT_EQ(r.out + r.err, "");
            const Bytes got = read_file(out);
            EXPECT_TRUE(got == a || got == b) << "a mixed output of " << got.size() << " bytes";
            EXPECT_EQ(listing(out.parent_path()), (std::vector<std::string>{"out"}));
        }
    }
}

TEST(Output, LinksPermissionsAndFolders)
{
    const fs::path dir = scratch_dir();
    // Open to all, for the unprivileged user below.
    fs::permissions(dir, fs::perms::all);
    const Program& p = programs()[0];
    const Bytes want = converted(p, dir, p.small, "small"), old = {'o', 'l', 'd'};
    const std::string in = q(dir / "small.in");
    fs::permissions(dir / "small.in", fs::perms::all);

    // Through a relative link into another folder: the file there is
    // replaced, the link stays a link, and no folder keeps a temporary.
    fs::create_directories(dir / "real");
    write_file(dir / "real" / "target", old);
    fs::create_symlink("real/target", dir / "link");
    EXPECT_EQ(run(p.exe + " " + in + " " + q(dir / "link")).status, p.success);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "link")));
    EXPECT_EQ(read_file(dir / "real" / "target"), want);
    EXPECT_EQ(listing(dir / "real"), (std::vector<std::string>{"target"}));

    // Permission bits: a replaced file keeps its own, a new one gets the umask's.
    write_file(dir / "mode", old);
    fs::permissions(dir / "mode", fs::perms(0604));
    EXPECT_EQ(run(p.exe + " " + in + " " + q(dir / "mode")).status, p.success);
    EXPECT_EQ(fs::status(dir / "mode").permissions(), fs::perms(0604));
    EXPECT_EQ(run("umask 027 && " + p.exe + " " + in + " " + q(dir / "new")).status, p.success);
    EXPECT_EQ(fs::status(dir / "new").permissions(), fs::perms(0640));
    // Root replacing another user's file gives it back to that user.
    struct stat st;
    if (geteuid() == 0 && chown((dir / "mode").c_str(), 65534, 65534) == 0) {
        EXPECT_EQ(run(p.exe + " " + in + " " + q(dir / "mode")).status, p.success);
        ASSERT_EQ(stat((dir / "mode").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, 0604u);
    }

    // A folder that allows no new file, with a file in it that may be
    // written: written in place. Root may always create files, so this runs
    // as an unprivileged user, with a copy of the program it can reach.
    std::string as_user, exe = p.exe;
    if (geteuid() == 0) {
        if (run("command -v setpriv").status != 0)
            GTEST_SKIP() << "running as root without setpriv: a read-only folder cannot be tested";
        as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        fs::copy_file(ENCSCREEN_EXE, dir / "encscreen");
        exe = q(dir / "encscreen");
        if (run(as_user + "test -x " + exe).status != 0)
            GTEST_SKIP() << "user 65534 cannot reach " << dir;
    }
    const fs::path ro = dir / "read-only";
    fs::create_directories(ro);
    write_file(ro / "out", old);
    fs::permissions(ro / "out", fs::perms(0666));
    fs::permissions(ro, fs::perms(0555));
    const RunResult r = run(as_user + exe + " " + in + " " + q(ro / "out"));
    EXPECT_EQ(r.status, p.success);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(ro / "out"), want);
    // A new file there is refused as before.
    EXPECT_EQ(run(as_user + exe + " " + in + " " + q(ro / "new")).out, "scnfile was not opened\n");
    EXPECT_EQ(listing(ro), (std::vector<std::string>{"out"}));
    fs::permissions(ro, fs::perms::all);
}

TEST(Output, OutOfMemoryEndsWithAMessage)
{
    if (const std::string why = why_no_memory_limit(); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = scratch_dir();
    // Valid headers whose data would need far more than 128 MiB, followed by
    // zeros (which are valid pixels and codes): as a sparse file of the full
    // size, through a pipe, and endlessly from /dev/zero.
    write_file(dir / "big.bmp", bmp_header(65528, 65528));
    fs::resize_file(dir / "big.bmp", 54 + 3ull * 65528 * 65528);
    Bytes scn = make_scn(0, 0, [](size_t) { return 0; });
    put_le16(scn, 8, 32768); // 320 MiB of raster and attributes, a BMP of 3 GiB
    put_le16(scn, 10, 32768);
    write_file(dir / "big.scn", scn);
    fs::resize_file(dir / "big.scn", 16 + 2ull * 4096 * 32768 + 4ull * 4096 * 4096);
    const std::string limit = "timeout 120 prlimit --as=134217728 ";
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.name);
        const fs::path big = dir / (p.name == std::string("decscreen") ? "big.scn" : "big.bmp");
        const fs::path out = dir / "out" / "picture";
        fs::create_directories(out.parent_path());
        std::vector<std::pair<const char*, std::string>> feeds = {
            {"pipe", "cat " + q(big) + " | " + limit + p.exe + " - " + q(out)},
            {"endless", "{ head -c 16 " + q(big) + "; cat /dev/zero; } | " + limit + p.exe + " - " + q(out)},
        };
        if (p.name != std::string("decscreen")) {
            // From a regular file decscreen could seek instead of holding it all.
            feeds.push_back({"file", limit + p.exe + " " + q(big) + " " + q(out)});
            feeds[1].second = "{ head -c 54 " + q(big) + "; cat /dev/zero; } | " + limit + p.exe + " - " + q(out);
        }
        for (const auto& [name, command] : feeds) {
            SCOPED_TRACE(name);
            const RunResult r = run(command);
            EXPECT_EQ(r.status, p.failure);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "not enough memory\n");
            EXPECT_TRUE(fs::is_empty(out.parent_path()));
        }
    }
}

// The kernel's protections of shared sticky folders, as Debian sets them
// (fs.protected_symlinks=1, fs.protected_regular=2): where the shell's `>`
// is refused, each program is refused too and touches nothing. The settings
// are system-wide: this test runs alone (see tests/CMakeLists.txt) and puts
// them back as they were.
TEST(SystemWide, LinkProtectionsInStickyFoldersHold)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to change fs.protected_* and to act as another user";
    if (run("command -v setpriv && command -v sysctl").status != 0)
        GTEST_SKIP() << "setpriv or sysctl not installed";
    const RunResult before = run("sysctl -n fs.protected_symlinks fs.protected_regular");
    if (before.status != 0 || run("sysctl -qw fs.protected_symlinks=1 fs.protected_regular=2").status != 0)
        GTEST_SKIP() << "cannot set fs.protected_symlinks and fs.protected_regular here";
    std::istringstream was(before.out);
    int symlinks = 0, regular = 0;
    was >> symlinks >> regular;
    struct Restore {
        int s, r;
        ~Restore() { run("sysctl -qw fs.protected_symlinks=" + std::to_string(s) + " fs.protected_regular=" + std::to_string(r)); }
    } restore{symlinks, regular};

    const fs::path dir = scratch_dir();
    const fs::path shared = dir / "shared", outside = dir / "outside";
    fs::create_directories(shared);
    fs::permissions(dir, fs::perms::all);
    fs::permissions(shared, fs::perms(01777));
    const Bytes secret = {'k', 'e', 'e', 'p'};
    write_file(outside, secret);
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    ASSERT_EQ(run(nobody + "ln -s " + q(outside) + " " + q(shared / "link")).status, 0);
    ASSERT_EQ(run(nobody + "sh -c 'echo theirs > " + shared.string() + "/theirs'").status, 0);
    ASSERT_NE(run("echo x > " + q(shared / "link")).status, 0) << "the shell was not refused";

    for (const Program& p : programs()) {
        SCOPED_TRACE(p.name);
        write_file(dir / "in", p.small);
        for (const char* name : {"link", "theirs"}) {
            SCOPED_TRACE(name);
            const RunResult r = run(p.exe + " " + q(dir / "in") + " " + q(shared / name));
            EXPECT_EQ(r.status, p.failure);
            EXPECT_EQ(r.out, std::string(p.out_word) + " was not opened\n");
        }
        EXPECT_EQ(read_file(outside), secret);
        EXPECT_EQ(read_file(shared / "theirs"), (Bytes{'t', 'h', 'e', 'i', 'r', 's', '\n'}));
        EXPECT_EQ(listing(shared), (std::vector<std::string>{"link", "theirs"}));
        // Root's own new file there is written as ever.
        EXPECT_EQ(run(p.exe + " " + q(dir / "in") + " " + q(shared / "mine")).status, p.success);
        fs::remove(shared / "mine");
    }
}

// Every name of an open descriptor writes through it, whatever its spelling:
// a log appended with `2>>log` or `3>>log` keeps its lines, and the output
// follows them.
TEST(Output, NamesOfADescriptorWriteThroughIt)
{
    const fs::path dir = scratch_dir();
    const std::string cd = "cd " + q(dir) + " && ";
    fs::create_symlink("/dev/fd/3", dir / "to-fd3");
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.name);
        const Bytes want = converted(p, dir, p.small, "small");
        const std::string prog = p.exe + " small.in ";
        const struct {
            const char* what;
            std::string command;
        } cases[] = {
            {"/dev/stderr", prog + "/dev/stderr 2>>log"},
            {"/dev/fd/3", prog + "/dev/fd/3 3>>log"},
            {"//dev/fd/3", prog + "//dev/fd/3 3>>log"},
            {"/proc/<pid>/fd/3 of the shell that started it", "sh -c 'exec 3>>log; " + prog + "/proc/$$/fd/3'"},
            {"/proc/self/fd/2", prog + "/proc/self/fd/2 2>>log"},
            {"/dev/stdout", prog + "/dev/stdout >>log"},
            {"a link to /dev/fd/3", prog + "to-fd3 3>>log"},
            {"the file's own name", prog + "log 3>>log"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            write_file(dir / "log", {'l', 'o', 'g', '\n'});
            const RunResult r = run(cd + c.command);
            EXPECT_EQ(r.status, p.success) << r.out << r.err << r.diagnostics;
            const std::string log = "log\n" + std::string(want.begin(), want.end());
            EXPECT_EQ(read_file(dir / "log"), Bytes(log.begin(), log.end()));
        }
        // A descriptor at its position rather than appending: after what was
        // written through it, over what follows.
        write_file(dir / "log", Bytes(want.size() + 10, 'x'));
        EXPECT_EQ(run(cd + "sh -c 'exec 3<>log; printf ab >&3; " + prog + "/dev/fd/3'").status, p.success);
        const std::string at = "ab" + std::string(want.begin(), want.end()) + std::string(8, 'x');
        EXPECT_EQ(read_file(dir / "log"), Bytes(at.begin(), at.end()));
    }
}
