// SAFEARRAY: arrays with bounds that every access checks.
#pragma once

#include "com/automation.h"

extern "C" {
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* sa);
HRESULT SafeArrayCopy(SAFEARRAY* src, SAFEARRAY** dest);
UINT SafeArrayGetDim(SAFEARRAY* sa);
UINT SafeArrayGetElemsize(SAFEARRAY* sa);
HRESULT SafeArrayGetVartype(SAFEARRAY* sa, VARTYPE* vt);
HRESULT SafeArrayGetLBound(SAFEARRAY* sa, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* sa, UINT dim, LONG* bound);
// Changes the last dimension; contents up to the new size are kept, new elements are zero.
HRESULT SafeArrayRedim(SAFEARRAY* sa, SAFEARRAYBOUND* newBound);
// Index out of range: DISP_E_BADINDEX, nothing touched. Put takes texts and interfaces as
// the pointer itself and variants by address, and stores copies (interfaces get a
// reference); Get writes a copy that the caller owns to the address given.
HRESULT SafeArrayGetElement(SAFEARRAY* sa, LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* sa, LONG* indices, void* value);
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* sa, LONG* indices, void** element);
HRESULT SafeArrayLock(SAFEARRAY* sa);
HRESULT SafeArrayUnlock(SAFEARRAY* sa);
HRESULT SafeArrayAccessData(SAFEARRAY* sa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* sa);
}
