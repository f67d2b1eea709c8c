// Test support: pictures made from literal pixels, BMP files in the header
// variants real writers produce, scratch files and running the real programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// A picture as a person sees it: pixel (x, y) with y = 0 the top line.
struct Picture {
    int w = 0, h = 0;
    std::vector<Rgb> px;
    Rgb& at(int x, int y) { return px[size_t(y) * size_t(w) + size_t(x)]; }
    Rgb at(int x, int y) const { return px[size_t(y) * size_t(w) + size_t(x)]; }
};

Picture make_picture(int w, int h, const std::function<Rgb(int x, int y)>& f);

// The benchmarks' photo-like picture.
Picture photo_picture(int w, int h);

// How a BMP writer lays out the same picture.
struct BmpLayout {
    uint32_t info_size = 40;  // 40, 108 or 124; 12 for an OS/2 core header
    uint32_t gap = 0;         // extra bytes between the headers and the pixels
    bool top_down = false;    // negative biHeight, top line first
    uint32_t compression = 0; // 0 = BI_RGB, 3 = BI_BITFIELDS (masks then follow a 40-byte header)
    char signature[2] = {'B', 'M'};
    uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF}; // red, green, blue, with compression 3
};

Bytes make_bmp(const Picture& p, const BmpLayout& layout = {});

// A 54-byte header alone, claiming the given dimensions.
Bytes bmp_header(int32_t w, int32_t h, uint16_t bits = 24, uint32_t compression = 0, uint32_t off_bits = 54);

// Scratch folder, new for each test.
std::filesystem::path scratch_dir();

Bytes read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const Bytes& b);

struct RunResult {
    int status = -1;
    std::string out, err;
    std::string diagnostics; // the programs' "PROG: NAME: REASON" lines, taken out of err
};

// Runs a shell command line with its standard output and error captured.
RunResult run(const std::string& command);

// Quotes a path for the shell.
std::string q(const std::filesystem::path& p);

// Why the programs cannot be run under `timeout` and `prlimit --as` here, or
// an empty string when they can.
std::string why_no_memory_limit();

// True when a real ImageMagick `convert` is on the PATH.
bool have_imagemagick();

// A screen file with the given header size fields and body bytes made by `fill`
// (called with the byte's index in the body, after the 16-byte header).
Bytes make_scn(uint16_t w, uint16_t h, const std::function<uint8_t(size_t)>& fill);

// Pixel (x, y), y = 0 the top line, of an uncompressed 24-bit BMP in bytes.
Rgb bmp_pixel(const Bytes& bmp, int x, int y);
