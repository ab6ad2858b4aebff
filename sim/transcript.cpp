#include "transcript.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

void Transcript::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    throw std::runtime_error("cannot create log file '" + path + "': " + std::strerror(errno));
  }
}

void Transcript::Write(char dir, std::string_view text) {
  if (!file_) return;
  constexpr std::size_t kMaxText = 240;
  std::string shown;
  for (std::size_t i = 0; i < text.size() && i < kMaxText; ++i) {
    unsigned char c = text[i];
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      shown += esc;
    }
  }
  if (text.size() > kMaxText) shown += "...";
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(file_, "%10.3f %c %s\n", ms, dir, shown.c_str());
  std::fflush(file_);
}

}  // namespace sim
