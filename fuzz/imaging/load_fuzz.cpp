// libFuzzer target: load an image from arbitrary bytes held in a memory-backed file, then
// save it, so both the decoders and the colour reduction see hostile input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/imaging.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ImgSetMaxPixels(1u << 22);  // keep every accepted image small enough to fuzz quickly
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("imaging-fuzz", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  ImgBitmap bitmap;
  if (ImgLoadBitmap(path.c_str(), &bitmap, 0, 0, 0) == IMG_SUCCESS) {
    if (static_cast<uint64_t>(bitmap.Width) * bitmap.Height <= (1u << 16))
      ImgSaveBitmap("/dev/shm/imaging-fuzz-out.bmp", &bitmap, IMG_FORMAT_BMP, 8, -1, 0);
    ImgFreeBitmap(&bitmap);
  }
  return 0;
}
