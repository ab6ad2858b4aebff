// A stand-in for the imaging library, with its soname and calls, that records every call
// and answers what the test asks, so that a test copy of the converter can be watched.
#include <cstdio>
#include <string>

#include "imaging/imaging.h"

namespace {
std::string calls;
int loadResult = IMG_SUCCESS;
int saveResult = IMG_SUCCESS;
const ImgBitmap* loaded = nullptr;

std::string Name(const char* fileName) {
  return fileName ? "'" + std::string(fileName) + "'" : std::string("null");
}

std::string Handle(const ImgBitmap* bitmap) {
  if (!bitmap) return "null";
  return bitmap == loaded ? "loaded" : "other";
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) const char* FakeImagingCalls() { return calls.c_str(); }

__attribute__((visibility("default"))) void FakeImagingReset(int load, int save) {
  calls.clear();
  loadResult = load;
  saveResult = save;
  loaded = nullptr;
}

int ImgLoadBitmap(const char* fileName, ImgBitmap* bitmap, int bitsPerPixel, int colorOrder,
                  int loadOptions) {
  loaded = bitmap;
  char line[64];
  std::snprintf(line, sizeof line, " %d %d %d;", bitsPerPixel, colorOrder, loadOptions);
  calls += "load " + Name(fileName) + line;
  return loadResult;
}

int ImgSaveBitmap(const char* fileName, ImgBitmap* bitmap, int format, int bitsPerPixel,
                  int qualityFactor, int saveOptions) {
  char line[64];
  std::snprintf(line, sizeof line, " %d %d %d %d;", format, bitsPerPixel, qualityFactor,
                saveOptions);
  calls += "save " + Name(fileName) + " " + Handle(bitmap) + line;
  return saveResult;
}

int ImgFreeBitmap(ImgBitmap* bitmap) {
  calls += "free " + Handle(bitmap) + ";";
  return IMG_SUCCESS;
}

const char* ImgErrorText(int) { return "fake"; }
const char* ImgLastErrorDetail(void) { return ""; }
uint64_t ImgSetMaxPixels(uint64_t) { return 0; }
uint64_t ImgGetMaxPixels(void) { return 0; }
}
