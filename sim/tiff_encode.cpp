#include "tiff_encode.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "display.h"

namespace sim {
namespace {

// A growable byte buffer that libtiff writes through its client procedures.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  std::uint64_t pos = 0;
};

tmsize_t Read(thandle_t h, void* data, tmsize_t size) {
  auto* f = static_cast<MemoryFile*>(h);
  if (f->pos >= f->bytes.size() || size <= 0) return 0;
  auto n = std::min<std::uint64_t>(size, f->bytes.size() - f->pos);
  std::memcpy(data, f->bytes.data() + f->pos, n);
  f->pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t h, void* data, tmsize_t size) {
  auto* f = static_cast<MemoryFile*>(h);
  if (size <= 0) return 0;
  if (f->pos + size > f->bytes.size()) f->bytes.resize(f->pos + size);
  std::memcpy(f->bytes.data() + f->pos, data, size);
  f->pos += size;
  return size;
}

toff_t Seek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  std::uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->bytes.size() : 0;
  f->pos = base + off;
  return f->pos;
}

int Close(thandle_t) { return 0; }
toff_t Size(thandle_t h) { return static_cast<MemoryFile*>(h)->bytes.size(); }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

std::uint16_t CompressionTag(Compression c) {
  switch (c) {
    case Compression::kPackBits:
      return COMPRESSION_PACKBITS;
    case Compression::kLzw:
      return COMPRESSION_LZW;
    case Compression::kNone:
      break;
  }
  return COMPRESSION_NONE;
}

void Check(int ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("TIFF encoding failed: ") + what);
}

}  // namespace

std::vector<std::uint8_t> EncodeTiff(const Canvas& canvas, TiffKind kind, Compression compression,
                                     const std::string& software) {
  MemoryFile file;
  std::unique_ptr<TIFF, void (*)(TIFF*)> owner(
      TIFFClientOpen("display", "w", &file, Read, Write, Seek, Close, Size, Map, Unmap), TIFFClose);
  TIFF* tif = owner.get();
  if (!tif) throw std::runtime_error("TIFF encoding failed: cannot open the memory file");

  const auto& palette = DisplayPalette();
  const std::uint32_t w = canvas.width, h = canvas.height;
  std::uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_PALETTE;
  if (kind == TiffKind::kRgb) {
    samples = 3;
    photometric = PHOTOMETRIC_RGB;
  } else if (kind == TiffKind::kBilevel) {
    bits = 1;
    photometric = PHOTOMETRIC_MINISWHITE;  // 1 = black ink on white paper, as printed
  }
  const std::size_t row_bytes = kind == TiffKind::kBilevel ? (w + 7) / 8 : w * samples;

  Check(TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w), "width");
  Check(TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h), "height");
  Check(TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits), "bits");
  Check(TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples), "samples");
  Check(TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric), "photometric");
  Check(TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG), "planar");
  Check(TIFFSetField(tif, TIFFTAG_COMPRESSION, CompressionTag(compression)), "compression");
  Check(TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT), "orientation");
  Check(TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                     static_cast<std::uint32_t>(std::max<std::size_t>(1, 8192 / row_bytes))),
        "rows per strip");
  Check(TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0f), "x resolution");
  Check(TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0f), "y resolution");
  Check(TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH), "resolution unit");
  Check(TIFFSetField(tif, TIFFTAG_SOFTWARE, software.c_str()), "software");
  if (kind == TiffKind::kPalette) {
    std::vector<std::uint16_t> r(256), g(256), b(256);
    for (std::size_t i = 0; i < palette.size(); ++i) {
      r[i] = palette[i].r * 257;
      g[i] = palette[i].g * 257;
      b[i] = palette[i].b * 257;
    }
    Check(TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data()), "colour map");
  }

  std::vector<std::uint8_t> row(row_bytes);
  for (std::uint32_t y = 0; y < h; ++y) {
    std::fill(row.begin(), row.end(), 0);
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t px = canvas.At(x, y);
      switch (kind) {
        case TiffKind::kPalette:
          row[x] = px;
          break;
        case TiffKind::kRgb:
          row[3 * x] = palette[px].r;
          row[3 * x + 1] = palette[px].g;
          row[3 * x + 2] = palette[px].b;
          break;
        case TiffKind::kBilevel:
          if (px != kBackground && px != kBarBackground) row[x / 8] |= 0x80 >> (x % 8);
          break;
      }
    }
    Check(TIFFWriteScanline(tif, row.data(), y, 0) == 1, "scan line");
  }
  Check(TIFFWriteDirectory(tif), "directory");
  owner.reset();  // closing may still write, so before the bytes are taken
  return std::move(file.bytes);
}

}  // namespace sim
