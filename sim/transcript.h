// The --log transcript: one line per event, "<ms since start> <dir> <text>", where dir is
// '<' for a command received, '>' for a reply and '-' for anything else. Flushed per line.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Throws std::runtime_error when the file cannot be created.
  void Open(const std::string& path);
  void Command(std::string_view text) { Write('<', text); }
  void Reply(std::string_view text) { Write('>', text); }
  void Event(std::string_view text) { Write('-', text); }

 private:
  void Write(char dir, std::string_view text);

  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace sim
