// Encoding a loaded image as a Windows bitmap file (file header, 40-byte info header,
// palette, rows bottom-up padded to four bytes).
#pragma once

#include "imaging/imaging.h"

namespace imaging {

// Writes image to fd at 1, 4, 8 or 24 bits per pixel, reducing colours as needed.
int WriteBmp(int fd, const ImgBitmap& image, int bpp);

}  // namespace imaging
