// What a file holds, from its first bytes; see sniff.hpp.
#include "formats/sniff.hpp"

#include <cstring>

#include "io/files.hpp"
#include "formats/bmp.hpp"
#include "formats/le.hpp"
#include "formats/picture.hpp"
#include "formats/pngio.hpp"
#include "formats/scnfile.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool starts_with(std::span<const uint8_t> head, const char* s, size_t at = 0)
{
    const size_t n = std::strlen(s);
    return head.size() >= at + n && std::memcmp(head.data() + at, s, n) == 0;
}

// The first bytes of the picture formats that the programs do not read.
const char* foreign_picture(std::span<const uint8_t> head)
{
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return "a JPEG picture";
    if (starts_with(head, "GIF87a") || starts_with(head, "GIF89a"))
        return "a GIF picture";
    if (starts_with(head, "RIFF") && starts_with(head, "WEBP", 8))
        return "a WebP picture";
    if (head.size() >= 4 && (starts_with(head, "II*") || (starts_with(head, "MM") && head[2] == 0 && head[3] == '*')))
        return "a TIFF picture";
    if (starts_with(head, "qoif"))
        return "a QOI picture";
    if (starts_with(head, "P1") || starts_with(head, "P3") || starts_with(head, "P6"))
        return "a PNM picture";
    if (head.size() >= 12 && starts_with(head, "ftyp", 4))
        return "an HEIF or AVIF picture";
    return nullptr;
}

// The signature and constant words of the header encscreen writes.
bool has_screen_words(std::span<const uint8_t> head)
{
    static const uint8_t words[] = {0, 0, 0, 0, 0x10, 0};
    static const uint8_t tail[] = {0x10, 0, 2, 0};
    return head.size() >= 16 && starts_with(head, "SC") && std::memcmp(head.data() + 2, words, 6) == 0 &&
           std::memcmp(head.data() + 12, tail, 4) == 0;
}

} // namespace

FileKind kind_of(std::span<const uint8_t> head, uint64_t size)
{
    if (has_screen_words(head))
        return is_screen_file(head, size) ? FileKind::screen : FileKind::other;
    BmpHeader bmp;
    if (is_png_signature(head) || parse_bmp_header(head, true, bmp) == PictureError::ok || starts_with(head, "BM") ||
        foreign_picture(head))
        return FileKind::picture;
    return is_screen_file(head, size) ? FileKind::screen : FileKind::other;
}

std::FILE* open_regular_file(const char* path)
{
    if (!*path || is_standard_stream_name(path))
        return nullptr;
#ifdef _WIN32
    std::FILE* f = open_file(path_from_utf8(path), "rb");
    struct _stat64 st;
    if (f && (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)) {
        std::fclose(f);
        f = nullptr;
    }
    return f;
#else
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    std::FILE* f = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (!f)
        close(fd);
    return f;
#endif
}

FileKind kind_of_file(const char* path)
{
    std::FILE* f = open_regular_file(path);
    if (!f)
        return FileKind::other;
    const uint64_t size = examine_stream(f).size_left; // before stdio reads ahead
    uint8_t head[kSniffSize];
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return kind_of(std::span<const uint8_t>(head, got), size);
}

std::string describe_head(std::span<const uint8_t> head)
{
    if (head.empty())
        return "an empty file";
    if (is_png_signature(head))
        return "a PNG picture";
    if (starts_with(head, "BM") && head.size() >= 30) {
        const uint32_t info = get_le32(head, 14);
        const unsigned bits = info == 12 ? get_le16(head, 24) : get_le16(head, 28);
        const uint32_t compression = info == 12 || head.size() < 34 ? 0 : get_le32(head, 30);
        if (compression != 0 && compression != 3)
            return "a compressed BMP";
        if (bits <= 8)
            return "a BMP of " + std::to_string(bits) + (bits == 1 ? " bit" : " bits") + " a pixel with a palette";
        if (bits != 24)
            return "a BMP of " + std::to_string(bits) + " bits a pixel";
        if (compression == 3)
            return "a BMP of 24 bits a pixel with an unusual colour layout";
        return "a 24-bit BMP";
    }
    if (starts_with(head, "BM"))
        return "a BMP picture";
    if (has_screen_words(head) || starts_with(head, "SC"))
        return "a screen file";
    if (const char* what = foreign_picture(head))
        return what;
    return "not a picture";
}
