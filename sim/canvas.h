// An indexed-colour drawing surface: one palette index per pixel.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

struct Canvas {
  Canvas(int w, int h, std::uint8_t fill) : width(w), height(h), pixels(w * h, fill) {}

  void Set(int x, int y, std::uint8_t c) {
    if (x >= 0 && y >= 0 && x < width && y < height) pixels[y * width + x] = c;
  }
  std::uint8_t At(int x, int y) const { return pixels[y * width + x]; }
  void FillRect(int x, int y, int w, int h, std::uint8_t c);
  // Bresenham line; with dash > 0 draws dash pixels on, dash pixels off.
  void Line(int x0, int y0, int x1, int y1, std::uint8_t c, int dash = 0);

  int width;
  int height;
  std::vector<std::uint8_t> pixels;
};

// Draws text in the built-in 5x7 font, scale pixels per font dot; a cell is 6x8 dots.
// Letters are drawn in upper case; characters the font lacks show as a box.
void DrawText(Canvas& canvas, int x, int y, const char* text, std::uint8_t colour, int scale);
inline int TextWidth(const char* text, int scale) {
  int n = 0;
  while (text[n]) ++n;
  return n * 6 * scale;
}

}  // namespace sim
