// Reading and writing whole files for the build tools (idlc, rescomp).
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace buildtool {

inline bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

// Written through a temporary and renamed, so a failed run leaves no half file behind.
inline bool WriteFile(const std::string& path, const std::string& data) {
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(data.data(), static_cast<std::streamsize>(data.size()))) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace buildtool
