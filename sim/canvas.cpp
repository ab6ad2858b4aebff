#include "canvas.h"

#include <algorithm>
#include <cstdlib>

namespace sim {

void Canvas::FillRect(int x, int y, int w, int h, std::uint8_t c) {
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = std::min(x + w, width), y1 = std::min(y + h, height);
  if (x1 <= x0) return;
  for (int yy = y0; yy < y1; ++yy) {
    std::fill(pixels.begin() + yy * width + x0, pixels.begin() + yy * width + x1, c);
  }
}

void Canvas::Line(int x0, int y0, int x1, int y1, std::uint8_t c, int dash) {
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (int step = 0;; ++step) {
    if (dash <= 0 || (step / dash) % 2 == 0) Set(x0, y0, c);
    if (x0 == x1 && y0 == y1) break;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

}  // namespace sim
