// The UTF-8 forms of the registry for the system's own code: paths from the hive's name on.
#include <strings.h>

#include <cstring>
#include <optional>

#include "com/registry.h"
#include "com/registry_keys.h"
#include "com/registry_store.h"
#include "com/strings.h"

namespace com::registry {
namespace {

using regstore::Key;

LONG BadPath(const std::string& path) {
  return regstore::Fail(ERROR_INVALID_PARAMETER,
                        "registry: bad key path '" + path +
                            "': it must start with HKEY_CLASSES_ROOT (HKCR) or "
                            "HKEY_CURRENT_USER (HKCU)");
}

// Opens the existing key a path names for reading; *snapshot then keeps what is read
// under it consistent.
LONG OpenPath(const std::string& path, Key* key, std::optional<regstore::ReadScope>* snapshot) {
  HKEY root = nullptr;
  std::string subKey;
  if (!SplitRoot(path, &root, &subKey)) return BadPath(path);
  if (LONG r = regstore::Connect(); r != ERROR_SUCCESS) return r;
  snapshot->emplace();
  Key base;
  regstore::ResolveHandle(root, &base);
  return regstore::OpenSub(base, subKey, key);
}

// Runs change(key) on the key a path names, created when missing, as one unit.
template <class Change>
LONG ChangeAt(const std::string& path, bool create, Change change) {
  HKEY root = nullptr;
  std::string subKey;
  if (!SplitRoot(path, &root, &subKey)) return BadPath(path);
  if (LONG r = regstore::Connect(); r != ERROR_SUCCESS) return r;
  regstore::WriteScope scope;
  if (LONG r = scope.Begin(); r != ERROR_SUCCESS) return r;
  Key base, key;
  regstore::ResolveHandle(root, &base);
  bool created = false;
  LONG r = create ? regstore::CreateSub(base, subKey, &key, &created)
                  : regstore::OpenSub(base, subKey, &key);
  if (r != ERROR_SUCCESS) return r;
  if ((r = change(key)) != ERROR_SUCCESS) return r;
  return scope.Commit();
}

std::string TextOf(const std::vector<BYTE>& data) {
  std::u16string text(data.size() / sizeof(char16_t), u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(char16_t));
  if (size_t zero = text.find(u'\0'); zero != text.npos) text.resize(zero);
  return Utf16ToUtf8(text);
}

LONG ReadTyped(const std::string& path, const std::string& name, DWORD wanted,
               std::vector<BYTE>* data) {
  auto lock = regstore::Lock();
  HKEY root = nullptr;
  std::string subKey;
  if (!SplitRoot(path, &root, &subKey)) return BadPath(path);
  if (LONG r = regstore::Connect(); r != ERROR_SUCCESS) return r;
  Key base, key;
  regstore::ResolveHandle(root, &base);
  DWORD type = REG_NONE;
  if (LONG r = regstore::ReadValueBelow(base, subKey, name, &key, &type, data); r != ERROR_SUCCESS)
    return r;
  if (type != wanted || (type == REG_DWORD && data->size() != sizeof(DWORD))) {
    std::string label = name.empty() ? "the default value" : "value '" + name + "'";
    return regstore::Fail(ERROR_INVALID_DATA,
                          regstore::Describe(label + " of " + key.display + " is not " +
                                             (wanted == REG_SZ ? "text" : "a number")));
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::string LastErrorText() { return regstore::ErrorText(); }

std::string FilePath() {
  auto lock = regstore::Lock();
  std::string error;
  return regstore::WantedPath(&error);
}

LONG BeginTransaction() {
  auto lock = regstore::Lock();
  return regstore::BeginTransaction();
}

LONG CommitTransaction() {
  auto lock = regstore::Lock();
  return regstore::CommitTransaction();
}

void RollbackTransaction() {
  auto lock = regstore::Lock();
  regstore::RollbackTransaction();
}

bool SplitRoot(const std::string& path, HKEY* root, std::string* subKey) {
  size_t slash = path.find('\\');
  std::string head = path.substr(0, slash);
  if (strcasecmp(head.c_str(), "HKEY_CLASSES_ROOT") == 0 || strcasecmp(head.c_str(), "HKCR") == 0)
    *root = HKEY_CLASSES_ROOT;
  else if (strcasecmp(head.c_str(), "HKEY_CURRENT_USER") == 0 ||
           strcasecmp(head.c_str(), "HKCU") == 0)
    *root = HKEY_CURRENT_USER;
  else
    return false;
  *subKey = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  return true;
}

LONG GetText(const std::string& path, const std::string& name, std::string* text) {
  std::vector<BYTE> data;
  if (LONG r = ReadTyped(path, name, REG_SZ, &data); r != ERROR_SUCCESS) return r;
  *text = TextOf(data);
  return ERROR_SUCCESS;
}

LONG GetNumber(const std::string& path, const std::string& name, DWORD* number) {
  std::vector<BYTE> data;
  if (LONG r = ReadTyped(path, name, REG_DWORD, &data); r != ERROR_SUCCESS) return r;
  std::memcpy(number, data.data(), sizeof(DWORD));
  return ERROR_SUCCESS;
}

LONG SetText(const std::string& path, const std::string& name, const std::string& text) {
  auto lock = regstore::Lock();
  std::u16string wide = Utf8ToUtf16(text);
  wide.push_back(u'\0');
  return ChangeAt(path, true, [&](const Key& key) {
    return regstore::WriteValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(wide.data()),
                                wide.size() * sizeof(char16_t));
  });
}

LONG SetNumber(const std::string& path, const std::string& name, DWORD number) {
  auto lock = regstore::Lock();
  return ChangeAt(path, true, [&](const Key& key) {
    return regstore::WriteValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                sizeof number);
  });
}

LONG CreateKey(const std::string& path) {
  auto lock = regstore::Lock();
  return ChangeAt(path, true, [](const Key&) { return ERROR_SUCCESS; });
}

LONG DeleteTree(const std::string& path) {
  auto lock = regstore::Lock();
  return ChangeAt(path, false, [](const Key& key) { return regstore::RemoveTree(key); });
}

LONG DeleteValue(const std::string& path, const std::string& name) {
  auto lock = regstore::Lock();
  return ChangeAt(path, false, [&](const Key& key) { return regstore::RemoveValue(key, name); });
}

bool KeyExists(const std::string& path) {
  auto lock = regstore::Lock();
  Key key;
  std::optional<regstore::ReadScope> snapshot;
  return OpenPath(path, &key, &snapshot) == ERROR_SUCCESS;
}

LONG ListSubkeys(const std::string& path, std::vector<std::string>* names) {
  auto lock = regstore::Lock();
  names->clear();
  Key key;
  std::optional<regstore::ReadScope> snapshot;
  if (LONG r = OpenPath(path, &key, &snapshot); r != ERROR_SUCCESS) return r;
  return regstore::ListKeys(key, -1, names);
}

LONG ListValues(const std::string& path, std::vector<Value>* values) {
  auto lock = regstore::Lock();
  values->clear();
  Key key;
  std::optional<regstore::ReadScope> snapshot;
  if (LONG r = OpenPath(path, &key, &snapshot); r != ERROR_SUCCESS) return r;
  std::vector<regstore::Entry> entries;
  if (LONG r = regstore::ListValueEntries(key, -1, &entries); r != ERROR_SUCCESS) return r;
  for (auto& entry : entries) {
    Value value;
    value.name = entry.name;
    value.type = entry.type;
    if (entry.type == REG_SZ) value.text = TextOf(entry.data);
    if (entry.type == REG_DWORD && entry.data.size() == sizeof(DWORD))
      std::memcpy(&value.number, entry.data.data(), sizeof(DWORD));
    values->push_back(std::move(value));
  }
  return ERROR_SUCCESS;
}

}  // namespace com::registry
