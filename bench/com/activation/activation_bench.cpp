// Creating a registered in-process object once its library is loaded: by CLSID and by
// ProgID. Target: under 20 microseconds per creation by CLSID.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "com/activation.h"
#include "com/ptr.h"
#include "support/private_registry.h"
#include "support/run.h"
#include "widget.h"

namespace {

struct Setup {
  testsupport::PrivateRegistry registry;
  Setup() {
    auto r = testsupport::Run(std::string(SCRIVO_BIN_DIR) + "/regsvr " + SCRIVO_LIB_DIR +
                              "/libact_widget_server.so");
    if (r.status != 0) {
      std::fprintf(stderr, "registration failed: %s\n", r.out.c_str());
      std::exit(1);
    }
    CoInitialize(nullptr);
    // Load the library once, as the measurement assumes.
    com::ComPtr<IWidget> w;
    CoCreateInstance(CLSID_Widget1, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget, w.PutVoid());
  }
};

Setup& Once() {
  static Setup s;
  return s;
}

void CreateByClsid(benchmark::State& state) {
  Once();
  for (auto _ : state) {
    com::ComPtr<IWidget> w;
    HRESULT hr =
        CoCreateInstance(CLSID_Widget1, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget, w.PutVoid());
    if (FAILED(hr)) state.SkipWithError("creation failed");
    benchmark::DoNotOptimize(w.Get());
  }
}
BENCHMARK(CreateByClsid);

void CreateByProgId(benchmark::State& state) {
  Once();
  for (auto _ : state) {
    CLSID clsid;
    com::ComPtr<IWidget> w;
    if (FAILED(CLSIDFromProgID(u"ActTest.Widget", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget, w.PutVoid())))
      state.SkipWithError("creation failed");
    benchmark::DoNotOptimize(w.Get());
  }
}
BENCHMARK(CreateByProgId);

}  // namespace

BENCHMARK_MAIN();
