// Telling a preview that decscreen wrote from a user's picture: decscreen
// replaces its own previews, as `decscreen a.scn a.png` run again expects,
// and keeps every other picture unless told --force.
//
// - A PNG of decscreen's has the "Software" text kPreviewSoftware right
//   after its IHDR, where decscreen's writer puts it.
// - decscreen's BMPs carry no mark, so a BMP is one of them when it has
//   exactly the 54 bytes of headers decscreen writes for its size, exactly
//   the length they give, and every pixel in a screen colour as decscreen
//   expands it (blue a multiple of 84, green and red of 36), every line's
//   padding zero. A photograph or a drawing saved as BMP fails that within
//   a few pixels; the whole file is read, a block at a time, only for a
//   header that matches.
#pragma once

// True when `path` is a regular file that decscreen wrote (see above).
bool is_own_preview(const char* path);
