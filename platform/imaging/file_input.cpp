#include "imaging/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "imaging/errors.h"

namespace imaging {

int OpenForRead(const char* fileName, int* fd) {
  // O_NONBLOCK so that opening a FIFO without a writer returns at once.
  const int f = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (f < 0) {
    const int e = errno;
    const int code = (e == ENOENT || e == ENOTDIR) ? IMG_ERR_FILE_NOT_FOUND : IMG_ERR_CANNOT_READ;
    return Fail(code, std::string(fileName) + ": " + std::strerror(e));
  }
  struct stat st;
  if (fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool dir = S_ISDIR(st.st_mode);
    close(f);
    return Fail(IMG_ERR_CANNOT_READ,
                std::string(fileName) + (dir ? ": is a folder" : ": not a regular file"));
  }
  const int flags = fcntl(f, F_GETFL);
  if (flags >= 0) fcntl(f, F_SETFL, flags & ~O_NONBLOCK);
  *fd = f;
  return IMG_SUCCESS;
}

int SniffFormat(int fd, FileFormat* format) {
  unsigned char sig[4] = {};
  ssize_t n;
  do {
    n = pread(fd, sig, sizeof sig, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Fail(IMG_ERR_CANNOT_READ, std::strerror(errno));
  if (n >= 2 && sig[0] == 'B' && sig[1] == 'M') {
    *format = FileFormat::kBmp;
    return IMG_SUCCESS;
  }
  // Classic TIFF (42) and BigTIFF (43), both byte orders.
  if (n == 4 && ((sig[0] == 'I' && sig[1] == 'I' && (sig[2] == 42 || sig[2] == 43) && !sig[3]) ||
                 (sig[0] == 'M' && sig[1] == 'M' && !sig[2] && (sig[3] == 42 || sig[3] == 43)))) {
    *format = FileFormat::kTiff;
    return IMG_SUCCESS;
  }
  return Fail(IMG_ERR_NOT_AN_IMAGE, n == 0 ? "empty file" : "neither a TIFF nor a BMP file");
}

}  // namespace imaging
