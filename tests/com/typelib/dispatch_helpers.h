// Calls through IDispatch with arguments in the order a script writes them.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "com/ptr.h"

struct CallOutcome {
  HRESULT hr = S_OK;
  com::Variant result;
  EXCEPINFO ex{};
  UINT argErr = 0xffffffff;
  CallOutcome() = default;
  CallOutcome(const CallOutcome&) = delete;
  ~CallOutcome() {
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
  }
  std::string Description() const {
    return com::BStr(std::u16string_view(ex.bstrDescription ? ex.bstrDescription : u"",
                                         SysStringLen(ex.bstrDescription)))
        .Utf8();
  }
};

// `args` in written order; they stay the caller's. A put sends its value (the last of
// args) as the named argument.
inline void InvokeInto(CallOutcome* out, IDispatch* d, DISPID id, WORD flags,
                       std::vector<VARIANT> args) {
  std::reverse(args.begin(), args.end());
  DISPID named = DISPID_PROPERTYPUT;
  bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  DISPPARAMS p{args.empty() ? nullptr : args.data(), put ? &named : nullptr,
               static_cast<UINT>(args.size()), put ? 1u : 0u};
  out->hr = d->Invoke(id, GUID_NULL, 0, flags, &p, put ? nullptr : out->result.Put(), &out->ex,
                      &out->argErr);
}

inline VARIANT Ref(VARTYPE vt, void* target) {
  VARIANT v;
  VariantInit(&v);
  v.vt = static_cast<VARTYPE>(vt | VT_BYREF);
  v.byref = target;
  return v;
}

inline std::string TextOf(const com::Variant& v) {
  if (v.Type() != VT_BSTR) return "<not text>";
  return com::BStr(std::u16string_view(v->bstrVal ? v->bstrVal : u"", SysStringLen(v->bstrVal)))
      .Utf8();
}
