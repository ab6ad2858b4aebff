#include "imaging/bmp_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imaging/colour_plan.h"
#include "imaging/errors.h"

namespace imaging {
namespace {

// Collects output in a buffer and writes it in large blocks.
class Writer {
 public:
  explicit Writer(int fd) : fd_(fd) { buf_.reserve(kSize); }
  bool Put(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (buf_.size() + n > kSize && !Flush()) return false;
    if (n > kSize) return WriteAll(p, n);
    buf_.insert(buf_.end(), p, p + n);
    return true;
  }
  bool Flush() {
    const bool ok = WriteAll(buf_.data(), buf_.size());
    buf_.clear();
    return ok;
  }
  int error() const { return error_; }

 private:
  static constexpr size_t kSize = 1 << 20;
  bool WriteAll(const uint8_t* p, size_t n) {
    while (n > 0) {
      const ssize_t w = write(fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error_ = w < 0 ? errno : ENOSPC;
        return false;
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }
  int fd_;
  int error_ = 0;
  std::vector<uint8_t> buf_;
};

void Le16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void Le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Packs 8-bit indices into 1 or 4 bits, most significant first.
void Pack(const uint8_t* idx, int32_t w, int bpp, uint8_t* out) {
  if (bpp == 8) {
    std::memcpy(out, idx, static_cast<size_t>(w));
  } else if (bpp == 4) {
    for (int32_t x = 0; x < w; x += 2)
      out[x / 2] = static_cast<uint8_t>((idx[x] << 4) | (x + 1 < w ? idx[x + 1] & 15 : 0));
  } else {
    for (int32_t x = 0; x < w; x += 8) {
      uint8_t byte = 0;
      for (int32_t b = 0; b < 8 && x + b < w; ++b) byte |= (idx[x + b] & 1) << (7 - b);
      out[x / 8] = byte;
    }
  }
}

}  // namespace

int WriteBmp(int fd, const ImgBitmap& image, int bpp) {
  const int32_t w = image.Width, h = image.Height;
  const uint64_t rowBytes = ((static_cast<uint64_t>(w) * bpp + 31) / 32) * 4;
  std::optional<ColourPlan> plan;
  if (bpp <= 8) plan.emplace(image, 1u << bpp);
  const uint32_t colours = plan ? static_cast<uint32_t>(plan->Palette().size()) : 0;
  const uint64_t headerBytes = 14 + 40 + 4ull * colours;
  const uint64_t fileBytes = headerBytes + rowBytes * static_cast<uint64_t>(h);
  if (fileBytes > 0xFFFFFFFFull)
    return Fail(IMG_ERR_TOO_LARGE, "image too large for a bitmap file (over 4 GiB)");

  uint8_t head[14 + 40] = {};
  head[0] = 'B', head[1] = 'M';
  Le32(head + 2, static_cast<uint32_t>(fileBytes));
  Le32(head + 10, static_cast<uint32_t>(headerBytes));
  Le32(head + 14, 40);
  Le32(head + 18, static_cast<uint32_t>(w));
  Le32(head + 22, static_cast<uint32_t>(h));
  Le16(head + 26, 1);
  Le16(head + 28, static_cast<uint32_t>(bpp));
  Le32(head + 30, 0);  // uncompressed
  Le32(head + 34, static_cast<uint32_t>(rowBytes * static_cast<uint64_t>(h)));
  Le32(head + 38, 2835);  // 72 dots per inch
  Le32(head + 42, 2835);
  Le32(head + 46, colours);
  Le32(head + 50, colours);

  Writer out(fd);
  bool ok = out.Put(head, sizeof head);
  if (plan) {
    std::vector<uint8_t> table;
    for (const ImgRgbQuad& q : plan->Palette())
      table.insert(table.end(), {q.Blue, q.Green, q.Red, 0});
    ok = ok && out.Put(table.data(), table.size());
  }
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes), 0);
  std::vector<uint8_t> indices(plan ? static_cast<size_t>(w) : 0);
  const bool rgb = image.ColorOrder == IMG_ORDER_RGB;
  for (int32_t y = h - 1; ok && y >= 0; --y) {
    if (plan) {
      plan->MapRow(y, indices.data());
      Pack(indices.data(), w, bpp, row.data());
    } else if (image.BitsPerPixel == 8) {
      const uint8_t* p = image.Bits + static_cast<size_t>(y) * image.Stride;
      const uint32_t n = image.PaletteCount;
      for (int32_t x = 0; x < w; ++x) {
        const ImgRgbQuad& q = image.Palette[p[x] < n ? p[x] : 0];
        row[3 * x] = q.Blue, row[3 * x + 1] = q.Green, row[3 * x + 2] = q.Red;
      }
    } else {
      const uint8_t* p = image.Bits + static_cast<size_t>(y) * image.Stride;
      if (!rgb) {
        std::memcpy(row.data(), p, static_cast<size_t>(w) * 3);
      } else {
        for (int32_t x = 0; x < w; ++x)
          row[3 * x] = p[3 * x + 2], row[3 * x + 1] = p[3 * x + 1], row[3 * x + 2] = p[3 * x];
      }
    }
    ok = out.Put(row.data(), row.size());
  }
  ok = ok && out.Flush();
  if (!ok)
    return Fail(IMG_ERR_CANNOT_WRITE, std::string("write failed: ") + std::strerror(out.error()));
  return IMG_SUCCESS;
}

}  // namespace imaging
