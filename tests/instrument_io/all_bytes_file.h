// A file for the simulator's storage that holds every byte value and many line feeds.
#pragma once

#include <cstddef>
#include <string>

#include "support/files.h"

namespace iotest {

inline std::string WriteAllBytesFile(const std::string& dir, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i % 7 == 0 ? '\n' : (i * 31 + i / 256) & 0xff);
  std::string path = dir + "/allbytes.bin";
  testsupport::WriteFile(path, bytes);
  return path;
}

}  // namespace iotest
