// The converter component as clients see it: registration, class factory, aggregation,
// interface table, dispatch, and conversions through the class registry.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "../server/registry_dump.h"
#include "Rastova.h"
#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/module.h"
#include "com/ptr.h"
#include "com/registry.h"
#include "com/strings.h"
#include "com/typelib.h"
#include "support/private_registry.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "tiff_fixture.h"

namespace fs = std::filesystem;
using testing_registry::Dump;
using testsupport::Quote;

namespace {

const std::string kLibrary = SCRIVO_LIB_DIR "/libRastova.so";
const std::string kRegsvr = SCRIVO_BIN_DIR "/regsvr";
const std::string kClsid = "{2621762B-0DED-4A5D-81D1-F27C56D18377}";
const std::string kLibid = "{F4634414-0881-4BCA-A010-3BC14741C199}";

// A shell command line; its exit status and everything it printed.
testsupport::RunResult RunCommand(const std::string& line) { return testsupport::Run(line); }

struct Exports {
  void* handle = nullptr;
  HRESULT (*canUnloadNow)() = nullptr;
  HRESULT (*getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT (*registerServer)() = nullptr;
  HRESULT (*unregisterServer)() = nullptr;
};

Exports Load(const std::string& path) {
  Exports e;
  e.handle = dlopen(path.c_str(), RTLD_NOW);
  if (!e.handle) return e;
  e.canUnloadNow = reinterpret_cast<HRESULT (*)()>(dlsym(e.handle, "DllCanUnloadNow"));
  e.getClassObject =
      reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(dlsym(e.handle, "DllGetClassObject"));
  e.registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(e.handle, "DllRegisterServer"));
  e.unregisterServer = reinterpret_cast<HRESULT (*)()>(dlsym(e.handle, "DllUnregisterServer"));
  return e;
}

class RastovaTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registry_.emplace();
    CoInitialize(nullptr);
  }
  static void TearDownTestSuite() {
    CoUninitialize();
    registry_.reset();
  }

  void SetUp() override {
    auto r = RunCommand(Quote(kRegsvr) + " " + Quote(kLibrary));
    ASSERT_EQ(r.status, 0) << r.out;
    temp_.emplace();
    folder_ = temp_->path();
  }
  void TearDown() override { temp_.reset(); }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  static com::ComPtr<ITiffToBitmap> Create() {
    CLSID clsid{};
    com::ComPtr<ITiffToBitmap> p;
    EXPECT_EQ(CLSIDFromProgID(u"Rastova.TiffToBitmap", &clsid), S_OK);
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITiffToBitmap, p.PutVoid()),
        S_OK);
    return p;
  }

  static HRESULT Convert(ITiffToBitmap* c, const std::string& in, const std::string& out) {
    com::BStr a(in), b(out);
    return c->Convert(a.Get(), b.Get());
  }

  static inline std::optional<testsupport::PrivateRegistry> registry_;
  std::optional<testsupport::TempDir> temp_;
  std::string folder_;
};

