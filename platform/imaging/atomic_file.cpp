#include "imaging/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imaging/errors.h"
#include "imaging/imaging.h"

namespace imaging {
namespace {

int WriteError(const std::string& what, int err) {
  return Fail(IMG_ERR_CANNOT_WRITE, what + ": " + std::strerror(err));
}

std::string UniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const unsigned long long mix = (static_cast<unsigned long long>(ts.tv_nsec) << 20) ^
                                 (static_cast<unsigned>(getpid()) << 8) ^ counter.fetch_add(1);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llx", mix & 0xFFFFFFFFFFFFull);
  return buf;
}

}  // namespace

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

int AtomicFile::Open(const char* target) {
  target_ = target;
  struct stat st;
  if (lstat(target, &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, not the link.
    char resolved[PATH_MAX];
    if (realpath(target, resolved)) target_ = resolved;
  }
  if (stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Fail(IMG_ERR_CANNOT_WRITE, target_ + ": is a folder");
    if (!S_ISREG(st.st_mode)) return Fail(IMG_ERR_CANNOT_WRITE, target_ + ": not a regular file");
    mode_ = static_cast<int>(st.st_mode & 07777);
  } else if (errno != ENOENT) {
    return WriteError(target_, errno);
  }
  const size_t slash = target_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (base.empty()) return Fail(IMG_ERR_CANNOT_WRITE, target_ + ": no file name");
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = folder + "." + base.substr(0, 200) + "." + UniqueSuffix() + ".tmp";
    // 0666 so that the process's umask decides, as for any newly created file.
    const int f = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (f >= 0) {
      fd_ = f;
      temp_ = std::move(name);
      if (mode_ >= 0) fchmod(fd_, static_cast<mode_t>(mode_));
      return IMG_SUCCESS;
    }
    if (errno != EEXIST) {
      const int e = errno;
      if (e == ENOENT) return Fail(IMG_ERR_CANNOT_WRITE, target_ + ": folder does not exist");
      if (e == ENOTDIR)
        return Fail(IMG_ERR_CANNOT_WRITE, target_ + ": a part of the path is not a folder");
      return WriteError(target_, e);
    }
  }
  return Fail(IMG_ERR_CANNOT_WRITE, target_ + ": cannot create a temporary file");
}

int AtomicFile::Commit() {
  // Data reaches the disk before the name does, so a crash cannot leave an empty target.
  if (fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) return WriteError(temp_, errno);
  const int f = fd_;
  fd_ = -1;
  if (close(f) != 0) return WriteError(temp_, errno);
  if (rename(temp_.c_str(), target_.c_str()) != 0) return WriteError(target_, errno);
  temp_.clear();
  return IMG_SUCCESS;
}

}  // namespace imaging
