// Objects of a server's class, plain and aggregatable, and the instance creator that makes
// them.
//
// A class T derives from its interfaces, implements their own methods and gives its
// interface table as `static const InterfaceEntry* InterfaceTable()`; it does not
// implement IUnknown. It may have `HRESULT FinalConstruct()`, run once the object is
// made; a failure destroys the object again.
#pragma once

#include <new>

#include "server/module.h"

namespace com::server {

// The object on its own: its count is a plain number, since an apartment object is only
// ever used on the thread that made it. It keeps the module loaded while it lives.
template <class T, ModuleState* Module>
class PlainObject final : public T {
 public:
  PlainObject() { ModuleLock(Module); }
  ~PlainObject() { ModuleUnlock(Module); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return InternalQueryInterface(static_cast<T*>(this), T::InterfaceTable(), riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG count_ = 0;
};

// The object inside an outer object. Its own IUnknown (this class) does not delegate and
// answers IUnknown and the interface table; the interfaces it hands out delegate
// QueryInterface, AddRef and Release to the outer object.
template <class T, ModuleState* Module>
class AggregatedObject final : public IUnknown {
 public:
  explicit AggregatedObject(IUnknown* outer) : inner_(outer) { ModuleLock(Module); }
  ~AggregatedObject() { ModuleUnlock(Module); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return InternalQueryInterface(static_cast<T*>(&inner_), T::InterfaceTable(), riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }

  T* Inner() { return &inner_; }

 private:
  class Delegating final : public T {
   public:
    explicit Delegating(IUnknown* outer) : outer_(outer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      return outer_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

   private:
    IUnknown* outer_;  // not counted: the outer object owns us
  };

  ULONG count_ = 0;
  Delegating inner_;
};

namespace detail {
// Steps after allocation: FinalConstruct when the class has one, then the requested
// interface; anything but S_OK destroys the object again.
template <class T, class Object>
HRESULT Finish(Object* object, T* inner, REFIID riid, void** ppv) {
  if constexpr (requires(T & t) { t.FinalConstruct(); }) {
    HRESULT hr = inner->FinalConstruct();
    if (FAILED(hr)) {
      delete object;
      return hr;
    }
  }
  HRESULT hr = object->QueryInterface(riid, ppv);
  if (hr != S_OK) {
    *ppv = nullptr;
    delete object;  // its module lock goes with it
  }
  return hr;
}
}  // namespace detail

// The instance creator of a class-table row: a plain object without an outer object, an
// aggregated one with it; each locks the module while it lives.
template <class T, ModuleState* Module>
HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  try {
    if (!outer) {
      auto* object = new (std::nothrow) PlainObject<T, Module>();
      if (!object) return E_OUTOFMEMORY;
      return detail::Finish<T>(object, object, riid, ppv);
    }
    auto* object = new (std::nothrow) AggregatedObject<T, Module>(outer);
    if (!object) return E_OUTOFMEMORY;
    return detail::Finish<T>(object, object->Inner(), riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;  // no exception crosses the component boundary
  }
}

}  // namespace com::server
