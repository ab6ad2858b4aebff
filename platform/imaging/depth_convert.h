// Changing the depth of a loaded image (load's bits-per-pixel argument).
#pragma once

#include "imaging/imaging.h"

namespace imaging {

// A 24-bit BGR copy of an 8-bit image.
int ExpandToTrueColour(const ImgBitmap& in, ImgBitmap* out);

// An 8-bit copy with at most maxColours palette entries.
int ReduceColours(const ImgBitmap& in, unsigned maxColours, ImgBitmap* out);

// Swaps the first and third byte of every 24-bit pixel.
void SwapRedBlue(ImgBitmap* image);

}  // namespace imaging
