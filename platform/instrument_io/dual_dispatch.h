// IDispatch for a dual interface through the type information the module carries, so the
// dispatch side never differs from the method table.
#pragma once

#include <mutex>

#include "com/typelib.h"
#include "server/module.h"

namespace instrument_io {

extern ModuleState InstrumentIOModule;

// The type information of one interface of this module's type library; null after a
// failure, whose description is then in the thread's error information.
ITypeInfo* ModuleTypeInfo(REFIID iid);

template <class Interface, const IID* Iid>
class DualDispatch : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* ti = ModuleTypeInfo(*Iid);
    if (!ti) return TYPE_E_ELEMENTNOTFOUND;
    ti->AddRef();
    *info = ti;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    ITypeInfo* ti = ModuleTypeInfo(*Iid);
    return ti ? ti->GetIDsOfNames(names, count, ids) : TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override {
    if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* ti = ModuleTypeInfo(*Iid);
    if (!ti) return TYPE_E_ELEMENTNOTFOUND;
    return ti->Invoke(static_cast<Interface*>(this), id, flags, params, result, excepinfo, argErr);
  }
};

}  // namespace instrument_io
