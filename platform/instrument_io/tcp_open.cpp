// Raw TCP links: resolve the host, connect without blocking past the time-out.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "instrument_io/address.h"
#include "instrument_io/io_error.h"
#include "instrument_io/transport.h"

namespace instrument_io {
namespace {

// Connects one resolved address; the descriptor, or -1 with the reason in `why`.
int ConnectOne(const addrinfo* ai, Deadline deadline, std::string* why) {
  int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
  if (fd < 0) {
    *why = std::strerror(errno);
    return -1;
  }
  if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0 && errno != EINPROGRESS) {
    *why = std::strerror(errno);
    close(fd);
    return -1;
  }
  for (;;) {
    pollfd p{fd, POLLOUT, 0};
    int rc = poll(&p, 1, RemainingMs(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) {
      *why = rc == 0 ? "no answer to the connection request in time" : std::strerror(errno);
      close(fd);
      return -1;
    }
    break;
  }
  int err = 0;
  socklen_t len = sizeof err;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
  if (err != 0) {
    *why = std::strerror(err);
    close(fd);
    return -1;
  }
  // Commands and queries are small; send them at once.
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  return fd;
}

}  // namespace

std::unique_ptr<Transport> OpenTcp(const Address& address, int connectTimeoutMs) {
  Deadline deadline = DeadlineAfter(connectTimeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  std::string port = std::to_string(address.port);
  int rc = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    // Loopback and literal addresses resolve even where no interface of their family is up.
    hints.ai_flags = AI_NUMERICSERV;
    rc = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &list);
  }
  if (rc != 0)
    throw IoError(IO_E_OPEN, "cannot resolve host \"" + address.host + "\": " + gai_strerror(rc));
  std::string why;
  int fd = -1;
  for (addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) fd = ConnectOne(ai, deadline, &why);
  freeaddrinfo(list);
  if (fd < 0)
    throw IoError(IO_E_OPEN, "cannot connect to " + address.host + " port " + port + " within " +
                                 std::to_string(connectTimeoutMs) + " ms: " + why);
  return AdoptDescriptor(fd, true);
}

}  // namespace instrument_io
