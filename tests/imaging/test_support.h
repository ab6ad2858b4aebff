// Shared helpers of the imaging tests: a temporary folder, an independent strict BMP
// decoder, file utilities and PSNR.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

double Psnr(const std::vector<Rgb>& a, const std::vector<Rgb>& b);

}  // namespace imaging_test
