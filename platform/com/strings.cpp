#include "com/strings.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point of UTF-16; unpaired surrogates are replaced.
char32_t NextFromUtf16(std::u16string_view s, size_t& i) {
  char16_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      char32_t lo = s[i++];
      return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (lo - 0xDC00);
    }
    return kReplacement;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) return kReplacement;
  return c;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes one code point of UTF-8; malformed sequences become U+FFFD, one byte at a time.
char32_t NextFromUtf8(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
  if (extra < 0 || i + extra > s.size()) return kReplacement;
  char32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (d & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  i += extra;
  return cp;
}

// The character set of the user's locale, as setlocale(LC_ALL, "") would choose it, without
// changing the process's locale. The bare POSIX locale says nothing about characters; the
// file system beneath it is UTF-8, so that is what it means here.
std::string LocaleCharset() {
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (!loc) return "UTF-8";
  std::string cs = nl_langinfo_l(CODESET, loc);
  freelocale(loc);
  if (cs.empty() || cs == "ANSI_X3.4-1968") return "UTF-8";
  return cs;
}

bool IsUtf8(const std::string& cs) { return cs == "UTF-8" || cs == "utf8"; }

std::string ToCharset(std::u16string_view text, const std::string& cs, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  std::string out;
  if (IsUtf8(cs)) {
    // Only an unpaired surrogate lacks a UTF-8 form.
    if (usedDefault)
      for (size_t i = 0; i < text.size();) {
        bool real = text[i] == 0xFFFD;
        if (NextFromUtf16(text, i) == kReplacement && !real) *usedDefault = true;
      }
    return com::Utf16ToUtf8(text);
  }
  iconv_t cd = iconv_open(cs.c_str(), "UTF-32LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return com::Utf16ToUtf8(text);
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp = NextFromUtf16(text, i);
    char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                  static_cast<char>((cp >> 16) & 0xFF), static_cast<char>(cp >> 24)};
    char buf[16];
    char* inp = in;
    size_t inLeft = 4;
    char* outp = buf;
    size_t outLeft = sizeof buf;
    if (cp == kReplacement ||
        iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      out.push_back('?');
      if (usedDefault) *usedDefault = true;
    } else {
      out.append(buf, outp);
    }
  }
  // Flush any shift state.
  char buf[16];
  char* outp = buf;
  size_t outLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &outp, &outLeft);
  out.append(buf, outp);
  iconv_close(cd);
  return out;
}

std::u16string FromCharset(std::string_view text, const std::string& cs) {
  if (IsUtf8(cs)) return com::Utf8ToUtf16(text);
  iconv_t cd = iconv_open("UTF-16LE", cs.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return com::Utf8ToUtf16(text);
  std::u16string out;
  std::string in(text);
  char* inp = in.data();
  size_t inLeft = in.size();
  while (inLeft > 0) {
    char16_t buf[256];
    char* outp = reinterpret_cast<char*>(buf);
    size_t outLeft = sizeof buf;
    size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    out.append(buf, reinterpret_cast<char16_t*>(outp));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // An invalid byte: replace it and go on with the next.
      out.push_back(u'\xFFFD');
      ++inp;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::string CharsetOf(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
      return LocaleCharset();
    case CP_UTF8:
      return "UTF-8";
    case 20127:
      return "ASCII";
    case 28591:
      return "ISO-8859-1";
    case 28605:
      return "ISO-8859-15";
    default:
      return "CP" + std::to_string(codePage);
  }
}

}  // namespace

namespace com {

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) AppendUtf16(out, NextFromUtf8(text, i));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) AppendUtf8(out, NextFromUtf16(text, i));
  return out;
}

std::string ToCodePage(std::u16string_view text, bool* usedDefault) {
  return ToCharset(text, LocaleCharset(), usedDefault);
}

std::u16string FromCodePage(std::string_view text) { return FromCharset(text, LocaleCharset()); }

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

size_t WideLength(const WCHAR* text) {
  size_t n = 0;
  if (text)
    while (text[n]) ++n;
  return n;
}

}  // namespace com

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* out,
                        int outSize, const char* defaultChar, BOOL* usedDefault) {
  if (!wide || outSize < 0) return 0;
  size_t n = length < 0 ? com::WideLength(wide) + 1 : static_cast<size_t>(length);
  bool used = false;
  std::string s = ToCharset(std::u16string_view(wide, n), CharsetOf(codePage), &used);
  if (defaultChar && *defaultChar && used && defaultChar[0] != '?') {
    for (char& c : s)
      if (c == '?') c = defaultChar[0];
  }
  if (usedDefault) *usedDefault = used ? TRUE : FALSE;
  if (outSize == 0) return static_cast<int>(s.size());
  if (!out || s.size() > static_cast<size_t>(outSize)) return 0;  // never cut short
  std::memcpy(out, s.data(), s.size());
  return static_cast<int>(s.size());
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int length, WCHAR* out,
                        int outSize) {
  if (!bytes || outSize < 0) return 0;
  size_t n = length < 0 ? std::strlen(bytes) + 1 : static_cast<size_t>(length);
  std::u16string s = FromCharset(std::string_view(bytes, n), CharsetOf(codePage));
  if (outSize == 0) return static_cast<int>(s.size());
  if (!out || s.size() > static_cast<size_t>(outSize)) return 0;
  std::memcpy(out, s.data(), s.size() * sizeof(WCHAR));
  return static_cast<int>(s.size());
}

UINT GetACP() {
  std::string cs = LocaleCharset();
  if (IsUtf8(cs)) return CP_UTF8;
  if (cs == "ISO-8859-1") return 28591;
  if (cs == "ISO-8859-15") return 28605;
  if (cs == "ANSI_X3.4-1968" || cs == "ASCII") return 20127;
  if (cs.rfind("CP", 0) == 0) return static_cast<UINT>(std::atoi(cs.c_str() + 2));
  return CP_UTF8;
}
