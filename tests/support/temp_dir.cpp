#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "support/files.h"

namespace testsupport {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "scrivo-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string path = File(name);
  WriteFile(path, bytes);
  return path;
}

std::string TempDir::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::string path = File(name);
  WriteFile(path, bytes);
  return path;
}

std::vector<std::string> TempDir::Entries() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_))
    names.push_back(e.path().filename().string());
  return names;
}

}  // namespace testsupport
