#include "imaging/tiff_reader.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/bitmap_store.h"
#include "imaging/errors.h"

namespace imaging {
namespace {

// What libtiff said while one file was read. Nothing reaches standard error.
struct Diagnostics {
  std::string errors;
  std::string warnings;
  bool decoding = false;
  bool decodeDamage = false;  // the fax decoders report damaged data only as warnings
};

void Append(std::string& to, const char* module, const char* fmt, va_list ap) {
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  if (!to.empty()) to += "; ";
  if (module && *module) {
    to += module;
    to += ": ";
  }
  to += buf;
}

int OnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  Append(static_cast<Diagnostics*>(user)->errors, module, fmt, ap);
  return 1;
}

int OnWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* d = static_cast<Diagnostics*>(user);
  Append(d->warnings, module, fmt, ap);
  if (d->decoding && module && std::strncmp(module, "Fax", 3) == 0) d->decodeDamage = true;
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct Layout {
  uint32_t width = 0, height = 0;
  uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
  bool indexed = false;  // grey or palette into 8-bit indices; otherwise RGB into BGR
};

uint8_t From16(uint16_t v) { return static_cast<uint8_t>((v * 255u + 32767u) / 65535u); }

// Converts one decoded row (or the part of one plane) into output pixels. For separate
// planes, plane names the sample the row holds; for contiguous ones it is -1.
void ConvertRow(const Layout& l, const uint8_t* raw, int plane, uint8_t* out, uint32_t count) {
  const uint32_t step = plane < 0 ? l.spp : 1;
  if (l.indexed) {
    if (l.bps == 8) {
      for (uint32_t x = 0; x < count; ++x) out[x] = raw[x * step];
    } else if (l.bps == 16) {
      auto* s = reinterpret_cast<const uint16_t*>(raw);
      for (uint32_t x = 0; x < count; ++x) out[x] = From16(s[x * step]);
    } else {
      const unsigned mask = (1u << l.bps) - 1;
      for (uint32_t x = 0; x < count; ++x) {
        const size_t bit = static_cast<size_t>(x) * step * l.bps;
        out[x] = static_cast<uint8_t>((raw[bit >> 3] >> (8 - l.bps - (bit & 7))) & mask);
      }
    }
    return;
  }
  if (plane >= 0) {  // one of R, G, B into its place in B, G, R
    uint8_t* o = out + (2 - plane);
    if (l.bps == 8) {
      for (uint32_t x = 0; x < count; ++x) o[3 * x] = raw[x];
    } else {
      auto* s = reinterpret_cast<const uint16_t*>(raw);
      for (uint32_t x = 0; x < count; ++x) o[3 * x] = From16(s[x]);
    }
    return;
  }
  if (l.bps == 8) {
    for (uint32_t x = 0; x < count; ++x, raw += step, out += 3) {
      out[0] = raw[2];
      out[1] = raw[1];
      out[2] = raw[0];
    }
  } else {
    auto* s = reinterpret_cast<const uint16_t*>(raw);
    for (uint32_t x = 0; x < count; ++x, s += step, out += 3) {
      out[0] = From16(s[2]);
      out[1] = From16(s[1]);
      out[2] = From16(s[0]);
    }
  }
}

int Corrupt(const Diagnostics& d, const char* what) {
  std::string text = what;
  if (!d.errors.empty())
    text += ": " + d.errors;
  else if (!d.warnings.empty())
    text += ": " + d.warnings;
  return Fail(IMG_ERR_CORRUPT, text);
}

// Planes that carry output: every sample for contiguous data, the colour ones otherwise.
int PlanesToRead(const Layout& l) {
  if (l.planar == PLANARCONFIG_CONTIG) return 1;
  return l.indexed ? 1 : 3;
}

int ReadStrips(TIFF* tif, const Layout& l, Diagnostics& d, ImgBitmap* img) {
  const tmsize_t lineSize = TIFFScanlineSize(tif);
  if (lineSize <= 0) return Corrupt(d, "bad scanline size");
  std::vector<uint8_t> line(static_cast<size_t>(lineSize) + 8);
  const bool separate = l.planar == PLANARCONFIG_SEPARATE;
  for (int p = 0; p < PlanesToRead(l); ++p) {
    for (uint32_t y = 0; y < l.height; ++y) {
      if (TIFFReadScanline(tif, line.data(), y, static_cast<uint16_t>(p)) < 0)
        return Corrupt(d, "cannot decode the image data");
      ConvertRow(l, line.data(), separate ? p : -1, img->Bits + y * img->Stride, l.width);
    }
  }
  return IMG_SUCCESS;
}

int ReadTiles(TIFF* tif, const Layout& l, Diagnostics& d, ImgBitmap* img) {
  uint32_t tw = 0, th = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
  const tmsize_t tileSize = TIFFTileSize(tif);
  const tmsize_t tileRow = TIFFTileRowSize(tif);
  if (tw == 0 || th == 0 || tileSize <= 0 || tileRow <= 0 ||
      static_cast<uint64_t>(tileRow) * th > static_cast<uint64_t>(tileSize))
    return Corrupt(d, "bad tile layout");
  std::vector<uint8_t> tile(static_cast<size_t>(tileSize) + 8);
  const bool separate = l.planar == PLANARCONFIG_SEPARATE;
  const size_t outBytes = l.indexed ? 1 : 3;
  for (int p = 0; p < PlanesToRead(l); ++p) {
    for (uint32_t y0 = 0; y0 < l.height; y0 += th) {
      for (uint32_t x0 = 0; x0 < l.width; x0 += tw) {
        const ttile_t t = TIFFComputeTile(tif, x0, y0, 0, static_cast<uint16_t>(p));
        if (TIFFReadEncodedTile(tif, t, tile.data(), tileSize) < 0)
          return Corrupt(d, "cannot decode the image data");
        const uint32_t cols = std::min(tw, l.width - x0);
        const uint32_t rows = std::min(th, l.height - y0);
        for (uint32_t r = 0; r < rows; ++r)
          ConvertRow(l, tile.data() + r * static_cast<size_t>(tileRow), separate ? p : -1,
                     img->Bits + (y0 + r) * img->Stride + x0 * outBytes, cols);
      }
    }
  }
  return IMG_SUCCESS;
}

// Any other photometric or depth that libtiff can render (YCbCr, CMYK, CIE Lab, odd
// depths): through its RGBA renderer, a band of rows at a time.
int ReadThroughRgba(TIFF* tif, const Layout& l, Diagnostics& d, ImgBitmap* img) {
  char emsg[1024] = "";
  TIFFRGBAImage rgba;
  if (!TIFFRGBAImageBegin(&rgba, tif, 1, emsg)) return Corrupt(d, emsg);
  rgba.req_orientation = ORIENTATION_TOPLEFT;
  uint32_t band = 64;
  if (TIFFIsTiled(tif)) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
  } else {
    uint32_t rps = l.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    band = std::max(band, rps);
  }
  band = std::clamp<uint32_t>(band, 1, l.height);
  std::vector<uint32_t> buf;
  int rc = IMG_SUCCESS;
  try {
    buf.resize(static_cast<size_t>(l.width) * band);
  } catch (const std::bad_alloc&) {
    rc = Fail(IMG_ERR_NO_MEMORY, "no memory for the decoding buffer");
  }
  for (uint32_t y0 = 0; rc == IMG_SUCCESS && y0 < l.height; y0 += band) {
    const uint32_t rows = std::min(band, l.height - y0);
    rgba.row_offset = static_cast<int>(y0);
    rgba.col_offset = 0;
    if (!TIFFRGBAImageGet(&rgba, buf.data(), l.width, rows)) {
      rc = Corrupt(d, "cannot decode the image data");
      break;
    }
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t* s = buf.data() + static_cast<size_t>(r) * l.width;
      uint8_t* o = img->Bits + (y0 + r) * img->Stride;
      for (uint32_t x = 0; x < l.width; ++x, o += 3) {
        o[0] = static_cast<uint8_t>(TIFFGetB(s[x]));
        o[1] = static_cast<uint8_t>(TIFFGetG(s[x]));
        o[2] = static_cast<uint8_t>(TIFFGetR(s[x]));
      }
    }
  }
  TIFFRGBAImageEnd(&rgba);
  return rc;
}

