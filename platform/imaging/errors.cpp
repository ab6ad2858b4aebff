#include "imaging/errors.h"

namespace imaging {
namespace {
thread_local std::string g_detail;
}

int Fail(int code, std::string detail) {
  g_detail = std::move(detail);
  return code;
}

void ClearError() { g_detail.clear(); }

const std::string& LastDetail() { return g_detail; }

}  // namespace imaging

extern "C" const char* ImgErrorText(int code) {
  switch (code) {
    case IMG_SUCCESS:
      return "Success";
    case IMG_ERR_BAD_ARGUMENT:
      return "Invalid argument";
    case IMG_ERR_FILE_NOT_FOUND:
      return "File not found";
    case IMG_ERR_CANNOT_READ:
      return "Cannot read the file";
    case IMG_ERR_NOT_AN_IMAGE:
      return "Not an image file this library reads";
    case IMG_ERR_CORRUPT:
      return "Corrupt or truncated image";
    case IMG_ERR_UNSUPPORTED_DEPTH:
      return "Unsupported image depth";
    case IMG_ERR_TOO_LARGE:
      return "Image too large";
    case IMG_ERR_NO_MEMORY:
      return "Out of memory";
    case IMG_ERR_CANNOT_WRITE:
      return "Cannot write the file";
    case IMG_ERR_UNSUPPORTED_FORMAT:
      return "Unsupported file format";
    case IMG_ERR_NOT_LOADED:
      return "No image loaded";
    default:
      return "Unknown error";
  }
}

extern "C" const char* ImgLastErrorDetail(void) { return imaging::LastDetail().c_str(); }
