#include "com/safearray.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "com/bstr.h"
#include "com/variant.h"

// Each array is one block: the element type, then the descriptor with its bounds.
// Dimension d (1-based) is rgsabound[d - 1]; dimension 1 varies fastest, so growing or
// shrinking the last dimension keeps the elements in place.
namespace {

struct Header {
  VARTYPE vt;
  uint16_t pad[3];
};

size_t BlockSize(UINT dims) {
  return sizeof(Header) + sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

Header* HeaderOf(SAFEARRAY* sa) {
  return reinterpret_cast<Header*>(reinterpret_cast<char*>(sa) - sizeof(Header));
}

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
      return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

USHORT FeaturesOf(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_VARIANT;
    default:
      return 0;
  }
}

bool ElementCount(const SAFEARRAY* sa, size_t* count) {
  size_t n = 1;
  for (USHORT d = 0; d < sa->cDims; ++d) {
    size_t e = sa->rgsabound[d].cElements;
    if (e != 0 && n > std::numeric_limits<size_t>::max() / e) return false;
    n *= e;
  }
  *count = n;
  return true;
}

// Releases what elements [first, last) own and zeroes them.
void ClearElements(SAFEARRAY* sa, size_t first, size_t last) {
  char* base = static_cast<char*>(sa->pvData);
  for (size_t i = first; i < last; ++i) {
    void* e = base + i * sa->cbElements;
    if (sa->fFeatures & FADF_BSTR) {
      SysFreeString(*static_cast<BSTR*>(e));
    } else if (sa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      if (auto* p = *static_cast<IUnknown**>(e)) p->Release();
    } else if (sa->fFeatures & FADF_VARIANT) {
      VariantClear(static_cast<VARIANT*>(e));
    }
  }
  if (last > first) std::memset(base + first * sa->cbElements, 0, (last - first) * sa->cbElements);
}

// Copies one element value into place, owning a copy of what it refers to.
HRESULT CopyElement(const SAFEARRAY* sa, void* dest, const void* src) {
  if (sa->fFeatures & FADF_BSTR) {
    BSTR s = *static_cast<const BSTR*>(src);
    BSTR copy = s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr;
    if (s && !copy) return E_OUTOFMEMORY;
    *static_cast<BSTR*>(dest) = copy;
  } else if (sa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* p = *static_cast<IUnknown* const*>(src);
    if (p) p->AddRef();
    *static_cast<IUnknown**>(dest) = p;
  } else if (sa->fFeatures & FADF_VARIANT) {
    VariantInit(static_cast<VARIANT*>(dest));
    return VariantCopy(static_cast<VARIANT*>(dest), static_cast<const VARIANT*>(src));
  } else {
    std::memcpy(dest, src, sa->cbElements);
  }
  return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
  ULONG size = ElementSize(vt);
  if (size == 0 || dims == 0 || dims > 64 || !bounds) return nullptr;
  auto* block = static_cast<char*>(std::calloc(1, BlockSize(dims)));
  if (!block) return nullptr;
  reinterpret_cast<Header*>(block)->vt = vt;
  auto* sa = reinterpret_cast<SAFEARRAY*>(block + sizeof(Header));
  sa->cDims = static_cast<USHORT>(dims);
  sa->cbElements = size;
  sa->fFeatures = static_cast<USHORT>(FeaturesOf(vt) | FADF_HAVEVARTYPE);
  for (UINT d = 0; d < dims; ++d) sa->rgsabound[d] = bounds[d];
  size_t count;
  if (!ElementCount(sa, &count) || count > std::numeric_limits<size_t>::max() / size) {
    std::free(block);
    return nullptr;
  }
  if (count > 0) {
    sa->pvData = std::calloc(count, size);
    if (!sa->pvData) {
      std::free(block);
      return nullptr;
    }
  }
  return sa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  SAFEARRAYBOUND b{elements, lowerBound};
  return SafeArrayCreate(vt, 1, &b);
}

HRESULT SafeArrayDestroy(SAFEARRAY* sa) {
  if (!sa) return S_OK;
  if (sa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  size_t count;
  if (sa->pvData && ElementCount(sa, &count)) ClearElements(sa, 0, count);
  std::free(sa->pvData);
  std::free(HeaderOf(sa));
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* src, SAFEARRAY** dest) {
  if (!dest) return E_INVALIDARG;
  *dest = nullptr;
  if (!src) return S_OK;
  SAFEARRAY* copy = SafeArrayCreate(HeaderOf(src)->vt, src->cDims, src->rgsabound);
  if (!copy) return E_OUTOFMEMORY;
  size_t count = 0;
  ElementCount(src, &count);
  for (size_t i = 0; i < count; ++i) {
    HRESULT hr = CopyElement(copy, static_cast<char*>(copy->pvData) + i * copy->cbElements,
                             static_cast<char*>(src->pvData) + i * src->cbElements);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *dest = copy;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* sa) { return sa ? sa->cDims : 0; }
UINT SafeArrayGetElemsize(SAFEARRAY* sa) { return sa ? sa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* sa, VARTYPE* vt) {
  if (!sa || !vt) return E_INVALIDARG;
  *vt = HeaderOf(sa)->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* sa, UINT dim, LONG* bound) {
  if (!sa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > sa->cDims) return DISP_E_BADINDEX;
  *bound = sa->rgsabound[dim - 1].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* sa, UINT dim, LONG* bound) {
  if (!sa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > sa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = sa->rgsabound[dim - 1];
  *bound = static_cast<LONG>(int64_t{b.lLbound} + int64_t{b.cElements} - 1);
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* sa, SAFEARRAYBOUND* newBound) {
  if (!sa || !newBound) return E_INVALIDARG;
  if (sa->cLocks > 0 || (sa->fFeatures & FADF_FIXEDSIZE)) return DISP_E_ARRAYISLOCKED;
  SAFEARRAYBOUND& last = sa->rgsabound[sa->cDims - 1];
  size_t oldCount = 0, slice = 1;
  ElementCount(sa, &oldCount);
  for (USHORT d = 0; d + 1 < sa->cDims; ++d) slice *= sa->rgsabound[d].cElements;
  size_t newCount = slice * newBound->cElements;
  if (newBound->cElements != 0 && newCount / newBound->cElements != slice) return E_OUTOFMEMORY;
  if (newCount > std::numeric_limits<size_t>::max() / sa->cbElements) return E_OUTOFMEMORY;
  if (newCount < oldCount) ClearElements(sa, newCount, oldCount);
  if (newCount == 0) {
    std::free(sa->pvData);
    sa->pvData = nullptr;
  } else if (newCount != oldCount) {
    void* grown = std::realloc(sa->pvData, newCount * sa->cbElements);
    if (!grown) return E_OUTOFMEMORY;
    sa->pvData = grown;
    if (newCount > oldCount)
      std::memset(static_cast<char*>(grown) + oldCount * sa->cbElements, 0,
                  (newCount - oldCount) * sa->cbElements);
  }
  last = *newBound;
  return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* sa, LONG* indices, void** element) {
  if (!sa || !indices || !element) return E_INVALIDARG;
  size_t offset = 0, stride = 1;
  for (USHORT d = 0; d < sa->cDims; ++d) {
    const SAFEARRAYBOUND& b = sa->rgsabound[d];
    int64_t rel = int64_t{indices[d]} - b.lLbound;
    if (rel < 0 || rel >= int64_t{b.cElements}) return DISP_E_BADINDEX;
    offset += static_cast<size_t>(rel) * stride;
    stride *= b.cElements;
  }
  *element = static_cast<char*>(sa->pvData) + offset * sa->cbElements;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* sa, LONG* indices, void* value) {
  if (!value) return E_INVALIDARG;
  void* e;
  HRESULT hr = SafeArrayPtrOfIndex(sa, indices, &e);
  if (FAILED(hr)) return hr;
  return CopyElement(sa, value, e);
}

HRESULT SafeArrayPutElement(SAFEARRAY* sa, LONG* indices, void* value) {
  void* e;
  HRESULT hr = SafeArrayPtrOfIndex(sa, indices, &e);
  if (FAILED(hr)) return hr;
  if (sa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)) {
    // Texts and interfaces come as the pointer itself, variants by address. Copy first, so
    // that putting an element onto itself stays sound.
    alignas(VARIANT) char fresh[sizeof(VARIANT)];
    const void* src = value;
    if (!(sa->fFeatures & FADF_VARIANT))
      src = &value;
    else if (!value)
      return E_INVALIDARG;
    hr = CopyElement(sa, fresh, src);
    if (FAILED(hr)) return hr;
    size_t index = (static_cast<char*>(e) - static_cast<char*>(sa->pvData)) / sa->cbElements;
    ClearElements(sa, index, index + 1);
    std::memcpy(e, fresh, sa->cbElements);
    return S_OK;
  }
  if (!value) return E_INVALIDARG;
  std::memcpy(e, value, sa->cbElements);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* sa) {
  if (!sa) return E_INVALIDARG;
  ++sa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* sa) {
  if (!sa) return E_INVALIDARG;
  if (sa->cLocks == 0) return E_UNEXPECTED;
  --sa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* sa, void** data) {
  if (!sa || !data) return E_INVALIDARG;
  ++sa->cLocks;
  *data = sa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* sa) { return SafeArrayUnlock(sa); }
