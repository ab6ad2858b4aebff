#include "instrument_io/connection.h"

#include <algorithm>
#include <cstring>

#include "instrument_io/io_error.h"

namespace instrument_io {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kKeptBuffer = size_t{1} << 20;

std::string Ms(int ms) { return std::to_string(ms) + " ms"; }

std::string Bytes(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

}  // namespace

std::string Excerpt(const uint8_t* data, size_t size, size_t max) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  for (size_t i = 0; i < size && i < max; ++i) {
    uint8_t c = data[i];
    if (c == '\n')
      r += "\\n";
    else if (c == '\r')
      r += "\\r";
    else if (c == '\t')
      r += "\\t";
    else if (c == '"' || c == '\\')
      r += {'\\', static_cast<char>(c)};
    else if (c >= 0x20 && c < 0x7f)
      r += static_cast<char>(c);
    else
      r += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
  }
  if (size > max) r += "...";
  return r;
}

Connection::Connection(std::string canonical, std::unique_ptr<Transport> transport)
    : canonical_(std::move(canonical)), transport_(std::move(transport)) {}

bool Connection::Lost() const {
  std::lock_guard lock(mutex_);
  return !lost_.empty();
}

void Connection::Consume(size_t n) {
  head_ += n;
  while (!ends_.empty() && ends_.front() <= head_) ends_.pop_front();
  if (head_ == tail_) {
    head_ = tail_ = 0;
    // A long reply does not keep its memory once it is read.
    if (capacity_ > kKeptBuffer) {
      buf_.reset();
      capacity_ = 0;
    }
  }
}

IoResult Connection::Fill(Deadline deadline, const char* doing) {
  if (capacity_ - tail_ < kChunk && head_ > 0) {
    std::memmove(buf_.get(), buf_.get() + head_, tail_ - head_);
    for (size_t& e : ends_) e -= head_;
    tail_ -= head_;
    head_ = 0;
  }
  if (capacity_ - tail_ < kChunk) {
    size_t capacity = std::max(tail_ + kChunk, capacity_ * 2);
    auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
    if (tail_ > 0) std::memcpy(grown.get(), buf_.get(), tail_);
    buf_ = std::move(grown);
    capacity_ = capacity;
  }
  IoResult r = transport_->Read(buf_.get() + tail_, kChunk, deadline);
  tail_ += r.count;
  if (r.end && r.count > 0) ends_.push_back(tail_);
  if (r.status == IoStatus::Closed || r.status == IoStatus::Failed)
    Lose(std::string("the connection was lost while ") + doing + ": " + r.detail);
  return r;
}

void Connection::Settle() {
  if (skip_ > 0) {
    size_t n = std::min(skip_, Available());
    Consume(n);
    skip_ -= n;
  }
  if (skip_ == 0 && dropLf_ && Available() > 0) {
    if (Data()[0] == '\n') Consume(1);
    dropLf_ = false;
  }
}

void Connection::DiscardStaleInput() {
  for (int i = 0; i < 4096; ++i) {
    Settle();
    if (skip_ == 0) {
      Consume(Available());
      dropLf_ = false;
    }
    if (Fill(Clock::now(), "discarding the rest of an abandoned reply").count == 0) break;
  }
  stale_ = false;
}

void Connection::UseTermChar(int termChar) {
  if (termChar != busTermChar_) {
    transport_->SetTermChar(termChar);
    busTermChar_ = termChar;
  }
}

void Connection::Lose(const std::string& why) {
  lost_ = why;
  transport_.reset();  // frees the instrument for a new connection
  head_ = tail_ = 0;
  ends_.clear();
  throw IoError(IO_E_CONNECTION_LOST, why);
}

void Connection::ThrowIfLost() const {
  if (!lost_.empty())
    throw IoError(IO_E_CONNECTION_LOST,
                  "the connection was lost earlier (" + lost_ + "); open the session again");
}

void Connection::Write(std::string_view data, int timeoutMs) {
  std::lock_guard lock(mutex_);
  ThrowIfLost();
  if (stale_) DiscardStaleInput();
  IoResult r = transport_->Write(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                 DeadlineAfter(timeoutMs));
  std::string what = "sending \"" +
                     Excerpt(reinterpret_cast<const uint8_t*>(data.data()), data.size()) + "\" (" +
                     std::to_string(r.count) + " of " + Bytes(data.size()) + " sent)";
  if (r.status == IoStatus::TimedOut)
    throw IoError(IO_E_TIMEOUT, "time-out of " + Ms(timeoutMs) + " while " + what);
  if (r.status != IoStatus::Ok) Lose("the connection was lost while " + what + ": " + r.detail);
}

