// Message framing over a socket pair (byte-exact replies) and over a scripted bus that
// marks message ends, as GPIB does.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <thread>

#include "error_of.h"
#include "instrument_io/connection.h"
#include "instrument_io/io_error.h"

using namespace instrument_io;
using namespace std::chrono_literals;
using iotest::ErrorOf;

namespace {

std::string Str(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// A connection on one end of a socket pair; the test plays the instrument on the other.
struct Pair {
  Pair() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    peer = fds[1];
    conn = std::make_unique<Connection>("TEST", AdoptDescriptor(fds[0], true));
  }
  ~Pair() {
    if (writer.joinable()) writer.join();
    if (peer >= 0) close(peer);
  }
  void Send(std::string_view bytes) {
    ASSERT_EQ(write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Sends the pieces from a thread, one every `gap`.
  void SendLater(std::vector<std::string> pieces, std::chrono::milliseconds gap) {
    writer = std::thread([this, pieces = std::move(pieces), gap] {
      for (const std::string& p : pieces) {
        std::this_thread::sleep_for(gap);
        if (write(peer, p.data(), p.size()) < 0) return;
      }
    });
  }
  std::string Received() {
    char buf[256];
    ssize_t n = recv(peer, buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? std::string(buf, n) : std::string();
  }
  int peer = -1;
  std::unique_ptr<Connection> conn;
  std::thread writer;
};

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

}  // namespace

TEST(Framing, TextRepliesEndAtTheTerminator) {
  Pair p;
  p.Send("ACME,7612A,123,1.0\r\nsecond\nthird\rfourth\n");
  EXPECT_EQ(p.conn->ReadText(500, '\n', kDefaultBlockLimit), "ACME,7612A,123,1.0");
  // Without a termination character a stream still ends a text reply at a line feed.
  EXPECT_EQ(p.conn->ReadText(500, -1, kDefaultBlockLimit), "second");
  EXPECT_EQ(p.conn->ReadText(500, '\r', kDefaultBlockLimit), "third");
  EXPECT_EQ(p.conn->ReadText(500, '\n', kDefaultBlockLimit), "fourth");
}

TEST(Framing, WritesAreSentAsGiven) {
  Pair p;
  p.conn->Write("*idn?\n", 500);
  EXPECT_EQ(p.Received(), "*idn?\n");
}

TEST(Framing, RepliesInOddPiecesAreAssembled) {
  Pair p;
  p.SendLater({"AC", "ME,76", "12A", ",1", "\n", "#", "2", "1", "0abc\ndef", "gh", "\n"}, 5ms);
  EXPECT_EQ(p.conn->ReadText(2000, '\n', kDefaultBlockLimit), "ACME,7612A,1");
  EXPECT_EQ(Str(p.conn->ReadBlock(2000, -1, kDefaultBlockLimit)), "abc\ndefgh\n");
}

TEST(Framing, DefiniteBlockCarriesEveryByteValueAndDropsItsLineFeed) {
  Pair p;
  std::string data;
  for (int round = 0; round < 3; ++round)
    for (int b = 0; b < 256; ++b) data += static_cast<char>(b);
  p.Send("#3768" + data + "\nOK\n");
  EXPECT_EQ(Str(p.conn->ReadBlock(500, -1, kDefaultBlockLimit)), data);
  EXPECT_EQ(p.conn->ReadText(500, '\n', kDefaultBlockLimit), "OK");
  // An empty block, and the line feed after a block arriving only later.
  p.Send("#10");
  EXPECT_EQ(p.conn->ReadBlock(500, -1, kDefaultBlockLimit).size(), 0u);
  p.Send("\nNEXT\n");
  EXPECT_EQ(p.conn->ReadText(500, '\n', kDefaultBlockLimit), "NEXT");
}

TEST(Framing, IndefiniteBlockEndsAtTheMessageTerminator) {
  Pair p;
  p.Send("#0\x01\x02\xff\n#0\n");
  EXPECT_EQ(Str(p.conn->ReadBlock(500, -1, kDefaultBlockLimit)), "\x01\x02\xff");
  EXPECT_EQ(p.conn->ReadBlock(500, -1, kDefaultBlockLimit).size(), 0u);
}

TEST(Framing, OversizedBlockFailsBeforeAllocatingAndClosesTheLink) {
  Pair p;
  p.Send("#9300000000");
  std::string text;
  auto start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadBlock(5000, -1, kDefaultBlockLimit); }, &text),
            IO_E_BLOCK_TOO_LARGE);
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_NE(text.find("300000000 bytes"), std::string::npos) << text;
  EXPECT_NE(text.find("268435456"), std::string::npos) << text;
  EXPECT_TRUE(p.conn->Lost());
  EXPECT_EQ(ErrorOf([&] { p.conn->Write("*idn?\n", 500); }), IO_E_CONNECTION_LOST);
  // A limit of its own applies the same way.
  Pair q;
  q.Send("#3101");
  EXPECT_EQ(ErrorOf([&] { q.conn->ReadBlock(500, -1, 100); }), IO_E_BLOCK_TOO_LARGE);
}

