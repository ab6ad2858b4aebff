#include "tiff_to_bitmap.h"

#include <new>

#include "imaging/imaging.h"
#include "narrow_path.h"

namespace {
constexpr int kLoaded = 1;  // the only success value of the imaging library
constexpr int kFormatWindowsBitmap = 6;
constexpr int kBitsPerPixel = 8;
constexpr int kDefaultQuality = -1;
}  // namespace

const InterfaceEntry* TiffToBitmap::InterfaceTable() {
  static const InterfaceEntry table[] = {
      {&IID_ITiffToBitmap, InterfaceOffset<TiffToBitmap, ITiffToBitmap>()},
      {&IID_IDispatch, InterfaceOffset<TiffToBitmap, IDispatch>()},
      {nullptr, 0},
  };
  return table;
}

HRESULT TiffToBitmap::UpdateRegistry(BOOL doRegister) {
  return ModuleUpdateRegistryFromResource(&RastovaModule, 101, doRegister, nullptr);
}

// Loads the whole image before the save begins, so the same path twice converts the file
// in place. Success is the exact value 1 from both the load and the save.
HRESULT TiffToBitmap::Convert(BSTR pathToTiff, BSTR pathToBitmap) {
  try {
    NarrowPath tiff(pathToTiff);
    NarrowPath bitmap(pathToBitmap);
    ImgBitmap handle{};
    if (ImgLoadBitmap(tiff.Narrow(), &handle, 0, 0, 0) != kLoaded) return E_FAIL;
    const char* target;
    try {
      target = bitmap.Narrow();
    } catch (...) {
      ImgFreeBitmap(&handle);  // the loaded image is never left behind
      throw;
    }
    int saved =
        ImgSaveBitmap(target, &handle, kFormatWindowsBitmap, kBitsPerPixel, kDefaultQuality, 0);
    ImgFreeBitmap(&handle);
    return saved == kLoaded ? S_OK : E_FAIL;
  } catch (const PathError& e) {
    return e.hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
