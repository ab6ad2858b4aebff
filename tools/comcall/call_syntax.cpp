#include "call_syntax.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "com/safearray.h"
#include "com/strings.h"

namespace comcall {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Splits at top-level commas; commas inside quotes belong to the text.
bool SplitArgs(const std::string& s, std::vector<std::string>* out, std::string* error) {
  std::string cur;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted) {
      cur += c;
      if (c == '\\' && i + 1 < s.size()) {
        cur += s[++i];
      } else if (c == '"') {
        if (i + 1 < s.size() && s[i + 1] == '"') {
          cur += s[++i];
        } else {
          quoted = false;
        }
      }
    } else if (c == '"') {
      quoted = true;
      cur += c;
    } else if (c == ',') {
      out->push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (quoted) {
    *error = "unterminated quoted text";
    return false;
  }
  out->push_back(cur);
  return true;
}

}  // namespace

com::Variant ParseValue(const std::string& raw) {
  std::string t = Trim(raw);
  com::Variant v;
  if (t.empty()) {
    v->vt = VT_ERROR;
    v->scode = DISP_E_PARAMNOTFOUND;
    return v;
  }
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"') {
    std::string text;
    for (size_t i = 1; i + 1 < t.size(); ++i) {
      if ((t[i] == '\\' || t[i] == '"') && i + 2 < t.size() && t[i + 1] == '"') {
        text += '"';
        ++i;
      } else {
        text += t[i];
      }
    }
    return com::Variant::FromText(std::string_view(text));
  }
  if (com::EqualsIgnoreAsciiCase(t, "true")) return com::Variant::FromBool(true);
  if (com::EqualsIgnoreAsciiCase(t, "false")) return com::Variant::FromBool(false);
  const char* s = t.c_str();
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(s, &end, 10);
  if (*end == 0 && errno == 0 &&
      (std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '-' || s[0] == '+')) {
    if (n >= INT32_MIN && n <= INT32_MAX) return com::Variant::FromI4(static_cast<LONG>(n));
  }
  errno = 0;
  double d = std::strtod(s, &end);
  if (*end == 0 && errno == 0 &&
      (std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '-' || s[0] == '+' ||
       s[0] == '.')) {
    v->vt = VT_R8;
    v->dblVal = d;
    return v;
  }
  return com::Variant::FromText(std::string_view(t));
}

bool ParseCall(const std::string& text, Call* call, std::string* error) {
  std::string t = Trim(text);
  size_t i = 0;
  while (i < t.size() && (std::isalnum(static_cast<unsigned char>(t[i])) || t[i] == '_')) ++i;
  if (i == 0) {
    *error = "a call starts with a member name: " + text;
    return false;
  }
  Call c;
  c.name = t.substr(0, i);
  std::string rest = Trim(t.substr(i));
  if (!rest.empty() && rest[0] == '(') {
    // The closing parenthesis is the last one outside quotes.
    bool quoted = false;
    size_t close = std::string::npos;
    for (size_t j = 1; j < rest.size(); ++j) {
      if (rest[j] == '"') {
        if (quoted && j + 1 < rest.size() && rest[j + 1] == '"') {
          ++j;
          continue;
        }
        if (quoted && rest[j - 1] == '\\') continue;
        quoted = !quoted;
      } else if (rest[j] == ')' && !quoted) {
        close = j;
        break;
      }
    }
    if (close == std::string::npos) {
      *error = "missing ')' in " + text;
      return false;
    }
    c.hasArgs = true;
    std::string inner = rest.substr(1, close - 1);
    if (!Trim(inner).empty()) {
      std::vector<std::string> parts;
      if (!SplitArgs(inner, &parts, error)) return false;
      for (const auto& p : parts) c.args.push_back(ParseValue(p));
    }
    rest = Trim(rest.substr(close + 1));
  }
  if (!rest.empty()) {
    if (rest[0] != '=') {
      *error = "unexpected '" + rest + "' in " + text;
      return false;
    }
    std::string value = rest.substr(1);
    if (Trim(value).empty()) {
      c.value = com::Variant::FromText(std::u16string_view());
    } else {
      c.value = ParseValue(value);
    }
  }
  *call = std::move(c);
  return true;
}

std::string FormatValue(const VARIANT& in) {
  com::Variant plain;
  if (FAILED(VariantCopyInd(plain.Get(), &in))) return "(unreadable value)";
  const VARIANT& v = *plain.Get();
  char buf[64];
  switch (v.vt) {
    case VT_EMPTY:
      return "";
    case VT_NULL:
      return "Null";
    case VT_BOOL:
      return v.boolVal ? "True" : "False";
    case VT_BSTR:
      return com::BStr(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)))
          .Utf8();
    case VT_I2:
      return std::to_string(v.iVal);
    case VT_I4:
    case VT_INT:
      return std::to_string(v.lVal);
    case VT_UI1:
      return std::to_string(v.bVal);
    case VT_UI2:
      return std::to_string(v.uiVal);
    case VT_UI4:
    case VT_UINT:
      return std::to_string(v.ulVal);
    case VT_I8:
      return std::to_string(v.llVal);
    case VT_UI8:
      return std::to_string(v.ullVal);
    // The shortest text that reads back as the same number.
    case VT_R4:
      return std::string(buf, std::to_chars(buf, buf + sizeof buf, v.fltVal).ptr);
    case VT_R8:
      return std::string(buf, std::to_chars(buf, buf + sizeof buf, v.dblVal).ptr);
    case VT_ERROR:
      std::snprintf(buf, sizeof buf, "Error 0x%08X", static_cast<unsigned>(v.scode));
      return buf;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return v.punkVal ? "(object)" : "Nothing";
    default:
      break;
  }
  if (v.vt & VT_ARRAY) {
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(v.parray, 1, &lo);
    SafeArrayGetUBound(v.parray, 1, &hi);
    return "(array of " + std::to_string(hi - lo + 1) + ")";
  }
  std::snprintf(buf, sizeof buf, "(value of type %u)", v.vt);
  return buf;
}

}  // namespace comcall
