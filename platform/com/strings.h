// Text conversions between UTF-16, UTF-8 and the system code page.
#pragma once

#include <string>
#include <string_view>

#include "com/base.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

extern "C" {
// The platform's conversions. CP_ACP is the locale's character set (LC_CTYPE, after
// setlocale(LC_ALL, "")); a character it lacks becomes its default character "?", and
// *usedDefault says so. A zero output size asks for the size needed. length -1: up to and
// including the terminating zero. Invalid input is replaced, never cut short.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* out,
                        int outSize, const char* defaultChar, BOOL* usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int length, WCHAR* out,
                        int outSize);
// The code page number of the locale's character set (65001 for UTF-8, 28591 for
// ISO-8859-1, 1252 for CP1252, ...); 20127 for plain ASCII ("C" locale).
UINT GetACP();
}

namespace com {
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// Narrow form in the system code page, with the default character for what it lacks.
std::string ToCodePage(std::u16string_view text, bool* usedDefault = nullptr);
std::u16string FromCodePage(std::string_view text);
// Length up to the first zero of a UTF-16 text; 0 for null.
size_t WideLength(const WCHAR* text);
// Equal but for the case of ASCII letters: keywords, value names, GUID texts.
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
}  // namespace com
