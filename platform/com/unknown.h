// IUnknown and IClassFactory, in method-table order.
#pragma once

#include "com/guid.h"

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

inline constexpr IID IID_IUnknown = com::Guid("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IClassFactory = com::Guid("{00000001-0000-0000-C000-000000000046}");

// Memory that crosses a component boundary and is freed by the receiver.
extern "C" void* CoTaskMemAlloc(size_t size);
extern "C" void* CoTaskMemRealloc(void* p, size_t size);
extern "C" void CoTaskMemFree(void* p);
