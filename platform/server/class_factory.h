// The class factory of a server's class: one per class, cached by the module.
#pragma once

#include <mutex>
#include <new>

#include "server/module.h"

namespace com::server {

// The module holds one reference for as long as the factory is cached; every reference
// beyond it keeps the module loaded: the one that raises the count to 2 locks the module,
// the release that brings it back to 1 unlocks it. The count changes under the factory's
// own lock because a cached factory can be reached from several threads.
template <ModuleState* Module>
class ClassFactory final : public IClassFactory {
 public:
  // The class-factory creator of a class-table row.
  static HRESULT Create(InstanceCreator createInstance, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) ClassFactory(createInstance);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    if (hr != S_OK) {
      *ppv = nullptr;
      delete factory;
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override {
    std::lock_guard guard(lock_);
    if (++count_ == 2) ModuleLock(Module);
    return count_;
  }

  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left;
    {
      std::lock_guard guard(lock_);
      left = --count_;
      if (left == 1) ModuleUnlock(Module);
    }
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An outer object may ask only for the inner object's own IUnknown.
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    return createInstance_(outer, riid, ppv);
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    return ModuleLockServer(Module, lock);
  }

 private:
  explicit ClassFactory(InstanceCreator createInstance) : createInstance_(createInstance) {}
  ~ClassFactory() = default;

  InstanceCreator createInstance_;
  std::mutex lock_;
  ULONG count_ = 0;
};

}  // namespace com::server
