// Shared helpers of the imaging tests: an independent strict BMP decoder, byte files and
// PSNR.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/temp_dir.h"

namespace imaging_test {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// A decoded bitmap file.
struct Bmp {
  int32_t width = 0, height = 0;
  int bpp = 0;
  uint32_t colours = 0;     // palette entries
  std::vector<Rgb> pixels;  // top-down
};

// Parses a BITMAPFILEHEADER + BITMAPINFOHEADER file; empty string or the reason it is bad.
std::string DecodeBmp(const std::string& path, Bmp* out);

using testsupport::TempDir;

// Files as bytes, the form the imaging tests compare.
inline std::vector<uint8_t> ReadFile(const std::string& path) {
  return testsupport::ReadBytes(path);
}
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  testsupport::WriteFile(path, bytes);
}

double Psnr(const std::vector<Rgb>& a, const std::vector<Rgb>& b);

}  // namespace imaging_test
