// Serial ports through termios: raw bytes, no flow control, the configured frame.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "instrument_io/address.h"
#include "instrument_io/io_error.h"
#include "instrument_io/transport.h"

namespace instrument_io {
namespace {

speed_t Speed(int baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return 0;
  }
}

}  // namespace

std::unique_ptr<Transport> OpenSerial(const Address& address, const SerialSettings& s) {
  const std::string& path = address.device;
  speed_t speed = Speed(s.baudRate);
  if (speed == 0 || s.dataBits < 5 || s.dataBits > 8 || s.parity < 0 || s.parity > 2 ||
      (s.stopBits != 1 && s.stopBits != 2))
    throw IoError(IO_E_OPEN,
                  "unsupported serial settings for " + path + ": " + std::to_string(s.baudRate) +
                      " baud, " + std::to_string(s.dataBits) + " data bits, parity " +
                      std::to_string(s.parity) + ", " + std::to_string(s.stopBits) + " stop bits");
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw IoError(IO_E_OPEN, "cannot open " + path + ": " + std::strerror(errno));
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    std::string why = std::strerror(errno);
    close(fd);
    throw IoError(IO_E_OPEN, path + " is not a serial port: " + why);
  }
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag |= s.dataBits == 5 ? CS5 : s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
  if (s.parity != 0) t.c_cflag |= PARENB | (s.parity == 1 ? PARODD : 0);
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    std::string why = std::strerror(errno);
    close(fd);
    throw IoError(IO_E_OPEN, "cannot configure " + path + ": " + why);
  }
  return AdoptDescriptor(fd, false);
}

}  // namespace instrument_io
