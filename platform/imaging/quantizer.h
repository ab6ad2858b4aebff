// Colour reduction for images with more colours than the output palette holds.
//
// Pixels are counted into a 5-6-5 bit histogram that also sums the exact colours of each
// cell; the cells' mean colours seed a variance-driven median cut, which a few weighted
// k-means rounds then refine. Each cell maps to its nearest palette entry, so mapping a
// pixel is a single table lookup. No dithering: it costs fidelity (PSNR) and time.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/imaging.h"

namespace imaging {

// A colour with a weight (how many pixels it stands for).
struct WeightedColour {
  float r, g, b;
  float weight;
};

// Chooses at most maxColours palette entries for the points and assigns each point the
// index of its nearest entry. palette receives the entries (fewer if there are fewer
// distinct points).
void ChoosePalette(const std::vector<WeightedColour>& points, unsigned maxColours,
                   std::vector<ImgRgbQuad>& palette, std::vector<uint8_t>& assignment);

// Histogram cell of a colour.
constexpr unsigned kCellCount = 1u << 16;
inline unsigned CellOf(unsigned r, unsigned g, unsigned b) {
  return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
}

// Reduces a 24-bit image: fills palette and a per-cell lookup table (kCellCount entries)
// giving each cell's palette index.
void QuantizeImage(const ImgBitmap& image, unsigned maxColours, std::vector<ImgRgbQuad>& palette,
                   std::vector<uint8_t>& cellIndex);

}  // namespace imaging
