// Serves the instrument on loopback TCP and on a pseudo-terminal with one poll() loop,
// applying the transport faults (delays, silence, dropped connections, trickling, one
// client).
#pragma once

#include <sys/uio.h>

#include <chrono>
#include <csignal>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "instrument.h"
#include "options.h"
#include "transcript.h"

namespace sim {

class Server {
 public:
  Server(const Options& options, Instrument& instrument, Transcript& log);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the listeners and the pty and announces them on standard output ("port N",
  // "pty PATH"). Throws std::runtime_error.
  void Start();
  // Serves until *stop becomes non-zero (set by a signal handler; the caller blocks those
  // signals, and they are let through only while waiting) or, with --exit-on-eof,
  // standard input closes.
  void Run(const volatile std::sig_atomic_t* stop, const sigset_t& wait_mask);

 private:
  using Clock = std::chrono::steady_clock;

  struct Pending {
    std::string line;
    unsigned delay_ms = 0;
    bool silences = false;
    bool muted = false;  // --no-reply: handled, reply withheld
    bool started = false;
    Clock::time_point ready;
  };

  struct Connection {
    int fd = -1;
    int id = 0;
    bool is_pty = false;
    bool closed = false;
    bool eof = false;   // the client sent its last byte; finish its replies, then close
    bool dead = false;  // pty after --drop-after-bytes: the line carries nothing more
    std::string in;
    std::deque<Pending> pending;
    std::deque<Reply> out;
    std::size_t front_done = 0;  // bytes of out.front() already sent
    std::size_t queued = 0;      // bytes in out not yet sent
    std::uint64_t sent = 0;
    Clock::time_point next_byte;
  };

  void OpenTcp();
  void OpenPty();
  void Accept(int listener);
  void Receive(Connection& c);
  void TakeLine(Connection& c, std::string line);
  void Process(Connection& c, Clock::time_point now);
  void Send(Connection& c);
  void DropLine(Connection& c);
  void Close(Connection& c, const std::string& why);
  bool Matches(const CommandMatch& m, const std::string& line) const;
  // Counts an occurrence of m and says whether the rule takes effect on this one.
  bool Applies(const CommandMatch& m, unsigned& seen, const std::string& line) const;

  const Options& options_;
  Instrument& instrument_;
  Transcript& log_;
  std::vector<int> listeners_;
  int pty_slave_ = -1;  // held open so the master never sees a hang-up between clients
  std::vector<std::unique_ptr<Connection>> connections_;
  int next_id_ = 1;
  bool silent_ = false;
  std::vector<unsigned> delay_seen_;
  std::vector<unsigned> silent_seen_;
  std::vector<unsigned> muted_seen_;
};

}  // namespace sim
