#include "sim_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <set>

namespace simtest {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

}  // namespace

Line Line::Tcp(int port, const char* host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) != 0) return Line(-1);
  int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) < 0) {
    close(fd);
    fd = -1;
  }
  freeaddrinfo(found);
  return Line(fd);
}

Line Line::Pty(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  return Line(fd);
}

Line::Line(Line&& other) noexcept : fd_(other.fd_), buf_(std::move(other.buf_)) { other.fd_ = -1; }

Line::~Line() { Close(); }

void Line::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void Line::Send(const std::string& text) {
  std::string msg = text + "\n";
  std::size_t done = 0;
  while (done < msg.size()) {
    ssize_t n = send(fd_, msg.data() + done, msg.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd_, msg.data() + done, msg.size() - done);
    if (n <= 0) {
      ADD_FAILURE() << "send failed: " << std::strerror(errno);
      return;
    }
    done += n;
  }
}

Line::Fill Line::FillOnce(Clock::time_point deadline) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, MsLeft(deadline)) <= 0) return Fill::kTimeout;
  char buf[65536];
  ssize_t n = read(fd_, buf, sizeof buf);
  if (n <= 0) return Fill::kEof;
  buf_.append(buf, n);
  return Fill::kData;
}

bool Line::Need(std::size_t n, Clock::time_point deadline) {
  while (buf_.size() < n) {
    if (FillOnce(deadline) != Fill::kData) return false;
  }
  return true;
}

std::optional<std::string> Line::ReadLine(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t lf;
  while ((lf = buf_.find('\n')) == std::string::npos) {
    if (FillOnce(deadline) != Fill::kData) return std::nullopt;
  }
  std::string line = buf_.substr(0, lf);
  buf_.erase(0, lf + 1);
  return line;
}

std::optional<Bytes> Line::ReadBlock(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!Need(2, deadline) || buf_[0] != '#' || buf_[1] < '1' || buf_[1] > '9') return std::nullopt;
  std::size_t digits = buf_[1] - '0';
  if (!Need(2 + digits, deadline)) return std::nullopt;
  std::size_t len = std::stoull(buf_.substr(2, digits));
  std::size_t total = 2 + digits + len + 1;
  if (!Need(total, deadline) || buf_[total - 1] != '\n') return std::nullopt;
  Bytes data(buf_.begin() + 2 + digits, buf_.begin() + 2 + digits + len);
  buf_.erase(0, total);
  return data;
}

std::string Line::ReadUntilClosed(int timeout_ms, bool* eof) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  Fill f;
  while ((f = FillOnce(deadline)) == Fill::kData) {
  }
  *eof = f == Fill::kEof;
  return std::exchange(buf_, {});
}

std::optional<std::string> Line::ReadExactly(std::size_t n, int timeout_ms) {
  if (!Need(n, Clock::now() + std::chrono::milliseconds(timeout_ms))) return std::nullopt;
  std::string out = buf_.substr(0, n);
  buf_.erase(0, n);
  return out;
}

bool Line::Quiet(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  return buf_.empty() && FillOnce(deadline) == Fill::kTimeout;
}

std::optional<int> Line::CountReads(std::size_t n, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int reads = 0;
  while (buf_.size() < n) {
    if (FillOnce(deadline) != Fill::kData) return std::nullopt;
    ++reads;
  }
  return reads;
}

Bytes ReadFile(Line& line, const std::string& name, std::vector<std::size_t>* block_sizes) {
  Bytes file;
  line.Send("ROPEN '" + name + "'");
  for (int i = 0; i < 100000; ++i) {
    line.Send("READ?");
    auto block = line.ReadBlock();
    if (!block) {
      ADD_FAILURE() << "no block for READ? number " << i + 1;
      break;
    }
    if (block_sizes) block_sizes->push_back(block->size());
    if (block->empty()) break;
    file.insert(file.end(), block->begin(), block->end());
  }
  line.Send("CLOSE");
  return file;
}

TiffFacts InspectTiff(const Bytes& bytes) {
  TiffFacts f;
  TempDir dir;
  std::string path = dir.Write("image.tif", bytes);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return f;
  f.opened = true;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.height);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &f.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f.samples);
  std::vector<std::uint8_t> row(TIFFScanlineSize(tif));
  std::set<std::uint8_t> seen;
  f.all_rows_read = true;
  for (std::uint32_t y = 0; y < f.height; ++y) {
    if (TIFFReadScanline(tif, row.data(), y, 0) != 1) {
      f.all_rows_read = false;
      break;
    }
    seen.insert(row.begin(), row.end());
  }
  f.distinct_values = seen.size();
  TIFFClose(tif);
  return f;
}

}  // namespace simtest
