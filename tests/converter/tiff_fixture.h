// Test images: small TIFF files of the depths the analyzer sends, and a look at a BMP.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace fixture {

enum class Depth { Bilevel, Grey8, Palette8, Rgb24 };

// Writes a width x height TIFF with a simple pattern; false when libtiff refuses.
inline bool WriteTiff(const std::string& path, Depth depth, uint32_t width = 40,
                      uint32_t height = 30) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  uint16_t bits = depth == Depth::Bilevel ? 1 : 8;
  uint16_t samples = depth == Depth::Rgb24 ? 3 : 1;
  uint16_t photometric = depth == Depth::Rgb24      ? PHOTOMETRIC_RGB
                         : depth == Depth::Palette8 ? PHOTOMETRIC_PALETTE
                                                    : PHOTOMETRIC_MINISBLACK;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION,
               depth == Depth::Bilevel ? COMPRESSION_PACKBITS : COMPRESSION_LZW);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, height);
  std::vector<uint16_t> red(256), green(256), blue(256);
  if (depth == Depth::Palette8) {
    for (int i = 0; i < 256; ++i) {
      red[i] = static_cast<uint16_t>(i * 257);
      green[i] = static_cast<uint16_t>((255 - i) * 257);
      blue[i] = static_cast<uint16_t>((i * 7 % 256) * 257);
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  size_t rowBytes = (static_cast<size_t>(width) * bits * samples + 7) / 8;
  std::vector<uint8_t> row(rowBytes);
  bool ok = true;
  for (uint32_t y = 0; y < height && ok; ++y) {
    for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>((i * 13 + y * 7) & 0xff);
    ok = TIFFWriteScanline(t, row.data(), y, 0) >= 0;
  }
  TIFFClose(t);
  return ok;
}

struct BmpHeader {
  bool isBmp = false;
  int32_t width = 0, height = 0;
  uint16_t bitsPerPixel = 0;
};

inline BmpHeader ReadBmp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char h[54] = {};
  BmpHeader out;
  if (!in.read(reinterpret_cast<char*>(h), sizeof h)) return out;
  auto u16 = [&](int o) { return static_cast<uint16_t>(h[o] | (h[o + 1] << 8)); };
  auto i32 = [&](int o) {
    return static_cast<int32_t>(h[o] | (h[o + 1] << 8) | (h[o + 2] << 16) |
                                (static_cast<uint32_t>(h[o + 3]) << 24));
  };
  out.isBmp = h[0] == 'B' && h[1] == 'M';
  out.width = i32(18);
  out.height = i32(22);
  out.bitsPerPixel = u16(28);
  return out;
}

}  // namespace fixture
