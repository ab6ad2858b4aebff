// Talks to analyzer-sim (started by testsupport::SimProcess) over sockets and the pty.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

using testsupport::RunSim;
using testsupport::SimProcess;
using testsupport::TempDir;
using Outcome = testsupport::RunResult;

// A line-oriented connection: a TCP socket or a pty.
class Line {
 public:
  static Line Tcp(int port, const char* host = "127.0.0.1");
  static Line Pty(const std::string& path);
  Line(Line&& other) noexcept;
  ~Line();

  bool ok() const { return fd_ >= 0; }
  void Send(const std::string& text);  // adds the line feed
  std::optional<std::string> ReadLine(int timeout_ms = 3000);
  // One "#<n><len><bytes>" block and its line feed; nullopt on time-out, end or bad form.
  std::optional<Bytes> ReadBlock(int timeout_ms = 3000);
  // Everything until the peer closes or the time runs out; eof tells which.
  std::string ReadUntilClosed(int timeout_ms, bool* eof);
  // Exactly n bytes, whatever they are.
  std::optional<std::string> ReadExactly(std::size_t n, int timeout_ms = 3000);
  // Whether nothing arrives for timeout_ms.
  bool Quiet(int timeout_ms);
  // Number of read() calls that returned data while collecting n bytes (for trickling).
  std::optional<int> CountReads(std::size_t n, int timeout_ms);
  void Close();

 private:
  explicit Line(int fd) : fd_(fd) {}
  enum class Fill { kData, kTimeout, kEof };
  Fill FillOnce(std::chrono::steady_clock::time_point deadline);
  bool Need(std::size_t n, std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  std::string buf_;
};

// Reads every command of a whole capture the way the add-in does, returns the file.
Bytes ReadFile(Line& line, const std::string& name,
               std::vector<std::size_t>* block_sizes = nullptr);

struct TiffFacts {
  bool opened = false;
  std::uint32_t width = 0, height = 0;
  std::uint16_t photometric = 0, compression = 0, bits = 0, samples = 0;
  bool all_rows_read = false;
  std::size_t distinct_values = 0;  // over all sample bytes
};
TiffFacts InspectTiff(const Bytes& bytes);

}  // namespace simtest
