#include "com/activation.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "com/errorinfo.h"
#include "com/ptr.h"
#include "com/registry.h"
#include "support/files.h"
#include "support/private_registry.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "widget.h"

namespace {

using testsupport::RunResult;

const std::string kLib = SCRIVO_LIB_DIR;
const std::string kRegsvr = std::string(SCRIVO_BIN_DIR) + "/regsvr";
const std::string kWidgetServer = kLib + "/libact_widget_server.so";

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    auto r = testsupport::Run(kRegsvr + " " + kWidgetServer);
    ASSERT_EQ(r.status, 0) << r.out;
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  static bool IsLoaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
  }

  // Registers CLSID {..F49} with the given server path and returns what activation says.
  static com::ErrorDescription CreateWithPath(const std::string& path) {
    constexpr CLSID kOther = com::Guid("{5B1E2C0A-7D34-4F21-9A0E-3C7B9E1D2F49}");
    com::registry::SetText("HKCR\\CLSID\\" + com::GuidToString(kOther) + "\\InprocServer32", "",
                           path);
    com::ComPtr<IUnknown> obj;
    HRESULT hr =
        CoCreateInstance(kOther, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, obj.PutVoid());
    return com::TakeError(hr);
  }

  testsupport::PrivateRegistry registry_;
};

LONG VersionOf(IWidget* w) {
  LONG v = 0;
  w->Version(&v);
  return v;
}

TEST_F(Activation, CreatesByClsidAndByProgIdFollowingCurVer) {
  com::ComPtr<IWidget> w;
  ASSERT_EQ(
      CoCreateInstance(CLSID_Widget1, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget, w.PutVoid()),
      S_OK);
  EXPECT_EQ(VersionOf(w.Get()), 1);

  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"ActTest.Widget.1", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_Widget1);
  ASSERT_EQ(CLSIDFromProgID(u"actTEST.widget", &clsid), S_OK);  // names ignore case
  EXPECT_EQ(clsid, CLSID_Widget2);

  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_Widget1, &progId), S_OK);
  EXPECT_EQ(std::u16string_view(progId), u"ActTest.Widget.1");
  CoTaskMemFree(progId);

  EXPECT_EQ(CLSIDFromProgID(u"ActTest.Nothing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID_NULL);
  EXPECT_NE(com::Utf16ToUtf8(com::TakeError(S_OK).description).find("ActTest.Nothing"),
            std::string::npos);
}

TEST_F(Activation, LibraryStaysLoadedWhileAnObjectLives) {
  com::ComPtr<IWidget> w;
  ASSERT_EQ(
      CoCreateInstance(CLSID_Widget2, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget, w.PutVoid()),
      S_OK);
  EXPECT_TRUE(IsLoaded(kWidgetServer));
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsLoaded(kWidgetServer));
  EXPECT_EQ(VersionOf(w.Get()), 2);
  w = nullptr;
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(kWidgetServer));
  EXPECT_EQ(com::LoadedServerCount(), 0u);
  // And it loads again on the next creation.
  ASSERT_EQ(
      CoCreateInstance(CLSID_Widget1, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget, w.PutVoid()),
      S_OK);
  EXPECT_EQ(VersionOf(w.Get()), 1);
}

TEST_F(Activation, ClassObjectLookupAndUnknownInterface) {
  com::ComPtr<IClassFactory> f;
  ASSERT_EQ(CoGetClassObject(CLSID_Widget1, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             f.PutVoid()),
            S_OK);
  com::ComPtr<IClassFactory> notThere;
  EXPECT_EQ(CoCreateInstance(CLSID_Widget1, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                             notThere.PutVoid()),
            E_NOINTERFACE);
  EXPECT_FALSE(notThere);
}

TEST_F(Activation, FailuresCarryCodesAndDescriptions) {
  testsupport::TempDir tmp;
  testsupport::WriteFile(tmp / "garbage.so", "this is not a library");
  std::filesystem::copy_file(kLib + "/libact_dep_server.so", tmp / "libact_dep_server.so");
  struct Case {
    const char* name;
    std::string path;
    HRESULT hr;
    std::string mentions;
  } cases[] = {
      {"relative path", "libact_widget_server.so", CO_E_DLLNOTFOUND, "not an absolute path"},
      {"missing file", tmp / "gone.so", CO_E_DLLNOTFOUND, "missing"},
      {"not a library", tmp / "garbage.so", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "garbage.so"},
      {"missing dependency", tmp / "libact_dep_server.so", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
       "libact_dep.so"},
      {"no entry points", kLib + "/libact_no_entry_server.so", CO_E_ERRORINDLL,
       "does not export DllGetClassObject"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    com::ErrorDescription e = CreateWithPath(c.path);
    EXPECT_EQ(e.number, c.hr) << com::FormatResult(e.number);
    EXPECT_NE(com::Utf16ToUtf8(e.description).find(c.mentions), std::string::npos)
        << com::Utf16ToUtf8(e.description);
  }

  constexpr CLSID kNever = com::Guid("{5B1E2C0A-7D34-4F21-9A0E-3C7B9E1D2F4F}");
  com::ComPtr<IUnknown> obj;
  HRESULT hr = CoCreateInstance(kNever, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, obj.PutVoid());
  com::ErrorDescription e = com::TakeError(hr);
  EXPECT_EQ(e.number, REGDB_E_CLASSNOTREG);
  EXPECT_NE(com::Utf16ToUtf8(e.description).find(com::GuidToString(kNever)), std::string::npos);
}

TEST_F(Activation, RegsvrUnregistersAndReportsFailures) {
  auto r = testsupport::Run(kRegsvr + " -u " + kWidgetServer);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("DllUnregisterServer"), std::string::npos);
  EXPECT_FALSE(com::registry::KeyExists("HKCR\\ActTest.Widget"));
  EXPECT_FALSE(com::registry::KeyExists("HKCR\\CLSID\\" + com::GuidToString(CLSID_Widget1)));

  testsupport::TempDir tmp;
  std::filesystem::copy_file(kLib + "/libact_dep_server.so", tmp / "libact_dep_server.so");
  r = testsupport::Run(kRegsvr + " " + (tmp / "libact_dep_server.so"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("libact_dep.so"), std::string::npos) << r.out;

  r = testsupport::Run(kRegsvr + " " + kLib + "/libact_no_entry_server.so");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("does not export DllRegisterServer"), std::string::npos) << r.out;

  for (const char* args : {"", "-x lib.so", "a.so b.so"}) {
    r = testsupport::Run(kRegsvr + " " + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }
  EXPECT_EQ(testsupport::Run(kRegsvr + " --help").status, 0);
}

}  // namespace
