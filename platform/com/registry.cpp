// The Win32-style registry calls over the store: handles, argument checks and buffer
// sizes. Every call runs under the store's lock; writing calls are each one unit.
#include "com/registry.h"

#include <cstring>
#include <unordered_set>

#include "com/registry_keys.h"
#include "com/registry_store.h"
#include "com/strings.h"

// A key opened or created by the caller: which key, and in which registry file.
struct RegKeyHandle {
  com::regstore::Key key;
  std::string file;
};

namespace {
// Only their addresses matter: the roots are recognised by identity.
RegKeyHandle classesRoot;
RegKeyHandle currentUser;
}  // namespace

extern "C" const HKEY HKEY_CLASSES_ROOT = &classesRoot;
extern "C" const HKEY HKEY_CURRENT_USER = &currentUser;

namespace com::regstore {
namespace {

// Handles handed out and not yet closed, so that a stale or foreign pointer is refused
// rather than followed.
std::unordered_set<HKEY>& LiveHandles() {
  static auto* live = new std::unordered_set<HKEY>;
  return *live;
}

std::string Utf8(LPCWSTR text) {
  return text ? Utf16ToUtf8(std::u16string_view(text, WideLength(text))) : std::string();
}

HKEY NewHandle(Key key) {
  HKEY handle = new RegKeyHandle{std::move(key), Path()};
  LiveHandles().insert(handle);
  return handle;
}

// Copies a name into a caller's buffer of *length characters (with its zero). On success
// *length is the name's length without the zero; when too small, the size needed with it.
LONG CopyName(const std::string& utf8, LPWSTR out, DWORD* length) {
  std::u16string name = Utf8ToUtf16(utf8);
  if (*length < name.size() + 1) {
    *length = static_cast<DWORD>(name.size() + 1);
    return ERROR_MORE_DATA;
  }
  std::memcpy(out, name.data(), name.size() * sizeof(char16_t));
  out[name.size()] = 0;
  *length = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Copies value data; a null buffer asks for the size only.
LONG CopyData(const std::vector<BYTE>& data, BYTE* out, DWORD* size) {
  if (!size) return out ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD needed = static_cast<DWORD>(data.size());
  if (out && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (out && needed) std::memcpy(out, data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

bool IsRoot(HKEY key) { return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER; }

LONG ResolveHandle(HKEY handle, Key* key) {
  if (handle == HKEY_CLASSES_ROOT) {
    *key = Key{0, 1, "", "HKEY_CLASSES_ROOT"};
    return ERROR_SUCCESS;
  }
  if (handle == HKEY_CURRENT_USER) {
    *key = Key{1, 2, "", "HKEY_CURRENT_USER"};
    return ERROR_SUCCESS;
  }
  if (!handle || !LiveHandles().count(handle))
    return Fail(ERROR_INVALID_HANDLE, "registry: not an open key handle");
  if (handle->file != Path())
    return Fail(ERROR_INVALID_HANDLE, Describe("the handle of " + handle->key.display +
                                               " was opened in another registry, " + handle->file));
  *key = handle->key;
  return ERROR_SUCCESS;
}

}  // namespace com::regstore

using namespace com::regstore;

extern "C" {

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, void*, HKEY* result,
                     DWORD* disposition) {
  auto lock = Lock();
  if (!result) return Fail(ERROR_INVALID_PARAMETER, "registry: no place for the result handle");
  *result = nullptr;
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  WriteScope scope;
  if (LONG r = scope.Begin(); r != ERROR_SUCCESS) return r;
  Key base, created;
  bool isNew = false;
  if (LONG r = ResolveHandle(key, &base); r != ERROR_SUCCESS) return r;
  if (LONG r = CreateSub(base, Utf8(subKey), &created, &isNew); r != ERROR_SUCCESS) return r;
  if (LONG r = scope.Commit(); r != ERROR_SUCCESS) return r;
  if (disposition) *disposition = isNew ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(std::move(created));
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  auto lock = Lock();
  if (!result) return Fail(ERROR_INVALID_PARAMETER, "registry: no place for the result handle");
  *result = nullptr;
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  Key base, opened;
  if (LONG r = ResolveHandle(key, &base); r != ERROR_SUCCESS) return r;
  if (LONG r = OpenSub(base, Utf8(subKey), &opened); r != ERROR_SUCCESS) return r;
  *result = NewHandle(std::move(opened));
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  auto lock = Lock();
  if (IsRoot(key)) return ERROR_SUCCESS;
  if (!key || LiveHandles().erase(key) == 0)
    return Fail(ERROR_INVALID_HANDLE, "registry: not an open key handle");
  delete key;
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  auto lock = Lock();
  if (!data && size) return Fail(ERROR_INVALID_PARAMETER, "registry: value data missing");
  std::vector<BYTE> bytes(data, data + (data ? size : 0));
  if (type == REG_DWORD && size != sizeof(DWORD))
    return Fail(ERROR_INVALID_PARAMETER, "registry: a REG_DWORD value takes 4 bytes");
  if (type == REG_SZ) {
    if (size % sizeof(WCHAR))
      return Fail(ERROR_INVALID_PARAMETER, "registry: REG_SZ data of an odd number of bytes");
    // Stored text always ends with its zero, so that every reader gets a terminated text.
    if (size < sizeof(WCHAR) || bytes[size - 1] != 0 || bytes[size - 2] != 0)
      bytes.insert(bytes.end(), sizeof(WCHAR), 0);
  }
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  WriteScope scope;
  if (LONG r = scope.Begin(); r != ERROR_SUCCESS) return r;
  Key target;
  if (LONG r = ResolveHandle(key, &target); r != ERROR_SUCCESS) return r;
  if (LONG r = WriteValue(target, Utf8(valueName), type, bytes.data(), bytes.size());
      r != ERROR_SUCCESS)
    return r;
  return scope.Commit();
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  auto lock = Lock();
  if (data && !size) return Fail(ERROR_INVALID_PARAMETER, "registry: data buffer without a size");
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  Key target;
  if (LONG r = ResolveHandle(key, &target); r != ERROR_SUCCESS) return r;
  DWORD valueType = REG_NONE;
  std::vector<BYTE> bytes;
  if (LONG r = ReadValue(target, Utf8(valueName), &valueType, &bytes); r != ERROR_SUCCESS) return r;
  if (type) *type = valueType;
  LONG r = CopyData(bytes, data, size);
  if (r == ERROR_MORE_DATA)
    Fail(r, Describe("value data needs " + std::to_string(bytes.size()) + " bytes"));
  return r;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  auto lock = Lock();
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  WriteScope scope;
  if (LONG r = scope.Begin(); r != ERROR_SUCCESS) return r;
  Key target;
  if (LONG r = ResolveHandle(key, &target); r != ERROR_SUCCESS) return r;
  if (LONG r = RemoveValue(target, Utf8(valueName)); r != ERROR_SUCCESS) return r;
  return scope.Commit();
}

LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  auto lock = Lock();
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  WriteScope scope;
  if (LONG r = scope.Begin(); r != ERROR_SUCCESS) return r;
  Key base, target;
  if (LONG r = ResolveHandle(key, &base); r != ERROR_SUCCESS) return r;
  if (LONG r = OpenSub(base, Utf8(subKey), &target); r != ERROR_SUCCESS) return r;
  if (LONG r = RemoveTree(target); r != ERROR_SUCCESS) return r;
  return scope.Commit();
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  auto lock = Lock();
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  WriteScope scope;
  if (LONG r = scope.Begin(); r != ERROR_SUCCESS) return r;
  Key base, target;
  if (LONG r = ResolveHandle(key, &base); r != ERROR_SUCCESS) return r;
  if (LONG r = OpenSub(base, Utf8(subKey), &target); r != ERROR_SUCCESS) return r;
  if (LONG r = RemoveKey(target); r != ERROR_SUCCESS) return r;
  return scope.Commit();
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD*, LPWSTR cls,
                   DWORD* classLength, void* lastWrite) {
  auto lock = Lock();
  if (!name || !nameLength)
    return Fail(ERROR_INVALID_PARAMETER, "registry: no buffer for the key name");
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  ReadScope snapshot;
  Key target;
  if (LONG r = ResolveHandle(key, &target); r != ERROR_SUCCESS) return r;
  std::vector<std::string> names;
  if (LONG r = ListKeys(target, index, &names); r != ERROR_SUCCESS) return r;
  if (LONG r = CopyName(names[0], name, nameLength); r != ERROR_SUCCESS)
    return Fail(r, Describe("key name needs " + std::to_string(*nameLength) + " characters"));
  // Keys have no class and no recorded write time here.
  if (classLength) {
    if (cls && *classLength) cls[0] = 0;
    *classLength = 0;
  }
  if (lastWrite) std::memset(lastWrite, 0, 8);
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD*, DWORD* type,
                   BYTE* data, DWORD* size) {
  auto lock = Lock();
  if (!name || !nameLength)
    return Fail(ERROR_INVALID_PARAMETER, "registry: no buffer for the value name");
  if (data && !size) return Fail(ERROR_INVALID_PARAMETER, "registry: data buffer without a size");
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  ReadScope snapshot;
  Key target;
  if (LONG r = ResolveHandle(key, &target); r != ERROR_SUCCESS) return r;
  std::vector<Entry> entries;
  if (LONG r = ListValueEntries(target, index, &entries); r != ERROR_SUCCESS) return r;
  const Entry& entry = entries[0];
  if (type) *type = entry.type;
  LONG nameResult = CopyName(entry.name, name, nameLength);
  LONG dataResult = CopyData(entry.data, nameResult == ERROR_SUCCESS ? data : nullptr, size);
  if (nameResult != ERROR_SUCCESS || dataResult != ERROR_SUCCESS)
    return Fail(ERROR_MORE_DATA, Describe("value name or data does not fit its buffer"));
  return ERROR_SUCCESS;
}

}  // extern "C"
