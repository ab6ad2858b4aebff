#include "com/variant.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "com/bstr.h"
#include "com/safearray.h"
#include "com/strings.h"

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  VARTYPE vt = v->vt;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else {
      switch (vt) {
        case VT_BSTR:
          SysFreeString(v->bstrVal);
          break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
          if (v->punkVal) v->punkVal->Release();
          break;
        default:
          break;
      }
    }
  }
  VariantInit(v);
  return S_OK;
}

namespace {

HRESULT CopyValue(VARIANT* dest, const VARIANT* src) {
  VARIANT out = *src;
  if (!(src->vt & VT_BYREF)) {
    if (src->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayCopy(src->parray, &out.parray);
      if (FAILED(hr)) return hr;
    } else if (src->vt == VT_BSTR) {
      if (src->bstrVal) {
        out.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!out.bstrVal) return E_OUTOFMEMORY;
      }
    } else if (src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) {
      if (src->punkVal) src->punkVal->AddRef();
    }
  }
  *dest = out;
  return S_OK;
}

// The value a by-reference variant points at, as a plain variant that borrows it.
HRESULT Dereference(const VARIANT* src, VARIANT* plain) {
  VariantInit(plain);
  VARTYPE base = static_cast<VARTYPE>(src->vt & ~VT_BYREF);
  if (!src->byref) return E_INVALIDARG;
  if (base == VT_VARIANT) {
    *plain = *src->pvarVal;
    if (plain->vt & VT_BYREF) return DISP_E_BADVARTYPE;  // no chains of references
    return S_OK;
  }
  plain->vt = base;
  if (base & VT_ARRAY) {
    plain->parray = *src->pparray;
    return S_OK;
  }
  switch (base) {
    case VT_UI1:
    case VT_I1:
      plain->bVal = *src->pbVal;
      break;
    case VT_I2:
    case VT_UI2:
      plain->iVal = *src->piVal;
      break;
    case VT_BOOL:
      plain->boolVal = *src->pboolVal;
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      plain->lVal = *src->plVal;
      break;
    case VT_R4:
      plain->fltVal = *src->pfltVal;
      break;
    case VT_R8:
      plain->dblVal = *src->pdblVal;
      break;
    case VT_I8:
    case VT_UI8:
      plain->llVal = *src->pllVal;
      break;
    case VT_BSTR:
      plain->bstrVal = *src->pbstrVal;
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      plain->punkVal = *src->ppunkVal;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  return S_OK;
}

// Numbers pass through double where that is exact for every integer kind used here.
bool ToDouble(const VARIANT& v, double* d) {
  switch (v.vt) {
    case VT_EMPTY:
      *d = 0;
      return true;
    case VT_UI1:
      *d = v.bVal;
      return true;
    case VT_I1:
      *d = v.cVal;
      return true;
    case VT_I2:
      *d = v.iVal;
      return true;
    case VT_UI2:
      *d = v.uiVal;
      return true;
    case VT_BOOL:
      *d = v.boolVal ? -1 : 0;
      return true;
    case VT_I4:
    case VT_INT:
      *d = v.lVal;
      return true;
    case VT_UI4:
    case VT_UINT:
      *d = v.ulVal;
      return true;
    case VT_I8:
      *d = static_cast<double>(v.llVal);
      return true;
    case VT_UI8:
      *d = static_cast<double>(v.ullVal);
      return true;
    case VT_R4:
      *d = v.fltVal;
      return true;
    case VT_R8:
      *d = v.dblVal;
      return true;
    default:
      return false;
  }
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char16_t>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

HRESULT ParseNumber(BSTR text, bool allowBoolWords, double* d) {
  std::u16string_view w(text ? text : u"", SysStringLen(text));
  while (!w.empty() && (w.front() == ' ' || w.front() == '\t')) w.remove_prefix(1);
  while (!w.empty() && (w.back() == ' ' || w.back() == '\t')) w.remove_suffix(1);
  if (allowBoolWords) {
    if (EqualsIgnoreCase(w, u"true")) return *d = -1, S_OK;
    if (EqualsIgnoreCase(w, u"false")) return *d = 0, S_OK;
  }
  std::string s;
  for (char16_t c : w) {
    if (c > 0x7f) return DISP_E_TYPEMISMATCH;
    s.push_back(static_cast<char>(c));
  }
  if (s.empty()) return DISP_E_TYPEMISMATCH;
  const char* first = s.data();
  if (*first == '+') ++first;
  auto [end, ec] = std::from_chars(first, s.data() + s.size(), *d);
  if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (ec != std::errc() || end != s.data() + s.size()) return DISP_E_TYPEMISMATCH;
  return S_OK;
}

std::u16string FormatNumber(double d) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  (void)ec;
  return std::u16string(buf, end);
}

template <class T>
HRESULT RoundInto(double d, T* out) {
  // Halves go to the even neighbour, as the platform's conversions do.
  double r = std::nearbyint(d);
  if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<double>(std::numeric_limits<T>::max())))
    return DISP_E_OVERFLOW;
  *out = static_cast<T>(r);
  return S_OK;
}

