// How a function of a type library is called through its method-table slot: prepared once
// per function when the library loads, so that a call by DISPID only converts arguments.
#pragma once

#include <ffi.h>

#include <vector>

#include "com/typelib_model.h"

namespace com::detail {

struct ParamPlan {
  VARTYPE vt = VT_EMPTY;  // the value's type: VT_VARIANT, VT_BSTR, VT_ARRAY|VT_BSTR, ...
  bool byRef = false;     // passed as a pointer to the value
  bool outOnly = false;   // [out] without [in]: the callee fills it
  bool optional = false;
  // An interface of the library (vt is VT_DISPATCH or VT_UNKNOWN): an argument is asked
  // for this interface before the call.
  bool isInterface = false;
  IID iid{};
};

struct CallPlan {
  MEMBERID memid = 0;
  INVOKEKIND kind = INVOKE_FUNC;
  uint16_t slot = 0;
  std::vector<ParamPlan> params;  // without the result parameter
  bool hasRetval = false;
  VARTYPE retvalVt = VT_EMPTY;
  std::vector<ffi_type*> ffiTypes;
  ffi_cif cif{};
  bool callable = false;  // false when libffi could not prepare the call
};

// Plans are built in place: the prepared cif points into the plan's own type list.
// `lib` resolves the interfaces the function's parameters name.
void BuildCallPlan(const tlb::Library& lib, const tlb::Function& f, CallPlan* plan);

HRESULT InvokePlanned(const std::vector<CallPlan>& plans, void* instance, MEMBERID memid,
                      WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepinfo,
                      UINT* argErr);

}  // namespace com::detail
