// tiff2bmp: converts a TIFF file into an 8-bit Windows bitmap file through the converter
// component, created by its ProgID through the class registry.
#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "Rastova.h"
#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/ptr.h"

namespace {

constexpr const char kUsage[] =
    "usage: tiff2bmp IN.tif [OUT.bmp]\n"
    "Converts IN.tif into an 8-bit Windows bitmap file OUT.bmp, or into IN.tif itself when\n"
    "OUT.bmp is left out, with the registered component Rastova.TiffToBitmap.\n"
    "Exit status: 0 converted, 1 failed, 2 bad arguments.\n";

// The thread's error description for a failed call, else the code in words.
std::string Describe(HRESULT hr) {
  com::ErrorDescription e = com::TakeError(hr);
  if (!e.description.empty()) return com::Utf16ToUtf8(e.description);
  return com::FormatResult(hr);
}

// Convert tells only success from failure; say what is the likely cause.
std::string Diagnose(const std::string& in, const std::string& out) {
  struct stat st;
  if (stat(in.c_str(), &st) != 0) return in + ": " + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return in + " is not a file";
  std::string folder = out.find('/') == std::string::npos ? "." : out.substr(0, out.rfind('/') + 1);
  if (folder.empty()) folder = "/";
  if (stat(folder.c_str(), &st) != 0) return "folder " + folder + ": " + std::strerror(errno);
  return "not a TIFF image that can be read, or " + out + " cannot be written";
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tiff2bmp: %s\n", message.c_str());
  return 1;
}

int Run(const std::string& in, const std::string& out) {
  const char16_t progId[] = u"Rastova.TiffToBitmap";
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return Fail("Rastova.TiffToBitmap is not registered: " + Describe(hr));
  com::ComPtr<ITiffToBitmap> converter;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITiffToBitmap,
                        converter.PutVoid());
  if (FAILED(hr)) return Fail("cannot create Rastova.TiffToBitmap: " + Describe(hr));
  com::BStr source(com::FromCodePage(in));
  com::BStr target(com::FromCodePage(out));
  hr = converter->Convert(source.Get(), target.Get());
  if (FAILED(hr)) return Fail("cannot convert " + in + " to " + out + ": " + Diagnose(in, out));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::string args[2];
  int count = 0;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (options && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (options && a == "--") {
      options = false;
      continue;
    }
    if (options && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "tiff2bmp: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    }
    if (count == 2 || a.empty()) {
      std::fprintf(stderr, "tiff2bmp: %s\n%s", a.empty() ? "empty file name" : "too many arguments",
                   kUsage);
      return 2;
    }
    args[count++] = a;
  }
  if (count == 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (count == 1) args[1] = args[0];
  CoInitialize(nullptr);
  int rc = Run(args[0], args[1]);
  CoUninitialize();
  return rc;
}