TEST(Framing, MalformedBlocksAreReported) {
  struct Case {
    const char* reply;
    const char* shown;
  };
  for (const Case& c : {Case{"ERR 42\n", "ERR 42"}, Case{"#x12\n", "#x"}, Case{"#3a0\n", "#3a0"}}) {
    Pair p;
    p.Send(c.reply);
    std::string text;
    EXPECT_EQ(ErrorOf([&] { p.conn->ReadBlock(300, -1, kDefaultBlockLimit); }, &text),
              IO_E_BLOCK_FORMAT)
        << c.reply;
    EXPECT_NE(text.find(c.shown), std::string::npos) << text;
    // The link stays usable: a new command discards what is left of the bad reply.
    p.conn->Write("*opc?\n", 300);
    p.Send("1\n");
    EXPECT_EQ(p.conn->ReadText(300, '\n', kDefaultBlockLimit), "1") << c.reply;
  }
}

TEST(Framing, TimeOutIsMeasuredFromTheStartOfTheRead) {
  Pair p;
  std::string text;
  auto start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadText(200, '\n', kDefaultBlockLimit); }, &text), IO_E_TIMEOUT);
  long ms = ElapsedMs(start);
  EXPECT_GE(ms, 195);
  EXPECT_LT(ms, 1500);
  EXPECT_NE(text.find("200 ms"), std::string::npos) << text;
  EXPECT_NE(text.find("0 bytes received"), std::string::npos) << text;

  // A trickle without a terminator cannot stretch the read.
  // A read whose time-out restarted with each byte would last past 1050 ms.
  std::vector<std::string> trickle(40, "x");
  p.SendLater(trickle, 20ms);
  start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadText(250, '\n', kDefaultBlockLimit); }, &text), IO_E_TIMEOUT);
  ms = ElapsedMs(start);
  EXPECT_GE(ms, 245);
  EXPECT_LT(ms, 900);
  EXPECT_NE(text.find("xxx"), std::string::npos) << text;
}

TEST(Framing, AfterATimeOutARetryFinishesTheReplyAndANewCommandDropsIt) {
  Pair p;
  p.Send("ab");
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadText(100, '\n', kDefaultBlockLimit); }), IO_E_TIMEOUT);
  p.Send("c\n");
  EXPECT_EQ(p.conn->ReadText(500, '\n', kDefaultBlockLimit), "abc");

  // A late reply that arrives before the next command belongs to the abandoned read.
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadText(100, '\n', kDefaultBlockLimit); }), IO_E_TIMEOUT);
  p.Send("late reply\n");
  std::this_thread::sleep_for(50ms);
  p.conn->Write("*opc?\n", 500);
  p.Send("1\n");
  EXPECT_EQ(p.conn->ReadText(500, '\n', kDefaultBlockLimit), "1");
}

TEST(Framing, RestOfATimedOutBlockIsSkipped) {
  Pair p;
  p.Send("#210abcd");
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadBlock(100, -1, kDefaultBlockLimit); }), IO_E_TIMEOUT);
  p.Send("ef");
  p.conn->Write("*opc?\n", 500);  // drains what has come of the block so far
  p.Send("ghij\n1\n");
  EXPECT_EQ(p.conn->ReadText(500, '\n', kDefaultBlockLimit), "1");
}

