// A registry script as a tree, and its parser (see registrar.h for the format).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "com/registry.h"
#include "server/registrar.h"

namespace com::server {

struct ScriptValue {
  DWORD type = REG_SZ;  // or REG_DWORD
  std::string text;
  DWORD number = 0;
};

struct ScriptNamedValue {
  std::string name;
  ScriptValue value;
};

struct ScriptKey {
  enum class Flag { None, NoRemove, ForceRemove, Delete };
  Flag flag = Flag::None;
  std::string name;
  bool hasDefault = false;
  ScriptValue defaultValue;
  std::vector<ScriptNamedValue> values;
  std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
  std::string root;  // "HKCR" or "HKCU"
  std::vector<ScriptKey> keys;
};

struct ParsedScript {
  std::vector<ScriptRoot> roots;
  int errorLine = 0;  // 0: well formed
  std::string error;
};

ParsedScript ParseRegistryScript(std::string_view script, const Substitutions& substitutions);

}  // namespace com::server
