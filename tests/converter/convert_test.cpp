// Convert against a recording stand-in for the imaging library: a test copy of the
// converter is loaded from a folder that holds the stand-in under the imaging library's
// name, so the copy binds to it at load time.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Rastova.h"
#include "com/bstr.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Copy {
  void* server = nullptr;
  const char* (*calls)() = nullptr;
  void (*reset)(int, int) = nullptr;
  ITiffToBitmap* converter = nullptr;
};

// One copy per process: the stand-in must be the only imaging library in it.
Copy& Converter() {
  static Copy copy = [] {
    Copy c;
    static testsupport::TempDir folder;  // goes at exit, after the last use of the copy
    fs::path dir(folder.path());
    fs::copy_file(SCRIVO_LIB_DIR "/libRastova.so", dir / "libRastova.so");
    fs::copy_file(SCRIVO_LIB_DIR "/libcommodule.so", dir / "libcommodule.so");
    fs::copy_file(FAKE_IMAGING_PATH, dir / fs::path(FAKE_IMAGING_PATH).filename());
    c.server = dlopen((dir / "libRastova.so").c_str(), RTLD_NOW);
    if (!c.server) {
      ADD_FAILURE() << dlerror();
      return c;
    }
    void* fake =
        dlopen((dir / fs::path(FAKE_IMAGING_PATH).filename()).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!fake) {
      ADD_FAILURE() << "the copy is not bound to the stand-in imaging library";
      return c;
    }
    c.calls = reinterpret_cast<const char* (*)()>(dlsym(fake, "FakeImagingCalls"));
    c.reset = reinterpret_cast<void (*)(int, int)>(dlsym(fake, "FakeImagingReset"));
    auto getClassObject = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
        dlsym(c.server, "DllGetClassObject"));
    IClassFactory* factory = nullptr;
    if (getClassObject(CLSID_TiffToBitmap, IID_IClassFactory, reinterpret_cast<void**>(&factory)) !=
        S_OK)
      return c;
    factory->CreateInstance(nullptr, IID_ITiffToBitmap, reinterpret_cast<void**>(&c.converter));
    factory->Release();
    return c;
  }();
  return copy;
}

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Converter().converter, nullptr);
    ASSERT_TRUE(Converter().calls && Converter().reset);
    unsetenv("LC_ALL");
  }
  static void TearDownTestSuite() {
    if (Converter().converter) Converter().converter->Release();
    Converter().converter = nullptr;
  }

  // Converts with the stand-in answering load and save as given; the calls it saw.
  static std::string Run(const char16_t* tiff, const char16_t* bitmap, int load, int save,
                         HRESULT* hr) {
    Converter().reset(load, save);
    BSTR a = tiff ? SysAllocString(tiff) : nullptr;
    BSTR b = bitmap ? SysAllocString(bitmap) : nullptr;
    *hr = Converter().converter->Convert(a, b);
    SysFreeString(a);
    SysFreeString(b);
    return Converter().calls();
  }
};

TEST_F(ConvertTest, LoadsThenSavesEightBitFormatSixThenFreesTheSameHandle) {
  HRESULT hr;
  EXPECT_EQ(Run(u"/data/in.tif", u"/data/out.bmp", 1, 1, &hr),
            "load '/data/in.tif' 0 0 0;save '/data/out.bmp' loaded 6 8 -1 0;free loaded;");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Run(u"same.tif", u"same.tif", 1, 1, &hr),
            "load 'same.tif' 0 0 0;save 'same.tif' loaded 6 8 -1 0;free loaded;");
  EXPECT_EQ(hr, S_OK);
}

