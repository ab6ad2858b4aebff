// A text dump of a registry key tree, for before-and-after checks.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "com/registry.h"

namespace testing_registry {

// Every key below path (path itself included), one line per key and per value:
// "path" and "path|name=s:text" or "path|name=d:number", sorted.
inline void Dump(const std::string& path, std::vector<std::string>* out) {
  if (!com::registry::KeyExists(path)) return;
  out->push_back(path);
  std::vector<com::registry::Value> values;
  com::registry::ListValues(path, &values);
  for (const auto& v : values)
    out->push_back(path + "|" + v.name + "=" +
                   (v.type == REG_DWORD ? "d:" + std::to_string(v.number) : "s:" + v.text));
  std::vector<std::string> subkeys;
  com::registry::ListSubkeys(path, &subkeys);
  for (const auto& s : subkeys) Dump(path + "\\" + s, out);
}

inline std::vector<std::string> Dump(const std::string& path) {
  std::vector<std::string> out;
  Dump(path, &out);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace testing_registry
