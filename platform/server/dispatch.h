// The type information a server's dual interfaces dispatch through (com::DispatchImpl).
#pragma once

#include <mutex>

#include "com/dispatch.h"
#include "com/errorinfo.h"
#include "com/typelib.h"
#include "server/module.h"

namespace com::server {

// The type information of one interface, shared by every object of a class: loaded on
// first use, once per process under the module lock, and released when the module stops.
// It comes either from the registered type library or from the type library the module
// carries as a resource. A server defines one global of this type per interface; it is
// constant-initialised and needs no destruction, so it is intact when the module stops at
// unload:
//   constinit TypeInfoHolder<&Module> FooTypeInfo = TypeInfoHolder<&Module>::Registered(...);
template <ModuleState* Module>
class TypeInfoHolder {
 public:
  // From the registered library `libid` of that version, in the caller's locale.
  static constexpr TypeInfoHolder Registered(const GUID* libid, WORD major, WORD minor,
                                             const IID* iid) {
    return TypeInfoHolder(libid, major, minor, 0, iid);
  }
  // From resource TYPELIB `resourceId` of the module itself, whether registered or not.
  static constexpr TypeInfoHolder FromModuleResource(const IID* iid, UINT resourceId = 1) {
    return TypeInfoHolder(nullptr, 0, 0, resourceId, iid);
  }

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
  constexpr TypeInfoHolder(const GUID* libid, WORD major, WORD minor, UINT resourceId,
                           const IID* iid)
      : libid_(libid), major_(major), minor_(minor), resourceId_(resourceId), iid_(iid) {}

  HRESULT Load(LCID lcid) {
    ITypeLib* lib = nullptr;
    HRESULT hr = libid_ ? LoadRegTypeLib(*libid_, major_, minor_, lcid, &lib)
                        : com::LoadTypeLibFromResource(Module->module, resourceId_, &lib);
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

  const GUID* libid_;  // null: the module's own resource
  WORD major_, minor_;
  UINT resourceId_;
  const IID* iid_;
  ITypeInfo* info_ = nullptr;
};

}  // namespace com::server
