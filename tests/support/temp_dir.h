// A fresh folder under $TMPDIR, removed with everything in it at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
 public:
  TempDir();  // throws std::runtime_error when no folder can be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return File(name); }
  // Writes a file in the folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  // The names of the folder's entries, in no particular order.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

}  // namespace testsupport
