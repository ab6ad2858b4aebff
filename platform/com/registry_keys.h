// Key and value operations on the connected registry file, shared by the Win32-style
// calls and the UTF-8 helpers; names and paths in UTF-8. Called with the store's lock held
// after Connect().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "com/registry.h"

namespace com::regstore {

struct Key {
  int hive = 0;         // 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER
  int64_t id = 0;       // its row; the hive roots are rows 1 and 2
  std::string fold;     // the folded path below the hive, parts joined by '\'
  std::string display;  // the path as the caller wrote it, from the hive's name on
};

bool IsRoot(HKEY key);
// The key a handle stands for, checking that it is still there.
LONG ResolveHandle(HKEY handle, Key* key);
// The existing key subKey below base (base itself when subKey is empty).
LONG OpenSub(const Key& base, std::string_view subKey, Key* key);
// Same, creating what is missing; inside a WriteScope.
LONG CreateSub(const Key& base, std::string_view subKey, Key* key, bool* created);
// Checks that the key's row is still there (ERROR_KEY_DELETED when not).
LONG CheckAlive(const Key& key);

LONG ReadValue(const Key& key, std::string_view name, DWORD* type, std::vector<BYTE>* data);
// The value name of key subKey below base, in one look-up; *key is set when found.
LONG ReadValueBelow(const Key& base, std::string_view subKey, std::string_view name, Key* key,
                    DWORD* type, std::vector<BYTE>* data);
// Inside a WriteScope. REG_SZ data must end with its zero.
LONG WriteValue(const Key& key, std::string_view name, DWORD type, const BYTE* data, size_t size);
LONG RemoveValue(const Key& key, std::string_view name);
// The key with everything below it; a hive's root keeps itself and loses all it holds.
LONG RemoveTree(const Key& key);
// Only a key without subkeys.
LONG RemoveKey(const Key& key);

struct Entry {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};
// Sorted by name, case-insensitively. index >= 0 gives one entry (ERROR_NO_MORE_ITEMS past
// the end); -1 gives all.
LONG ListKeys(const Key& key, int64_t index, std::vector<std::string>* names);
LONG ListValueEntries(const Key& key, int64_t index, std::vector<Entry>* entries);

}  // namespace com::regstore
