#include "com/registry_keys.h"

#include <cstring>

#include "com/registry_fold.h"
#include "com/registry_store.h"

namespace com::regstore {
namespace {

constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

// Length in UTF-16 units, which is what the name limits count.
size_t WideSize(std::string_view utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
  return units;
}

std::string ValueLabel(std::string_view name, const Key& key) {
  if (name.empty()) return "the default value of " + key.display;
  return "value '" + std::string(name) + "' of " + key.display;
}

// Splits "A\B\C" (one trailing '\' allowed) into its parts.
LONG SplitSubKey(std::string_view subKey, std::vector<std::string_view>* parts,
                 std::string_view* trimmed) {
  if (!subKey.empty() && subKey.front() == '\\')
    return Fail(ERROR_INVALID_PARAMETER,
                Describe("bad key name '" + std::string(subKey) + "': it starts with '\\'"));
  if (!subKey.empty() && subKey.back() == '\\') subKey.remove_suffix(1);
  *trimmed = subKey;
  parts->clear();
  if (subKey.empty()) return ERROR_SUCCESS;
  size_t start = 0;
  while (true) {
    size_t end = subKey.find('\\', start);
    std::string_view part = subKey.substr(start, end == subKey.npos ? subKey.npos : end - start);
    if (part.empty() || WideSize(part) > kMaxKeyName)
      return Fail(ERROR_INVALID_PARAMETER,
                  Describe("bad key name '" + std::string(subKey) + "': " +
                           (part.empty() ? "empty part" : "a part longer than 255 characters")));
    parts->push_back(part);
    if (end == subKey.npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

std::string Join(const std::string& base, const std::string& part) {
  return base.empty() ? part : base + "\\" + part;
}

LONG FindKey(int hive, const std::string& fold, int64_t* id) {
  Statement find("SELECT id FROM keys WHERE hive = ?1 AND fold = ?2");
  find.Bind(1, hive).Bind(2, fold);
  int rc = find.Step();
  if (rc == SQLITE_ROW) {
    *id = find.Int(0);
    return ERROR_SUCCESS;
  }
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  return SqlFail(rc, false, "cannot read");
}

LONG CheckValueName(std::string_view name) {
  if (WideSize(name) > kMaxValueName)
    return Fail(ERROR_INVALID_PARAMETER, Describe("value name longer than 16383 characters"));
  return ERROR_SUCCESS;
}

}  // namespace

LONG CheckAlive(const Key& key) {
  Statement alive("SELECT 1 FROM keys WHERE id = ?1");
  alive.Bind(1, key.id);
  int rc = alive.Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE)
    return Fail(ERROR_KEY_DELETED, Describe("key " + key.display + " has been deleted"));
  return SqlFail(rc, false, "cannot read");
}

LONG OpenSub(const Key& base, std::string_view subKey, Key* key) {
  std::vector<std::string_view> parts;
  std::string_view trimmed;
  if (LONG r = SplitSubKey(subKey, &parts, &trimmed); r != ERROR_SUCCESS) return r;
  if (parts.empty()) {
    *key = base;
    return CheckAlive(base);
  }
  std::string fold = base.fold;
  for (auto part : parts) fold = Join(fold, FoldUtf8(part));
  std::string display = base.display + "\\" + std::string(trimmed);
  int64_t id = 0;
  LONG r = FindKey(base.hive, fold, &id);
  if (r == ERROR_FILE_NOT_FOUND) {
    // Tell a missing key from one whose handle has gone stale.
    if (LONG alive = CheckAlive(base); alive != ERROR_SUCCESS) return alive;
    return Fail(ERROR_FILE_NOT_FOUND, Describe("key " + display + " does not exist"));
  }
  if (r != ERROR_SUCCESS) return r;
  *key = Key{base.hive, id, std::move(fold), std::move(display)};
  return ERROR_SUCCESS;
}

LONG CreateSub(const Key& base, std::string_view subKey, Key* key, bool* created) {
  std::vector<std::string_view> parts;
  std::string_view trimmed;
  if (LONG r = SplitSubKey(subKey, &parts, &trimmed); r != ERROR_SUCCESS) return r;
  if (LONG r = CheckAlive(base); r != ERROR_SUCCESS) return r;
  *created = false;
  int64_t parent = base.id;
  std::string fold = base.fold;
  for (auto part : parts) {
    fold = Join(fold, FoldUtf8(part));
    int64_t id = 0;
    LONG r = FindKey(base.hive, fold, &id);
    if (r == ERROR_FILE_NOT_FOUND) {
      Statement insert("INSERT INTO keys(hive, parent, fold, name) VALUES(?1, ?2, ?3, ?4)");
      insert.Bind(1, base.hive).Bind(2, parent).Bind(3, fold).Bind(4, std::string(part));
      int rc = insert.Step();
      if (rc != SQLITE_DONE) return SqlFail(rc, true, "cannot write");
      id = LastInsertId();
      *created = true;
    } else if (r != ERROR_SUCCESS) {
      return r;
    } else {
      *created = false;
    }
    parent = id;
  }
  std::string display = parts.empty() ? base.display : base.display + "\\" + std::string(trimmed);
  *key = Key{base.hive, parent, std::move(fold), std::move(display)};
  return ERROR_SUCCESS;
}

LONG ReadValue(const Key& key, std::string_view name, DWORD* type, std::vector<BYTE>* data) {
  if (LONG r = CheckValueName(name); r != ERROR_SUCCESS) return r;
  {
    Statement read("SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    read.Bind(1, key.id).Bind(2, FoldUtf8(name));
    int rc = read.Step();
    if (rc == SQLITE_ROW) {
      *type = static_cast<DWORD>(read.Int(0));
      auto* bytes = static_cast<const BYTE*>(read.Blob(1));
      data->assign(bytes, bytes + read.Bytes(1));
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return SqlFail(rc, false, "cannot read");
  }
  if (LONG r = CheckAlive(key); r != ERROR_SUCCESS) return r;
  return Fail(ERROR_FILE_NOT_FOUND, Describe(ValueLabel(name, key) + " does not exist"));
}

LONG ReadValueBelow(const Key& base, std::string_view subKey, std::string_view name, Key* key,
                    DWORD* type, std::vector<BYTE>* data) {
  std::vector<std::string_view> parts;
  std::string_view trimmed;
  if (LONG r = SplitSubKey(subKey, &parts, &trimmed); r != ERROR_SUCCESS) return r;
  if (LONG r = CheckValueName(name); r != ERROR_SUCCESS) return r;
  std::string fold = base.fold;
  for (auto part : parts) fold = Join(fold, FoldUtf8(part));
  {
    Statement read(
        "SELECT k.id, v.type, v.data FROM keys k JOIN vals v ON v.key = k.id "
        "WHERE k.hive = ?1 AND k.fold = ?2 AND v.fold = ?3");
    read.Bind(1, base.hive).Bind(2, fold).Bind(3, FoldUtf8(name));
    int rc = read.Step();
    if (rc == SQLITE_ROW) {
      std::string display =
          parts.empty() ? base.display : base.display + "\\" + std::string(trimmed);
      *key = Key{base.hive, read.Int(0), std::move(fold), std::move(display)};
      *type = static_cast<DWORD>(read.Int(1));
      auto* bytes = static_cast<const BYTE*>(read.Blob(2));
      data->assign(bytes, bytes + read.Bytes(2));
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return SqlFail(rc, false, "cannot read");
  }
  // Say what exactly is missing.
  if (LONG r = OpenSub(base, subKey, key); r != ERROR_SUCCESS) return r;
  return ReadValue(*key, name, type, data);
}

LONG WriteValue(const Key& key, std::string_view name, DWORD type, const BYTE* data, size_t size) {
  if (LONG r = CheckValueName(name); r != ERROR_SUCCESS) return r;
  if (LONG r = CheckAlive(key); r != ERROR_SUCCESS) return r;
  Statement write(
      "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
      "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  write.Bind(1, key.id).Bind(2, FoldUtf8(name)).Bind(3, std::string(name)).Bind(4, type);
  write.BindBlob(5, data, size);
  int rc = write.Step();
  if (rc != SQLITE_DONE) return SqlFail(rc, true, "cannot write");
  return ERROR_SUCCESS;
}

LONG RemoveValue(const Key& key, std::string_view name) {
  if (LONG r = CheckAlive(key); r != ERROR_SUCCESS) return r;
  Statement remove("DELETE FROM vals WHERE key = ?1 AND fold = ?2");
  remove.Bind(1, key.id).Bind(2, FoldUtf8(name));
  int rc = remove.Step();
  if (rc != SQLITE_DONE) return SqlFail(rc, true, "cannot write");
  if (Changes() == 0)
    return Fail(ERROR_FILE_NOT_FOUND, Describe(ValueLabel(name, key) + " does not exist"));
  return ERROR_SUCCESS;
}

LONG RemoveTree(const Key& key) {
  if (LONG r = CheckAlive(key); r != ERROR_SUCCESS) return r;
  if (key.fold.empty()) {
    Statement values("DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE hive = ?1)");
    values.Bind(1, key.hive);
    int rc = values.Step();
    if (rc != SQLITE_DONE) return SqlFail(rc, true, "cannot write");
    Statement keys("DELETE FROM keys WHERE hive = ?1 AND fold <> ''");
    keys.Bind(1, key.hive);
    rc = keys.Step();
    if (rc != SQLITE_DONE) return SqlFail(rc, true, "cannot write");
    return ERROR_SUCCESS;
  }
  // Everything below "a\b" folds to a text from "a\b\" up to, not including, "a\b]".
  std::string low = key.fold + "\\", high = key.fold + "]";
  Statement values(
      "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE hive = ?1 AND "
      "(fold = ?2 OR (fold >= ?3 AND fold < ?4)))");
  values.Bind(1, key.hive).Bind(2, key.fold).Bind(3, low).Bind(4, high);
  int rc = values.Step();
  if (rc != SQLITE_DONE) return SqlFail(rc, true, "cannot write");
  Statement keys("DELETE FROM keys WHERE hive = ?1 AND (fold = ?2 OR (fold >= ?3 AND fold < ?4))");
  keys.Bind(1, key.hive).Bind(2, key.fold).Bind(3, low).Bind(4, high);
  rc = keys.Step();
  if (rc != SQLITE_DONE) return SqlFail(rc, true, "cannot write");
  return ERROR_SUCCESS;
}

LONG RemoveKey(const Key& key) {
  if (LONG r = CheckAlive(key); r != ERROR_SUCCESS) return r;
  if (key.fold.empty())
    return Fail(ERROR_ACCESS_DENIED, Describe("cannot delete the hive " + key.display));
  {
    Statement child("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    child.Bind(1, key.id);
    int rc = child.Step();
    if (rc == SQLITE_ROW)
      return Fail(ERROR_ACCESS_DENIED,
                  Describe("cannot delete key " + key.display + ": it has subkeys"));
    if (rc != SQLITE_DONE) return SqlFail(rc, false, "cannot read");
  }
  return RemoveTree(key);
}

LONG ListKeys(const Key& key, int64_t index, std::vector<std::string>* names) {
  names->clear();
  if (LONG r = CheckAlive(key); r != ERROR_SUCCESS) return r;
  Statement list("SELECT name FROM keys WHERE parent = ?1 ORDER BY fold LIMIT ?2 OFFSET ?3");
  list.Bind(1, key.id).Bind(2, index < 0 ? -1 : 1).Bind(3, index < 0 ? 0 : index);
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) names->emplace_back(list.Text(0));
  if (rc != SQLITE_DONE) return SqlFail(rc, false, "cannot read");
  return (index >= 0 && names->empty()) ? ERROR_NO_MORE_ITEMS : ERROR_SUCCESS;
}

LONG ListValueEntries(const Key& key, int64_t index, std::vector<Entry>* entries) {
  entries->clear();
  if (LONG r = CheckAlive(key); r != ERROR_SUCCESS) return r;
  Statement list(
      "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY fold LIMIT ?2 OFFSET ?3");
  list.Bind(1, key.id).Bind(2, index < 0 ? -1 : 1).Bind(3, index < 0 ? 0 : index);
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) {
    Entry entry;
    entry.name = list.Text(0);
    entry.type = static_cast<DWORD>(list.Int(1));
    auto* bytes = static_cast<const BYTE*>(list.Blob(2));
    entry.data.assign(bytes, bytes + list.Bytes(2));
    entries->push_back(std::move(entry));
  }
  if (rc != SQLITE_DONE) return SqlFail(rc, false, "cannot read");
  return (index >= 0 && entries->empty()) ? ERROR_NO_MORE_ITEMS : ERROR_SUCCESS;
}

}  // namespace com::regstore
