#include "imaging/colour_plan.h"

#include "imaging/quantizer.h"

namespace imaging {
namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFFu;

uint32_t Key(const ImgRgbQuad& q) { return (uint32_t{q.Red} << 16) | (q.Green << 8) | q.Blue; }

ImgRgbQuad FromKey(uint32_t k) {
  return ImgRgbQuad{static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                    static_cast<uint8_t>(k >> 16), 0};
}

unsigned Slot(uint32_t rgb) { return (rgb * 2654435761u) >> 22; }  // top 10 bits

// Reads the 24-bit pixel at p as 0xRRGGBB.
inline uint32_t PixelKey(const uint8_t* p, bool bgr) {
  return bgr ? (uint32_t{p[2]} << 16) | (p[1] << 8) | p[0]
             : (uint32_t{p[0]} << 16) | (p[1] << 8) | p[2];
}

}  // namespace

bool ExactColours::Insert(uint32_t rgb, unsigned maxColours) {
  for (unsigned s = Slot(rgb);; s = (s + 1) % kSlots) {
    if (keys_[s] == rgb) return true;
    if (keys_[s] == kEmpty) {
      if (colours_.size() >= maxColours) return false;
      keys_[s] = rgb;
      values_[s] = static_cast<uint8_t>(colours_.size());
      colours_.push_back(rgb);
      return true;
    }
  }
}

bool ExactColours::Collect(const ImgBitmap& image, unsigned maxColours) {
  keys_.fill(kEmpty);
  colours_.clear();
  const bool bgr = image.ColorOrder != IMG_ORDER_RGB;
  uint32_t last = kEmpty;
  for (int32_t y = 0; y < image.Height; ++y) {
    const uint8_t* p = image.Bits + static_cast<size_t>(y) * image.Stride;
    for (int32_t x = 0; x < image.Width; ++x, p += 3) {
      const uint32_t k = PixelKey(p, bgr);
      if (k == last) continue;
      last = k;
      if (!Insert(k, maxColours)) return false;
    }
  }
  return true;
}

uint8_t ExactColours::IndexOf(uint32_t rgb) const {
  for (unsigned s = Slot(rgb);; s = (s + 1) % kSlots)
    if (keys_[s] == rgb || keys_[s] == kEmpty) return values_[s];
}

ColourPlan::ColourPlan(const ImgBitmap& image, unsigned maxColours) : image_(image) {
  if (image.BitsPerPixel == 8) {
    // Which palette entries are used, and how often.
    std::array<uint64_t, 256> count{};
    for (int32_t y = 0; y < image.Height; ++y) {
      const uint8_t* p = image.Bits + static_cast<size_t>(y) * image.Stride;
      for (int32_t x = 0; x < image.Width; ++x) ++count[p[x]];
    }
    // Indices past the palette (a damaged handle) read as its first entry.
    const unsigned n = image.PaletteCount;
    for (unsigned i = n; i < 256; ++i) count[0] += count[i], count[i] = 0;
    // Distinct colours among the used entries, in index order.
    std::vector<uint32_t> colours;
    std::vector<uint64_t> weights;
    std::array<uint8_t, 256> colourOf{};
    for (unsigned i = 0; i < n; ++i) {
      if (!count[i]) continue;
      const uint32_t k = Key(image.Palette[i]);
      size_t c = 0;
      while (c < colours.size() && colours[c] != k) ++c;
      if (c == colours.size()) colours.push_back(k), weights.push_back(0);
      weights[c] += count[i];
      colourOf[i] = static_cast<uint8_t>(c);
    }
    if (colours.size() <= maxColours) {
      for (uint32_t k : colours) palette_.push_back(FromKey(k));
      for (unsigned i = 0; i < 256; ++i) remap_[i] = i < n ? colourOf[i] : colourOf[0];
      return;
    }
    std::vector<WeightedColour> points;
    for (size_t c = 0; c < colours.size(); ++c) {
      const ImgRgbQuad q = FromKey(colours[c]);
      points.push_back(WeightedColour{float(q.Red), float(q.Green), float(q.Blue),
                                      static_cast<float>(weights[c])});
    }
    std::vector<uint8_t> assignment;
    ChoosePalette(points, maxColours, palette_, assignment);
    for (unsigned i = 0; i < 256; ++i) remap_[i] = assignment[i < n ? colourOf[i] : colourOf[0]];
    return;
  }
  if (exact_.Collect(image, maxColours)) {
    kind_ = Kind::kExact;
    for (uint32_t k : exact_.Colours()) palette_.push_back(FromKey(k));
    return;
  }
  kind_ = Kind::kCells;
  QuantizeImage(image, maxColours, palette_, cellIndex_);
}

void ColourPlan::MapRow(int32_t y, uint8_t* out) const {
  const uint8_t* p = image_.Bits + static_cast<size_t>(y) * image_.Stride;
  const int32_t w = image_.Width;
  switch (kind_) {
    case Kind::kRemap:
      for (int32_t x = 0; x < w; ++x) out[x] = remap_[p[x]];
      return;
    case Kind::kExact: {
      const bool bgr = image_.ColorOrder != IMG_ORDER_RGB;
      uint32_t last = kEmpty;
      uint8_t index = 0;
      for (int32_t x = 0; x < w; ++x, p += 3) {
        const uint32_t k = PixelKey(p, bgr);
        if (k != last) last = k, index = exact_.IndexOf(k);
        out[x] = index;
      }
      return;
    }
    case Kind::kCells: {
      const bool bgr = image_.ColorOrder != IMG_ORDER_RGB;
      const int ri = bgr ? 2 : 0, bi = bgr ? 0 : 2;
      const uint8_t* lut = cellIndex_.data();
      for (int32_t x = 0; x < w; ++x, p += 3) out[x] = lut[CellOf(p[ri], p[1], p[bi])];
      return;
    }
  }
}

}  // namespace imaging
