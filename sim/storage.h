// The analyzer's file storage: named files of bytes, listed by CAT?.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;
using FileData = std::shared_ptr<const Bytes>;

class Storage {
 public:
  void Store(const std::string& name, FileData data) { files_[name] = std::move(data); }
  bool Purge(const std::string& name) { return files_.erase(name) > 0; }
  FileData Find(const std::string& name) const;
  // "<used>,<free>" then one "\"<name>,<size>\"" entry per file, comma-separated.
  std::string Catalog() const;

 private:
  std::map<std::string, FileData> files_;
};

}  // namespace sim
