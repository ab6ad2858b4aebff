// Sockets and serial terminals: non-blocking descriptors waited on with poll().
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "instrument_io/transport.h"

namespace instrument_io {

int RemainingMs(Deadline deadline) {
  auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

namespace {

class FdTransport : public Transport {
 public:
  FdTransport(int fd, bool isSocket) : fd_(fd), socket_(isSocket) {
    int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  }
  ~FdTransport() override { close(fd_); }

  bool MarksEnd() const override { return false; }

  IoResult Read(uint8_t* buffer, size_t size, Deadline deadline) override {
    for (;;) {
      ssize_t n = socket_ ? recv(fd_, buffer, size, 0) : read(fd_, buffer, size);
      if (n > 0) return {IoStatus::Ok, static_cast<size_t>(n), false, {}};
      if (n == 0) return {IoStatus::Closed, 0, false, "the instrument closed the connection"};
      if (errno == EINTR) continue;
      if (errno == EIO && !socket_) return {IoStatus::Closed, 0, false, "the serial line hung up"};
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        return {IoStatus::Failed, 0, false, std::strerror(errno)};
      if (IoResult r = Wait(POLLIN, deadline); r.status != IoStatus::Ok) return r;
    }
  }

  IoResult Write(const uint8_t* data, size_t size, Deadline deadline) override {
    size_t done = 0;
    while (done < size) {
      ssize_t n = socket_ ? send(fd_, data + done, size - done, MSG_NOSIGNAL)
                          : write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EPIPE || errno == ECONNRESET || errno == EIO))
        return {IoStatus::Closed, done, false, std::strerror(errno)};
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return {IoStatus::Failed, done, false, std::strerror(errno)};
      IoResult r = Wait(POLLOUT, deadline);
      if (r.status != IoStatus::Ok) {
        r.count = done;
        return r;
      }
    }
    return {IoStatus::Ok, done, false, {}};
  }

 private:
  IoResult Wait(short events, Deadline deadline) {
    for (;;) {
      pollfd p{fd_, events, 0};
      int rc = poll(&p, 1, RemainingMs(deadline));
      if (rc < 0 && errno == EINTR) continue;
      if (rc < 0) return {IoStatus::Failed, 0, false, std::strerror(errno)};
      if (rc == 0) return {IoStatus::TimedOut, 0, false, {}};
      // Hang-up and errors are reported by the next read or write itself.
      return {};
    }
  }

  int fd_;
  bool socket_;
};

}  // namespace

std::unique_ptr<Transport> AdoptDescriptor(int fd, bool isSocket) {
  return std::make_unique<FdTransport>(fd, isSocket);
}

}  // namespace instrument_io
