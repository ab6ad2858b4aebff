// A session: the address it was opened with, its own time-out and termination byte, and a
// connection shared with every other session on the same instrument.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "instrument_io/address.h"
#include "instrument_io/connection.h"
#include "instrument_io/io_error.h"

namespace instrument_io {

inline constexpr int kDefaultTimeoutMs = 2000;
inline constexpr int kConnectTimeoutMs = 5000;

struct OpenOptions {
  // The address an alias stands for, or nothing when there is no such alias.
  std::function<std::optional<std::string>(const std::string& alias)> resolveAlias;
  // Frame settings for a serial port (its canonical address is passed).
  std::function<SerialSettings(const std::string& canonical)> serialSettings;
  int connectTimeoutMs = kConnectTimeoutMs;
};

class SessionCore {
 public:
  SessionCore(std::string opened, std::string label, std::shared_ptr<Connection> connection);

  const std::string& Address() const { return opened_; }
  const std::string& Canonical() const { return connection_->Canonical(); }
  int TimeoutMs() const { return timeoutMs_; }
  void SetTimeoutMs(int ms);  // 0 or more
  int TermChar() const { return termChar_; }
  void SetTermChar(int c);  // 0..255, or -1 for none
  size_t BlockLimit() const { return blockLimit_; }
  void SetBlockLimit(size_t bytes) { blockLimit_ = bytes; }

  // Sends the command with a line feed (unless it ends with one).
  void Write(const std::string& command);
  std::string ReadText();
  std::vector<uint8_t> ReadBlock();
  size_t ReadBlock(BlockSink& sink);

 private:
  [[noreturn]] void Rethrow(const IoError& e) const;

  std::string opened_;
  std::string label_;  // how errors name the address
  std::shared_ptr<Connection> connection_;
  int timeoutMs_ = kDefaultTimeoutMs;
  int termChar_ = '\n';
  size_t blockLimit_ = kDefaultBlockLimit;
};

// Opens a session on an address or alias; throws IoError. Sessions on one canonical address
// share one connection while it lives and works.
std::unique_ptr<SessionCore> OpenSessionCore(const std::string& text, const OpenOptions& options);

}  // namespace instrument_io
