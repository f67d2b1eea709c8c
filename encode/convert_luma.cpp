// encscreen's conversion: the walk over a picture being read, each symbol
// through the luminance quantizer.
#include "encode/quantize_luma.hpp"

PictureError encode_picture_luma(const LineSource& src, ScreenImage& s)
{
    return encode_picture(src, s, quantize_luma_bgr);
}

PictureError load_screen_luma(const char* path, ScreenImage& s, const ReadOptions& opt)
{
    return read_through_chain(path, [&](const LineSource& src) { return encode_picture_luma(src, s); }, opt);
}