std::vector<uint8_t> Connection::ReadMessage(Deadline deadline, int timeoutMs, int termChar,
                                             size_t limit, const char* what) {
  const bool busEnd = transport_->MarksEnd();
  // Without END on the bus a message always needs a terminator: the line feed unless
  // another byte is chosen.
  const int term = termChar >= 0 && termChar <= 255 ? termChar : busEnd ? -1 : '\n';
  size_t scanned = 0;
  for (;;) {
    size_t before = head_;
    Settle();
    if (head_ != before) scanned = 0;
    size_t avail = Available();
    size_t endAt = ends_.empty() ? avail : std::min(avail, ends_.front() - head_);
    const uint8_t* d = Data();
    const void* hit =
        term >= 0 && endAt > scanned ? std::memchr(d + scanned, term, endAt - scanned) : nullptr;
    if (hit || endAt < avail || !ends_.empty()) {
      size_t length, consume;
      bool lineFeed;
      if (hit) {
        length = static_cast<size_t>(static_cast<const uint8_t*>(hit) - d);
        consume = length + 1;
        lineFeed = term == '\n';
      } else {
        length = consume = endAt;
        lineFeed = length > 0 && d[length - 1] == '\n';
        if (lineFeed) --length;
      }
      if (lineFeed && length > 0 && d[length - 1] == '\r') --length;
      std::vector<uint8_t> message(d, d + length);
      Consume(consume);
      return message;
    }
    scanned = avail;
    if (avail > limit) {
      stale_ = true;
      throw IoError(IO_E_REPLY_TOO_LONG, std::string("the ") + what + " exceeds the limit of " +
                                             Bytes(limit) + " without a terminator");
    }
    IoResult r =
        Fill(deadline,
             (std::string("receiving a ") + what + " (" + Bytes(avail) + " received)").c_str());
    if (r.status == IoStatus::TimedOut) {
      // What arrived stays, so that a second read can finish the reply; a new command
      // discards it.
      stale_ = true;
      throw IoError(
          IO_E_TIMEOUT,
          std::string("no complete ") + what + " within " + Ms(timeoutMs) + " (" +
              Bytes(Available()) + " received" +
              (Available() ? ": \"" + Excerpt(Data(), Available()) + "\"" : std::string()) + ")");
    }
  }
}

std::string Connection::ReadText(int timeoutMs, int termChar, size_t limit) {
  std::lock_guard lock(mutex_);
  ThrowIfLost();
  UseTermChar(termChar);
  std::vector<uint8_t> m =
      ReadMessage(DeadlineAfter(timeoutMs), timeoutMs, termChar, limit, "reply");
  return std::string(m.begin(), m.end());
}

std::vector<uint8_t> Connection::ReadBlock(int timeoutMs, int termChar, size_t limit) {
  struct VectorSink : BlockSink {
    uint8_t* Allocate(size_t length) override {
      bytes.resize(length);
      return bytes.data();
    }
    std::vector<uint8_t> bytes;
  } sink;
  ReadBlock(timeoutMs, termChar, limit, sink);
  return std::move(sink.bytes);
}

