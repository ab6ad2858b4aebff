#include "instrument_io/read_formatted.h"

#include <cstring>
#include <new>
#include <utility>

#include "com/bstr.h"
#include "com/safearray.h"
#include "com/variant.h"
#include "instrument_io/io_error.h"

namespace instrument_io {
namespace {

std::string TypeName(VARTYPE vt) {
  std::string name;
  if (vt & VT_BYREF) name += "VT_BYREF|";
  if (vt & VT_ARRAY) name += "VT_ARRAY|";
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
      return name + "VT_EMPTY";
    case VT_NULL:
      return name + "VT_NULL";
    case VT_I2:
      return name + "VT_I2";
    case VT_I4:
      return name + "VT_I4";
    case VT_R8:
      return name + "VT_R8";
    case VT_BSTR:
      return name + "VT_BSTR";
    case VT_BOOL:
      return name + "VT_BOOL";
    case VT_VARIANT:
      return name + "VT_VARIANT";
    case VT_UI1:
      return name + "VT_UI1";
    case VT_DISPATCH:
      return name + "VT_DISPATCH";
    default:
      return name + "type " + std::to_string(vt & VT_TYPEMASK);
  }
}

std::vector<std::string> Fields(const std::string& reply) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = reply.find(',', start);
    std::string f =
        reply.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t a = f.find_first_not_of(" \t"), b = f.find_last_not_of(" \t");
    fields.push_back(a == std::string::npos ? std::string() : f.substr(a, b - a + 1));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

SAFEARRAY* ArrayOf(VARIANT* v) {
  return (v->vt & VT_BYREF) ? (v->pparray ? *v->pparray : nullptr) : v->parray;
}

}  // namespace

BSTR BytesToBstr(const std::string& bytes) {
  if (bytes.empty()) return nullptr;
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(bytes.size()));
  if (!b) return nullptr;
  for (size_t i = 0; i < bytes.size(); ++i) b[i] = static_cast<unsigned char>(bytes[i]);
  return b;
}

bool BstrToBytes(const OLECHAR* text, size_t length, std::string* bytes) {
  bytes->resize(length);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] > 0xff) return false;
    (*bytes)[i] = static_cast<char>(text[i]);
  }
  return true;
}