HRESULT ToText(const VARIANT& v, USHORT flags, BSTR* out) {
  std::u16string s;
  switch (v.vt) {
    case VT_EMPTY:
      break;
    case VT_BOOL:
      s = (flags & VARIANT_ALPHABOOL) ? (v.boolVal ? u"True" : u"False")
                                      : (v.boolVal ? u"-1" : u"0");
      break;
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_R4:
    case VT_R8: {
      double d;
      ToDouble(v, &d);
      s = v.vt == VT_I8 ? com::Utf8ToUtf16(std::to_string(v.llVal)) : FormatNumber(d);
      break;
    }
    case VT_UI8:
      s = com::Utf8ToUtf16(std::to_string(v.ullVal));
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* out) {
  VariantInit(out);
  if (src.vt == vt) return CopyValue(out, &src);
  if (vt == VT_EMPTY) return S_OK;
  if (src.vt == VT_NULL || (src.vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_VARIANT) return CopyValue(out, &src);

  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    if (!src.punkVal) {
      out->vt = vt;
      return S_OK;
    }
    void* p = nullptr;
    HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    out->vt = vt;
    out->byref = p;
    return S_OK;
  }

  if (vt == VT_BSTR) {
    BSTR b = nullptr;
    HRESULT hr = ToText(src, flags, &b);
    if (FAILED(hr)) return hr;
    out->vt = VT_BSTR;
    out->bstrVal = b;
    return S_OK;
  }

  double d;
  if (src.vt == VT_BSTR) {
    HRESULT hr = ParseNumber(src.bstrVal, true, &d);
    if (FAILED(hr)) return hr;
  } else if (!ToDouble(src, &d)) {
    return DISP_E_TYPEMISMATCH;
  }

  HRESULT hr = S_OK;
  switch (vt) {
    case VT_BOOL:
      out->boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_UI1:
      hr = RoundInto(d, &out->bVal);
      break;
    case VT_I1:
      hr = RoundInto(d, &out->cVal);
      break;
    case VT_I2:
      hr = RoundInto(d, &out->iVal);
      break;
    case VT_UI2:
      hr = RoundInto(d, &out->uiVal);
      break;
    case VT_I4:
    case VT_INT:
      hr = RoundInto(d, &out->lVal);
      break;
    case VT_UI4:
    case VT_UINT:
      hr = RoundInto(d, &out->ulVal);
      break;
    case VT_I8:
      hr = RoundInto(d, &out->llVal);
      break;
    case VT_R4:
      if (std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
      break;
    case VT_R8:
      out->dblVal = d;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) return hr;
  out->vt = vt;
  return S_OK;
}

}  // namespace

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT fresh;
  HRESULT hr = CopyValue(&fresh, src);
  if (FAILED(hr)) return hr;
  VariantClear(dest);
  *dest = fresh;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
  VARIANT plain;
  HRESULT hr = Dereference(src, &plain);
  if (FAILED(hr)) return hr;
  VARIANT fresh;
  hr = CopyValue(&fresh, &plain);
  if (FAILED(hr)) return hr;
  VariantClear(dest);
  *dest = fresh;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT plain;
  if (src->vt & VT_BYREF) {
    HRESULT hr = Dereference(src, &plain);
    if (FAILED(hr)) return hr;
  } else {
    plain = *src;
  }
  VARIANT out;
  HRESULT hr = Convert(plain, flags, vt, &out);
  if (FAILED(hr)) return hr;
  // dest may be src itself: clear it only once the new value exists.
  VariantClear(dest);
  *dest = out;
  return S_OK;
}
