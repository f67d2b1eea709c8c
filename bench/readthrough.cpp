// readthrough: reads a picture through the programs' chain of line stages
// and does nothing with the lines, to time the reading and each stage apart
// from the conversion.
//
//   readthrough [encscreen's options] picture.bmp
//
// Plain, it is the floor of every conversion of that picture: the reader
// alone. With --fit 256x192 (and any adjustment) the same reading plus the
// stages, so the two side by side give what a stage costs.
#include <cstdio>
#include <vector>

#include "cli/options.hpp"
#include "pipeline/lines.hpp"

int main(int argc, char** argv)
{
    const CommandLine line = parse_command_line(kEncscreenBit, argc, argv);
    if (line.asks != CommandLine::convert || line.names.size() != 1) {
        std::fputs("Usage: readthrough [encscreen's options] <picture>\n", stderr);
        return 2;
    }
    unsigned sum = 0; // read back, so that no stage's work goes unused
    const PictureError e = read_through_chain(
        line.names[0],
        [&](const LineSource& src) {
            std::vector<uint8_t> buf(3 * size_t(src.width) * 8);
            for (uint32_t k = 0; k < src.height; k += 8) {
                const uint32_t n = src.height - k < 8 ? src.height - k : 8;
                if (const PictureError r = read_lines(src, buf.data(), 3 * size_t(src.width), n); r != PictureError::ok)
                    return r;
                sum += buf[0];
            }
            return finish_lines(src);
        },
        reading_options(line.options));
    if (e != PictureError::ok) {
        std::fputs("readthrough: the picture could not be read\n", stderr);
        return 1;
    }
    return sum == 1 ? 3 : 0;
}
