#include "imaging/bmp_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/bitmap_store.h"
#include "imaging/errors.h"

namespace imaging {
namespace {

uint32_t U16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Reads exactly n bytes at offset; false on a short file or an I/O error.
bool ReadAt(int fd, void* buf, size_t n, uint64_t offset) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    const ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

// One colour channel of a 16- or 32-bit pixel, given by its mask.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit Channel(uint32_t m) : mask(m) {
    if (m) {
      shift = std::countr_zero(m);
      max = m >> shift;
    }
  }
  uint8_t Get(uint32_t px) const {
    if (!max) return 0;
    return static_cast<uint8_t>(((uint64_t{(px & mask) >> shift}) * 255u + max / 2) / max);
  }
};

constexpr uint32_t kRgb = 0, kBitfields = 3;

struct FdCloser {
  int fd;
  ~FdCloser() { close(fd); }
};

}  // namespace

int ReadBmp(int fd, ImgBitmap* out) {
  FdCloser closer{fd};
  struct stat st;
  if (fstat(fd, &st) != 0) return Fail(IMG_ERR_CANNOT_READ, std::strerror(errno));
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);

  uint8_t head[14 + 124 + 16] = {};
  if (fileSize < 14 + 12 || !ReadAt(fd, head, std::min<uint64_t>(sizeof head, fileSize), 0))
    return Fail(IMG_ERR_CORRUPT, "truncated bitmap header");
  const uint32_t pixelOffset = U32(head + 10);
  const uint32_t infoSize = U32(head + 14);
  const uint8_t* info = head + 14;
  int64_t width, height;
  uint32_t bpp, compression = kRgb, colorsUsed = 0;
  size_t paletteEntry = 4;
  if (infoSize == 12) {  // OS/2 core header
    width = U16(info + 4);
    height = static_cast<int16_t>(U16(info + 6));
    bpp = U16(info + 10);
    paletteEntry = 3;
  } else if (infoSize >= 40 && infoSize <= 124) {
    width = static_cast<int32_t>(U32(info + 4));
    height = static_cast<int32_t>(U32(info + 8));
    bpp = U16(info + 14);
    compression = U32(info + 16);
    colorsUsed = U32(info + 32);
  } else {
    return Fail(IMG_ERR_CORRUPT, "unknown bitmap header size " + std::to_string(infoSize));
  }
  if (14ull + infoSize > fileSize) return Fail(IMG_ERR_CORRUPT, "truncated bitmap header");
  const bool topDown = height < 0;
  height = topDown ? -height : height;
  if (width <= 0 || height <= 0) return Fail(IMG_ERR_CORRUPT, "bitmap has no pixels");
  if (compression != kRgb && compression != kBitfields)
    return Fail(IMG_ERR_UNSUPPORTED_DEPTH,
                "compressed bitmaps (method " + std::to_string(compression) + ") not supported");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return Fail(IMG_ERR_UNSUPPORTED_DEPTH, std::to_string(bpp) + "-bit bitmaps not supported");
  if (compression == kBitfields && bpp != 16 && bpp != 32)
    return Fail(IMG_ERR_CORRUPT, "bit fields on a " + std::to_string(bpp) + "-bit bitmap");

  // Masks follow a 40-byte header, and sit inside the larger ones.
  uint64_t tableStart = 14ull + infoSize;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bpp == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  if (compression == kBitfields) {
    uint8_t m[12];
    if (infoSize >= 52) {
      std::memcpy(m, info + 40, 12);
    } else {
      if (!ReadAt(fd, m, 12, tableStart)) return Fail(IMG_ERR_CORRUPT, "truncated bit fields");
      tableStart += 12;
    }
    for (int i = 0; i < 3; ++i) masks[i] = U32(m + 4 * i);
  }

  const uint64_t rowBytes = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
  if (pixelOffset < tableStart || pixelOffset > fileSize ||
      rowBytes * static_cast<uint64_t>(height) > fileSize - pixelOffset) {
    // Check the size limit first: an absurd header is "too large", not "truncated".
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > MaxPixels())
      return Fail(IMG_ERR_TOO_LARGE,
                  std::to_string(width) + "x" + std::to_string(height) + " exceeds the size limit");
    return Fail(IMG_ERR_CORRUPT, "bitmap pixel data truncated or misplaced");
  }

  ImgBitmap img;
  int rc = AllocateBitmap(width, height, bpp <= 8 ? 8 : 24, &img);
  if (rc != IMG_SUCCESS) return rc;
  img.SourceBitsPerPixel = static_cast<int32_t>(bpp);
  if (bpp <= 8) {
    const uint32_t n = 1u << bpp;
    const uint32_t stored = colorsUsed ? std::min(colorsUsed, n) : n;
    uint8_t table[256 * 4] = {};
    if (pixelOffset - tableStart < stored * paletteEntry ||
        !ReadAt(fd, table, stored * paletteEntry, tableStart)) {
      ReleaseBitmap(&img);
      return Fail(IMG_ERR_CORRUPT, "truncated bitmap palette");
    }
    img.PaletteCount = n;  // entries the file leaves out are black
    for (uint32_t i = 0; i < stored; ++i) {
      const uint8_t* e = table + i * paletteEntry;
      img.Palette[i] = ImgRgbQuad{e[0], e[1], e[2], 0};
    }
  }

  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
  const size_t chunkRows = std::max<size_t>(1, (1u << 20) / rowBytes);
  std::vector<uint8_t> buf;
  try {
    buf.resize(chunkRows * rowBytes);
  } catch (const std::bad_alloc&) {
    ReleaseBitmap(&img);
    return Fail(IMG_ERR_NO_MEMORY, "no memory for the read buffer");
  }
  for (int64_t first = 0; first < height; first += static_cast<int64_t>(chunkRows)) {
    const size_t rows = static_cast<size_t>(std::min<int64_t>(chunkRows, height - first));
    if (!ReadAt(fd, buf.data(), rows * rowBytes, pixelOffset + first * rowBytes)) {
      ReleaseBitmap(&img);
      return Fail(IMG_ERR_CORRUPT, "bitmap pixel data truncated");
    }
    for (size_t r = 0; r < rows; ++r) {
      const int64_t fileRow = first + static_cast<int64_t>(r);
      const int64_t y = topDown ? fileRow : height - 1 - fileRow;
      const uint8_t* s = buf.data() + r * rowBytes;
      uint8_t* o = img.Bits + static_cast<size_t>(y) * img.Stride;
      if (bpp == 8) {
        std::memcpy(o, s, static_cast<size_t>(width));
      } else if (bpp < 8) {
        const unsigned mask = (1u << bpp) - 1;
        for (int64_t x = 0; x < width; ++x) {
          const uint64_t bit = static_cast<uint64_t>(x) * bpp;
          o[x] = static_cast<uint8_t>((s[bit >> 3] >> (8 - bpp - (bit & 7))) & mask);
        }
      } else if (bpp == 24) {
        std::memcpy(o, s, static_cast<size_t>(width) * 3);
      } else {
        for (int64_t x = 0; x < width; ++x, o += 3) {
          const uint32_t px = bpp == 16 ? U16(s + 2 * x) : U32(s + 4 * x);
          o[0] = blue.Get(px);
          o[1] = green.Get(px);
          o[2] = red.Get(px);
        }
      }
    }
  }
  *out = img;
  return IMG_SUCCESS;
}

}  // namespace imaging
