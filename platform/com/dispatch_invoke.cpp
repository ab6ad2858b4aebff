// ITypeInfo::Invoke: arguments converted to the declared types, then the method-table slot
// called through libffi with the plan prepared when the library loaded.
#include <cstring>

#include "com/bstr.h"
#include "com/dispatch_plan.h"
#include "com/errorinfo.h"
#include "com/variant.h"

namespace com::detail {

namespace {

// VARIANT as a C structure: four 16-bit words, then the 8-byte value (a union of integers,
// floating point and pointers, which the calling convention passes as an integer).
ffi_type* VariantFfiType() {
  static ffi_type* elements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                                 &ffi_type_uint16, &ffi_type_uint64, nullptr};
  static ffi_type type = [] {
    ffi_type t{};
    t.type = FFI_TYPE_STRUCT;
    t.elements = elements;
    // Lay the structure out once, before any cif shares it.
    ffi_cif probe;
    ffi_type* args[] = {&t};
    ffi_prep_cif(&probe, FFI_DEFAULT_ABI, 1, &ffi_type_void, args);
    return t;
  }();
  return &type;
}

ffi_type* FfiTypeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_UI2:
      return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
      return &ffi_type_uint32;
    case VT_I1:
      return &ffi_type_sint8;
    case VT_UI1:
      return &ffi_type_uint8;
    case VT_I8:
      return &ffi_type_sint64;
    case VT_UI8:
      return &ffi_type_uint64;
    case VT_R4:
      return &ffi_type_float;
    case VT_R8:
      return &ffi_type_double;
    case VT_VARIANT:
      return VariantFfiType();
    default:
      return &ffi_type_pointer;  // texts, interfaces, arrays
  }
}

// The value type behind a declared type: SAFEARRAY(T) travels as VT_ARRAY|T.
VARTYPE ValueType(const std::vector<VARTYPE>& chain, size_t from) {
  if (chain[from] == VT_SAFEARRAY && from + 1 < chain.size())
    return static_cast<VARTYPE>(VT_ARRAY | chain[from + 1]);
  return chain[from];
}

// What VariantChangeType is asked for: int travels as a 32-bit integer.
VARTYPE ConversionType(VARTYPE vt) {
  if (vt == VT_INT) return VT_I4;
  if (vt == VT_UINT) return VT_UI4;
  return vt;
}

bool IsMissing(const VARIANT* a) { return a->vt == VT_ERROR && a->scode == DISP_E_PARAMNOTFOUND; }

// The function that answers these dispatch flags.
const CallPlan* Select(const std::vector<CallPlan>& plans, MEMBERID memid, WORD flags) {
  for (const auto& p : plans) {
    if (p.memid != memid) continue;
    if (((flags & DISPATCH_METHOD) && p.kind == INVOKE_FUNC) ||
        ((flags & DISPATCH_PROPERTYGET) && p.kind == INVOKE_PROPERTYGET) ||
        ((flags & DISPATCH_PROPERTYPUT) && p.kind == INVOKE_PROPERTYPUT) ||
        ((flags & DISPATCH_PROPERTYPUTREF) && p.kind == INVOKE_PROPERTYPUTREF))
      return &p;
  }
  return nullptr;
}

constexpr size_t kMaxParams = 32;

struct Slot {
  VARIANT local;  // converted or copied value, or storage for a result
  bool owned;     // local must be cleared after the call
  void* pointer;  // what a by-reference parameter receives
};

// An [in] interface argument as the declared interface: a dispatch or unknown pointer,
// directly or by reference, asked for the interface. No object is passed as null.
HRESULT InterfaceArgument(const VARIANT* a, const ParamPlan& pp, Slot* s) {
  if (a->vt == (VT_BYREF | VT_VARIANT) && a->pvarVal) a = a->pvarVal;
  IUnknown* object = nullptr;
  switch (a->vt) {
    case VT_DISPATCH:
    case VT_UNKNOWN:
      object = a->punkVal;
      break;
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_UNKNOWN:
      object = a->ppunkVal ? *a->ppunkVal : nullptr;
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (!object) return S_OK;
  void* asked = nullptr;
  if (FAILED(object->QueryInterface(pp.iid, &asked)) || !asked) return DISP_E_TYPEMISMATCH;
  s->local.vt = VT_UNKNOWN;  // released after the call
  s->local.punkVal = static_cast<IUnknown*>(asked);
  s->owned = true;
  return S_OK;
}

}  // namespace