HRESULT PlanRead(VARIANT* data, BSTR format, ReadPlan* plan, std::string* why) {
  if (!data) {
    *why = "ReadFormatted needs a variant to store the reply in";
    return E_POINTER;
  }
  std::u16string f(format ? format : u"", format ? SysStringLen(format) : 0);
  while (!f.empty() && f.back() == u' ') f.pop_back();
  while (!f.empty() && f.front() == u' ') f.erase(0, 1);
  for (auto& c : f) c = (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;
  VARIANT* target = data;
  if (target->vt == (VT_BYREF | VT_VARIANT)) {
    if (!target->pvarVal) {
      *why = "ReadFormatted was given a null variant reference";
      return E_POINTER;
    }
    target = target->pvarVal;
  }
  const VARTYPE vt = target->vt;
  plan->target = target;
  if (f == u"K") {
    if (vt == VT_EMPTY || vt == VT_NULL || vt == VT_BSTR || vt == (VT_BYREF | VT_BSTR)) {
      if (vt == (VT_BYREF | VT_BSTR) && !target->pbstrVal) {
        *why = "ReadFormatted was given a null string reference";
        return E_POINTER;
      }
      plan->kind = ReadPlan::kText;
      return S_OK;
    }
    VARTYPE element = vt & ~(VT_BYREF | VT_ARRAY);
    if ((vt & VT_ARRAY) && (element == VT_BSTR || element == VT_VARIANT)) {
      SAFEARRAY* sa = ArrayOf(target);
      if (!sa || SafeArrayGetDim(sa) != 1) {
        *why = "ReadFormatted \"K\" needs a one-dimensional array of strings";
        return DISP_E_TYPEMISMATCH;
      }
      plan->kind = ReadPlan::kFields;
      return S_OK;
    }
    *why =
        "ReadFormatted \"K\" stores text into a string or an array of strings, not into a "
        "variant of " +
        TypeName(vt);
    return DISP_E_TYPEMISMATCH;
  }
  if (f == u"I1") {
    if (vt == VT_EMPTY || vt == VT_NULL || vt == (VT_ARRAY | VT_UI1) ||
        (vt == (VT_BYREF | VT_ARRAY | VT_UI1) && target->pparray)) {
      SAFEARRAY* sa = (vt & VT_ARRAY) ? ArrayOf(target) : nullptr;
      if (sa && (sa->fFeatures & (FADF_FIXEDSIZE | FADF_STATIC | FADF_AUTO))) {
        *why = "ReadFormatted \"I1\" cannot replace a fixed-size array; pass an empty variant";
        return DISP_E_TYPEMISMATCH;
      }
      plan->kind = ReadPlan::kBytes;
      return S_OK;
    }
    *why =
        "ReadFormatted \"I1\" stores a byte array into an empty variant, not into a variant "
        "of " +
        TypeName(vt);
    return DISP_E_TYPEMISMATCH;
  }
  *why = "unsupported ReadFormatted format \"" + std::string(f.begin(), f.end()) +
         "\"; use \"K\" for text or \"I1\" for a binary block of bytes";
  return IO_E_FORMAT;
}

HRESULT StoreText(const ReadPlan& plan, const std::string& reply) {
  VARIANT* v = plan.target;
  if (plan.kind == ReadPlan::kText) {
    BSTR text = BytesToBstr(reply);
    if (!text && !reply.empty()) return E_OUTOFMEMORY;
    if (v->vt == (VT_BYREF | VT_BSTR)) {
      SysFreeString(*v->pbstrVal);
      *v->pbstrVal = text;
    } else {
      VariantClear(v);
      v->vt = VT_BSTR;
      v->bstrVal = text;
    }
    return S_OK;
  }
  SAFEARRAY* sa = ArrayOf(v);
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(sa, 1, &lower);
  SafeArrayGetUBound(sa, 1, &upper);
  std::vector<std::string> fields = Fields(reply);
  VARTYPE element = v->vt & VT_TYPEMASK;
  void* raw = nullptr;
  HRESULT hr = SafeArrayAccessData(sa, &raw);
  if (FAILED(hr)) return hr;
  for (LONG i = 0; i <= upper - lower; ++i) {
    std::string field = static_cast<size_t>(i) < fields.size() ? fields[i] : std::string();
    BSTR text = BytesToBstr(field);
    if (element == VT_BSTR) {
      BSTR* slot = static_cast<BSTR*>(raw) + i;
      SysFreeString(*slot);
      *slot = text;
    } else {
      VARIANT* slot = static_cast<VARIANT*>(raw) + i;
      VariantClear(slot);
      slot->vt = VT_BSTR;
      slot->bstrVal = text;
    }
  }
  SafeArrayUnaccessData(sa);
  return S_OK;
}

ByteArraySink::~ByteArraySink() {
  if (array_) {
    SafeArrayUnaccessData(array_);
    SafeArrayDestroy(array_);
  }
}

uint8_t* ByteArraySink::Allocate(size_t length) {
  SAFEARRAY* sa = length <= 0xffffffffu
                      ? SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(length))
                      : nullptr;
  void* data = nullptr;
  if (!sa || FAILED(SafeArrayAccessData(sa, &data))) {
    if (sa) SafeArrayDestroy(sa);
    throw std::bad_alloc();
  }
  array_ = sa;
  return static_cast<uint8_t*>(data);
}

void ByteArraySink::Store(const ReadPlan& plan) {
  SAFEARRAY* sa = std::exchange(array_, nullptr);
  if (!sa)
    sa = SafeArrayCreateVector(VT_UI1, 0, 0);
  else
    SafeArrayUnaccessData(sa);
  VARIANT* v = plan.target;
  if (v->vt == (VT_BYREF | VT_ARRAY | VT_UI1)) {
    if (*v->pparray) SafeArrayDestroy(*v->pparray);
    *v->pparray = sa;
  } else {
    VariantClear(v);
    v->vt = VT_ARRAY | VT_UI1;
    v->parray = sa;
  }
}

}  // namespace instrument_io