TEST_F(ConvertTest, OnlyTheExactValueOneIsSuccess) {
  struct Case {
    int load, save;
    HRESULT hr;
    const char* calls;
  } cases[] = {
      {0, 1, E_FAIL, "load 'a' 0 0 0;"},
      {-2, 1, E_FAIL, "load 'a' 0 0 0;"},
      {2, 1, E_FAIL, "load 'a' 0 0 0;"},
      {1, 0, E_FAIL, "load 'a' 0 0 0;save 'b' loaded 6 8 -1 0;free loaded;"},
      {1, -9, E_FAIL, "load 'a' 0 0 0;save 'b' loaded 6 8 -1 0;free loaded;"},
      {1, 2, E_FAIL, "load 'a' 0 0 0;save 'b' loaded 6 8 -1 0;free loaded;"},
      {1, 1, S_OK, "load 'a' 0 0 0;save 'b' loaded 6 8 -1 0;free loaded;"},
  };
  for (const auto& c : cases) {
    HRESULT hr;
    EXPECT_EQ(Run(u"a", u"b", c.load, c.save, &hr), c.calls) << c.load << " " << c.save;
    EXPECT_EQ(hr, c.hr) << c.load << " " << c.save;
  }
}

TEST_F(ConvertTest, NullPathsReachTheLibraryAsNullAndEmptyOnesAsEmpty) {
  HRESULT hr;
  EXPECT_EQ(Run(nullptr, nullptr, 1, 1, &hr),
            "load null 0 0 0;save null loaded 6 8 -1 0;free loaded;");
  EXPECT_EQ(Run(u"", u"", 1, 0, &hr), "load '' 0 0 0;save '' loaded 6 8 -1 0;free loaded;");
  EXPECT_EQ(hr, E_FAIL);
}

TEST_F(ConvertTest, APathEndsAtItsFirstZero) {
  Converter().reset(1, 1);
  const char16_t text[] = u"in.tif\0hidden";
  BSTR a = SysAllocStringLen(text, sizeof text / sizeof text[0] - 1);
  BSTR b = SysAllocString(u"out.bmp");
  EXPECT_EQ(Converter().converter->Convert(a, b), S_OK);
  SysFreeString(a);
  SysFreeString(b);
  EXPECT_EQ(std::string(Converter().calls()),
            "load 'in.tif' 0 0 0;save 'out.bmp' loaded 6 8 -1 0;free loaded;");
}

TEST_F(ConvertTest, ACharacterOutsideTheCodePageBecomesItsDefaultCharacter) {
  locale_t latin1 = newlocale(LC_CTYPE_MASK, "en_US.ISO-8859-1", static_cast<locale_t>(0));
  ASSERT_NE(latin1, nullptr) << "the locale en_US.ISO-8859-1 is missing: run scripts/setup";
  freelocale(latin1);
  setenv("LC_ALL", "en_US.ISO-8859-1", 1);
  HRESULT hr;
  // e-acute is in Latin-1, the euro sign and the CJK character are not.
  EXPECT_EQ(Run(u"/d/caf\u00e9 \u20ac\u4e2d.tif", u"/d/caf\u00e9.bmp", 1, 1, &hr),
            "load '/d/caf\xe9 ??.tif' 0 0 0;save '/d/caf\xe9.bmp' loaded 6 8 -1 0;free loaded;");
  EXPECT_EQ(hr, S_OK);
}

TEST_F(ConvertTest, AMultiByteCodePageIsNeverCutShort) {
  setenv("LC_ALL", "C.UTF-8", 1);
  // Three bytes per unit for CJK, four per surrogate pair: far beyond two bytes a unit.
  std::u16string path = u"/d/";
  for (int i = 0; i < 40; ++i) path += u"\u4e2d";
  path += u"\U0001F600.tif";
  std::string utf8 = "/d/";
  for (int i = 0; i < 40; ++i) utf8 += "\xe4\xb8\xad";
  utf8 += "\xf0\x9f\x98\x80.tif";
  HRESULT hr;
  EXPECT_EQ(Run(path.c_str(), path.c_str(), 1, 1, &hr),
            "load '" + utf8 + "' 0 0 0;save '" + utf8 + "' loaded 6 8 -1 0;free loaded;");
  EXPECT_EQ(hr, S_OK);
}

}  // namespace
