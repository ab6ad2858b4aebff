// The saved display: the TIFF forms, sizes and compressions, and repeatable bytes.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>
#include <iterator>

#include "sim_harness.h"

namespace simtest {
namespace {

Bytes SaveAndRead(const std::vector<std::string>& options) {
  std::vector<std::string> args{"--port", "0"};
  args.insert(args.end(), options.begin(), options.end());
  SimProcess sim(args);
  Line line = Line::Tcp(sim.port());
  line.Send("SAVDTIF 'SCREEN'");
  return ReadFile(line, "SCREEN_T");
}

struct FormCase {
  std::string tiff, compression, size;
  std::uint16_t photometric, tag, bits, samples;
  std::uint32_t width, height;
};

TEST(SimImage, FormsCompressionsAndSizes) {
  const FormCase cases[] = {
      {"", "", "", PHOTOMETRIC_PALETTE, COMPRESSION_PACKBITS, 8, 1, 640, 480},
      {"palette", "none", "640x480", PHOTOMETRIC_PALETTE, COMPRESSION_NONE, 8, 1, 640, 480},
      {"palette", "lzw", "800x600", PHOTOMETRIC_PALETTE, COMPRESSION_LZW, 8, 1, 800, 600},
      {"rgb", "none", "320x240", PHOTOMETRIC_RGB, COMPRESSION_NONE, 8, 3, 320, 240},
      {"rgb", "packbits", "640x480", PHOTOMETRIC_RGB, COMPRESSION_PACKBITS, 8, 3, 640, 480},
      {"rgb", "lzw", "1024x768", PHOTOMETRIC_RGB, COMPRESSION_LZW, 8, 3, 1024, 768},
      {"bilevel", "none", "641x479", PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, 1, 1, 641, 479},
      {"bilevel", "packbits", "640x480", PHOTOMETRIC_MINISWHITE, COMPRESSION_PACKBITS, 1, 1, 640,
       480},
      {"bilevel", "lzw", "32x32", PHOTOMETRIC_MINISWHITE, COMPRESSION_LZW, 1, 1, 32, 32},
  };
  for (const auto& c : cases) {
    std::vector<std::string> options;
    if (!c.tiff.empty()) options.insert(options.end(), {"--tiff", c.tiff});
    if (!c.compression.empty()) options.insert(options.end(), {"--compression", c.compression});
    if (!c.size.empty()) options.insert(options.end(), {"--size", c.size});
    std::string name = c.tiff + "/" + c.compression + "/" + c.size;
    TiffFacts f = InspectTiff(SaveAndRead(options));
    ASSERT_TRUE(f.opened) << name;
    EXPECT_TRUE(f.all_rows_read) << name;
    EXPECT_EQ(f.width, c.width) << name;
    EXPECT_EQ(f.height, c.height) << name;
    EXPECT_EQ(f.photometric, c.photometric) << name;
    EXPECT_EQ(f.compression, c.tag) << name;
    EXPECT_EQ(f.bits, c.bits) << name;
    EXPECT_EQ(f.samples, c.samples) << name;
    // A drawn display, not a blank page: several colours, or both levels.
    EXPECT_GE(f.distinct_values, c.bits == 1 ? 2u : 5u) << name;
  }
}

TEST(SimImage, SameOptionsSameBytesAndRenderToMatchesTheSavedFile) {
  Bytes a = SaveAndRead({"--tiff", "rgb", "--compression", "lzw"});
  Bytes b = SaveAndRead({"--tiff", "rgb", "--compression", "lzw"});
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a, b);
  EXPECT_NE(a, SaveAndRead({"--tiff", "rgb", "--compression", "lzw", "--model", "7612A"}));

  TempDir dir;
  Outcome o = RunSim({"--render-to", dir.File("d.tif"), "--tiff", "rgb", "--compression", "lzw"});
  ASSERT_EQ(o.status, 0) << o.err;
  std::ifstream in(dir.File("d.tif"), std::ios::binary);
  Bytes rendered((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rendered, a);
}

TEST(SimImage, PaletteColoursAreTheDisplaysAndRgbAgreesWithThem) {
  // The same display in two forms: each palette pixel's colour equals the RGB pixel.
  TempDir dir;
  ASSERT_EQ(RunSim({"--render-to", dir.File("p.tif"), "--tiff", "palette"}).status, 0);
  ASSERT_EQ(RunSim({"--render-to", dir.File("r.tif"), "--tiff", "rgb"}).status, 0);
  TIFF* p = TIFFOpen(dir.File("p.tif").c_str(), "r");
  TIFF* r = TIFFOpen(dir.File("r.tif").c_str(), "r");
  ASSERT_TRUE(p && r);
  std::uint16_t *red, *green, *blue;
  ASSERT_TRUE(TIFFGetField(p, TIFFTAG_COLORMAP, &red, &green, &blue));
  std::vector<std::uint8_t> prow(TIFFScanlineSize(p)), rrow(TIFFScanlineSize(r));
  std::size_t mismatches = 0;
  for (std::uint32_t y = 0; y < 480; ++y) {
    ASSERT_EQ(TIFFReadScanline(p, prow.data(), y, 0), 1);
    ASSERT_EQ(TIFFReadScanline(r, rrow.data(), y, 0), 1);
    for (std::uint32_t x = 0; x < 640; ++x) {
      std::uint8_t i = prow[x];
      mismatches += red[i] >> 8 != rrow[3 * x] || green[i] >> 8 != rrow[3 * x + 1] ||
                    blue[i] >> 8 != rrow[3 * x + 2];
    }
  }
  EXPECT_EQ(mismatches, 0u);
  TIFFClose(p);
  TIFFClose(r);
}

}  // namespace
}  // namespace simtest
