// The library's C entry points: argument checks, and no exception past this file.
#include "imaging/imaging.h"

#include <unistd.h>

#include <new>
#include <string>

#include "imaging/atomic_file.h"
#include "imaging/bitmap_store.h"
#include "imaging/bmp_reader.h"
#include "imaging/bmp_writer.h"
#include "imaging/depth_convert.h"
#include "imaging/errors.h"
#include "imaging/file_input.h"
#include "imaging/tiff_reader.h"

namespace imaging {
namespace {

template <typename F>
int Guarded(F&& body) {
  ClearError();
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(IMG_ERR_NO_MEMORY, "out of memory");
  } catch (const std::exception& e) {
    return Fail(IMG_ERR_NO_MEMORY, e.what());
  }
}

// Applies load's depth and colour order to a freshly decoded image.
int Adapt(ImgBitmap* img, int bpp, int order) {
  ImgBitmap other;
  int rc = IMG_SUCCESS;
  if (bpp == 24 && img->BitsPerPixel == 8) {
    rc = ExpandToTrueColour(*img, &other);
  } else if (bpp == 8 || bpp == 4 || bpp == 1) {
    const unsigned colours = 1u << bpp;
    if (img->BitsPerPixel == 24 || img->PaletteCount > colours)
      rc = ReduceColours(*img, colours, &other);
    else
      bpp = 0;
  } else {
    bpp = 0;
  }
  if (rc != IMG_SUCCESS) return rc;
  if (bpp != 0) {
    ReleaseBitmap(img);
    *img = other;
  }
  if (order == IMG_ORDER_RGB && img->BitsPerPixel == 24) SwapRedBlue(img);
  return IMG_SUCCESS;
}

int Load(const char* fileName, ImgBitmap* bitmap, int bpp, int order, int options) {
  if (!bitmap) return Fail(IMG_ERR_BAD_ARGUMENT, "no bitmap handle");
  ClearBitmap(bitmap);
  if (!fileName || !*fileName) return Fail(IMG_ERR_BAD_ARGUMENT, "no file name");
  if (bpp != 0 && bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
    return Fail(IMG_ERR_UNSUPPORTED_DEPTH, "cannot load at " + std::to_string(bpp) + " bits");
  if (order != IMG_ORDER_DEFAULT && order != IMG_ORDER_BGR && order != IMG_ORDER_RGB)
    return Fail(IMG_ERR_BAD_ARGUMENT, "unknown colour order " + std::to_string(order));
  if (options != 0) return Fail(IMG_ERR_BAD_ARGUMENT, "unknown load options");
  int fd = -1;
  int rc = OpenForRead(fileName, &fd);
  if (rc != IMG_SUCCESS) return rc;
  FileFormat format;
  rc = SniffFormat(fd, &format);
  if (rc != IMG_SUCCESS) {
    close(fd);
    return rc;
  }
  ImgBitmap img;
  rc = format == FileFormat::kTiff ? ReadTiff(fd, fileName, &img) : ReadBmp(fd, &img);
  if (rc != IMG_SUCCESS) return rc;
  try {
    rc = Adapt(&img, bpp, order);
  } catch (...) {
    ReleaseBitmap(&img);
    throw;
  }
  if (rc != IMG_SUCCESS) {
    ReleaseBitmap(&img);
    return rc;
  }
  *bitmap = img;
  return IMG_SUCCESS;
}

int Save(const char* fileName, ImgBitmap* bitmap, int format, int bpp, int options) {
  if (!bitmap) return Fail(IMG_ERR_BAD_ARGUMENT, "no bitmap handle");
  if (!fileName || !*fileName) return Fail(IMG_ERR_BAD_ARGUMENT, "no file name");
  if (!IsLoaded(bitmap)) return Fail(IMG_ERR_NOT_LOADED, "the handle holds no image");
  if (format != IMG_FORMAT_BMP)
    return Fail(IMG_ERR_UNSUPPORTED_FORMAT, "cannot save format " + std::to_string(format));
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
    return Fail(IMG_ERR_UNSUPPORTED_DEPTH, "cannot save at " + std::to_string(bpp) + " bits");
  if (options != 0) return Fail(IMG_ERR_BAD_ARGUMENT, "unknown save options");
  AtomicFile file;
  int rc = file.Open(fileName);
  if (rc != IMG_SUCCESS) return rc;
  rc = WriteBmp(file.fd(), *bitmap, bpp);
  if (rc != IMG_SUCCESS) return rc;
  return file.Commit();
}

}  // namespace
}  // namespace imaging

extern "C" int ImgLoadBitmap(const char* fileName, ImgBitmap* bitmap, int bitsPerPixel,
                             int colorOrder, int loadOptions) {
  return imaging::Guarded(
      [&] { return imaging::Load(fileName, bitmap, bitsPerPixel, colorOrder, loadOptions); });
}

// The quality factor does not apply to bitmap files, which are lossless.
extern "C" int ImgSaveBitmap(const char* fileName, ImgBitmap* bitmap, int format, int bitsPerPixel,
                             int qualityFactor, int saveOptions) {
  return imaging::Guarded(
      [&] { return imaging::Save(fileName, bitmap, format, bitsPerPixel, saveOptions); });
}

extern "C" int ImgFreeBitmap(ImgBitmap* bitmap) {
  imaging::ClearError();
  if (!bitmap) return imaging::Fail(IMG_ERR_BAD_ARGUMENT, "no bitmap handle");
  imaging::ReleaseBitmap(bitmap);
  return IMG_SUCCESS;
}
