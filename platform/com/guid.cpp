#include "com/guid.h"

#include <cstdio>
#include <cstring>

#include "com/strings.h"
#include "com/unknown.h"

namespace com {

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::u16string GuidToWString(const GUID& g) {
  std::string s = GuidToString(g);
  return std::u16string(s.begin(), s.end());
}

}  // namespace com

namespace {
std::optional<GUID> ParseWide(LPCOLESTR text) {
  if (!text) return std::nullopt;
  std::string narrow;
  for (const OLECHAR* p = text; *p; ++p) {
    if (*p > 0x7f || narrow.size() > 40) return std::nullopt;
    narrow.push_back(static_cast<char>(*p));
  }
  // The platform accepts only the braced form here.
  if (narrow.size() != 38) return std::nullopt;
  return com::ParseGuid(narrow);
}
}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  auto g = ParseWide(text);
  *clsid = g.value_or(GUID_NULL);
  return g ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (!iid) return E_INVALIDARG;
  auto g = ParseWide(text);
  *iid = g.value_or(GUID_NULL);
  return g ? S_OK : E_INVALIDARG;
}

int StringFromGUID2(const GUID& g, LPOLESTR buffer, int size) {
  std::u16string s = com::GuidToWString(g);
  if (!buffer || size < static_cast<int>(s.size()) + 1) return 0;
  std::memcpy(buffer, s.c_str(), (s.size() + 1) * sizeof(OLECHAR));
  return static_cast<int>(s.size()) + 1;
}

HRESULT StringFromCLSID(const CLSID& clsid, LPOLESTR* text) {
  if (!text) return E_INVALIDARG;
  auto* buf = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
  if (!buf) return E_OUTOFMEMORY;
  StringFromGUID2(clsid, buf, 39);
  *text = buf;
  return S_OK;
}
