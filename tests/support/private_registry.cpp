#include "support/private_registry.h"

#include <stdlib.h>

namespace testsupport {

PrivateRegistry::PrivateRegistry() : file_(dir_.File("registry.db")) {
  if (const char* old = getenv("COMRT_REGISTRY")) {
    old_ = old;
    had_ = true;
  }
  setenv("COMRT_REGISTRY", file_.c_str(), 1);
}

PrivateRegistry::~PrivateRegistry() {
  if (had_)
    setenv("COMRT_REGISTRY", old_.c_str(), 1);
  else
    unsetenv("COMRT_REGISTRY");
}

}  // namespace testsupport
