#include "imaging/bitmap_store.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "imaging/errors.h"

namespace imaging {
namespace {

std::atomic<uint64_t> g_max_pixels{IMG_DEFAULT_MAX_PIXELS};

struct Block {
  size_t bytes;
};

std::mutex& StoreMutex() {
  static std::mutex m;
  return m;
}

std::unordered_map<const void*, Block>& Store() {
  static auto* store = new std::unordered_map<const void*, Block>();
  return *store;
}

}  // namespace

uint64_t MaxPixels() { return g_max_pixels.load(std::memory_order_relaxed); }

void ClearBitmap(ImgBitmap* bitmap) { std::memset(bitmap, 0, sizeof *bitmap); }

int AllocateBitmap(int64_t width, int64_t height, int bpp, ImgBitmap* out) {
  if (width <= 0 || height <= 0)
    return Fail(IMG_ERR_CORRUPT, "image has no pixels (" + std::to_string(width) + "x" +
                                     std::to_string(height) + ")");
  const uint64_t limit = MaxPixels();
  if (static_cast<uint64_t>(width) > limit || static_cast<uint64_t>(height) > limit ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > limit)
    return Fail(IMG_ERR_TOO_LARGE, std::to_string(width) + "x" + std::to_string(height) +
                                       " exceeds the limit of " + std::to_string(limit) +
                                       " pixels");
  if (width > INT32_MAX || height > INT32_MAX)
    return Fail(IMG_ERR_TOO_LARGE, "image dimensions out of range");
  const uint64_t stride = (static_cast<uint64_t>(width) * (bpp / 8) + 3) & ~uint64_t{3};
  const uint64_t bytes = stride * static_cast<uint64_t>(height);
  if (bytes / stride != static_cast<uint64_t>(height) || bytes > SIZE_MAX / 2)
    return Fail(IMG_ERR_TOO_LARGE, "image too large for this machine");
  void* bits = std::malloc(static_cast<size_t>(bytes));
  if (!bits) return Fail(IMG_ERR_NO_MEMORY, "cannot allocate " + std::to_string(bytes) + " bytes");
  {
    std::lock_guard lock(StoreMutex());
    Store()[bits] = Block{static_cast<size_t>(bytes)};
  }
  ClearBitmap(out);
  out->Width = static_cast<int32_t>(width);
  out->Height = static_cast<int32_t>(height);
  out->BitsPerPixel = bpp;
  out->ColorOrder = IMG_ORDER_BGR;
  out->SourceBitsPerPixel = bpp;
  out->Stride = static_cast<size_t>(stride);
  out->Bits = static_cast<uint8_t*>(bits);
  return IMG_SUCCESS;
}

void ReleaseBitmap(ImgBitmap* bitmap) {
  bool owned = false;
  {
    std::lock_guard lock(StoreMutex());
    owned = Store().erase(bitmap->Bits) == 1;
  }
  if (owned) std::free(bitmap->Bits);
  ClearBitmap(bitmap);
}

bool IsLoaded(const ImgBitmap* bitmap) {
  if (!bitmap->Bits) return false;
  size_t bytes = 0;
  {
    std::lock_guard lock(StoreMutex());
    auto it = Store().find(bitmap->Bits);
    if (it == Store().end()) return false;
    bytes = it->second.bytes;
  }
  if (bitmap->Width <= 0 || bitmap->Height <= 0) return false;
  if (bitmap->BitsPerPixel != 8 && bitmap->BitsPerPixel != 24) return false;
  if (bitmap->BitsPerPixel == 8 && (bitmap->PaletteCount == 0 || bitmap->PaletteCount > 256))
    return false;
  if (bitmap->ColorOrder != IMG_ORDER_BGR && bitmap->ColorOrder != IMG_ORDER_RGB) return false;
  const uint64_t row = static_cast<uint64_t>(bitmap->Width) * (bitmap->BitsPerPixel / 8);
  return bitmap->Stride >= row &&
         static_cast<uint64_t>(bitmap->Stride) * static_cast<uint64_t>(bitmap->Height) <= bytes;
}

}  // namespace imaging

extern "C" uint64_t ImgSetMaxPixels(uint64_t maxPixels) {
  return imaging::g_max_pixels.exchange(maxPixels ? maxPixels : IMG_DEFAULT_MAX_PIXELS);
}

extern "C" uint64_t ImgGetMaxPixels(void) { return imaging::MaxPixels(); }
