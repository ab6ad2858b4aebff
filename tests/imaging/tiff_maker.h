// Writes TIFF files of a chosen variety through libtiff, for tests and benchmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace imaging_test {

struct TiffLayout {
  uint32_t width = 37, height = 23;
  uint16_t bps = 8, spp = 1;
  uint16_t photometric = 1;  // PHOTOMETRIC_MINISBLACK
  uint16_t compression = 1;  // COMPRESSION_NONE
  uint16_t predictor = 1;
  uint16_t planar = 1;  // PLANARCONFIG_CONTIG
  uint16_t extraSamples = 0;
  bool tiled = false;
  uint32_t tileSize = 16;
  uint32_t rowsPerStrip = 5;
  bool bigEndian = false;
  int pages = 1;
  std::vector<uint16_t> colormap;  // red, green, blue tables of 1 << bps entries each
};

// sample(x, y, s) gives sample s of pixel (x, y) at the layout's depth.
using SampleFn = std::function<uint32_t(uint32_t x, uint32_t y, uint32_t s)>;

// Returns an empty string on success, else what went wrong.
std::string WriteTiff(const std::string& path, const TiffLayout& layout, const SampleFn& sample);

// A hand-assembled little-endian 8-bit grey TIFF with one strip, whose tags are given
// verbatim, so that tests can write what libtiff would refuse to: absurd sizes, bad
// strip tables.
struct RawTiff {
  uint32_t width = 8, height = 8;
  uint32_t stripOffset = 0;     // 0: right after the header
  uint32_t stripByteCount = 0;  // 0: width * height
  uint16_t bps = 8;
  bool writePixels = true;
};
std::vector<uint8_t> MakeRawTiff(const RawTiff& t);

}  // namespace imaging_test
