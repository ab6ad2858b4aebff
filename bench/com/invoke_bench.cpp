// Invoke by DISPID through the type information against a direct method-table call, for a
// method with two text arguments. The overhead per call is reported as a counter.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>

#include "bench.h"  // generated from bench.idl
#include "com/dispatch.h"
#include "com/ptr.h"

extern const unsigned char BenchTypeLib[];
extern const std::size_t BenchTypeLib_size;

namespace {

com::TypeInfoHolder gBenchTypeInfo(IID_IBench, com::TypeInfoHolder::FromMemory(BenchTypeLib,
                                                                               BenchTypeLib_size));

class Bench final : public com::DispatchImpl<IBench, &gBenchTypeInfo> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IBench) {
      *ppv = static_cast<IBench*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE Join(BSTR a, BSTR b) override {
    total_ += SysStringLen(a) + SysStringLen(b);
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  size_t total_ = 0;
};

struct Fixture {
  Fixture() {
    IBench* b = new Bench();
    benchmark::DoNotOptimize(b);  // the calls below must not see the concrete class
    bench = b;
    a = com::BStr("C:\\temp\\screen.tif");
    c = com::BStr("C:\\temp\\screen.bmp");
    // Arguments last first, as a dispatch client passes them.
    args[1].vt = VT_BSTR;
    args[1].bstrVal = a.Get();
    args[0].vt = VT_BSTR;
    args[0].bstrVal = c.Get();
    params = DISPPARAMS{args, nullptr, 2, 0};
    ITypeInfo* warm = nullptr;
    bench->GetTypeInfo(0, 0, &warm);  // the type information loads once, before timing
    warm->Release();
  }
  ~Fixture() { bench->Release(); }
  HRESULT Direct() { return bench->Join(a.Get(), c.Get()); }
  HRESULT Dispatch() {
    return bench->Invoke(1, GUID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }
  IBench* bench;
  com::BStr a, c;
  VARIANT args[2]{};
  DISPPARAMS params{};
};

void BM_DirectCall(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) benchmark::DoNotOptimize(f.Direct());
}
BENCHMARK(BM_DirectCall);

void BM_InvokeByDispid(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) benchmark::DoNotOptimize(f.Dispatch());
}
BENCHMARK(BM_InvokeByDispid);

// Both in one go, so the figure compares like with like: ns per call and the overhead.
void BM_InvokeOverhead(benchmark::State& state) {
  Fixture f;
  using Clock = std::chrono::steady_clock;
  constexpr int kCalls = 1000;
  double direct = 0, dispatch = 0;
  int64_t rounds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kCalls; ++i) benchmark::DoNotOptimize(f.Direct());
    auto t1 = Clock::now();
    for (int i = 0; i < kCalls; ++i) benchmark::DoNotOptimize(f.Dispatch());
    auto t2 = Clock::now();
    direct += std::chrono::duration<double, std::nano>(t1 - t0).count();
    dispatch += std::chrono::duration<double, std::nano>(t2 - t1).count();
    ++rounds;
  }
  double calls = static_cast<double>(rounds) * kCalls;
  state.counters["direct_ns"] = direct / calls;
  state.counters["invoke_ns"] = dispatch / calls;
  state.counters["overhead_ns"] = (dispatch - direct) / calls;
  state.counters["target_ns"] = 250;
}
BENCHMARK(BM_InvokeOverhead);

}  // namespace

BENCHMARK_MAIN();
