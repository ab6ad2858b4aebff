#include "support/files.h"

#include <fstream>
#include <iterator>

namespace testsupport {
namespace {

bool Write(const std::string& path, const char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  return Write(path, bytes.data(), bytes.size());
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return Write(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace testsupport
