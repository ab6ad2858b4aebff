#include "imaging/depth_convert.h"

#include <utility>

#include "imaging/bitmap_store.h"
#include "imaging/colour_plan.h"

namespace imaging {

int ExpandToTrueColour(const ImgBitmap& in, ImgBitmap* out) {
  const int rc = AllocateBitmap(in.Width, in.Height, 24, out);
  if (rc != IMG_SUCCESS) return rc;
  out->SourceBitsPerPixel = in.SourceBitsPerPixel;
  for (int32_t y = 0; y < in.Height; ++y) {
    const uint8_t* p = in.Bits + static_cast<size_t>(y) * in.Stride;
    uint8_t* o = out->Bits + static_cast<size_t>(y) * out->Stride;
    for (int32_t x = 0; x < in.Width; ++x, o += 3) {
      const ImgRgbQuad& q = in.Palette[p[x] < in.PaletteCount ? p[x] : 0];
      o[0] = q.Blue, o[1] = q.Green, o[2] = q.Red;
    }
  }
  return IMG_SUCCESS;
}

int ReduceColours(const ImgBitmap& in, unsigned maxColours, ImgBitmap* out) {
  const ColourPlan plan(in, maxColours);
  const int rc = AllocateBitmap(in.Width, in.Height, 8, out);
  if (rc != IMG_SUCCESS) return rc;
  out->SourceBitsPerPixel = in.SourceBitsPerPixel;
  out->PaletteCount = static_cast<uint32_t>(plan.Palette().size());
  for (uint32_t i = 0; i < out->PaletteCount; ++i) out->Palette[i] = plan.Palette()[i];
  for (int32_t y = 0; y < in.Height; ++y)
    plan.MapRow(y, out->Bits + static_cast<size_t>(y) * out->Stride);
  return IMG_SUCCESS;
}

void SwapRedBlue(ImgBitmap* image) {
  for (int32_t y = 0; y < image->Height; ++y) {
    uint8_t* p = image->Bits + static_cast<size_t>(y) * image->Stride;
    for (int32_t x = 0; x < image->Width; ++x, p += 3) std::swap(p[0], p[2]);
  }
  image->ColorOrder = image->ColorOrder == IMG_ORDER_RGB ? IMG_ORDER_BGR : IMG_ORDER_RGB;
}

}  // namespace imaging
