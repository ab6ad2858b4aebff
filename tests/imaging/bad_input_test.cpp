// Bad input fails with its own code: nothing crashes, leaks, allocates wildly or prints.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>

#include "imaging/imaging.h"
#include "test_support.h"
#include "tiff_maker.h"

namespace imaging_test {
namespace {

int Load(const std::string& path, ImgBitmap* bitmap) {
  return ImgLoadBitmap(path.c_str(), bitmap, 0, 0, 0);
}

// A load that fails leaves a handle that holds nothing and frees harmlessly.
void ExpectFails(const std::string& path, int code) {
  ImgBitmap bitmap;
  EXPECT_EQ(code, Load(path, &bitmap)) << path << ": " << ImgLastErrorDetail();
  EXPECT_EQ(nullptr, bitmap.Bits);
  EXPECT_NE(std::string(""), ImgLastErrorDetail());
  EXPECT_EQ(IMG_SUCCESS, ImgFreeBitmap(&bitmap));
}

TEST(BadNames, MissingFolderFifoEmptyAndNull) {
  TempDir dir;
  ExpectFails(dir.File("missing.tif"), IMG_ERR_FILE_NOT_FOUND);
  ExpectFails(dir.path(), IMG_ERR_CANNOT_READ);
  ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0600));
  ExpectFails(dir.File("fifo"), IMG_ERR_CANNOT_READ);  // does not wait for a writer
  ExpectFails("", IMG_ERR_BAD_ARGUMENT);
  ImgBitmap bitmap;
  EXPECT_EQ(IMG_ERR_BAD_ARGUMENT, ImgLoadBitmap(nullptr, &bitmap, 0, 0, 0));
  EXPECT_EQ(IMG_ERR_BAD_ARGUMENT, ImgLoadBitmap(dir.path().c_str(), nullptr, 0, 0, 0));
  EXPECT_STREQ("File not found", ImgErrorText(IMG_ERR_FILE_NOT_FOUND));
}

TEST(BadContent, NotAnImage) {
  TempDir dir;
  WriteFile(dir.File("empty"), {});
  WriteFile(dir.File("text"), {'h', 'e', 'l', 'l', 'o'});
  ExpectFails(dir.File("empty"), IMG_ERR_NOT_AN_IMAGE);
  ExpectFails(dir.File("text"), IMG_ERR_NOT_AN_IMAGE);
}

// Every prefix of a good file fails as corrupt, never yields part of an image.
TEST(BadContent, TruncatedFilesFail) {
  TempDir dir;
  struct Kind {
    uint16_t bps, spp, photometric, compression;
    bool tiled;
  };
  for (const Kind k : {Kind{8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, false},
                       Kind{8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, true},
                       Kind{8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, false},
                       Kind{8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS, false},
                       Kind{1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4, false},
                       Kind{1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3, false}}) {
    TiffLayout layout;
    layout.width = 64, layout.height = 40, layout.rowsPerStrip = 40;
    layout.bps = k.bps, layout.spp = k.spp, layout.photometric = k.photometric;
    layout.compression = k.compression, layout.tiled = k.tiled;
    const std::string good = dir.File("good.tif");
    ASSERT_EQ("", WriteTiff(good, layout, [](uint32_t x, uint32_t y, uint32_t s) {
                return (x * 37 + y * 11 + s * 5 + (x * y) % 7) & 255;
              }));
    const std::vector<uint8_t> bytes = ReadFile(good);
    // libtiff writes the pixel data first and the directory last, so cut into both (the
    // last four bytes only link to a next page).
    for (size_t cut : {size_t{5}, size_t{9}, size_t{100}, bytes.size() / 3, bytes.size() / 2,
                       bytes.size() - 200, bytes.size() - 8}) {
      std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
      WriteFile(dir.File("cut.tif"), part);
      ImgBitmap bitmap;
      const int rc = Load(dir.File("cut.tif"), &bitmap);
      EXPECT_TRUE(rc == IMG_ERR_CORRUPT || rc == IMG_ERR_NOT_AN_IMAGE)
          << "compression " << k.compression << " cut at " << cut << ": " << rc;
      ImgFreeBitmap(&bitmap);
    }
  }
}

TEST(BadContent, DamagedFaxDataFails) {
  TempDir dir;
  TiffLayout layout;
  layout.width = 64, layout.height = 40, layout.rowsPerStrip = 40, layout.bps = 1;
  layout.photometric = PHOTOMETRIC_MINISWHITE, layout.compression = COMPRESSION_CCITTFAX4;
  ASSERT_EQ("", WriteTiff(dir.File("g4.tif"), layout,
                          [](uint32_t x, uint32_t y, uint32_t) { return (x / 3 + y / 2) & 1; }));
  std::vector<uint8_t> bytes = ReadFile(dir.File("g4.tif"));
  for (size_t i = 10; i < 40; ++i) bytes[i] ^= 0x5A;  // inside the coded strip
  WriteFile(dir.File("g4.tif"), bytes);
  ExpectFails(dir.File("g4.tif"), IMG_ERR_CORRUPT);
}

