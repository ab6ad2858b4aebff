#include "server/registrar.h"

#include "com/registry.h"
#include "server/registry_script.h"

namespace com::server {
namespace {

struct RegistryFailure {
  LONG error;
  std::string message;
};

void Check(LONG error, const char* what, const std::string& path) {
  if (error == ERROR_SUCCESS) return;
  std::string detail = registry::LastErrorText();
  throw RegistryFailure{
      error, std::string("cannot ") + what + " " + path + (detail.empty() ? "" : ": " + detail)};
}

void RemoveTree(const std::string& path) {
  LONG e = registry::DeleteTree(path);
  if (e != ERROR_FILE_NOT_FOUND) Check(e, "delete", path);
}

void SetValue(const std::string& path, const std::string& name, const ScriptValue& v) {
  if (v.type == REG_DWORD)
    Check(registry::SetNumber(path, name, v.number), "write a value of", path);
  else
    Check(registry::SetText(path, name, v.text), "write a value of", path);
}

void RegisterKey(const std::string& parent, const ScriptKey& key) {
  std::string path = parent + "\\" + key.name;
  if (key.flag == ScriptKey::Flag::Delete) {
    RemoveTree(path);
    return;
  }
  if (key.flag == ScriptKey::Flag::ForceRemove) RemoveTree(path);
  Check(registry::CreateKey(path), "create", path);
  if (key.hasDefault) SetValue(path, "", key.defaultValue);
  for (const auto& v : key.values) SetValue(path, v.name, v.value);
  for (const auto& sub : key.subkeys) RegisterKey(path, sub);
}

void UnregisterKey(const std::string& parent, const ScriptKey& key) {
  std::string path = parent + "\\" + key.name;
  // Delete only takes effect at registration; a key that is not there has nothing to undo.
  if (key.flag == ScriptKey::Flag::Delete || !registry::KeyExists(path)) return;
  if (key.flag == ScriptKey::Flag::ForceRemove) {
    RemoveTree(path);
    return;
  }
  for (const auto& sub : key.subkeys) UnregisterKey(path, sub);
  for (const auto& v : key.values) {
    LONG e = registry::DeleteValue(path, v.name);
    if (e != ERROR_FILE_NOT_FOUND) Check(e, "delete a value of", path);
  }
  if (key.flag == ScriptKey::Flag::NoRemove) return;
  // A key that others still use (it has subkeys the script does not name) stays.
  std::vector<std::string> left;
  Check(registry::ListSubkeys(path, &left), "read", path);
  if (left.empty()) RemoveTree(path);
}

}  // namespace

RegistrarResult RunRegistryScript(std::string_view script, bool doRegister,
                                  const Substitutions& substitutions) {
  RegistrarResult result;
  ParsedScript parsed = ParseRegistryScript(script, substitutions);
  if (parsed.errorLine != 0) {
    result.hr = DISP_E_EXCEPTION;
    result.line = parsed.errorLine;
    result.message =
        "registry script, line " + std::to_string(parsed.errorLine) + ": " + parsed.error;
    return result;
  }
  if (LONG e = registry::BeginTransaction(); e != ERROR_SUCCESS) {
    result.hr = HRESULT_FROM_WIN32(static_cast<uint32_t>(e));
    result.message = "cannot start a registry transaction: " + registry::LastErrorText();
    return result;
  }
  try {
    for (const auto& root : parsed.roots)
      for (const auto& key : root.keys) {
        if (doRegister)
          RegisterKey(root.root, key);
        else
          UnregisterKey(root.root, key);
      }
  } catch (const RegistryFailure& f) {
    registry::RollbackTransaction();
    result.hr = HRESULT_FROM_WIN32(static_cast<uint32_t>(f.error));
    result.message = f.message;
    return result;
  } catch (...) {
    registry::RollbackTransaction();
    result.hr = E_OUTOFMEMORY;
    result.message = "out of memory";
    return result;
  }
  if (LONG e = registry::CommitTransaction(); e != ERROR_SUCCESS) {
    result.hr = HRESULT_FROM_WIN32(static_cast<uint32_t>(e));
    result.message = "cannot commit the registry transaction: " + registry::LastErrorText();
  }
  return result;
}

}  // namespace com::server
