// Replacing a file atomically: write a temporary file in the target's folder, then rename
// it over the target. Until Commit succeeds the target is untouched, and the temporary
// file never outlives the object.
#pragma once

#include <string>

namespace imaging {

class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  // Checks the target and creates the temporary file. IMG_SUCCESS or a failure code.
  int Open(const char* target);
  int fd() const { return fd_; }
  // Flushes, closes and renames the temporary file over the target.
  int Commit();

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int mode_ = -1;  // the replaced file's permissions, kept on the new one
};

}  // namespace imaging
