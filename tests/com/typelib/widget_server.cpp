// A hand-made in-process server for _IWidget: its IDispatch is the type information's,
// loaded from the type library this library carries as a resource.
#include <atomic>
#include <string>

#include "com/dispatch.h"
#include "com/errorinfo.h"
#include "com/module.h"
#include "com/ptr.h"
#include "com/registry.h"
#include "com/safearray.h"
#include "com/typelib.h"
#include "widget.h"  // generated from widget.idl

namespace {

std::atomic<LONG> gLocks{0};
com::TypeInfoHolder gWidgetTypeInfo(IID__IWidget, com::TypeInfoHolder::FromModuleOf(&gLocks));

std::u16string View(BSTR b) { return std::u16string(b ? b : u"", SysStringLen(b)); }
BSTR Make(std::u16string_view s) { return com::BStr(s).Detach(); }

class Widget final : public com::DispatchImpl<_IWidget, &gWidgetTypeInfo> {
 public:
  Widget() {
    VariantInit(&data_);
    ++gLocks;
  }
  ~Widget() {
    VariantClear(&data_);
    --gLocks;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    // The earlier identity answers with the same interface.
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__IWidget ||
        riid == IID_IWidget___v0) {
      *ppv = static_cast<_IWidget*>(this);
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

  HRESULT STDMETHODCALLTYPE get_Picture(IDispatch** r) override {
    *r = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE putref_Data(VARIANT v) override { return VariantCopy(&data_, &v); }
  HRESULT STDMETHODCALLTYPE get_Data(VARIANT* r) override { return VariantCopy(r, &data_); }
  HRESULT STDMETHODCALLTYPE put_Count(LONG v) override {
    count_ = v;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* r) override {
    *r = count_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Shown(VARIANT_BOOL v) override {
    shown_ = v;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Shown(VARIANT_BOOL* r) override {
    *r = shown_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Key(BSTR v) override {
    key_ = View(v);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* r) override {
    *r = Make(key_.empty() ? u"Widget" : key_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Run() override {
    ++count_;
    return S_OK;
  }
  // 1: a fixed text; 2: changes the argument; anything else: empty.
  HRESULT STDMETHODCALLTYPE Execute(LONG action, VARIANT* arg, BSTR* r) override {
    *r = nullptr;
    if (action == 1) *r = Make(u"MS Sans Serif");
    if (action == 2) {
      VariantClear(arg);
      arg->vt = VT_BSTR;
      arg->bstrVal = Make(u"changed");
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Join(BSTR a, BSTR b) override {
    key_ = View(a) + View(b);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(LONG a, SHORT b, DOUBLE c, DOUBLE* r) override {
    *r = a + b + c;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Bump(LONG* n, BSTR* s) override {
    *n += 1;
    std::u16string t = View(*s) + u"!";
    SysFreeString(*s);
    *s = Make(t);
    return S_OK;
  }
  // Fails with `code`; with a description only when `text` is given.
  HRESULT STDMETHODCALLTYPE Fail(LONG code, BSTR text) override {
    if (SysStringLen(text) == 0) return code;
    return com::SetError(code, View(text), std::u16string_view(u"Widget"));
  }
  HRESULT STDMETHODCALLTYPE Tail(BSTR a, VARIANT b, BSTR* r) override {
    if (b.vt == VT_ERROR && b.scode == DISP_E_PARAMNOTFOUND) {
      *r = Make(View(a) + u"|missing");
      return S_OK;
    }
    com::Variant text;
    HRESULT hr = VariantChangeType(text.Get(), &b, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    *r = Make(View(a) + u"|" + View(text->bstrVal));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Names(SAFEARRAY* items, LONG* count) override {
    VARTYPE vt = VT_EMPTY;
    if (!items || FAILED(SafeArrayGetVartype(items, &vt)) || vt != VT_BSTR) return E_INVALIDARG;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(items, 1, &lo);
    SafeArrayGetUBound(items, 1, &hi);
    *count = hi - lo + 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Byte(BYTE b, INT i, LONG* r) override {
    *r = b * 1000 + i;
    return S_OK;
  }
  // A new widget with this one's count.
  HRESULT STDMETHODCALLTYPE Clone(_IWidget** r) override {
    auto* w = new Widget();
    w->count_ = count_;
    *r = w;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CountOf(_IWidget* other, LONG* r) override {
    if (!other) return E_INVALIDARG;
    return other->get_Count(r);
  }

 private:
  std::atomic<ULONG> refs_{1};
  VARIANT data_;
  LONG count_ = 0;
  VARIANT_BOOL shown_ = VARIANT_FALSE;
  std::u16string key_;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* w = new Widget();
    HRESULT hr = w->QueryInterface(riid, ppv);
    w->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++gLocks : --gLocks;
    return S_OK;
  }
};
Factory gFactory;

const std::string kClsidKey = "HKCR\\CLSID\\" + com::GuidToString(CLSID_Widget);

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_Widget) return CLASS_E_CLASSNOTAVAILABLE;
  return gFactory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return gLocks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  HMODULE self = com::ModuleFromAddress(&gLocks);
  std::string path = com::ModuleFileName(self);
  using com::registry::SetText;
  std::string clsid = com::GuidToString(CLSID_Widget);
  if (SetText(kClsidKey, "", "Widget Class") || SetText(kClsidKey + "\\InprocServer32", "", path) ||
      SetText(kClsidKey + "\\InprocServer32", "ThreadingModel", "Apartment") ||
      SetText(kClsidKey + "\\ProgID", "", "TypelibTest.Widget.1") ||
      SetText("HKCR\\TypelibTest.Widget.1\\CLSID", "", clsid) ||
      SetText("HKCR\\TypelibTest.Widget\\CLSID", "", clsid) ||
      SetText("HKCR\\TypelibTest.Widget\\CurVer", "", "TypelibTest.Widget.1"))
    return SELFREG_E_CLASS;
  com::ComPtr<ITypeLib> lib;
  HRESULT hr = com::LoadTypeLibFromResource(self, 1, lib.Put());
  if (FAILED(hr)) return hr;
  return RegisterTypeLib(lib.Get(), com::Utf8ToUtf16(path).c_str(), nullptr);
}

STDAPI DllUnregisterServer() {
  com::registry::DeleteTree(kClsidKey);
  com::registry::DeleteTree("HKCR\\TypelibTest.Widget.1");
  com::registry::DeleteTree("HKCR\\TypelibTest.Widget");
  return UnRegisterTypeLib(LIBID_WidgetLib, 1, 2, 0, SYS_WIN64);
}
