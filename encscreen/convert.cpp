// encscreen's conversion: the walk over a picture being read, each symbol
// through the luminance quantizer.
#include "encscreen/quantize_luma.hpp"

PictureError encode_picture_luma(PictureStream& p, ScreenImage& s)
{
    return encode_picture(p, s, quantize_luma_bgr);
}

PictureError load_screen_luma(const char* path, ScreenImage& s, const ReadOptions& opt)
{
    return read_picture(path, [&](PictureStream& p) { return encode_picture_luma(p, s); }, opt);
}
