// imgconv: converts a TIFF or BMP file into a Windows bitmap file through the imaging
// library, the way the converter component does.
//   imgconv [--bpp 1|4|8|24] INPUT OUTPUT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imaging/imaging.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: imgconv [--bpp 1|4|8|24] INPUT OUTPUT\n");
  return 2;
}

int Report(const char* what, const char* file, int code) {
  std::fprintf(stderr, "imgconv: %s %s: %s (%d)", what, file, ImgErrorText(code), code);
  const char* detail = ImgLastErrorDetail();
  if (*detail) std::fprintf(stderr, ": %s", detail);
  std::fprintf(stderr, "\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int bpp = 8;
  int arg = 1;
  if (arg + 1 < argc && std::strcmp(argv[arg], "--bpp") == 0) {
    bpp = std::atoi(argv[arg + 1]);
    arg += 2;
  }
  if (argc - arg != 2) return Usage();
  const char* in = argv[arg];
  const char* out = argv[arg + 1];
  ImgBitmap bitmap;
  int rc = ImgLoadBitmap(in, &bitmap, 0, 0, 0);
  if (rc != IMG_SUCCESS) return Report("cannot load", in, rc);
  rc = ImgSaveBitmap(out, &bitmap, IMG_FORMAT_BMP, bpp, IMG_QUALITY_DEFAULT, 0);
  ImgFreeBitmap(&bitmap);
  if (rc != IMG_SUCCESS) return Report("cannot save", out, rc);
  return 0;
}
