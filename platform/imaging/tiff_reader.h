// Decoding the first image of a TIFF file through libtiff.
#pragma once

#include "imaging/imaging.h"

namespace imaging {

// Reads the whole first image of the TIFF open on fd (which it takes over and closes) into
// *out as 8-bit indexed or 24-bit BGR pixels. On failure *out is untouched.
int ReadTiff(int fd, const char* name, ImgBitmap* out);

}  // namespace imaging
