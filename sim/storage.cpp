#include "storage.h"

namespace sim {

namespace {
constexpr std::uint64_t kCapacity = 64ull << 20;
}

FileData Storage::Find(const std::string& name) const {
  auto it = files_.find(name);
  return it == files_.end() ? nullptr : it->second;
}

std::string Storage::Catalog() const {
  std::uint64_t used = 0;
  for (const auto& [name, data] : files_) used += data->size();
  std::string text =
      std::to_string(used) + "," + std::to_string(used < kCapacity ? kCapacity - used : 0);
  for (const auto& [name, data] : files_) {
    text += ",\"" + name + "," + std::to_string(data->size()) + "\"";
  }
  return text;
}

}  // namespace sim
