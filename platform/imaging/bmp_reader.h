// Decoding Windows bitmap files: 1, 4, 8 bits with a palette, 16, 24 and 32 bits.
#pragma once

#include "imaging/imaging.h"

namespace imaging {

// Reads the bitmap open on fd (which it closes) wholly into *out. On failure *out is
// untouched.
int ReadBmp(int fd, ImgBitmap* out);

}  // namespace imaging
