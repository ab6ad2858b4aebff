#include "test_support.h"

#include <cmath>

namespace imaging_test {
namespace {
uint32_t U16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
}  // namespace

std::string DecodeBmp(const std::string& path, Bmp* out) {
  const std::vector<uint8_t> f = ReadFile(path);
  if (f.size() < 54 || f[0] != 'B' || f[1] != 'M') return "no bitmap signature";
  if (U32(&f[2]) != f.size()) return "file size field is wrong";
  if (U32(&f[14]) != 40) return "info header is not 40 bytes";
  const int32_t w = static_cast<int32_t>(U32(&f[18])), h = static_cast<int32_t>(U32(&f[22]));
  const int bpp = static_cast<int>(U16(&f[28]));
  if (w <= 0 || h <= 0) return "bad dimensions";
  if (U16(&f[26]) != 1) return "planes is not 1";
  if (U32(&f[30]) != 0) return "compressed";
  uint32_t colours = U32(&f[46]);
  if (bpp <= 8 && colours == 0) colours = 1u << bpp;
  if (bpp <= 8 && colours > (1u << bpp)) return "too many palette entries";
  const uint32_t offset = U32(&f[10]);
  if (offset != 54 + 4 * colours) return "pixel offset does not follow the palette";
  const size_t row = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
  if (offset + row * h != f.size()) return "pixel data size is wrong";
  if (U32(&f[34]) != row * h) return "image size field is wrong";
  out->width = w, out->height = h, out->bpp = bpp, out->colours = colours;
  out->pixels.assign(static_cast<size_t>(w) * h, Rgb{});
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* s = &f[offset + row * (h - 1 - y)];
    for (int32_t x = 0; x < w; ++x) {
      Rgb px;
      if (bpp == 24) {
        px = Rgb{s[3 * x + 2], s[3 * x + 1], s[3 * x]};
      } else {
        const size_t bit = static_cast<size_t>(x) * bpp;
        const unsigned idx = (s[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        if (idx >= colours) return "index past the palette";
        const uint8_t* q = &f[54 + 4 * idx];
        px = Rgb{q[2], q[1], q[0]};
      }
      out->pixels[static_cast<size_t>(y) * w + x] = px;
    }
  }
  return "";
}

double Psnr(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double dr = a[i].r - b[i].r, dg = a[i].g - b[i].g, db = a[i].b - b[i].b;
    sum += dr * dr + dg * dg + db * db;
  }
  const double mse = sum / (3.0 * static_cast<double>(a.size()));
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace imaging_test
