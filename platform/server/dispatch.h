// IDispatch of a dual interface through its registered type library.
#pragma once

#include <mutex>

#include "com/errorinfo.h"
#include "com/typelib.h"
#include "server/module.h"

namespace com::server {

// The type information of one interface, shared by every object of a class: loaded from
// the registered type library on first use, once per process under the module lock, and
// released when the module stops. A server defines one global of this type per interface;
// it is constant-initialised and needs no destruction.
template <ModuleState* Module>
class TypeInfoHolder {
 public:
  constexpr TypeInfoHolder(const GUID* libid, WORD major, WORD minor, const IID* iid)
      : libid_(libid), major_(major), minor_(minor), iid_(iid) {}

  // The type information with a reference added. A failure to load it is the result, as a
  // plain code: the thread's error information is left empty.
  HRESULT Get(LCID lcid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::lock_guard guard(Module->lock);
    if (!info_) {
      HRESULT hr = Load(lcid);
      if (FAILED(hr)) {
        com::TakeError(hr);
        return hr;
      }
    }
    info_->AddRef();
    *out = info_;
    return S_OK;
  }

 private:
  HRESULT Load(LCID lcid) {
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(*libid_, major_, minor_, lcid, &lib);
    if (FAILED(hr)) return hr;
    ITypeInfo* info = nullptr;
    hr = lib->GetTypeInfoOfGuid(*iid_, &info);
    lib->Release();
    if (FAILED(hr)) return hr;
    hr = ModuleAddTermFunc(Module, &TypeInfoHolder::Cleanup, this);
    if (SUCCEEDED(hr)) ComPtrAssign(reinterpret_cast<IUnknown**>(&info_), info);
    info->Release();
    return hr;
  }

  static void Cleanup(void* self) {
    auto* holder = static_cast<TypeInfoHolder*>(self);
    std::lock_guard guard(Module->lock);
    ComPtrAssign(reinterpret_cast<IUnknown**>(&holder->info_), nullptr);
  }

  const GUID* libid_;
  WORD major_, minor_;
  const IID* iid_;
  ITypeInfo* info_ = nullptr;
};

// Implements the four IDispatch methods of dual interface I from the type information that
// *Holder keeps (a server's global, so that no template static is shared between
// libraries).
template <class I, auto* Holder>
class DispatchImpl : public I {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  // Every index gives the one type information.
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
    hr = info->Invoke(static_cast<I*>(this), id, flags, params, result, excepinfo, argErr);
    info->Release();
    return hr;
  }
};

}  // namespace com::server
