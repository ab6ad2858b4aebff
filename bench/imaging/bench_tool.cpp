// Helper of the imaging benchmark (compare.py):
//   imaging_bench_tool make FOLDER        writes the benchmark's TIFF files
//   imaging_bench_tool inproc N IN OUT    converts N times in this process; median seconds
//   imaging_bench_tool check REF OUT      bits per pixel of OUT, exactness and PSNR against REF
#include <sys/resource.h>
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "tiff_maker.h"

namespace {

using imaging_test::TiffLayout;

// A photo-like picture: smooth shading at several scales, soft edges and sensor grain.
struct Photo {
  uint32_t w, h;
  uint32_t operator()(uint32_t x, uint32_t y, uint32_t k) const {
    const double u = x * 640.0 / w, v = y * 480.0 / h;
    double s = 118 + 70 * std::sin(u / 57.0 + k * 1.7) * std::cos(v / 43.0 - k * 0.9) +
               35 * std::sin((u + v) / 19.0 + k) * std::sin(v / 23.0) +
               20 * std::cos(std::hypot(u - 300, v - 220) / 11.0 + k * 2.1);
    const double blob = std::hypot(u - 420, v - 160);
    if (blob < 90) s = s * 0.4 + (k == 0 ? 200 : k == 1 ? 90 : 40) * 0.6;
    uint32_t n = (x * 73856093u) ^ (y * 19349663u) ^ (k * 83492791u);
    n ^= n >> 13, n *= 0x5bd1e995u, n ^= n >> 15;
    s += static_cast<double>(n % 9) - 4.0;
    return static_cast<uint32_t>(std::clamp(s, 0.0, 255.0));
  }
};

// A screen capture: 16 colours in flat panels, grid lines and text-like marks.
uint32_t ScreenIndex(uint32_t x, uint32_t y) {
  if (x % 64 == 0 || y % 48 == 0) return 8;
  if ((x / 3 + y / 5) % 17 == 0 && y > 400) return 1;
  const uint32_t trace = static_cast<uint32_t>(240 + 100 * std::sin(x / 30.0));
  if (y == trace || y == trace + 1) return 3;
  return (x / 80 + (y / 60) * 3) % 14 + 2;
}
const uint8_t kScreen[16][3] = {{0, 0, 0},     {255, 255, 255}, {0, 0, 96},    {0, 200, 0},
                                {255, 255, 0}, {0, 255, 255},   {255, 0, 255}, {128, 128, 128},
                                {60, 60, 60},  {192, 192, 192}, {128, 0, 0},   {0, 128, 0},
                                {0, 0, 128},   {17, 34, 51},    {250, 128, 3}, {30, 60, 90}};

int Make(const std::string& dir) {
  TiffLayout pal;
  pal.width = 640, pal.height = 480, pal.bps = 8, pal.photometric = PHOTOMETRIC_PALETTE;
  pal.compression = COMPRESSION_LZW, pal.rowsPerStrip = 16;
  pal.colormap.assign(3 * 256, 0);
  for (int i = 0; i < 16; ++i)
    for (int c = 0; c < 3; ++c) pal.colormap[c * 256 + i] = kScreen[i][c] * 257;
  std::string err =
      imaging_test::WriteTiff(dir + "/screen-palette.tif", pal,
                              [](uint32_t x, uint32_t y, uint32_t) { return ScreenIndex(x, y); });
  TiffLayout rgb = pal;
  rgb.photometric = PHOTOMETRIC_RGB, rgb.spp = 3, rgb.colormap.clear();
  if (err.empty())
    err = imaging_test::WriteTiff(
        dir + "/screen-rgb.tif", rgb,
        [](uint32_t x, uint32_t y, uint32_t k) { return uint32_t{kScreen[ScreenIndex(x, y)][k]}; });
  for (uint32_t size : {640u, 4096u}) {
    TiffLayout p = rgb;
    p.width = size, p.height = size == 640 ? 480 : 4096, p.compression = COMPRESSION_LZW;
    p.predictor = 2;
    if (err.empty())
      err = imaging_test::WriteTiff(dir + "/photo-" + std::to_string(size) + ".tif", p,
                                    Photo{p.width, p.height});
  }
  if (!err.empty()) std::fprintf(stderr, "%s\n", err.c_str());
  return err.empty() ? 0 : 1;
}

int InProcess(int n, const char* in, const char* out) {
  std::vector<double> times;
  for (int i = 0; i < n; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ImgBitmap b;
    if (ImgLoadBitmap(in, &b, 0, 0, 0) != IMG_SUCCESS ||
        ImgSaveBitmap(out, &b, IMG_FORMAT_BMP, 8, -1, 0) != IMG_SUCCESS) {
      std::fprintf(stderr, "failed: %s\n", ImgLastErrorDetail());
      return 1;
    }
    ImgFreeBitmap(&b);
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%.6f %ld\n", times[times.size() / 2], ru.ru_maxrss);
  return 0;
}

int Check(const char* ref, const char* out) {
  ImgBitmap a, b;
  if (ImgLoadBitmap(ref, &a, 24, IMG_ORDER_RGB, 0) != IMG_SUCCESS) return 1;
  const int rc = ImgLoadBitmap(out, &b, 0, 0, 0);
  if (rc != IMG_SUCCESS) {
    std::printf("unreadable %s\n", ImgLastErrorDetail());
    return 0;
  }
  const int bpp = b.SourceBitsPerPixel;
  ImgFreeBitmap(&b);
  ImgLoadBitmap(out, &b, 24, IMG_ORDER_RGB, 0);
  if (a.Width != b.Width || a.Height != b.Height) {
    std::printf("%d size-mismatch 0\n", bpp);
    return 0;
  }
  double sum = 0;
  for (int32_t y = 0; y < a.Height; ++y) {
    const uint8_t* p = a.Bits + y * a.Stride;
    const uint8_t* q = b.Bits + y * b.Stride;
    for (int32_t x = 0; x < a.Width * 3; ++x) sum += (p[x] - q[x]) * double(p[x] - q[x]);
  }
  const double mse = sum / (3.0 * a.Width * a.Height);
  std::printf("%d %s %.2f\n", bpp, mse == 0 ? "exact" : "lossy",
              mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse));
  ImgFreeBitmap(&a);
  ImgFreeBitmap(&b);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && !std::strcmp(argv[1], "make")) return Make(argv[2]);
  if (argc == 5 && !std::strcmp(argv[1], "inproc"))
    return InProcess(std::atoi(argv[2]), argv[3], argv[4]);
  if (argc == 4 && !std::strcmp(argv[1], "check")) return Check(argv[2], argv[3]);
  std::fprintf(stderr, "usage: imaging_bench_tool make DIR | inproc N IN OUT | check REF OUT\n");
  return 2;
}
