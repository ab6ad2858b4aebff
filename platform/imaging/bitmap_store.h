// Pixel memory of loaded bitmaps. Every block handed out is recorded, so that save and free
// can tell a loaded handle from one that was never loaded, freed already or overwritten.
#pragma once

#include <cstdint>

#include "imaging/imaging.h"

namespace imaging {

// Checks the size limit and allocates pixel memory for a width x height image of bpp (8 or
// 24) bits; fills the geometry fields of *out (palette empty, order BGR). Returns
// IMG_SUCCESS or a failure code with its detail.
int AllocateBitmap(int64_t width, int64_t height, int bpp, ImgBitmap* out);

// Releases the pixel memory of a bitmap made by AllocateBitmap and empties it.
void ReleaseBitmap(ImgBitmap* bitmap);

// True when bitmap holds a live image whose fields match its allocation.
bool IsLoaded(const ImgBitmap* bitmap);

// An empty handle: no pixels, nothing to free.
void ClearBitmap(ImgBitmap* bitmap);

uint64_t MaxPixels();

}  // namespace imaging
