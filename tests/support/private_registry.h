// Points COMRT_REGISTRY at a new registry file in its own temporary folder for the object's
// lifetime, and puts the variable back as it was afterwards.
#pragma once

#include <string>

#include "support/temp_dir.h"

namespace testsupport {

class PrivateRegistry {
 public:
  PrivateRegistry();
  ~PrivateRegistry();
  PrivateRegistry(const PrivateRegistry&) = delete;
  PrivateRegistry& operator=(const PrivateRegistry&) = delete;

  const std::string& file() const { return file_; }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string file_;
  std::string old_;
  bool had_ = false;
};

}  // namespace testsupport