TEST(BadContent, BrokenHeadersAndStripTables) {
  TempDir dir;
  struct Case {
    const char* name;
    RawTiff tiff;
    int code;
  };
  const Case cases[] = {
      {"good", RawTiff{}, IMG_SUCCESS},
      {"strip past the end", RawTiff{.stripOffset = 100000}, IMG_ERR_CORRUPT},
      // libtiff recomputes a bogus count of uncompressed data whose pixels are all there.
      {"strip count past the end", RawTiff{.stripByteCount = 100000}, IMG_SUCCESS},
      {"zero width", RawTiff{.width = 0}, IMG_ERR_CORRUPT},
      {"zero height", RawTiff{.height = 0}, IMG_ERR_CORRUPT},
      {"absurd size", RawTiff{.width = 0x7FFFFFFF, .height = 0x7FFFFFFF, .writePixels = false},
       IMG_ERR_TOO_LARGE},
      {"12-bit samples", RawTiff{.bps = 12}, IMG_ERR_UNSUPPORTED_DEPTH},
  };
  for (const Case& c : cases) {
    WriteFile(dir.File("raw.tif"), MakeRawTiff(c.tiff));
    ImgBitmap bitmap;
    EXPECT_EQ(c.code, Load(dir.File("raw.tif"), &bitmap)) << c.name << ": " << ImgLastErrorDetail();
    ImgFreeBitmap(&bitmap);
  }
  // A directory offset that points nowhere.
  std::vector<uint8_t> bytes = MakeRawTiff({});
  bytes[4] = 0xF0, bytes[5] = 0xFF;
  WriteFile(dir.File("raw.tif"), bytes);
  ExpectFails(dir.File("raw.tif"), IMG_ERR_CORRUPT);
}

TEST(SizeLimit, IsCheckedBeforeDecodingAndCanBeChanged) {
  TempDir dir;
  WriteFile(dir.File("raw.tif"), MakeRawTiff(RawTiff{.width = 100, .height = 100}));
  EXPECT_EQ(IMG_DEFAULT_MAX_PIXELS, ImgGetMaxPixels());
  EXPECT_EQ(IMG_DEFAULT_MAX_PIXELS, ImgSetMaxPixels(9999));
  ExpectFails(dir.File("raw.tif"), IMG_ERR_TOO_LARGE);
  ImgSetMaxPixels(10000);
  ImgBitmap bitmap;
  EXPECT_EQ(IMG_SUCCESS, Load(dir.File("raw.tif"), &bitmap));
  ImgFreeBitmap(&bitmap);
  EXPECT_EQ(10000u, ImgSetMaxPixels(0));
  EXPECT_EQ(IMG_DEFAULT_MAX_PIXELS, ImgGetMaxPixels());
}

std::vector<uint8_t> BmpHeader(int32_t w, int32_t h, uint16_t bpp, uint32_t compression,
                               uint32_t colours, size_t pixelBytes) {
  std::vector<uint8_t> b(54 + 4 * colours, 0);
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put(2, static_cast<uint32_t>(b.size() + pixelBytes), 4);
  put(10, static_cast<uint32_t>(b.size()), 4);
  put(14, 40, 4), put(18, static_cast<uint32_t>(w), 4), put(22, static_cast<uint32_t>(h), 4);
  put(26, 1, 2), put(28, bpp, 2), put(30, compression, 4), put(46, colours, 4);
  return b;
}

TEST(Bitmaps, ThirtyTwoBitTopDownLoadsAndBadOnesFail) {
  TempDir dir;
  // 3x2, top-down (negative height), B G R X bytes.
  std::vector<uint8_t> f = BmpHeader(3, -2, 32, 0, 0, 24);
  for (int i = 0; i < 6; ++i) f.insert(f.end(), {uint8_t(i), uint8_t(10 * i), uint8_t(20 * i), 0});
  WriteFile(dir.File("a.bmp"), f);
  ImgBitmap bitmap;
  ASSERT_EQ(IMG_SUCCESS, Load(dir.File("a.bmp"), &bitmap)) << ImgLastErrorDetail();
  ASSERT_EQ(24, bitmap.BitsPerPixel);
  const uint8_t* last = bitmap.Bits + bitmap.Stride + 2 * 3;  // pixel 5, BGR
  EXPECT_EQ(5, last[0]);
  EXPECT_EQ(50, last[1]);
  EXPECT_EQ(100, last[2]);
  ImgFreeBitmap(&bitmap);

  f.resize(f.size() - 1);
  WriteFile(dir.File("cut.bmp"), f);
  ExpectFails(dir.File("cut.bmp"), IMG_ERR_CORRUPT);
  WriteFile(dir.File("rle.bmp"), BmpHeader(4, 4, 8, 1, 2, 16));
  ExpectFails(dir.File("rle.bmp"), IMG_ERR_UNSUPPORTED_DEPTH);
  WriteFile(dir.File("huge.bmp"), BmpHeader(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, 0, 0));
  ExpectFails(dir.File("huge.bmp"), IMG_ERR_TOO_LARGE);
  WriteFile(dir.File("zero.bmp"), BmpHeader(0, 5, 24, 0, 0, 0));
  ExpectFails(dir.File("zero.bmp"), IMG_ERR_CORRUPT);
}

// libtiff's complaints become the error detail; standard error stays silent.
TEST(Diagnostics, LibtiffWritesNothingToStandardError) {
  TempDir dir;
  WriteFile(dir.File("raw.tif"), MakeRawTiff(RawTiff{.stripOffset = 100000}));
  fflush(stderr);
  const int saved = dup(2);
  const int capture = open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(capture, 2);
  ImgBitmap bitmap;
  const int rc = Load(dir.File("raw.tif"), &bitmap);
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(capture);
  EXPECT_EQ(IMG_ERR_CORRUPT, rc);
  EXPECT_NE(std::string::npos, std::string(ImgLastErrorDetail()).find("Read error"))
      << ImgLastErrorDetail();
  EXPECT_TRUE(ReadFile(dir.File("stderr")).empty());
}

}  // namespace
}  // namespace imaging_test
