// The analyzer's display: what SAVDTIF saves.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "canvas.h"

namespace sim {

struct Rgb {
  std::uint8_t r, g, b;
};

// Palette index 0 and kBarBackground are background; every other index is ink.
enum PaletteIndex : std::uint8_t {
  kBackground = 0,
  kGrid,
  kBorder,
  kTrace1,
  kTrace2,
  kMarker1,
  kMarker2,
  kText,
  kBarBackground,
  kPaletteSize
};

const std::array<Rgb, kPaletteSize>& DisplayPalette();

// A spectrum display: grid of 10 x 8 divisions, a live trace and a max-hold trace, two
// markers and the annotation. The same arguments always give the same pixels.
Canvas RenderDisplay(int width, int height, const std::string& model);

}  // namespace sim
