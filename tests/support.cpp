// Test support: literal pictures and their BMP bytes, screen files, scratch
// folders, and running the real programs with their output captured.
#include "support.hpp"

#include <algorithm>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <sys/wait.h>

#include "bench/photo.hpp"
#include "formats/le.hpp"

Picture make_picture(int w, int h, const std::function<Rgb(int x, int y)>& f)
{
    Picture p{w, h, std::vector<Rgb>(size_t(w) * size_t(h))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.at(x, y) = f(x, y);
    return p;
}

Bytes bmp_header(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t off_bits)
{
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b, 10, off_bits);
    put_le32(b, 14, 40);
    put_le32(b, 18, uint32_t(w));
    put_le32(b, 22, uint32_t(h));
    put_le16(b, 26, 1);
    put_le16(b, 28, bits);
    put_le32(b, 30, compression);
    return b;
}

Bytes make_bmp(const Picture& p, const BmpLayout& layout)
{
    const uint32_t masks = layout.compression == 3 && layout.info_size == 40 ? 12 : 0;
    const uint32_t off = 14 + layout.info_size + masks + layout.gap;
    const size_t stride = (3 * size_t(p.w) + 3) & ~size_t(3);
    Bytes b = bmp_header(p.w, layout.top_down ? -p.h : p.h, 24, layout.compression, off);
    b[0] = uint8_t(layout.signature[0]);
    b[1] = uint8_t(layout.signature[1]);
    put_le32(b, 14, layout.info_size);
    b.resize(off, 0xA5); // whatever fills the rest of a larger header or the gap
    if (layout.compression == 3)
        for (size_t i = 0; i < 3; ++i)
            put_le32(b, 14 + 40 + 4 * i, layout.masks[i]);
    if (layout.info_size == 12) {
        // OS/2 core header: 16-bit width, height, planes and bit count.
        put_le16(b, 18, uint16_t(p.w));
        put_le16(b, 20, uint16_t(p.h));
        put_le16(b, 22, 1);
        put_le16(b, 24, 24);
    }
    put_le32(b, 2, uint32_t(off + stride * size_t(p.h)));
    for (int i = 0; i < p.h; ++i) {
        const int y = layout.top_down ? i : p.h - 1 - i;
        for (int x = 0; x < p.w; ++x) {
            const Rgb c = p.at(x, y);
            b.insert(b.end(), {c.b, c.g, c.r});
        }
        b.resize(b.size() + stride - 3 * size_t(p.w), 0);
    }
    return b;
}

// One scratch folder per test process, since builds in several folders may run
// the suite at the same time; removed at the end when every test passed, kept
// for a look otherwise.
static std::filesystem::path process_scratch()
{
    return std::filesystem::temp_directory_path() / ("vorne-tests-" + std::to_string(getpid()));
}

namespace {
struct RemoveScratch : testing::Environment {
    void TearDown() override
    {
        std::error_code ec;
        if (testing::UnitTest::GetInstance()->Passed())
            std::filesystem::remove_all(process_scratch(), ec);
    }
};
[[maybe_unused]] testing::Environment* const remove_scratch = testing::AddGlobalTestEnvironment(new RemoveScratch);
} // namespace

std::filesystem::path scratch_dir()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    const auto dir = process_scratch() / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

Bytes read_file(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

void write_file(const std::filesystem::path& p, const Bytes& b)
{
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

static std::string slurp_and_remove(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(f)), {});
    f.close();
    std::filesystem::remove(p);
    return s;
}

RunResult run(const std::string& command)
{
    static int counter = 0;
    const auto base = std::filesystem::temp_directory_path() /
                      ("vorne-run-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    const auto out = base.string() + ".out", err = base.string() + ".err";
#ifdef VORNE_SANITIZED
    // A sanitizer report ends a program with status 1 by default, which is
    // encscreen's success: make it 86, which no program uses.
    const std::string env = "export ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=86:print_stacktrace=1 "
                            "TSAN_OPTIONS=exitcode=86:halt_on_error=1; ";
#else
    const std::string env;
#endif
    const std::string line = env + "{ " + command + " ; } >" + q(out) + " 2>" + q(err) + " </dev/null";
    const int raw = std::system(line.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp_and_remove(out);
    // The programs' diagnostic lines ("encscreen: NAME: REASON") are kept
    // apart from their messages, which the tests compare exactly.
    const std::string all = slurp_and_remove(err);
    for (size_t at = 0; at < all.size();) {
        const size_t end = std::min(all.find('\n', at), all.size() - 1) + 1;
        const std::string line = all.substr(at, end - at);
        const bool diagnostic = line.rfind("encscreen: ", 0) == 0 || line.rfind("encsprite: ", 0) == 0 ||
                                line.rfind("decscreen: ", 0) == 0;
        (diagnostic ? r.diagnostics : r.err) += line;
        at = end;
    }
    return r;
}

std::string q(const std::filesystem::path& p)
{
    std::string s = "'";
    for (char c : p.string()) {
        if (c == '\'')
            s += "'\\''";
        else
            s += c;
    }
    return s + "'";
}

std::string why_no_memory_limit()
{
#ifdef VORNE_SANITIZED
    return "AddressSanitizer reserves terabytes of address space: no program can start under prlimit --as";
#else
    return run("command -v prlimit && command -v timeout").status != 0 ? "prlimit or timeout not installed" : "";
#endif
}

bool have_imagemagick()
{
    return run("convert -version").out.find("ImageMagick") != std::string::npos;
}

Picture photo_picture(int w, int h)
{
    return make_picture(w, h, [&](int x, int y) {
        const PhotoPixel p = photo_pixel(uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h));
        return Rgb{p.r, p.g, p.b};
    });
}

Bytes make_scn(uint16_t w, uint16_t h, const std::function<uint8_t(size_t)>& fill)
{
    Bytes b = {0x53, 0x43, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0x10, 0, 0x02, 0};
    put_le16(b, 8, w);
    put_le16(b, 10, h);
    const size_t n = w >> 3;
    const size_t body = 2 * n * h + 4 * n * (h >> 3);
    for (size_t i = 0; i < body; ++i)
        b.push_back(fill(i));
    return b;
}

Rgb bmp_pixel(const Bytes& bmp, int x, int y)
{
    const int32_t w = int32_t(get_le32(bmp, 18)), h = int32_t(get_le32(bmp, 22));
    const size_t stride = (3 * size_t(w) + 3) & ~size_t(3);
    const size_t at = get_le32(bmp, 10) + size_t(h - 1 - y) * stride + 3 * size_t(x);
    return {bmp.at(at + 2), bmp.at(at + 1), bmp.at(at)};
}
