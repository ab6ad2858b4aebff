// One open link to an instrument: bytes in and out, each call bounded by a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace instrument_io {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline DeadlineAfter(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }
// Milliseconds left, at least 0, rounded up so that a wait never ends early.
int RemainingMs(Deadline deadline);

enum class IoStatus { Ok, TimedOut, Closed, Failed };

struct IoResult {
  IoStatus status = IoStatus::Ok;
  size_t count = 0;    // bytes moved
  bool end = false;    // the bus marked the end of a message after the last byte
  std::string detail;  // what the system said, for a failure
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Whether the bus marks the end of each message (GPIB END) so that no terminator is needed.
  virtual bool MarksEnd() const = 0;
  // Reads what is there, waiting until at least one byte or the deadline. A deadline in
  // the past reads only what has already arrived.
  virtual IoResult Read(uint8_t* buffer, size_t size, Deadline deadline) = 0;
  // Writes everything, or says why not and how much went out.
  virtual IoResult Write(const uint8_t* data, size_t size, Deadline deadline) = 0;
  // The byte that ends a read on buses that stop reads themselves; -1 for none.
  virtual void SetTermChar(int termChar) {}
};

struct SerialSettings {
  int baudRate = 9600;
  int dataBits = 8;
  int parity = 0;  // 0 none, 1 odd, 2 even
  int stopBits = 1;
};

struct Address;

// Each throws IoError (IO_E_OPEN, IO_E_NO_GPIB) with a description of what failed.
std::unique_ptr<Transport> OpenTcp(const Address& address, int connectTimeoutMs);
std::unique_ptr<Transport> OpenSerial(const Address& address, const SerialSettings& settings);
std::unique_ptr<Transport> OpenGpib(const Address& address);
// An already connected descriptor (a socket or a terminal), owned from now on.
std::unique_ptr<Transport> AdoptDescriptor(int fd, bool isSocket);

}  // namespace instrument_io