void FillPalette(TIFF* tif, const Layout& l, ImgBitmap* img) {
  const unsigned bits = l.bps >= 8 ? 8 : l.bps;
  const unsigned n = 1u << bits;
  img->PaletteCount = n;
  uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (l.photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
    // Some writers store 8-bit values in the 16-bit colour map.
    bool eightBit = true;
    for (unsigned i = 0; i < n; ++i)
      if (r[i] >= 256 || g[i] >= 256 || b[i] >= 256) eightBit = false;
    const int shift = eightBit ? 0 : 8;
    for (unsigned i = 0; i < n; ++i)
      img->Palette[i] =
          ImgRgbQuad{static_cast<uint8_t>(b[i] >> shift), static_cast<uint8_t>(g[i] >> shift),
                     static_cast<uint8_t>(r[i] >> shift), 0};
    return;
  }
  const bool white = l.photometric == PHOTOMETRIC_MINISWHITE;
  for (unsigned i = 0; i < n; ++i) {
    uint8_t v = static_cast<uint8_t>(i * 255 / (n - 1));
    if (white) v = static_cast<uint8_t>(255 - v);
    img->Palette[i] = ImgRgbQuad{v, v, v, 0};
  }
}

enum class Path { kDirect, kRgba, kNone };

Path ChoosePath(TIFF* tif, Layout& l) {
  uint16_t format = SAMPLEFORMAT_UINT, extra = 0;
  uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
  const bool uintSamples = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID;
  const int colour = l.spp - extra;
  if (uintSamples &&
      (l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE)) {
    if (colour == 1 && (l.bps == 1 || l.bps == 2 || l.bps == 4 || l.bps == 8 || l.bps == 16)) {
      l.indexed = true;
      return Path::kDirect;
    }
  }
  if (uintSamples && l.photometric == PHOTOMETRIC_PALETTE && colour == 1 &&
      (l.bps == 1 || l.bps == 2 || l.bps == 4 || l.bps == 8)) {
    l.indexed = true;
    return Path::kDirect;
  }
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (l.photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG &&
      l.planar == PLANARCONFIG_CONTIG && l.bps == 8) {
    // libjpeg converts to RGB for us.
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    l.photometric = PHOTOMETRIC_RGB;
  }
  if (uintSamples && l.photometric == PHOTOMETRIC_RGB && colour >= 3 &&
      (l.bps == 8 || l.bps == 16)) {
    l.indexed = false;
    return Path::kDirect;
  }
  char emsg[1024];
  if (TIFFRGBAImageOK(tif, emsg)) return Path::kRgba;
  return Path::kNone;
}

}  // namespace

