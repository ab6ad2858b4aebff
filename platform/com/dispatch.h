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
// a class; safe to use from several threads.
class TypeInfoHolder {
 public:
  using Loader = std::function<HRESULT(ITypeLib**)>;
  TypeInfoHolder(const IID& iid, Loader load) : iid_(iid), load_(std::move(load)) {}
  ~TypeInfoHolder() { Reset(); }
  TypeInfoHolder(const TypeInfoHolder&) = delete;
  TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

  // From the registered type library, by LIBID and version.
  static Loader Registered(const GUID& libid, WORD major, WORD minor);
  // From resource TYPELIB `id` of the module that holds `address` (a function of it).
  static Loader FromModuleOf(const void* address, unsigned id = 1);
  // From type-library bytes that live as long as the holder.
  static Loader FromMemory(const unsigned char* bytes, size_t size);

  // Adds a reference for the caller. A failure to load is returned every time, not kept.
  HRESULT Get(ITypeInfo** info);
  // Releases the cached information (module termination).
  void Reset();

 private:
  IID iid_;
  Loader load_;
  std::mutex mutex_;
  std::atomic<ITypeInfo*> info_{nullptr};
};

// IDispatch for a dual interface, from its type information:
//   class Widget : public com::DispatchImpl<_IWidget, &gWidgetTypeInfo> { ... };
template <class Interface, TypeInfoHolder* Holder>
class DispatchImpl : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    return Holder->Get(info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    ITypeInfo* info = nullptr;
    HRESULT hr = Holder->Get(&info);
    if (FAILED(hr)) return hr;
    hr = info->GetIDsOfNames(names, count, ids);
    info->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override {
    ITypeInfo* info = nullptr;
    HRESULT hr = Holder->Get(&info);
    if (FAILED(hr)) return hr;
    hr = info->Invoke(static_cast<Interface*>(this), id, flags, params, result, excepinfo, argErr);
    info->Release();
    return hr;
  }
};

}  // namespace com
