// Writes a small seed corpus for the load fuzzer: TIFFs of several varieties and a BMP.
//   imaging_fuzz_seeds FOLDER
#include <cstdio>
#include <string>

#include "test_support.h"
#include "tiff_maker.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: imaging_fuzz_seeds FOLDER\n");
    return 2;
  }
  using imaging_test::TiffLayout;
  const std::string dir = argv[1];
  struct Seed {
    const char* name;
    uint16_t bps, spp, photometric, compression;
    bool tiled;
  };
  const Seed seeds[] = {{"bilevel-g4", 1, 1, 0, 4, false},  {"bilevel-g3", 1, 1, 0, 3, false},
                        {"grey4-lzw", 4, 1, 1, 5, false},   {"grey16-zip", 16, 1, 1, 8, true},
                        {"rgb-lzw", 8, 3, 2, 5, false},     {"rgb-packbits", 8, 3, 2, 32773, true},
                        {"palette-none", 8, 1, 3, 1, false}};
  for (const Seed& s : seeds) {
    TiffLayout layout;
    layout.width = 24, layout.height = 10;
    layout.bps = s.bps, layout.spp = s.spp, layout.photometric = s.photometric;
    layout.compression = s.compression, layout.tiled = s.tiled;
    if (s.photometric == 3) layout.colormap.assign(3 * 256, 0x8080);
    const std::string err = imaging_test::WriteTiff(
        dir + "/" + s.name + ".tif", layout,
        [](uint32_t x, uint32_t y, uint32_t k) { return (x * 5 + y * 3 + k) & 255; });
    if (!err.empty()) {
      std::fprintf(stderr, "%s: %s\n", s.name, err.c_str());
      return 1;
    }
  }
  imaging_test::WriteFile(dir + "/raw.tif", imaging_test::MakeRawTiff({}));
  return 0;
}
