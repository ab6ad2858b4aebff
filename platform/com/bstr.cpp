#include "com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

// Layout: a 32-bit byte length, the characters, then a zero character. The BSTR points at
// the first character.
namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

BSTR AllocBytes(const void* data, size_t bytes) {
  if (bytes > std::numeric_limits<uint32_t>::max() - 8) return nullptr;
  // Room for the zero character and, for an odd byte count, one more zero byte.
  auto* block = static_cast<char*>(std::malloc(kPrefix + bytes + 3));
  if (!block) return nullptr;
  uint32_t len = static_cast<uint32_t>(bytes);
  std::memcpy(block, &len, kPrefix);
  char* text = block + kPrefix;
  if (data)
    std::memcpy(text, data, bytes);
  else
    std::memset(text, 0, bytes);
  std::memset(text + bytes, 0, 3);
  return reinterpret_cast<BSTR>(text);
}

uint32_t ByteLen(BSTR text) {
  if (!text) return 0;
  uint32_t len;
  std::memcpy(&len, reinterpret_cast<char*>(text) - kPrefix, kPrefix);
  return len;
}

}  // namespace

BSTR SysAllocString(LPCOLESTR text) {
  if (!text) return nullptr;
  size_t n = 0;
  while (text[n]) ++n;
  return AllocBytes(text, n * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return AllocBytes(text, size_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length) { return AllocBytes(bytes, length); }

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (!target) return FALSE;
  BSTR fresh = SysAllocStringLen(text, length);
  if (!fresh) return FALSE;
  SysFreeString(*target);
  *target = fresh;
  return TRUE;
}

INT SysReAllocString(BSTR* target, LPCOLESTR text) {
  if (!target) return FALSE;
  size_t n = 0;
  if (text)
    while (text[n]) ++n;
  return SysReAllocStringLen(target, text, static_cast<UINT>(n));
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - kPrefix);
}

UINT SysStringLen(BSTR text) { return ByteLen(text) / sizeof(OLECHAR); }
UINT SysStringByteLen(BSTR text) { return ByteLen(text); }
