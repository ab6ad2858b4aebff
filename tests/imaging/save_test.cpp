// Save replaces its target atomically, and a failure leaves every file as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstring>

#include "imaging/imaging.h"
#include "test_support.h"
#include "tiff_maker.h"

namespace imaging_test {
namespace {

class Save : public ::testing::Test {
 protected:
  void SetUp() override {
    TiffLayout layout;
    layout.bps = 8, layout.spp = 3, layout.photometric = PHOTOMETRIC_RGB;
    ASSERT_EQ("", WriteTiff(dir_.File("in.tif"), layout, [](uint32_t x, uint32_t y, uint32_t k) {
                return (x * 40 + y * 3 + k * 90) & 255;
              }));
    ASSERT_EQ(IMG_SUCCESS, ImgLoadBitmap(dir_.File("in.tif").c_str(), &bitmap_, 0, 0, 0));
  }
  void TearDown() override { ImgFreeBitmap(&bitmap_); }
  int SaveTo(const std::string& path) {
    return ImgSaveBitmap(path.c_str(), &bitmap_, IMG_FORMAT_BMP, 8, -1, 0);
  }
  TempDir dir_;
  ImgBitmap bitmap_;
};

TEST_F(Save, FailuresLeaveOldFilesAndNoTemporaryFile) {
  const std::vector<uint8_t> tiff = ReadFile(dir_.File("in.tif"));
  ASSERT_EQ(0, mkdir(dir_.File("folder").c_str(), 0700));
  for (const std::string& target :
       {dir_.File("missing/out.bmp"), dir_.File("in.tif/out.bmp"), dir_.File("folder")}) {
    EXPECT_EQ(IMG_ERR_CANNOT_WRITE, SaveTo(target)) << target;
    EXPECT_NE(std::string(""), ImgLastErrorDetail());
  }
  EXPECT_EQ(tiff, ReadFile(dir_.File("in.tif")));
  std::vector<std::string> names = dir_.Entries();
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"folder", "in.tif"}), names);
}

TEST_F(Save, ReplacesAnExistingFileKeepingItsMode) {
  WriteFile(dir_.File("out.bmp"), {'o', 'l', 'd'});
  ASSERT_EQ(0, chmod(dir_.File("out.bmp").c_str(), 0640));
  ASSERT_EQ(IMG_SUCCESS, SaveTo(dir_.File("out.bmp")));
  Bmp bmp;
  EXPECT_EQ("", DecodeBmp(dir_.File("out.bmp"), &bmp));
  struct stat st;
  ASSERT_EQ(0, stat(dir_.File("out.bmp").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
  EXPECT_EQ(2u, dir_.Entries().size());
}

TEST_F(Save, SavingThroughALinkReplacesItsTarget) {
  WriteFile(dir_.File("real.bmp"), {'o', 'l', 'd'});
  ASSERT_EQ(0, symlink("real.bmp", dir_.File("link.bmp").c_str()));
  ASSERT_EQ(IMG_SUCCESS, SaveTo(dir_.File("link.bmp")));
  struct stat st;
  ASSERT_EQ(0, lstat(dir_.File("link.bmp").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  Bmp bmp;
  EXPECT_EQ("", DecodeBmp(dir_.File("real.bmp"), &bmp));
}

TEST_F(Save, BadArgumentsFailWithTheirCodes) {
  EXPECT_EQ(IMG_ERR_BAD_ARGUMENT, ImgSaveBitmap(nullptr, &bitmap_, 6, 8, -1, 0));
  EXPECT_EQ(IMG_ERR_BAD_ARGUMENT, ImgSaveBitmap("", &bitmap_, 6, 8, -1, 0));
  const std::string out = dir_.File("out.bmp");
  EXPECT_EQ(IMG_ERR_BAD_ARGUMENT, ImgSaveBitmap(out.c_str(), nullptr, 6, 8, -1, 0));
  EXPECT_EQ(IMG_ERR_UNSUPPORTED_FORMAT, ImgSaveBitmap(out.c_str(), &bitmap_, 5, 8, -1, 0));
  EXPECT_EQ(IMG_ERR_UNSUPPORTED_DEPTH, ImgSaveBitmap(out.c_str(), &bitmap_, 6, 16, -1, 0));
  EXPECT_EQ(IMG_ERR_BAD_ARGUMENT, ImgSaveBitmap(out.c_str(), &bitmap_, 6, 8, -1, 7));
  EXPECT_EQ(1u, dir_.Entries().size());
}

TEST(Handles, NeverLoadedOrFreedHandlesAreHarmless) {
  TempDir dir;
  ImgBitmap garbage;
  std::memset(&garbage, 0xA5, sizeof garbage);  // as a caller's uninitialised handle
  EXPECT_EQ(IMG_ERR_NOT_LOADED, ImgSaveBitmap(dir.File("x.bmp").c_str(), &garbage, 6, 8, -1, 0));
  EXPECT_EQ(IMG_SUCCESS, ImgFreeBitmap(&garbage));
  EXPECT_EQ(IMG_SUCCESS, ImgFreeBitmap(&garbage));

  WriteFile(dir.File("raw.tif"), MakeRawTiff({}));
  ImgBitmap bitmap;
  std::memset(&bitmap, 0xA5, sizeof bitmap);  // load never reads the handle
  ASSERT_EQ(IMG_SUCCESS, ImgLoadBitmap(dir.File("raw.tif").c_str(), &bitmap, 0, 0, 0));
  const ImgBitmap copy = bitmap;
  EXPECT_EQ(IMG_SUCCESS, ImgFreeBitmap(&bitmap));
  EXPECT_EQ(IMG_SUCCESS, ImgFreeBitmap(&bitmap));
  ImgBitmap stale = copy;  // a copy of a freed handle
  EXPECT_EQ(IMG_ERR_NOT_LOADED, ImgSaveBitmap(dir.File("x.bmp").c_str(), &stale, 6, 8, -1, 0));
  EXPECT_EQ(IMG_SUCCESS, ImgFreeBitmap(&stale));
  EXPECT_EQ(IMG_ERR_BAD_ARGUMENT, ImgFreeBitmap(nullptr));
  EXPECT_EQ(1u, dir.Entries().size());
}

}  // namespace
}  // namespace imaging_test
