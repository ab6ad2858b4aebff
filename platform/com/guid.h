// Globally unique identifiers: the "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" text form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "com/base.h"

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL{};

namespace com {

namespace detail {
constexpr int HexDigit(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}
}  // namespace detail

// Parses the braced form, or the same without braces. Anything else is no GUID.
constexpr std::optional<GUID> ParseGuid(std::string_view s) {
  if (s.size() == 38) {
    if (s.front() != '{' || s.back() != '}') return std::nullopt;
    s = s.substr(1, 36);
  }
  if (s.size() != 36) return std::nullopt;
  uint8_t bytes[16]{};
  int n = 0;
  for (size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    int hi = detail::HexDigit(s[i]), lo = detail::HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[n++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  GUID g{};
  g.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
            bytes[3];
  g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

// A GUID from a literal, checked when compiled: com::Guid("{...}").
consteval GUID Guid(const char* text) {
  std::string_view s(text);
  auto g = ParseGuid(s);
  if (!g) throw "malformed GUID literal";
  return *g;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GuidToString(const GUID& g);
std::u16string GuidToWString(const GUID& g);

}  // namespace com

// The platform's names for the same conversions.
STDAPI CLSIDFromString(LPCOLESTR text, CLSID* clsid);
STDAPI IIDFromString(LPCOLESTR text, IID* iid);
extern "C" int StringFromGUID2(const GUID& g, LPOLESTR buffer, int size);
STDAPI StringFromCLSID(const CLSID& clsid, LPOLESTR* text);  // CoTaskMemFree the result
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

template <>
struct std::hash<GUID> {
  size_t operator()(const GUID& g) const noexcept {
    uint64_t a = (uint64_t{g.Data1} << 32) | (uint64_t{g.Data2} << 16) | g.Data3;
    uint64_t b = 0;
    for (int i = 0; i < 8; ++i) b = (b << 8) | g.Data4[i];
    return std::hash<uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
  }
};
