// Implementing IDispatch by handing the calls to type information, as servers built on
// a type library do.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "com/automation.h"
#include "com/module.h"
#include "com/typelib.h"

extern "C" {
HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT DispInvoke(void* instance, ITypeInfo* info, DISPID id, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr);
// An object whose IDispatch calls `info` on `instance` (an interface pointer described by
// `info`); its IUnknown methods go to `outer`. *stdDisp is the object's own IUnknown.
HRESULT CreateStdDispatch(IUnknown* outer, void* instance, ITypeInfo* info, IUnknown** stdDisp);
}

namespace com {

// The type information of one interface, loaded on first use and shared by all objects of
// a class; safe to use from several threads. Its destructor releases what it holds, so it
// suits the runtime's own objects; a server library that stops at unload keeps its type
// information in com::server::TypeInfoHolder instead.
class TypeInfoHolder {
 public:
  using Loader = std::function<HRESULT(ITypeLib**)>;
  TypeInfoHolder(const IID& iid, Loader load) : iid_(iid), load_(std::move(load)) {}
  ~TypeInfoHolder() { Reset(); }
  TypeInfoHolder(const TypeInfoHolder&) = delete;
  TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

  // From resource TYPELIB `id` of the module that holds `address` (a function of it).
  static Loader FromModuleOf(const void* address, unsigned id = 1);
  // From type-library bytes that live as long as the holder.
  static Loader FromMemory(const unsigned char* bytes, size_t size);

  // Adds a reference for the caller. The libraries are language-neutral, so the locale
  // does not matter. A failure to load is returned every time, not kept.
  HRESULT Get(LCID lcid, ITypeInfo** info);
  // Releases the cached information.
  void Reset();

 private:
  IID iid_;
  Loader load_;
  std::mutex mutex_;
  std::atomic<ITypeInfo*> info_{nullptr};
};

// The four IDispatch methods of dual interface Interface, handed to the type information
// that *Holder keeps. Holder is any object with `HRESULT Get(LCID, ITypeInfo**)` that sets
// the out pointer (null on failure); a global, so that no template static is shared
// between libraries:
//   class Widget : public com::DispatchImpl<_IWidget, &gWidgetTypeInfo> { ... };
// A failure to get the type information is the result of the call.
template <class Interface, auto* Holder>
class DispatchImpl : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  // The index is not examined: there is one type information.
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID lcid, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    return Holder->Get(lcid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override {
    ITypeInfo* info = nullptr;
    HRESULT hr = Holder->Get(lcid, &info);
    if (FAILED(hr)) return hr;
    hr = info->GetIDsOfNames(names, count, ids);
    info->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override {
    ITypeInfo* info = nullptr;
    HRESULT hr = Holder->Get(lcid, &info);
    if (FAILED(hr)) return hr;
    hr = info->Invoke(static_cast<Interface*>(this), id, flags, params, result, excepinfo, argErr);
    info->Release();
    return hr;
  }
};

}  // namespace com
