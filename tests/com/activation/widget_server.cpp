// A hand-made in-process server with two classes, for activation tests.
#include <dlfcn.h>

#include <atomic>
#include <new>
#include <string>

#include "com/activation.h"
#include "com/registry.h"
#include "widget.h"

namespace {

std::atomic<int> g_locks{0};

class Widget final : public IWidget {
 public:
  explicit Widget(LONG version) : version_(version) { ++g_locks; }
  ~Widget() { --g_locks; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IWidget) {
      *ppv = static_cast<IWidget*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE Version(LONG* v) override {
    *v = version_;
    return S_OK;
  }

 private:
  ULONG refs_ = 0;
  LONG version_;
};

class Factory final : public IClassFactory {
 public:
  explicit Factory(LONG version) : version_(version) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++g_locks;
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    --g_locks;
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* w = new (std::nothrow) Widget(version_);
    if (!w) return E_OUTOFMEMORY;
    w->AddRef();
    HRESULT hr = w->QueryInterface(riid, ppv);
    w->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }

 private:
  LONG version_;
};

Factory g_factory1(1), g_factory2(2);

std::string ModulePath() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&ModulePath), &info);
  return info.dli_fname ? info.dli_fname : "";
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (clsid == CLSID_Widget1) return g_factory1.QueryInterface(riid, ppv);
  if (clsid == CLSID_Widget2) return g_factory2.QueryInterface(riid, ppv);
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT DllCanUnloadNow() { return g_locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT DllRegisterServer() {
  using namespace com::registry;
  const std::string path = ModulePath();
  const std::string c1 = com::GuidToString(CLSID_Widget1), c2 = com::GuidToString(CLSID_Widget2);
  BeginTransaction();
  SetText("HKCR\\CLSID\\" + c1 + "\\InprocServer32", "", path);
  SetText("HKCR\\CLSID\\" + c1 + "\\ProgID", "", "ActTest.Widget.1");
  SetText("HKCR\\CLSID\\" + c2 + "\\InprocServer32", "", path);
  SetText("HKCR\\ActTest.Widget.1\\CLSID", "", c1);
  SetText("HKCR\\ActTest.Widget.2\\CLSID", "", c2);
  // The version-independent name points at version 1 directly but at version 2 through
  // CurVer: activation must follow CurVer.
  SetText("HKCR\\ActTest.Widget\\CLSID", "", c1);
  SetText("HKCR\\ActTest.Widget\\CurVer", "", "ActTest.Widget.2");
  return CommitTransaction() == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT DllUnregisterServer() {
  using namespace com::registry;
  BeginTransaction();
  for (const char* key : {"ActTest.Widget", "ActTest.Widget.1", "ActTest.Widget.2"})
    DeleteTree(std::string("HKCR\\") + key);
  DeleteTree("HKCR\\CLSID\\" + com::GuidToString(CLSID_Widget1));
  DeleteTree("HKCR\\CLSID\\" + com::GuidToString(CLSID_Widget2));
  return CommitTransaction() == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}
