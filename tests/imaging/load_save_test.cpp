// Every TIFF variety converts to an 8-bit bitmap with exactly its colours; many-colour
// images stay faithful; each save depth decodes to what was loaded.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>

#include "imaging/imaging.h"
#include "test_support.h"
#include "tiff_maker.h"

namespace imaging_test {
namespace {

// A screen-like palette of 16 colours.
constexpr Rgb kScreen[16] = {{0, 0, 0},       {255, 255, 255}, {255, 0, 0},   {0, 255, 0},
                             {0, 0, 255},     {255, 255, 0},   {0, 255, 255}, {255, 0, 255},
                             {128, 128, 128}, {192, 192, 192}, {128, 0, 0},   {0, 128, 0},
                             {0, 0, 128},     {17, 34, 51},    {250, 128, 3}, {1, 2, 3}};

uint32_t Index(uint32_t x, uint32_t y, unsigned levels) { return (x * 3 + y * 5 + x / 7) % levels; }

struct Case {
  const char* name;
  TiffLayout layout;
};

TiffLayout Layout(uint16_t bps, uint16_t spp, uint16_t photometric, uint16_t compression) {
  TiffLayout s;
  s.bps = bps, s.spp = spp, s.photometric = photometric, s.compression = compression;
  if (photometric == PHOTOMETRIC_PALETTE) {
    const size_t n = size_t{1} << bps;
    s.colormap.resize(3 * n);
    for (size_t i = 0; i < n; ++i) {
      const Rgb c = i < 16 ? kScreen[i] : Rgb{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
      s.colormap[i] = c.r * 257, s.colormap[n + i] = c.g * 257, s.colormap[2 * n + i] = c.b * 257;
    }
  }
  return s;
}

template <typename F>
TiffLayout With(TiffLayout s, F change) {
  change(s);
  return s;
}

uint32_t Sample(const TiffLayout& s, uint32_t x, uint32_t y, uint32_t k) {
  if (s.photometric == PHOTOMETRIC_RGB) {
    const Rgb c = kScreen[Index(x, y, 16)];
    const uint32_t v = k == 0 ? c.r : k == 1 ? c.g : k == 2 ? c.b : (x * 11) & 255;
    return s.bps == 16 ? v * 257 : v;
  }
  const uint32_t levels = s.bps == 16 ? 256 : 1u << s.bps;
  const uint32_t v = Index(x, y, levels);
  return s.bps == 16 ? v * 257 : v;
}

Rgb Expected(const TiffLayout& s, uint32_t x, uint32_t y) {
  if (s.photometric == PHOTOMETRIC_RGB) return kScreen[Index(x, y, 16)];
  const uint32_t v = Sample(s, x, y, 0);
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    const size_t n = size_t{1} << s.bps;
    return Rgb{uint8_t(s.colormap[v] >> 8), uint8_t(s.colormap[n + v] >> 8),
               uint8_t(s.colormap[2 * n + v] >> 8)};
  }
  uint8_t level = s.bps == 16 ? uint8_t(v / 257) : uint8_t(v * 255 / ((1u << s.bps) - 1));
  if (s.photometric == PHOTOMETRIC_MINISWHITE) level = uint8_t(255 - level);
  return Rgb{level, level, level};
}

class Variety : public ::testing::TestWithParam<Case> {};

TEST_P(Variety, ConvertsToAnExactEightBitBitmap) {
  const TiffLayout& layout = GetParam().layout;
  TempDir dir;
  const std::string path = dir.File("in.tif");
  ASSERT_EQ("", WriteTiff(path, layout, [&](uint32_t x, uint32_t y, uint32_t k) {
              return Sample(layout, x, y, k);
            }));
  ImgBitmap bitmap;
  ASSERT_EQ(IMG_SUCCESS, ImgLoadBitmap(path.c_str(), &bitmap, 0, 0, 0)) << ImgLastErrorDetail();
  EXPECT_EQ(int32_t(layout.width), bitmap.Width);
  EXPECT_EQ(int32_t(layout.height), bitmap.Height);
  // In place, as the converter does it.
  ASSERT_EQ(IMG_SUCCESS, ImgSaveBitmap(path.c_str(), &bitmap, IMG_FORMAT_BMP, 8, -1, 0))
      << ImgLastErrorDetail();
  EXPECT_EQ(IMG_SUCCESS, ImgFreeBitmap(&bitmap));

  Bmp bmp;
  ASSERT_EQ("", DecodeBmp(path, &bmp));
  EXPECT_EQ(8, bmp.bpp);
  std::vector<Rgb> want;
  for (uint32_t y = 0; y < layout.height; ++y)
    for (uint32_t x = 0; x < layout.width; ++x) want.push_back(Expected(layout, x, y));
  ASSERT_EQ(want.size(), bmp.pixels.size());
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(want[i], bmp.pixels[i]) << "pixel " << i % layout.width << "," << i / layout.width;
  // A palette of just the colours used.
  std::vector<Rgb> distinct;
  for (const Rgb& c : want)
    if (std::find(distinct.begin(), distinct.end(), c) == distinct.end()) distinct.push_back(c);
  EXPECT_EQ(distinct.size(), bmp.colours);
  EXPECT_EQ((std::vector<std::string>{"in.tif"}), dir.Entries());
}

const Case kCases[] = {
    {"Bilevel_MinIsBlack_None", Layout(1, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE)},
    {"Bilevel_MinIsWhite_PackBits", Layout(1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_PACKBITS)},
    {"Bilevel_G3", Layout(1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3)},
    {"Bilevel_G4_MinIsBlack", Layout(1, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_CCITTFAX4)},
    {"Bilevel_Lzw_BigEndian", With(Layout(1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_LZW),
                                   [](TiffLayout& s) { s.bigEndian = true; })},
    {"Grey2_None", Layout(2, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE)},
    {"Grey4_Deflate", Layout(4, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE)},
    {"Grey4_MinIsWhite_Tiled", With(Layout(4, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_LZW),
                                    [](TiffLayout& s) { s.tiled = true; })},
    {"Grey8_Lzw_Predictor", With(Layout(8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW),
                                 [](TiffLayout& s) { s.predictor = 2; })},
    {"Grey8_Tiled_Deflate", With(Layout(8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE),
                                 [](TiffLayout& s) { s.tiled = true; })},
    {"Grey16_BigEndian_Lzw_Predictor", With(Layout(16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW),
                                            [](TiffLayout& s) {
                                              s.bigEndian = true;
                                              s.predictor = 2;
                                            })},
    {"Grey8_WithAlpha", With(Layout(8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE),
                             [](TiffLayout& s) { s.extraSamples = 1; })},
    {"Palette4_PackBits", Layout(4, 1, PHOTOMETRIC_PALETTE, COMPRESSION_PACKBITS)},
    {"Palette8_Lzw", Layout(8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_LZW)},
    {"Palette8_Tiled_BigEndian", With(Layout(8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_ADOBE_DEFLATE),
                                      [](TiffLayout& s) {
                                        s.tiled = true;
                                        s.bigEndian = true;
                                      })},
    {"Palette8_MultiPage_FirstPage",
     With(Layout(8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_LZW), [](TiffLayout& s) { s.pages = 3; })},
    {"Rgb8_None", Layout(8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE)},
    {"Rgb8_Lzw_Predictor_Tiled", With(Layout(8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW),
                                      [](TiffLayout& s) {
                                        s.predictor = 2;
                                        s.tiled = true;
                                      })},
    {"Rgb8_Separate_Deflate", With(Layout(8, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE),
                                   [](TiffLayout& s) { s.planar = PLANARCONFIG_SEPARATE; })},
    {"Rgb8_Separate_Tiled_PackBits", With(Layout(8, 3, PHOTOMETRIC_RGB, COMPRESSION_PACKBITS),
                                          [](TiffLayout& s) {
                                            s.planar = PLANARCONFIG_SEPARATE;
                                            s.tiled = true;
                                          })},
    {"Rgba8_Lzw_BigEndian", With(Layout(8, 4, PHOTOMETRIC_RGB, COMPRESSION_LZW),
                                 [](TiffLayout& s) {
                                   s.extraSamples = 1;
                                   s.bigEndian = true;
                                 })},
    {"Rgb16_BigEndian_Deflate_Predictor",
     With(Layout(16, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE),
          [](TiffLayout& s) {
            s.bigEndian = true;
            s.predictor = 2;
          })},
};

INSTANTIATE_TEST_SUITE_P(Tiff, Variety, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A photo-like image: smooth colour fields, edges and grain.
uint32_t Photo(uint32_t x, uint32_t y, uint32_t k) {
  const double fx = x / 40.0, fy = y / 30.0;
  double v = 128 + 90 * std::sin(fx * (1 + k) + fy * (2 - k * 0.5)) * std::cos(fy + k);
  if ((x / 50 + y / 40) % 3 == 0) v = 255 - v;                          // hard edges
  v += static_cast<double>((x * 7919 + y * 104729 + k * 31) % 13) - 6;  // grain
  return static_cast<uint32_t>(std::clamp(v, 0.0, 255.0));
}

TEST(ManyColours, ReducesFaithfullyToAFullPalette) {
  TempDir dir;
  TiffLayout layout = Layout(8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW);
  layout.width = 320, layout.height = 240, layout.rowsPerStrip = 16;
  ASSERT_EQ("", WriteTiff(dir.File("photo.tif"), layout, Photo));
  ImgBitmap bitmap;
  ASSERT_EQ(IMG_SUCCESS, ImgLoadBitmap(dir.File("photo.tif").c_str(), &bitmap, 0, 0, 0));
  ASSERT_EQ(IMG_SUCCESS, ImgSaveBitmap(dir.File("photo.bmp").c_str(), &bitmap, 6, 8, -1, 0));
  ASSERT_EQ(IMG_SUCCESS, ImgSaveBitmap(dir.File("true.bmp").c_str(), &bitmap, 6, 24, -1, 0));
  ImgFreeBitmap(&bitmap);
  Bmp reduced, full;
  ASSERT_EQ("", DecodeBmp(dir.File("photo.bmp"), &reduced));
  ASSERT_EQ("", DecodeBmp(dir.File("true.bmp"), &full));
  std::vector<Rgb> want;
  for (uint32_t y = 0; y < layout.height; ++y)
    for (uint32_t x = 0; x < layout.width; ++x)
      want.push_back(
          Rgb{uint8_t(Photo(x, y, 0)), uint8_t(Photo(x, y, 1)), uint8_t(Photo(x, y, 2))});
  EXPECT_EQ(want, full.pixels);  // 24 bits keep everything
  EXPECT_EQ(256u, reduced.colours);
  EXPECT_GE(Psnr(want, reduced.pixels), 31.0);  // ImageMagick: 30.2, Pillow: 30.5
}

TEST(SaveDepths, EachDepthDecodesToTheLoadedColours) {
  TempDir dir;
  // Two colours fit every depth exactly; sixteen fit 4 and 8 bits.
  for (unsigned colours : {2u, 16u}) {
    TiffLayout layout = Layout(8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE);
    layout.width = 61;  // rows that need padding at every depth
    auto sample = [&](uint32_t x, uint32_t y, uint32_t k) {
      const Rgb c = kScreen[Index(x, y, colours)];
      return uint32_t(k == 0 ? c.r : k == 1 ? c.g : c.b);
    };
    ASSERT_EQ("", WriteTiff(dir.File("in.tif"), layout, sample));
    ImgBitmap bitmap;
    ASSERT_EQ(IMG_SUCCESS, ImgLoadBitmap(dir.File("in.tif").c_str(), &bitmap, 0, 0, 0));
    for (int bpp : {1, 4, 8, 24}) {
      if (bpp == 1 && colours > 2) continue;
      const std::string out = dir.File("out" + std::to_string(bpp) + ".bmp");
      ASSERT_EQ(IMG_SUCCESS, ImgSaveBitmap(out.c_str(), &bitmap, 6, bpp, -1, 0));
      Bmp bmp;
      ASSERT_EQ("", DecodeBmp(out, &bmp));
      EXPECT_EQ(bpp, bmp.bpp);
      // And our own loader reads back what it wrote.
      ImgBitmap again;
      ASSERT_EQ(IMG_SUCCESS, ImgLoadBitmap(out.c_str(), &again, 24, IMG_ORDER_RGB, 0));
      for (uint32_t y = 0; y < layout.height; ++y)
        for (uint32_t x = 0; x < layout.width; ++x) {
          const Rgb want = kScreen[Index(x, y, colours)];
          ASSERT_EQ(want, bmp.pixels[y * layout.width + x]) << bpp << " bpp at " << x << "," << y;
          const uint8_t* p = again.Bits + y * again.Stride + 3 * x;
          ASSERT_EQ(want, (Rgb{p[0], p[1], p[2]}));
        }
      ImgFreeBitmap(&again);
    }
    ImgFreeBitmap(&bitmap);
  }
}

TEST(SaveDepths, FewerBitsThanColoursStillWritesAValidFile) {
  TempDir dir;
  TiffLayout layout = Layout(8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE);
  ASSERT_EQ("", WriteTiff(dir.File("in.tif"), layout,
                          [](uint32_t x, uint32_t y, uint32_t) { return (x * 9 + y) & 255; }));
  ImgBitmap bitmap;
  ASSERT_EQ(IMG_SUCCESS, ImgLoadBitmap(dir.File("in.tif").c_str(), &bitmap, 0, 0, 0));
  for (int bpp : {1, 4}) {
    const std::string out = dir.File("out.bmp");
    ASSERT_EQ(IMG_SUCCESS, ImgSaveBitmap(out.c_str(), &bitmap, 6, bpp, -1, 0));
    Bmp bmp;
    ASSERT_EQ("", DecodeBmp(out, &bmp));
    EXPECT_EQ(bpp, bmp.bpp);
    EXPECT_LE(bmp.colours, 1u << bpp);
  }
  ImgFreeBitmap(&bitmap);
}

}  // namespace
}  // namespace imaging_test