TEST_F(RastovaTest, RegistrationWritesExactlyTheScriptsKeysAndTheTypeLibrary) {
  std::string module = fs::canonical(kLibrary).string();
  const std::string c = "HKCR\\CLSID\\" + kClsid;
  EXPECT_EQ(Dump(c), (std::vector<std::string>{
                         c,
                         c + "\\InprocServer32",
                         c + "\\InprocServer32|=s:" + module,
                         c + "\\InprocServer32|ThreadingModel=s:Apartment",
                         c + "\\ProgID",
                         c + "\\ProgID|=s:Rastova.TiffToBitmap.1",
                         c + "\\Programmable",
                         c + "\\TypeLib",
                         c + "\\TypeLib|=s:" + kLibid,
                         c + "\\VersionIndependentProgID",
                         c + "\\VersionIndependentProgID|=s:Rastova.TiffToBitmap",
                         c + "|=s:TiffToBitmap Class",
                     }));
  const std::string v1 = "HKCR\\Rastova.TiffToBitmap.1";
  EXPECT_EQ(Dump(v1), (std::vector<std::string>{v1, v1 + "\\CLSID", v1 + "\\CLSID|=s:" + kClsid,
                                                v1 + "|=s:TiffToBitmap Class"}));
  const std::string vi = "HKCR\\Rastova.TiffToBitmap";
  EXPECT_EQ(Dump(vi),
            (std::vector<std::string>{vi, vi + "\\CLSID", vi + "\\CLSID|=s:" + kClsid,
                                      vi + "\\CurVer", vi + "\\CurVer|=s:Rastova.TiffToBitmap.1",
                                      vi + "|=s:TiffToBitmap Class"}));
  std::string text;
  ASSERT_EQ(com::registry::GetText("HKCR\\TypeLib\\" + kLibid + "\\1.0", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "Rastova 1.0 Type Library");

  // Unregistration takes all of it away but the shared CLSID key.
  ASSERT_EQ(com::registry::SetText("HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}", "", "x"),
            ERROR_SUCCESS);
  ASSERT_EQ(com::registry::SetText(c + "\\AddedLater", "", "x"), ERROR_SUCCESS);
  auto r = RunCommand(Quote(kRegsvr) + " -u " + Quote(kLibrary));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(com::registry::KeyExists(v1));
  EXPECT_FALSE(com::registry::KeyExists(vi));
  EXPECT_FALSE(com::registry::KeyExists(c));
  EXPECT_FALSE(com::registry::KeyExists("HKCR\\TypeLib\\" + kLibid));
  EXPECT_TRUE(com::registry::KeyExists("HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}"));
  r = RunCommand(Quote(kRegsvr) + " -u " + Quote(kLibrary));
  EXPECT_EQ(r.status, 0) << "unregistering twice: " << r.out;
}

std::string Text(BSTR b) {
  std::string s = com::Utf16ToUtf8(std::u16string_view(b ? b : u"", SysStringLen(b)));
  SysFreeString(b);
  return s;
}

TEST_F(RastovaTest, CarriesItsScriptTypeLibraryStringAndVersionBlock) {
  Exports e = Load(kLibrary);
  ASSERT_TRUE(e.handle) << dlerror();
  EXPECT_TRUE(com::FindResource(e.handle, "REGISTRY", 101));
  EXPECT_EQ(com::LoadStringResource(e.handle, 100), std::u16string(u"Rastova"));

  auto v = com::ReadVersionInfo(e.handle);
  ASSERT_TRUE(v);
  const WORD version[4] = {1, 0, 0, 1};
  EXPECT_TRUE(std::equal(version, version + 4, v->fileVersion));
  EXPECT_TRUE(std::equal(version, version + 4, v->productVersion));
  EXPECT_EQ(v->language, 0x0409);
  EXPECT_EQ(v->codePage, 1200);
  EXPECT_EQ(v->fileType, 2u);  // a dynamic-link library
  EXPECT_EQ(v->fileOS, 0x40004u);
  EXPECT_EQ(v->FileVersion, u"1, 0, 0, 1");
  EXPECT_EQ(v->ProductVersion, u"1, 0, 0, 1");
  EXPECT_EQ(v->FileDescription, u"Rastova Module");
  EXPECT_EQ(v->ProductName, u"Rastova Module");
  EXPECT_EQ(v->InternalName, u"Rastova");
  EXPECT_EQ(v->OriginalFilename, u"Rastova.DLL");
  EXPECT_EQ(v->CompanyName, u"");
  EXPECT_TRUE(v->OLESelfRegister);

  com::ComPtr<ITypeLib> lib;
  ASSERT_EQ(com::LoadTypeLibFromResource(e.handle, 1, lib.Put()), S_OK);
  TLIBATTR* la = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
  EXPECT_EQ(la->guid, LIBID_RASTOVALib);
  EXPECT_EQ(la->wMajorVerNum, 1);
  EXPECT_EQ(la->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(la);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "RASTOVALib");
  EXPECT_EQ(Text(doc), "Rastova 1.0 Type Library");

  com::ComPtr<ITypeInfo> coclass, itf;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_TiffToBitmap, coclass.Put()), S_OK);
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&ta), S_OK);
  EXPECT_EQ(ta->typekind, TKIND_COCLASS);
  EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FCANCREATE);
  coclass->ReleaseTypeAttr(ta);
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "TiffToBitmap");
  EXPECT_EQ(Text(doc), "TiffToBitmap Class");

  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ITiffToBitmap, itf.Put()), S_OK);
  ASSERT_EQ(itf->GetTypeAttr(&ta), S_OK);
  EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  itf->ReleaseTypeAttr(ta);
  ASSERT_EQ(itf->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "ITiffToBitmap");
  EXPECT_EQ(Text(doc), "ITiffToBitmap Interface");
  ASSERT_EQ(itf->GetDocumentation(1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "Convert");
  EXPECT_EQ(Text(doc), "method Convert");
  BSTR names[3] = {};
  UINT count = 0;
  ASSERT_EQ(itf->GetNames(1, names, 3, &count), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(Text(names[0]), "Convert");
  EXPECT_EQ(Text(names[1]), "pathToTiff");
  EXPECT_EQ(Text(names[2]), "pathToBitmap");
  dlclose(e.handle);
}

TEST_F(RastovaTest, CanUnloadNowFollowsObjectsFactoryReferencesAndServerLocks) {
  Exports e = Load(kLibrary);
  ASSERT_TRUE(e.handle && e.canUnloadNow && e.getClassObject) << dlerror();
  EXPECT_EQ(e.canUnloadNow(), S_OK);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(
      e.getClassObject(CLSID_TiffToBitmap, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      S_OK);
  EXPECT_EQ(e.canUnloadNow(), S_FALSE) << "a client holds the factory";
  ITiffToBitmap* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITiffToBitmap, reinterpret_cast<void**>(&object)),
            S_OK);
  factory->Release();
  EXPECT_EQ(e.canUnloadNow(), S_FALSE) << "an object is alive";
  object->Release();
  EXPECT_EQ(e.canUnloadNow(), S_OK) << "the cached factory alone keeps nothing loaded";

  IClassFactory* again = nullptr;
  ASSERT_EQ(
      e.getClassObject(CLSID_TiffToBitmap, IID_IClassFactory, reinterpret_cast<void**>(&again)),
      S_OK);
  EXPECT_EQ(again, factory) << "the factory is cached";
  EXPECT_EQ(again->LockServer(TRUE), S_OK);
  again->Release();
  EXPECT_EQ(e.canUnloadNow(), S_FALSE);
  EXPECT_EQ(again->LockServer(FALSE), S_OK);  // the module still holds it
  EXPECT_EQ(e.canUnloadNow(), S_OK);
  // An unlock without its lock cannot take away an object's hold on the module.
  ASSERT_EQ(again->CreateInstance(nullptr, IID_ITiffToBitmap, reinterpret_cast<void**>(&object)),
            S_OK);
  EXPECT_EQ(again->LockServer(FALSE), S_OK);
  EXPECT_EQ(e.canUnloadNow(), S_FALSE);
  object->Release();
  EXPECT_EQ(e.canUnloadNow(), S_OK);

  void* p = reinterpret_cast<void*>(1);
  GUID other = com::Guid("{00000000-1111-2222-3333-444444444444}");
  EXPECT_EQ(e.getClassObject(other, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(e.getClassObject(CLSID_TiffToBitmap, IID_ISupportErrorInfo, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(e.canUnloadNow(), S_OK);
  dlclose(e.handle);
}

TEST_F(RastovaTest, CreateInstanceChecksItsArgumentsAndDropsAnObjectWithoutTheInterface) {
  Exports e = Load(kLibrary);
  ASSERT_TRUE(e.handle) << dlerror();
  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(e.getClassObject(CLSID_TiffToBitmap, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITiffToBitmap, nullptr), E_POINTER);
  for (const IID* iid : {&IID_ISupportErrorInfo, &IID_IProvideClassInfo, &IID_IClassFactory}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, *iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
  factory.Reset();
  EXPECT_EQ(e.canUnloadNow(), S_OK) << "the refused objects are gone";
  dlclose(e.handle);
}

// An outer object that hands out the inner object's interfaces.
struct Outer : IUnknown {
  ULONG refs = 1;
  IUnknown* inner = nullptr;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST_F(RastovaTest, AggregatesOnlyWhenAskedForIUnknown) {
  Exports e = Load(kLibrary);
  ASSERT_TRUE(e.handle) << dlerror();
  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(e.getClassObject(CLSID_TiffToBitmap, IID_IClassFactory, factory.PutVoid()), S_OK);
  Outer outer;
  for (const IID* iid : {&IID_ITiffToBitmap, &IID_IDispatch}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, *iid, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
  }
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
            S_OK);
  ASSERT_NE(outer.inner, nullptr);
  factory.Reset();
  EXPECT_EQ(e.canUnloadNow(), S_FALSE);

  // The interfaces handed out count on and answer for the outer object.
  ITiffToBitmap* converter = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_ITiffToBitmap, reinterpret_cast<void**>(&converter)),
            S_OK);
  EXPECT_EQ(outer.refs, 2u);
  IUnknown* identity = nullptr;
  ASSERT_EQ(converter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();
  converter->Release();
  EXPECT_EQ(outer.refs, 1u);
  // The inner object's own IUnknown does not delegate.
  IUnknown* own = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&own)), S_OK);
  EXPECT_EQ(own, outer.inner);
  own->Release();
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(outer.inner->QueryInterface(IID_ISupportErrorInfo, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(e.canUnloadNow(), S_OK);
  dlclose(e.handle);
}

TEST_F(RastovaTest, AnswersItsInterfaceTableAndNothingElse) {
  auto c = Create();
  ASSERT_TRUE(c);
  for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_ITiffToBitmap}) {
    IUnknown* p = nullptr;
    ASSERT_EQ(c->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
    EXPECT_EQ(p, static_cast<IUnknown*>(c.Get()));
    p->Release();
  }
  for (const IID* iid : {&IID_ISupportErrorInfo, &IID_IProvideClassInfo, &IID_IClassFactory}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(c->QueryInterface(*iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
  EXPECT_EQ(c->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
}

TEST_F(RastovaTest, DispatchGoesThroughTheRegisteredTypeLibrary) {
  auto c = Create();
  ASSERT_TRUE(c);
  UINT count = 0;
  EXPECT_EQ(c->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  com::ComPtr<ITypeInfo> first, other;
  ASSERT_EQ(c->GetTypeInfo(0, 0, first.Put()), S_OK);
  ASSERT_EQ(c->GetTypeInfo(7, 0x0409, other.Put()), S_OK);
  EXPECT_EQ(first.Get(), other.Get());
  EXPECT_EQ(c->GetTypeInfo(0, 0, nullptr), E_POINTER);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_ITiffToBitmap);
  first->ReleaseTypeAttr(attr);

  OLECHAR name[] = u"Convert";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(c->GetIDsOfNames(IID_IUnknown, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 1);
  OLECHAR unknown[] = u"Nothing";
  names[0] = unknown;
  EXPECT_EQ(c->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);

  // Invoke converts as the method-table call does.
  std::string tif = Path("d.tif");
  ASSERT_TRUE(fixture::WriteTiff(tif, fixture::Depth::Rgb24));
  com::BStr arg(tif);
  VARIANT args[2];
  for (auto& a : args) {
    a.vt = VT_BSTR;
    a.bstrVal = arg.Get();
  }
  DISPPARAMS params{args, nullptr, 2, 0};
  EXPECT_EQ(c->Invoke(1, GUID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(fixture::ReadBmp(tif).bitsPerPixel, 8);
}

TEST_F(RastovaTest, WithoutTheTypeLibraryDispatchFailsButConvertWorks) {
  // A copy has its own module state, so nothing is cached from an earlier test.
  std::string dir = Path("copy");
  fs::create_directory(dir);
  for (const char* f : {"libRastova.so", "libcommodule.so", "libimaging.so"})
    fs::copy_file(std::string(SCRIVO_LIB_DIR "/") + f, dir + "/" + f);
  Exports e = Load(dir + "/libRastova.so");
  ASSERT_TRUE(e.handle) << dlerror();
  ASSERT_EQ(e.unregisterServer(), S_OK);
  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(e.getClassObject(CLSID_TiffToBitmap, IID_IClassFactory, factory.PutVoid()), S_OK);
  com::ComPtr<ITiffToBitmap> c;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITiffToBitmap, c.PutVoid()), S_OK);

  OLECHAR name[] = u"Convert";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(c->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
  com::ComPtr<ITypeInfo> info;
  EXPECT_EQ(c->GetTypeInfo(0, 0, info.Put()), TYPE_E_LIBNOTREGISTERED);
  IErrorInfo* error = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &error), S_FALSE) << "failures are plain result codes";
  if (error) error->Release();

  std::string tif = Path("e.tif");
  ASSERT_TRUE(fixture::WriteTiff(tif, fixture::Depth::Grey8));
  EXPECT_EQ(Convert(c.Get(), tif, tif), S_OK);
  EXPECT_EQ(fixture::ReadBmp(tif).bitsPerPixel, 8);
  c.Reset();
  factory.Reset();
  dlclose(e.handle);
}

TEST_F(RastovaTest, UnloadsWhenUnusedReleasingWhatItCachedAndLoadsAgain) {
  for (int round = 0; round < 2; ++round) {
    auto c = Create();
    ASSERT_TRUE(c);
    com::ComPtr<ITypeInfo> info;
    ASSERT_EQ(c->GetTypeInfo(0, 0, info.Put()), S_OK);  // cached until the module stops
    info.Reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(com::LoadedServerCount(), 1u) << "an object is alive";
    c.Reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(com::LoadedServerCount(), 0u);
  }
}

TEST_F(RastovaTest, ConvertsEveryDepthInPlaceToEightBits) {
  auto c = Create();
  ASSERT_TRUE(c);
  using fixture::Depth;
  for (Depth d : {Depth::Bilevel, Depth::Grey8, Depth::Palette8, Depth::Rgb24}) {
    std::string tif = Path("in" + std::to_string(static_cast<int>(d)) + ".tif");
    ASSERT_TRUE(fixture::WriteTiff(tif, d, 41, 17));
    ASSERT_EQ(Convert(c.Get(), tif, tif), S_OK) << static_cast<int>(d);
    auto bmp = fixture::ReadBmp(tif);
    EXPECT_TRUE(bmp.isBmp);
    EXPECT_EQ(bmp.bitsPerPixel, 8);
    EXPECT_EQ(bmp.width, 41);
    EXPECT_EQ(std::abs(bmp.height), 17);
  }
  // To another file, the source stays as it was.
  std::string tif = Path("keep.tif"), bmp = Path("out.bmp");
  ASSERT_TRUE(fixture::WriteTiff(tif, Depth::Rgb24));
  auto size = fs::file_size(tif);
  EXPECT_EQ(Convert(c.Get(), tif, bmp), S_OK);
  EXPECT_EQ(fixture::ReadBmp(bmp).bitsPerPixel, 8);
  EXPECT_EQ(fs::file_size(tif), size);
}

TEST_F(RastovaTest, FailuresAreEFailAndWriteNothing) {
  auto c = Create();
  ASSERT_TRUE(c);
  EXPECT_EQ(Convert(c.Get(), Path("missing.tif"), Path("out.bmp")), E_FAIL);
  EXPECT_FALSE(fs::exists(Path("out.bmp")));
  std::string notTiff = Path("text.tif");
  { std::ofstream(notTiff) << "not an image"; }
  EXPECT_EQ(Convert(c.Get(), notTiff, notTiff), E_FAIL);
  std::string tif = Path("good.tif");
  ASSERT_TRUE(fixture::WriteTiff(tif, fixture::Depth::Palette8));
  EXPECT_EQ(Convert(c.Get(), tif, Path("no/such/folder/out.bmp")), E_FAIL);
  EXPECT_FALSE(fs::exists(Path("no")));
  EXPECT_EQ(Convert(c.Get(), "", ""), E_FAIL);
  IErrorInfo* error = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &error), S_FALSE) << "failures are plain result codes";
  if (error) error->Release();
}

TEST_F(RastovaTest, ComcallConvertsByProgIdThroughDispatch) {
  ASSERT_TRUE(fixture::WriteTiff(Path("a.tif"), fixture::Depth::Rgb24));
  auto r = RunCommand("cd " + Quote(folder_) + " && " + Quote(SCRIVO_BIN_DIR "/comcall") +
                      " Rastova.TiffToBitmap 'Convert(a.tif, a.tif)'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(fixture::ReadBmp(Path("a.tif")).bitsPerPixel, 8);
}

TEST_F(RastovaTest, Tiff2bmpConvertsAndSaysInOneLineWhatFailed) {
  const std::string tool = Quote(SCRIVO_BIN_DIR "/tiff2bmp");
  ASSERT_TRUE(fixture::WriteTiff(Path("a.tif"), fixture::Depth::Bilevel));
  auto r = RunCommand(tool + " " + Quote(Path("a.tif")) + " " + Quote(Path("b.bmp")));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(fixture::ReadBmp(Path("b.bmp")).bitsPerPixel, 8);
  r = RunCommand(tool + " " + Quote(Path("a.tif")));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(fixture::ReadBmp(Path("a.tif")).bitsPerPixel, 8);

  r = RunCommand(tool + " " + Quote(Path("none.tif")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "tiff2bmp: cannot convert " + Path("none.tif") + " to " + Path("none.tif") +
                       ": " + Path("none.tif") + ": No such file or directory\n");
  r = RunCommand(tool + " " + Quote(Path("b.bmp")) + " " + Quote(Path("x/y.bmp")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("folder " + Path("x/")), std::string::npos) << r.out;
  EXPECT_EQ(RunCommand(tool).status, 2);
  EXPECT_EQ(RunCommand(tool + " a b c").status, 2);
  r = RunCommand(tool + " --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: tiff2bmp IN.tif [OUT.bmp]"), std::string::npos);
  r = RunCommand("COMRT_REGISTRY=" + Quote(Path("empty.db")) + " " + tool + " " +
                 Quote(Path("b.bmp")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("tiff2bmp: Rastova.TiffToBitmap is not registered: ", 0), 0u) << r.out;
}

TEST_F(RastovaTest, WithoutItsImagingLibraryTheServerCannotLoadRegisterOrCreate) {
  // A copy beside the module library but not the imaging library; run in other processes so
  // this one's loaded libraries cannot stand in.
  std::string dir = Path("lib");
  fs::create_directories(dir);
  fs::copy_file(kLibrary, dir + "/libRastova.so");
  fs::copy_file(SCRIVO_LIB_DIR "/libcommodule.so", dir + "/libcommodule.so");
  const std::string loader = "libimaging.so: cannot open shared object file";
  auto r = RunCommand(Quote(kRegsvr) + " " + Quote(dir + "/libRastova.so"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find(loader), std::string::npos) << r.out;

  std::string env = "COMRT_REGISTRY=" + Quote(Path("fault.db")) + " ";
  r = RunCommand(env + Quote(kRegsvr) + " " + Quote(kLibrary) + " && " + env +
                 Quote(SCRIVO_BIN_DIR "/reg") + " set " +
                 Quote("HKCR\\CLSID\\" + kClsid + "\\InprocServer32") + " @ " +
                 Quote(dir + "/libRastova.so"));
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(fixture::WriteTiff(Path("a.tif"), fixture::Depth::Grey8));
  r = RunCommand(env + Quote(SCRIVO_BIN_DIR "/tiff2bmp") + " " + Quote(Path("a.tif")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("tiff2bmp: cannot create Rastova.TiffToBitmap: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(loader), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
}

}  // namespace