void BuildCallPlan(const tlb::Library& lib, const tlb::Function& f, CallPlan* plan) {
  plan->memid = f.memid;
  plan->kind = f.invkind;
  plan->slot = f.slot;
  plan->ffiTypes.push_back(&ffi_type_pointer);  // this
  for (const auto& p : f.params) {
    const auto& chain = p.type.chain;
    const tlb::TypeEntry* itf = nullptr;
    bool byRef = chain[0] == VT_PTR;
    VARTYPE vt = VT_EMPTY;
    if (chain.back() == VT_USERDEFINED) {
      // Foo* is the value, Foo** its address. A dispatch-derived interface travels as
      // VT_DISPATCH: its pointer is an IDispatch pointer.
      itf = lib.Find(p.type.userType);
      byRef = chain.size() == 3;
      vt = itf && (itf->typeFlags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN;
    } else {
      vt = ValueType(chain, byRef ? 1 : 0);
    }
    if (p.flags & PARAMFLAG_FRETVAL) {
      plan->hasRetval = true;
      plan->retvalVt = vt;
    } else {
      ParamPlan pp;
      pp.vt = vt;
      pp.byRef = byRef;
      pp.outOnly = (p.flags & PARAMFLAG_FOUT) && !(p.flags & PARAMFLAG_FIN);
      pp.optional = (p.flags & PARAMFLAG_FOPT) != 0;
      if (itf) {
        pp.isInterface = true;
        pp.iid = itf->guid;
      }
      plan->params.push_back(pp);
    }
    plan->ffiTypes.push_back(byRef ? &ffi_type_pointer : FfiTypeOf(vt));
  }
  plan->callable =
      plan->params.size() < kMaxParams &&
      ffi_prep_cif(&plan->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(plan->ffiTypes.size()),
                   &ffi_type_sint32, plan->ffiTypes.data()) == FFI_OK;
}

HRESULT InvokePlanned(const std::vector<CallPlan>& plans, void* instance, MEMBERID memid,
                      WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepinfo,
                      UINT* argErr) {
  const CallPlan* plan = Select(plans, memid, flags);
  if (!plan) return DISP_E_MEMBERNOTFOUND;
  if (!plan->callable) return E_NOTIMPL;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
  if (result) VariantInit(result);

  const bool put = plan->kind == INVOKE_PROPERTYPUT || plan->kind == INVOKE_PROPERTYPUTREF;
  // The only named argument understood is the value of a property put.
  if (params->cNamedArgs > 1 ||
      (params->cNamedArgs == 1 &&
       (!put || !params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
    return DISP_E_NONAMEDARGS;
  const UINT cArgs = params->cArgs;
  const size_t declared = plan->params.size() - (put ? 1 : 0);
  if (put && cArgs == 0) return DISP_E_BADPARAMCOUNT;
  const size_t positional = put ? cArgs - 1 : cArgs;
  if (positional > declared) return DISP_E_BADPARAMCOUNT;
  for (size_t i = positional; i < declared; ++i)
    if (!plan->params[i].optional) return DISP_E_BADPARAMCOUNT;

  Slot slots[kMaxParams + 1];
  void* values[kMaxParams + 2];
  void* self = instance;
  values[0] = &self;
  const size_t n = plan->params.size();
  size_t prepared = 0;
  HRESULT hr = S_OK;
  auto cleanup = [&] {
    for (size_t i = 0; i < prepared; ++i)
      if (slots[i].owned) VariantClear(&slots[i].local);
  };

  for (size_t i = 0; i < n; ++i, ++prepared) {
    const ParamPlan& pp = plan->params[i];
    Slot& s = slots[i];
    s.owned = false;
    s.local.vt = VT_EMPTY;
    s.local.llVal = 0;
    // Arguments come last first; a put's value is always the first of them.
    UINT argIndex = put && i == n - 1 ? 0 : static_cast<UINT>(cArgs - 1 - i);
    VARIANT* a = i < positional || (put && i == n - 1) ? &params->rgvarg[argIndex] : nullptr;
    auto mismatch = [&](HRESULT code) {
      if (argErr) *argErr = argIndex;
      hr = code;
    };
    if (!a) {  // an optional argument left out
      s.local.vt = VT_ERROR;
      s.local.scode = DISP_E_PARAMNOTFOUND;
      s.pointer = &s.local;
      values[i + 1] = pp.byRef ? static_cast<void*>(&s.pointer) : &s.local;
      continue;
    }
    if (IsMissing(a) && !pp.optional) {
      mismatch(DISP_E_PARAMNOTOPTIONAL);
      break;
    }
    const VARIANT* ref = a->vt == (VT_BYREF | VT_VARIANT) ? a->pvarVal : nullptr;
    if (pp.vt == VT_VARIANT) {
      if (!pp.byRef) {
        values[i + 1] = ref ? const_cast<VARIANT*>(ref) : a;
        continue;
      }
      if (ref) {
        s.pointer = a->pvarVal;
      } else {
        // A value the caller did not pass by reference: the callee works on a copy.
        VariantInit(&s.local);
        if (FAILED(hr = VariantCopy(&s.local, a))) break;
        s.owned = true;
        s.pointer = &s.local;
      }
      values[i + 1] = &s.pointer;
      continue;
    }
    if (pp.isInterface && !pp.byRef) {
      if (FAILED(hr = InterfaceArgument(a, pp, &s))) {
        mismatch(hr);
        break;
      }
      values[i + 1] = &s.local.llVal;
      continue;
    }
    if (pp.byRef) {
      if (a->vt == (pp.vt | VT_BYREF)) {
        s.pointer = a->byref;
      } else if (ref && ref->vt == pp.vt) {
        s.pointer = const_cast<LONGLONG*>(&ref->llVal);
      } else {
        if (pp.outOnly) {
          s.local.vt = pp.vt;
        } else if (FAILED(VariantChangeType(&s.local, a, 0, ConversionType(pp.vt)))) {
          mismatch(DISP_E_TYPEMISMATCH);
          break;
        }
        s.local.vt = pp.vt;
        s.owned = true;
        s.pointer = &s.local.llVal;
      }
      values[i + 1] = &s.pointer;
      continue;
    }
    if (a->vt == pp.vt) {
      values[i + 1] = &a->llVal;
    } else if (a->vt == (pp.vt | VT_BYREF)) {
      values[i + 1] = a->byref;
    } else if (ref && ref->vt == pp.vt) {
      values[i + 1] = const_cast<LONGLONG*>(&ref->llVal);
    } else if ((pp.vt == VT_DISPATCH || pp.vt == VT_UNKNOWN) &&
               (a->vt == VT_EMPTY || (ref && ref->vt == VT_EMPTY))) {
      values[i + 1] = &s.local.llVal;  // no object
    } else if (pp.vt & VT_ARRAY) {
      mismatch(DISP_E_TYPEMISMATCH);
      break;
    } else {
      HRESULT c = VariantChangeType(&s.local, a, 0, ConversionType(pp.vt));
      if (FAILED(c)) {
        mismatch(c == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH);
        break;
      }
      s.owned = true;
      values[i + 1] = &s.local.llVal;
    }
  }
  if (FAILED(hr)) {
    cleanup();
    return hr;
  }

  Slot& ret = slots[n];
  ret.owned = false;
  if (plan->hasRetval) {
    VariantInit(&ret.local);
    ret.local.llVal = 0;
    ret.pointer = plan->retvalVt == VT_VARIANT ? static_cast<void*>(&ret.local) : &ret.local.llVal;
    values[n + 1] = &ret.pointer;
  }

  void** table = *static_cast<void***>(instance);
  ffi_arg rc = 0;
  ffi_call(const_cast<ffi_cif*>(&plan->cif), FFI_FN(table[plan->slot]), &rc, values);
  hr = static_cast<HRESULT>(static_cast<int32_t>(rc));
  cleanup();

  if (plan->hasRetval) {
    if (plan->retvalVt != VT_VARIANT) ret.local.vt = plan->retvalVt;
    if (SUCCEEDED(hr) && result)
      *result = ret.local;  // the result's ownership passes to the caller
    else
      VariantClear(&ret.local);
  }
  if (SUCCEEDED(hr)) return hr;
  if (!excepinfo) return hr;
  // A failure becomes an exception; the description is the callee's error information
  // when it set one for this failure.
  ErrorDescription e = TakeError(hr);
  std::memset(excepinfo, 0, sizeof *excepinfo);
  excepinfo->scode = hr;
  if (e.number == hr) {
    if (!e.description.empty())
      excepinfo->bstrDescription =
          SysAllocStringLen(e.description.data(), static_cast<UINT>(e.description.size()));
    if (!e.source.empty())
      excepinfo->bstrSource =
          SysAllocStringLen(e.source.data(), static_cast<UINT>(e.source.size()));
  }
  return DISP_E_EXCEPTION;
}

}  // namespace com::detail