TEST(Framing, LostConnectionInsideABlockFailsEveryLaterUse) {
  Pair p;
  p.Send("#516384");
  p.Send(std::string(1000, 'z'));
  close(p.peer);
  p.peer = -1;
  std::string text;
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadBlock(1000, -1, kDefaultBlockLimit); }, &text),
            IO_E_CONNECTION_LOST);
  EXPECT_NE(text.find("after 1000 data bytes"), std::string::npos) << text;
  EXPECT_NE(text.find("16384"), std::string::npos) << text;
  EXPECT_TRUE(p.conn->Lost());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ErrorOf([&] { p.conn->Write("*idn?\n", 100); }, &text), IO_E_CONNECTION_LOST);
    EXPECT_NE(text.find("lost earlier"), std::string::npos) << text;
    EXPECT_EQ(ErrorOf([&] { p.conn->ReadText(100, '\n', kDefaultBlockLimit); }),
              IO_E_CONNECTION_LOST);
  }
}

TEST(Framing, OverlongTextReplyIsRefused) {
  Pair p;
  p.Send(std::string(300, 'a'));
  EXPECT_EQ(ErrorOf([&] { p.conn->ReadText(500, '\n', 100); }), IO_E_REPLY_TOO_LONG);
}

namespace {

// A bus that marks the end of each message, fed from a script of pieces.
class ScriptedBus : public Transport {
 public:
  struct Piece {
    std::string bytes;
    bool end;
  };
  explicit ScriptedBus(std::deque<Piece> script) : script_(std::move(script)) {}
  bool MarksEnd() const override { return true; }
  IoResult Read(uint8_t* buffer, size_t size, Deadline) override {
    if (script_.empty()) return {IoStatus::TimedOut, 0, false, {}};
    Piece& p = script_.front();
    size_t n = std::min(size, p.bytes.size());
    std::copy_n(p.bytes.data(), n, buffer);
    p.bytes.erase(0, n);
    bool end = p.end && p.bytes.empty();
    if (p.bytes.empty()) script_.pop_front();
    return {IoStatus::Ok, n, end, {}};
  }
  IoResult Write(const uint8_t*, size_t size, Deadline) override {
    return {IoStatus::Ok, size, false, {}};
  }
  void SetTermChar(int c) override { termChar = c; }
  int termChar = -5;

 private:
  std::deque<Piece> script_;
};

}  // namespace

TEST(Framing, BusEndEndsMessages) {
  auto bus = std::make_unique<ScriptedBus>(std::deque<ScriptedBus::Piece>{
      {"no terminator", true},
      {"with line feed\n", true},
      {"two\nlines\n", true},
      {"#15ab\ncd\n", true},  // a definite block whose line feed carries END
      {"#13xyz", true},       // END on the last data byte, no line feed
      {"#0a\nb\n", true},     // indefinite: line feeds inside, END on the last one
      {"#15ab", true},        // ends too early
  });
  ScriptedBus* raw = bus.get();
  Connection c("GPIB0::1::INSTR", std::move(bus));
  EXPECT_EQ(c.ReadText(100, -1, kDefaultBlockLimit), "no terminator");
  EXPECT_EQ(raw->termChar, -1);
  EXPECT_EQ(c.ReadText(100, -1, kDefaultBlockLimit), "with line feed");
  EXPECT_EQ(c.ReadText(100, '\n', kDefaultBlockLimit), "two");
  EXPECT_EQ(raw->termChar, '\n');
  EXPECT_EQ(c.ReadText(100, '\n', kDefaultBlockLimit), "lines");
  EXPECT_EQ(Str(c.ReadBlock(100, -1, kDefaultBlockLimit)), "ab\ncd");
  EXPECT_EQ(Str(c.ReadBlock(100, -1, kDefaultBlockLimit)), "xyz");
  EXPECT_EQ(Str(c.ReadBlock(100, -1, kDefaultBlockLimit)), "a\nb");
  EXPECT_EQ(ErrorOf([&] { c.ReadBlock(100, -1, kDefaultBlockLimit); }), IO_E_BLOCK_FORMAT);
}