size_t Connection::ReadBlock(int timeoutMs, int termChar, size_t limit, BlockSink& sink) {
  std::lock_guard lock(mutex_);
  ThrowIfLost();
  UseTermChar(termChar);
  Deadline deadline = DeadlineAfter(timeoutMs);
  auto need = [&](size_t n, const char* what) {
    while (Available() < n) {
      IoResult r = Fill(deadline, what);
      if (r.status == IoStatus::TimedOut) {
        stale_ = true;
        throw IoError(IO_E_TIMEOUT, std::string("no complete ") + what + " within " +
                                        Ms(timeoutMs) + " (" + Bytes(Available()) + " received)");
      }
      Settle();
    }
  };
  Settle();
  for (;;) {
    while (Available() > 0 && std::strchr(" \t\r\n", Data()[0]) && Data()[0] != 0) Consume(1);
    if (Available() > 0) break;
    need(1, "block");
  }
  if (Data()[0] != '#') {
    std::string reply;
    try {
      auto m = ReadMessage(deadline, timeoutMs, termChar, 4096, "reply");
      reply = Excerpt(m.data(), m.size(), 80);
    } catch (const IoError&) {
      if (!lost_.empty()) throw;
      reply = Excerpt(Data(), Available(), 80);
    }
    throw IoError(
        IO_E_BLOCK_FORMAT,
        "expected a binary block (\"#<n><length><bytes>\"), but the reply was \"" + reply + "\"");
  }
  need(2, "block header");
  uint8_t digit = Data()[1];
  if (digit < '0' || digit > '9') {
    stale_ = true;
    throw IoError(IO_E_BLOCK_FORMAT,
                  "malformed block header \"" + Excerpt(Data(), 2) + "\": a digit must follow '#'");
  }
  size_t n = digit - '0';
  if (n == 0) {
    Consume(2);
    std::vector<uint8_t> m =
        ReadMessage(deadline, timeoutMs, termChar, limit, "indefinite-length block");
    uint8_t* out = sink.Allocate(m.size());
    if (!m.empty()) std::memcpy(out, m.data(), m.size());
    return m.size();
  }
  need(2 + n, "block header");
  uint64_t length = 0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = Data()[2 + i];
    if (c < '0' || c > '9') {
      stale_ = true;
      throw IoError(IO_E_BLOCK_FORMAT, "malformed block header \"" + Excerpt(Data(), 2 + n) +
                                           "\": expected " + std::to_string(n) + " length digits");
    }
    length = length * 10 + (c - '0');
  }
  if (length > limit) {
    std::string header = Excerpt(Data(), 2 + n);
    // The rest of the stream would be the refused bytes; nothing after them can be trusted.
    try {
      Lose("a block of " + Bytes(length) + " (header \"" + header + "\") exceeds the limit of " +
           Bytes(limit) + "; the connection was closed");
    } catch (const IoError& e) {
      throw IoError(IO_E_BLOCK_TOO_LARGE, e.what());
    }
  }
  Consume(2 + n);
  return ReadDefiniteBlock(deadline, timeoutMs, static_cast<size_t>(length), sink);
}

size_t Connection::ReadDefiniteBlock(Deadline deadline, int timeoutMs, size_t length,
                                     BlockSink& sink) {
  uint8_t* out = nullptr;
  try {
    out = sink.Allocate(length);
  } catch (...) {
    skip_ = length;  // the bytes still come; they are no reply
    dropLf_ = true;
    stale_ = true;
    throw;
  }
  size_t got = 0;
  bool endSeen = false;
  auto endedEarly = [&](size_t at) {
    stale_ = true;
    throw IoError(IO_E_BLOCK_FORMAT, "the message ended after " + std::to_string(at) + " of the " +
                                         Bytes(length) + " the block announced");
  };
  while (got < length) {
    if (Available() > 0) {
      size_t n = std::min(Available(), length - got);
      if (!ends_.empty() && ends_.front() - head_ < n) endedEarly(got + ends_.front() - head_);
      if (!ends_.empty() && ends_.front() - head_ == n) {
        if (got + n < length) endedEarly(got + n);
        endSeen = true;
      }
      std::memcpy(out + got, Data(), n);
      Consume(n);
      got += n;
      continue;
    }
    // The rest goes straight from the link into its place.
    IoResult r = transport_->Read(out + got, length - got, deadline);
    got += r.count;
    if (r.end) {
      if (got < length) endedEarly(got);
      endSeen = true;
    }
    if (r.status == IoStatus::TimedOut) {
      skip_ = length - got;
      dropLf_ = !endSeen;
      stale_ = true;
      throw IoError(IO_E_TIMEOUT, "time-out of " + Ms(timeoutMs) + " while reading a block of " +
                                      Bytes(length) + ": " + std::to_string(got) + " received");
    }
    if (r.status != IoStatus::Ok)
      Lose("the connection was lost inside a block of " + Bytes(length) + " after " +
           std::to_string(got) + " data bytes: " + r.detail);
  }
  if (!endSeen) {
    dropLf_ = true;
    Settle();
  }
  return length;
}

}  // namespace instrument_io