int ReadTiff(int fd, const char* name, ImgBitmap* out) {
  Diagnostics d;
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts) {
    close(fd);
    return Fail(IMG_ERR_NO_MEMORY, "cannot allocate libtiff options");
  }
  TIFFOpenOptionsSetErrorHandlerExtR(opts, OnError, &d);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, OnWarning, &d);
  // Bounds what a lying header can make libtiff allocate in one go.
  const uint64_t cap = std::min<uint64_t>(MaxPixels() * 8 + (64u << 20), INT64_MAX / 2);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(cap));
  // "m": plain reads rather than a mapping, so a file cut short under us is an error.
  TiffPtr tif(TIFFFdOpenExt(fd, name, "rm", opts));
  TIFFOpenOptionsFree(opts);
  if (!tif) {
    close(fd);
    return Corrupt(d, "cannot read the TIFF header");
  }
  Layout l;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &l.width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &l.height);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &l.bps);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &l.spp);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &l.planar);
  if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &l.photometric))
    l.photometric = l.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  if (l.width == 0 || l.height == 0) return Corrupt(d, "image has no pixels");

  const Path path = ChoosePath(tif.get(), l);
  if (path == Path::kNone) {
    char emsg[1024] = "";
    TIFFRGBAImageOK(tif.get(), emsg);
    d.errors.clear();
    return Fail(IMG_ERR_UNSUPPORTED_DEPTH,
                std::string("unsupported TIFF layout (") + std::to_string(l.bps) +
                    " bits per sample, " + std::to_string(l.spp) + " samples per pixel, " +
                    "photometric " + std::to_string(l.photometric) + "): " + emsg);
  }
  ImgBitmap img;
  int rc = AllocateBitmap(l.width, l.height, l.indexed ? 8 : 24, &img);
  if (rc != IMG_SUCCESS) return rc;
  img.SourceBitsPerPixel = l.indexed ? l.bps : l.bps * l.spp;
  if (l.indexed) FillPalette(tif.get(), l, &img);

  d.errors.clear();
  d.decoding = true;
  if (path == Path::kRgba)
    rc = ReadThroughRgba(tif.get(), l, d, &img);
  else if (TIFFIsTiled(tif.get()))
    rc = ReadTiles(tif.get(), l, d, &img);
  else
    rc = ReadStrips(tif.get(), l, d, &img);
  if (rc == IMG_SUCCESS && (!d.errors.empty() || d.decodeDamage))
    rc = Corrupt(d, "damaged image data");
  if (rc != IMG_SUCCESS) {
    ReleaseBitmap(&img);
    return rc;
  }
  *out = img;
  return IMG_SUCCESS;
}

}  // namespace imaging
