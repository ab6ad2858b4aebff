#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace sim {
namespace {

constexpr std::size_t kMaxLine = 1 << 20;
// Commands wait while this much reply is still unsent, so a client that sends but does
// not read cannot make the simulator queue without bound.
constexpr std::size_t kHighWater = 1 << 20;
// Likewise reading stops while this many commands wait, and TCP pushes back on the client.
constexpr std::size_t kMaxPending = 4096;

std::runtime_error SysError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

std::string PeerName(const sockaddr_storage& sa) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (sa.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(sa);
    inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    port = ntohs(in.sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  const auto& in6 = reinterpret_cast<const sockaddr_in6&>(sa);
  inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
  port = ntohs(in6.sin6_port);
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

// Binds and listens on addr:port; returns the socket, or -1 with errno set.
int Listen(const sockaddr* addr, socklen_t len) {
  int fd = socket(addr->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (addr->sa_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  if (bind(fd, addr, len) < 0 || listen(fd, 16) < 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

int BoundPort(int fd) {
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return sa.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in&>(sa).sin_port)
                                 : ntohs(reinterpret_cast<sockaddr_in6&>(sa).sin6_port);
}

}  // namespace

Server::Server(const Options& options, Instrument& instrument, Transcript& log)
    : options_(options),
      instrument_(instrument),
      log_(log),
      delay_seen_(options.delays.size()),
      silent_seen_(options.silent_after.size()),
      muted_seen_(options.no_reply.size()) {}

Server::~Server() {
  for (auto& c : connections_) {
    if (!c->closed) close(c->fd);
  }
  for (int fd : listeners_) close(fd);
  if (pty_slave_ >= 0) close(pty_slave_);
}

void Server::Start() {
  if (options_.port) OpenTcp();
  if (options_.pty) OpenPty();
}

void Server::OpenTcp() {
  int port = *options_.port;
  if (!options_.bind.empty()) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(options_.bind.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
      throw std::runtime_error("--bind " + options_.bind + ": not a numeric address (" +
                               gai_strerror(rc) + ")");
    }
    int fd = Listen(found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (fd < 0)
      throw SysError("cannot listen on " + options_.bind + " port " + std::to_string(port));
    listeners_.push_back(fd);
  } else {
    // 127.0.0.1 and ::1 on one port; with port 0 retry until both get the same one.
    for (int attempt = 0;; ++attempt) {
      sockaddr_in v4{};
      v4.sin_family = AF_INET;
      v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      v4.sin_port = htons(port);
      int fd4 = Listen(reinterpret_cast<sockaddr*>(&v4), sizeof v4);
      if (fd4 < 0) throw SysError("cannot listen on 127.0.0.1 port " + std::to_string(port));
      int bound = BoundPort(fd4);
      sockaddr_in6 v6{};
      v6.sin6_family = AF_INET6;
      v6.sin6_addr = in6addr_loopback;
      v6.sin6_port = htons(bound);
      int fd6 = Listen(reinterpret_cast<sockaddr*>(&v6), sizeof v6);
      if (fd6 < 0 && errno == EADDRINUSE && port == 0 && attempt < 20) {
        close(fd4);
        continue;
      }
      listeners_.push_back(fd4);
      if (fd6 >= 0) {
        listeners_.push_back(fd6);
      } else {
        log_.Event(std::string("no IPv6 loopback: ") + std::strerror(errno));
      }
      break;
    }
  }
  int bound = BoundPort(listeners_.front());
  log_.Event("listening on TCP port " + std::to_string(bound));
  std::printf("port %d\n", bound);
  std::fflush(stdout);
}

void Server::OpenPty() {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) throw SysError("cannot open a pseudo-terminal");
  auto fail = [&](const char* what) {
    auto e = SysError(what);
    close(master);
    return e;
  };
  if (grantpt(master) < 0 || unlockpt(master) < 0) throw fail("cannot unlock the pseudo-terminal");
  const char* name = ptsname(master);
  if (!name) throw fail("cannot name the pseudo-terminal");
  std::string path = name;
  pty_slave_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty_slave_ < 0) throw fail("cannot open the pseudo-terminal's other side");
  termios t{};
  tcgetattr(pty_slave_, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, B9600);
  tcsetattr(pty_slave_, TCSANOW, &t);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  auto c = std::make_unique<Connection>();
  c->fd = master;
  c->id = next_id_++;
  c->is_pty = true;
  connections_.push_back(std::move(c));
  log_.Event("listening on pty " + path);
  std::printf("pty %s\n", path.c_str());
  std::fflush(stdout);
}

void Server::Accept(int listener) {
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  int fd = accept4(listener, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;  // the client gave up already, or no descriptors: try again later
  int id = next_id_++;
  std::string peer = PeerName(sa);
  if (options_.one_client) {
    bool busy = std::any_of(connections_.begin(), connections_.end(),
                            [](const auto& c) { return !c->is_pty && !c->closed; });
    if (busy) {
      log_.Event("refused connection " + std::to_string(id) + " from " + peer +
                 ": one client only");
      close(fd);
      return;
    }
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto c = std::make_unique<Connection>();
  c->fd = fd;
  c->id = id;
  connections_.push_back(std::move(c));
  log_.Event("connection " + std::to_string(id) + " from " + peer);
}

void Server::Close(Connection& c, const std::string& why) {
  if (c.closed) return;
  // Take what is still unread so that close() sends a clean end, not a reset.
  char sink[4096];
  while (read(c.fd, sink, sizeof sink) > 0) {
  }
  shutdown(c.fd, SHUT_RDWR);
  close(c.fd);
  c.closed = true;
  log_.Event("connection " + std::to_string(c.id) + " closed: " + why);
}

bool Server::Applies(const CommandMatch& m, unsigned& seen, const std::string& line) const {
  if (!Matches(m, line)) return false;
  ++seen;
  return m.occurrence == 0 || m.occurrence == seen;
}

bool Server::Matches(const CommandMatch& m, const std::string& line) const {
  std::string_view text = line;
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return EqualsNoCase(text, m.command) ||
         EqualsNoCase(text.substr(0, text.find_first_of(" \t")), m.command);
}

void Server::TakeLine(Connection& c, std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.find_first_not_of(" \t\r") == std::string::npos) return;
  log_.Command(line);
  Pending p;
  for (std::size_t i = 0; i < options_.delays.size(); ++i) {
    if (Applies(options_.delays[i].match, delay_seen_[i], line))
      p.delay_ms += options_.delays[i].ms;
  }
  for (std::size_t i = 0; i < options_.silent_after.size(); ++i) {
    p.silences |= Applies(options_.silent_after[i], silent_seen_[i], line);
  }
  for (std::size_t i = 0; i < options_.no_reply.size(); ++i) {
    p.muted |= Applies(options_.no_reply[i], muted_seen_[i], line);
  }
  p.line = std::move(line);
  c.pending.push_back(std::move(p));
}

void Server::Receive(Connection& c) {
  char buf[65536];
  ssize_t n = read(c.fd, buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    // A pty master reads EIO while no client holds the line; we hold it, so this is rare.
    if (c.is_pty) return;
    if (n < 0) return Close(c, std::strerror(errno));
    c.eof = true;
    return;
  }
  if (c.dead) return;
  c.in.append(buf, n);
  std::size_t start = 0;
  for (std::size_t lf; (lf = c.in.find('\n', start)) != std::string::npos; start = lf + 1) {
    TakeLine(c, c.in.substr(start, lf - start));
  }
  c.in.erase(0, start);
  if (c.in.size() > kMaxLine) {
    log_.Event("line longer than " + std::to_string(kMaxLine) + " bytes discarded");
    c.in.clear();
  }
}

void Server::Process(Connection& c, Clock::time_point now) {
  while (!c.pending.empty() && !c.closed && c.queued < kHighWater) {
    Pending& p = c.pending.front();
    if (silent_) {
      c.pending.clear();
      break;
    }
    if (p.silences) {
      silent_ = true;
      log_.Event("silent from now on: " + p.line);
      c.pending.clear();
      break;
    }
    if (!p.started) {
      p.started = true;
      p.ready = now + std::chrono::milliseconds(p.delay_ms);
      if (p.delay_ms) log_.Event("delay " + std::to_string(p.delay_ms) + " ms: " + p.line);
    }
    if (now < p.ready) break;
    std::optional<Reply> reply = instrument_.Handle(p.line);
    bool muted = p.muted;
    c.pending.pop_front();
    if (reply && muted) {
      log_.Event("reply withheld: " + reply->description);
    } else if (reply && !c.dead) {
      log_.Reply(reply->description);
      c.queued += reply->size();
      c.out.push_back(std::move(*reply));
    }
  }
}

void Server::DropLine(Connection& c) {
  std::string what = "after " + std::to_string(c.sent) + " reply bytes (--drop-after-bytes)";
  if (c.is_pty) {
    c.dead = true;
    c.out.clear();
    c.pending.clear();
    c.queued = 0;
    log_.Event("pty line dead " + what);
  } else {
    Close(c, "dropped " + what);
  }
}

void Server::Send(Connection& c) {
  const auto& drop = options_.drop_after_bytes;
  std::size_t budget = options_.trickle ? 1 : SIZE_MAX;
  if (drop) budget = std::min<std::uint64_t>(budget, *drop - std::min(*drop, c.sent));
  if (budget == 0) return DropLine(c);

  iovec iov[48];
  int count = 0;
  std::size_t planned = 0;
  std::size_t skip = c.front_done;
  for (const Reply& r : c.out) {
    const std::pair<const char*, std::size_t> parts[] = {
        {r.head.data(), r.head.size()},
        {r.data ? reinterpret_cast<const char*>(r.data->data()) + r.offset : nullptr, r.length},
        {r.tail.data(), r.tail.size()}};
    for (auto [p, len] : parts) {
      if (skip >= len) {
        skip -= len;
        continue;
      }
      std::size_t take = std::min(len - skip, budget - planned);
      iov[count++] = {const_cast<char*>(p + skip), take};
      planned += take;
      skip = 0;
      if (planned == budget || count == 48) break;
    }
    if (planned == budget || count == 48) break;
  }
  if (count == 0) return;
  ssize_t n = writev(c.fd, iov, count);
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return;
    if (c.is_pty) return;  // nobody reads the line just now; retry later
    return Close(c, std::string("write failed: ") + std::strerror(errno));
  }
  c.sent += n;
  c.queued -= n;
  std::size_t done = c.front_done + n;
  while (!c.out.empty() && done >= c.out.front().size()) {
    done -= c.out.front().size();
    c.out.pop_front();
  }
  c.front_done = done;
  if (options_.trickle) c.next_byte = Clock::now() + std::chrono::microseconds(options_.trickle_us);
  if (drop && c.sent >= *drop) DropLine(c);
}

void Server::Run(const volatile std::sig_atomic_t* stop, const sigset_t& wait_mask) {
  std::vector<pollfd> fds;
  std::vector<Connection*> owners;
  std::string reason = "signal";
  while (!*stop) {
    Clock::time_point now = Clock::now();
    for (auto& c : connections_) {
      Process(*c, now);
      if (c->eof && (c->pending.empty() || silent_) && c->out.empty()) Close(*c, "by the client");
    }
    std::erase_if(connections_, [](const auto& c) { return c->closed; });

    fds.clear();
    owners.clear();
    std::optional<Clock::time_point> wake;
    auto wake_at = [&](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
    for (int fd : listeners_) {
      fds.push_back({fd, POLLIN, 0});
      owners.push_back(nullptr);
    }
    if (options_.exit_on_eof) {
      fds.push_back({STDIN_FILENO, POLLIN, 0});
      owners.push_back(nullptr);
    }
    for (auto& c : connections_) {
      short events = c->eof || c->pending.size() >= kMaxPending ? 0 : POLLIN;
      if (!c->out.empty()) {
        if (options_.trickle && now < c->next_byte) {
          wake_at(c->next_byte);
        } else {
          events |= POLLOUT;
        }
      }
      if (!c->pending.empty() && c->pending.front().started && c->queued < kHighWater && !silent_) {
        wake_at(c->pending.front().ready);
      }
      fds.push_back({c->fd, events, 0});
      owners.push_back(c.get());
    }

    timespec ts{};
    if (wake) {
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - now).count();
      ns = std::max<long long>(ns, 0);
      ts.tv_sec = ns / 1000000000;
      ts.tv_nsec = ns % 1000000000;
    }
    int rc = ppoll(fds.data(), fds.size(), wake ? &ts : nullptr, &wait_mask);
    if (rc < 0) {
      if (errno == EINTR) continue;
      throw SysError("poll failed");
    }
    bool eof = false;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      const pollfd& p = fds[i];
      if (!p.revents) continue;
      Connection* c = owners[i];
      if (!c) {
        if (p.fd == STDIN_FILENO && options_.exit_on_eof) {
          char sink[4096];
          ssize_t n = read(STDIN_FILENO, sink, sizeof sink);
          if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) eof = true;
        } else {
          Accept(p.fd);
        }
        continue;
      }
      if (c->closed) continue;
      if ((p.revents & POLLIN) || (!c->is_pty && (p.revents & (POLLHUP | POLLERR)))) {
        if (c->eof) {
          Close(*c, "connection lost");
          continue;
        }
        Receive(*c);
      }
      if (!c->closed && (p.revents & POLLOUT)) Send(*c);
    }
    if (eof) {
      reason = "standard input closed";
      break;
    }
  }
  log_.Event("exit: " + reason);
}

}  // namespace sim
