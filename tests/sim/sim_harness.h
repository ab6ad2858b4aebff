// Runs analyzer-sim as a child process and talks to it over sockets and the pty.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// A private temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const Bytes& bytes) const;

 private:
  std::string path_;
};

// analyzer-sim started with the given arguments plus --exit-on-eof and --log into a
// temporary folder; it reads the "port N" / "pty PATH" lines. The destructor ends it
// (SIGTERM, then SIGKILL) so no child outlives a test.
class Sim {
 public:
  explicit Sim(std::vector<std::string> args);
  ~Sim();
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  int port() const { return port_; }
  const std::string& pty() const { return pty_; }
  std::string Log() const;
  // Waits until the log holds `text` (the simulator logs as it goes).
  bool WaitForLog(const std::string& text, int timeout_ms = 3000) const;
  void CloseStdin();
  void Signal(int sig);
  // Exit status (as from waitpid), or nullopt if it did not end in time.
  std::optional<int> Wait(int timeout_ms);

 private:
  TempDir dir_;
  int pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int port_ = -1;
  std::string pty_;
};

struct Outcome {
  int status = -1;  // exit code, or -1 when killed or timed out
  std::string out;
  std::string err;
};
// Runs analyzer-sim to its end (for option errors, --help, --render-to).
Outcome RunSim(const std::vector<std::string>& args, int timeout_ms = 5000);

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
