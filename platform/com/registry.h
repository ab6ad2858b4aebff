// The class registry: keys with a default value and named values (text and 32-bit),
// names case-insensitive and case-preserving, in two hives. Stored in one SQLite file:
// $COMRT_REGISTRY, else $XDG_DATA_HOME/comrt/registry.db (~/.local/share when unset).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "com/base.h"

struct RegKeyHandle;
using HKEY = RegKeyHandle*;
using REGSAM = DWORD;

// The predefined roots; they need no opening or closing.
extern "C" const HKEY HKEY_CLASSES_ROOT;
extern "C" const HKEY HKEY_CURRENT_USER;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Win32-style calls: subkeys are paths joined by '\', value name null or empty for the
// default value, sizes in bytes, REG_SZ data UTF-16 with its terminating zero. Results
// are ERROR_* codes; RegLastErrorText() then says what went wrong, naming the file.
extern "C" {
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                     REGSAM sam, void* security, HKEY* result, DWORD* disposition);
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, HKEY* result);
LONG RegCloseKey(HKEY key);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
// Deletes subKey of key with everything below it (key itself when subKey is null).
LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey);
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);  // only a key without subkeys
// Enumeration is in name order, case-insensitively. *nameLength is the buffer's size in
// characters with the zero; on success the name's length without it; on ERROR_MORE_DATA
// the size needed with it. A handle whose key was deleted gives ERROR_KEY_DELETED.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                   LPWSTR cls, DWORD* classLength, void* lastWrite);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* size);
}
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

namespace com::registry {

// What the last failing call on this thread said, e.g. "registry /x/r.db: file is not a
// database".
std::string LastErrorText();

// The file in use.
std::string FilePath();

// A change of several keys as one: everything between Begin and Commit lands together or,
// on Rollback (or a failed Commit), not at all. Nested transactions join the outer one.
LONG BeginTransaction();
LONG CommitTransaction();
void RollbackTransaction();

// Convenience forms in UTF-8 for the system's own code. Paths are "HKEY_CLASSES_ROOT\\A\\B"
// or "HKCR\\A\\B" (HKEY_CURRENT_USER, HKCU).
struct Value {
  std::string name;  // empty: the default value
  DWORD type = REG_NONE;
  std::string text;  // REG_SZ
  DWORD number = 0;  // REG_DWORD
};
bool SplitRoot(const std::string& path, HKEY* root, std::string* subKey);
LONG GetText(const std::string& path, const std::string& name, std::string* text);
LONG SetText(const std::string& path, const std::string& name, const std::string& text);
LONG GetNumber(const std::string& path, const std::string& name, DWORD* number);
LONG SetNumber(const std::string& path, const std::string& name, DWORD number);
LONG CreateKey(const std::string& path);
LONG DeleteTree(const std::string& path);
LONG DeleteValue(const std::string& path, const std::string& name);
bool KeyExists(const std::string& path);
LONG ListSubkeys(const std::string& path, std::vector<std::string>* names);
LONG ListValues(const std::string& path, std::vector<Value>* values);

}  // namespace com::registry
