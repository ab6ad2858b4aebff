// Whole files in and out; a file that cannot be read reads as empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

std::string ReadFile(const std::string& path);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
// Replaces the file's content; false when it cannot be written in full.
bool WriteFile(const std::string& path, const std::string& bytes);
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace testsupport
