#include "com/dispatch.h"

#include <atomic>

#include "com/ptr.h"

HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids) {
  if (!info) return E_INVALIDARG;
  return info->GetIDsOfNames(names, count, ids);
}

HRESULT DispInvoke(void* instance, ITypeInfo* info, DISPID id, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) {
  if (!info) return E_INVALIDARG;
  return info->Invoke(instance, id, flags, params, result, excepinfo, argErr);
}

namespace {

class StdDispatch final : public IDispatch {
 public:
  StdDispatch(IUnknown* outer, void* instance, ITypeInfo* info)
      : outer_(outer ? outer : &inner_), instance_(instance), info_(info) {
    inner_.self = this;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return outer_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    info_->AddRef();
    *info = info_.Get();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return info_->GetIDsOfNames(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override {
    return info_->Invoke(instance_, id, flags, params, result, excepinfo, argErr);
  }

  IUnknown* InnerUnknown() { return &inner_; }

 private:
  // The object's own identity: answers IUnknown and IDispatch and owns the count.
  struct Identity final : IUnknown {
    StdDispatch* self = nullptr;
    std::atomic<ULONG> refs{1};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
      } else if (riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(self);
      } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*ppv)->AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
      ULONG n = --refs;
      if (n == 0) delete self;
      return n;
    }
  };

  Identity inner_;
  IUnknown* outer_;
  void* instance_;
  com::ComPtr<ITypeInfo> info_;
};

}  // namespace

HRESULT CreateStdDispatch(IUnknown* outer, void* instance, ITypeInfo* info, IUnknown** stdDisp) {
  if (!stdDisp) return E_POINTER;
  *stdDisp = nullptr;
  if (!instance || !info) return E_INVALIDARG;
  auto* d = new StdDispatch(outer, instance, info);
  *stdDisp = d->InnerUnknown();
  return S_OK;
}

namespace com {

TypeInfoHolder::Loader TypeInfoHolder::FromModuleOf(const void* address, unsigned id) {
  return
      [=](ITypeLib** lib) { return LoadTypeLibFromResource(ModuleFromAddress(address), id, lib); };
}

TypeInfoHolder::Loader TypeInfoHolder::FromMemory(const unsigned char* bytes, size_t size) {
  return [=](ITypeLib** lib) {
    return LoadTypeLibFromMemory(std::span<const BYTE>(bytes, size), lib);
  };
}

HRESULT TypeInfoHolder::Get(LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  // Loaded once; after that every call takes the fast path without the lock.
  ITypeInfo* cached = info_.load(std::memory_order_acquire);
  if (!cached) {
    std::lock_guard lock(mutex_);
    cached = info_.load(std::memory_order_relaxed);
    if (!cached) {
      ComPtr<ITypeLib> lib;
      HRESULT hr = load_(lib.Put());
      if (FAILED(hr)) return hr;
      if (FAILED(hr = lib->GetTypeInfoOfGuid(iid_, &cached))) return hr;
      info_.store(cached, std::memory_order_release);
    }
  }
  cached->AddRef();
  *info = cached;
  return S_OK;
}

void TypeInfoHolder::Reset() {
  std::lock_guard lock(mutex_);
  if (ITypeInfo* old = info_.exchange(nullptr)) old->Release();
}

}  // namespace com
