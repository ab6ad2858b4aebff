// How the pixels of a loaded image become palette indices at an output depth: an exact
// palette when the image has few enough colours, else the quantizer's.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/imaging.h"

namespace imaging {

// Colour to index for images of few colours: a small open-addressing table.
class ExactColours {
 public:
  // Collects the distinct colours of a 24-bit image in order of first appearance; false as
  // soon as there are more than maxColours.
  bool Collect(const ImgBitmap& image, unsigned maxColours);
  uint8_t IndexOf(uint32_t rgb) const;
  const std::vector<uint32_t>& Colours() const { return colours_; }

 private:
  static constexpr unsigned kSlots = 1024;  // at least four times 256, so probes stay short
  std::array<uint32_t, kSlots> keys_{};
  std::array<uint8_t, kSlots> values_{};
  std::vector<uint32_t> colours_;
  bool Insert(uint32_t rgb, unsigned maxColours);
};

class ColourPlan {
 public:
  // Plans the reduction of image to at most maxColours (2 to 256) palette entries.
  explicit ColourPlan(const ImgBitmap& image, unsigned maxColours);

  const std::vector<ImgRgbQuad>& Palette() const { return palette_; }
  // Output indices of row y of the image (Width entries).
  void MapRow(int32_t y, uint8_t* out) const;

 private:
  enum class Kind { kRemap, kExact, kCells };
  const ImgBitmap& image_;
  Kind kind_ = Kind::kRemap;
  std::vector<ImgRgbQuad> palette_;
  std::array<uint8_t, 256> remap_{};
  ExactColours exact_;
  std::vector<uint8_t> cellIndex_;
};

}  // namespace imaging
