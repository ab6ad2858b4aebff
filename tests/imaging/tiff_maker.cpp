#include "tiff_maker.h"

#include <tiffio.h>

#include <cstring>
#include <memory>

namespace imaging_test {

std::string WriteTiff(const std::string& path, const TiffLayout& s, const SampleFn& sample) {
  TIFF* tif = TIFFOpen(path.c_str(), s.bigEndian ? "wb" : "wl");
  if (!tif) return "cannot create " + path;
  std::unique_ptr<TIFF, void (*)(TIFF*)> guard(tif, [](TIFF* t) { TIFFClose(t); });
  for (int page = 0; page < s.pages; ++page) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bps);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.spp);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar);
    if (s.predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, s.predictor);
    if (s.extraSamples) {
      std::vector<uint16_t> kinds(s.extraSamples, EXTRASAMPLE_UNASSALPHA);
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, s.extraSamples, kinds.data());
    }
    if (!s.colormap.empty()) {
      const size_t n = size_t{1} << s.bps;
      TIFFSetField(tif, TIFFTAG_COLORMAP, s.colormap.data(), s.colormap.data() + n,
                   s.colormap.data() + 2 * n);
    }
    if (s.pages > 1) {
      TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, s.pages);
    }
    const bool separate = s.planar == PLANARCONFIG_SEPARATE;
    const uint32_t perPlane = separate ? 1 : s.spp;
    const uint32_t planes = separate ? s.spp : 1;
    // Packs samples of columns [x0, x0 + n) of row y, plane p, into out.
    auto packRow = [&](uint32_t y, uint32_t x0, uint32_t n, uint32_t p, uint8_t* out,
                       size_t bytes) {
      std::memset(out, 0, bytes);
      for (uint32_t x = 0; x < n; ++x) {
        for (uint32_t k = 0; k < perPlane; ++k) {
          const uint32_t sampleIndex = separate ? p : k;
          const uint32_t v = (x0 + x < s.width && y < s.height)
                                 ? sample(x0 + x, y, sampleIndex) + page  // pages differ
                                 : 0;
          const size_t i = static_cast<size_t>(x) * perPlane + k;
          if (s.bps == 16) {
            reinterpret_cast<uint16_t*>(out)[i] = static_cast<uint16_t>(v);
          } else if (s.bps == 8) {
            out[i] = static_cast<uint8_t>(v);
          } else {
            const size_t bit = i * s.bps;
            const unsigned mask = (1u << s.bps) - 1;
            out[bit / 8] |= static_cast<uint8_t>((v & mask) << (8 - s.bps - bit % 8));
          }
        }
      }
    };
    if (s.tiled) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tileSize);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tileSize);
      const tmsize_t tileBytes = TIFFTileSize(tif);
      const tmsize_t rowBytes = TIFFTileRowSize(tif);
      std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
      for (uint32_t p = 0; p < planes; ++p)
        for (uint32_t y0 = 0; y0 < s.height; y0 += s.tileSize)
          for (uint32_t x0 = 0; x0 < s.width; x0 += s.tileSize) {
            for (uint32_t r = 0; r < s.tileSize; ++r)
              packRow(y0 + r, x0, s.tileSize, p, tile.data() + r * rowBytes,
                      static_cast<size_t>(rowBytes));
            if (TIFFWriteTile(tif, tile.data(), x0, y0, 0, static_cast<uint16_t>(p)) < 0)
              return "TIFFWriteTile failed";
          }
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip);
      const tmsize_t lineBytes = TIFFScanlineSize(tif);
      std::vector<uint8_t> line(static_cast<size_t>(lineBytes));
      for (uint32_t p = 0; p < planes; ++p)
        for (uint32_t y = 0; y < s.height; ++y) {
          packRow(y, 0, s.width, p, line.data(), line.size());
          if (TIFFWriteScanline(tif, line.data(), y, static_cast<uint16_t>(p)) < 0)
            return "TIFFWriteScanline failed";
        }
    }
    if (!TIFFWriteDirectory(tif)) return "TIFFWriteDirectory failed";
  }
  return "";
}

namespace {
void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
}  // namespace

std::vector<uint8_t> MakeRawTiff(const RawTiff& t) {
  std::vector<uint8_t> b{'I', 'I', 42, 0};
  const uint32_t pixelBytes = t.writePixels ? t.width * t.height * t.bps / 8 : 0;
  const uint32_t ifd = 8 + pixelBytes;
  Put32(b, ifd);
  for (uint32_t i = 0; i < pixelBytes; ++i) b.push_back(static_cast<uint8_t>(i * 7));
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  };
  const Entry entries[] = {
      {256, 4, t.width},
      {257, 4, t.height},
      {258, 3, t.bps},
      {259, 3, 1},
      {262, 3, 1},
      {273, 4, t.stripOffset ? t.stripOffset : 8},
      {277, 3, 1},
      {278, 4, t.height},
      {279, 4, t.stripByteCount ? t.stripByteCount : t.width * t.height * t.bps / 8},
  };
  Put16(b, static_cast<uint16_t>(std::size(entries)));
  for (const Entry& e : entries) {
    Put16(b, e.tag);
    Put16(b, e.type);
    Put32(b, 1);
    if (e.type == 3) {
      Put16(b, static_cast<uint16_t>(e.value));
      Put16(b, 0);
    } else {
      Put32(b, e.value);
    }
  }
  Put32(b, 0);
  return b;
}

}  // namespace imaging_test
