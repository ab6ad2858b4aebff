// The byte stream of one instrument, framed into messages. Every session on the same
// address shares one Connection; each call brings its own time-out and termination byte.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "instrument_io/transport.h"

namespace instrument_io {

inline constexpr size_t kDefaultBlockLimit = size_t{256} << 20;

// Where a block's bytes go: asked once for room for exactly `length` bytes (after the
// length passed the limit), so that large blocks land in their final place. Throws
// std::bad_alloc when there is no room.
class BlockSink {
 public:
  virtual uint8_t* Allocate(size_t length) = 0;

 protected:
  ~BlockSink() = default;
};

class Connection {
 public:
  Connection(std::string canonical, std::unique_ptr<Transport> transport);

  const std::string& Canonical() const { return canonical_; }
  // Whether the link failed; it then fails every call until a new one is opened.
  bool Lost() const;

  // Sends the bytes as they are.
  void Write(std::string_view data, int timeoutMs);
  // One reply as text, without its terminator (see ReadMessage).
  std::string ReadText(int timeoutMs, int termChar, size_t limit);
  // One IEEE 488.2 block: "#<n><length><bytes>" or "#0<bytes>" up to the message end.
  // Returns the number of bytes stored into the sink.
  size_t ReadBlock(int timeoutMs, int termChar, size_t limit, BlockSink& sink);
  std::vector<uint8_t> ReadBlock(int timeoutMs, int termChar, size_t limit);

 private:
  size_t Available() const { return tail_ - head_; }
  const uint8_t* Data() const { return buf_.get() + head_; }
  void Consume(size_t n);
  // Reads what arrives into the buffer; a failed link throws.
  IoResult Fill(Deadline deadline, const char* doing);
  // Drops input that belongs to an abandoned reply.
  void Settle();
  void DiscardStaleInput();
  void UseTermChar(int termChar);
  [[noreturn]] void Lose(const std::string& why);
  void ThrowIfLost() const;
  // Bytes up to the end of the message: END where the bus marks it, else the terminator.
  std::vector<uint8_t> ReadMessage(Deadline deadline, int timeoutMs, int termChar, size_t limit,
                                   const char* what);
  size_t ReadDefiniteBlock(Deadline deadline, int timeoutMs, size_t length, BlockSink& sink);

  const std::string canonical_;
  std::unique_ptr<Transport> transport_;
  mutable std::mutex mutex_;
  // Unread input is buf_[head_, tail_); left uninitialised beyond, so a fill costs only
  // what arrives.
  std::unique_ptr<uint8_t[]> buf_;
  size_t capacity_ = 0;
  size_t head_ = 0;
  size_t tail_ = 0;
  std::deque<size_t> ends_;  // offsets into buf_ where the bus marked the end of a message
  size_t skip_ = 0;          // bytes of an abandoned block still to arrive
  bool dropLf_ = false;      // the line feed after a block has not arrived yet
  bool stale_ = false;       // a read gave up: input before the next command is its rest
  int busTermChar_ = -2;
  std::string lost_;
};

// A printable excerpt of received bytes for messages.
std::string Excerpt(const uint8_t* data, size_t size, size_t max = 40);

}  // namespace instrument_io
