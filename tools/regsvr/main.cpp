// regsvr [-u] LIBRARY: registers or unregisters an in-process server library.
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/strings.h"

namespace {

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: regsvr [-u] LIBRARY\n"
               "  Loads the in-process server LIBRARY and calls its DllRegisterServer,\n"
               "  or with -u its DllUnregisterServer. The registry is $COMRT_REGISTRY when set.\n");
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      Usage(stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "-u") || !std::strcmp(argv[i], "/u")) {
      unregister = true;
    } else if (argv[i][0] == '-' || library) {
      std::fprintf(stderr, "regsvr: unexpected argument '%s' (see regsvr --help)\n", argv[i]);
      return 2;
    } else {
      library = argv[i];
    }
  }
  if (!library) {
    std::fprintf(stderr, "regsvr: no library given (see regsvr --help)\n");
    return 2;
  }

  // Register the absolute path: that is what activation will load.
  char* full = realpath(library, nullptr);
  if (!full) {
    std::fprintf(stderr, "regsvr: %s: %s\n", library, std::strerror(errno));
    return 1;
  }
  std::string path = full;
  std::free(full);

  CoInitialize(nullptr);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path.c_str(), dlerror());
    return 1;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<PFN_DllRegisterServer>(dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "regsvr: %s does not export %s\n", path.c_str(), entry);
    dlclose(handle);
    return 1;
  }
  HRESULT hr = fn();
  com::ErrorDescription err = com::TakeError(hr);
  int rc = 0;
  if (SUCCEEDED(hr)) {
    std::printf("%s in %s succeeded.\n", entry, path.c_str());
  } else {
    std::fprintf(stderr, "regsvr: %s in %s failed: %s", entry, path.c_str(),
                 com::FormatResult(hr).c_str());
    if (!err.description.empty())
      std::fprintf(stderr, ": %s", com::Utf16ToUtf8(err.description).c_str());
    std::fprintf(stderr, "\n");
    rc = 1;
  }
  dlclose(handle);
  CoUninitialize();
  return rc;
}
