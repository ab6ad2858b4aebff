// GPIB through linux-gpib, loaded when first needed so that the library works without it.
#include <dlfcn.h>

#include <mutex>

#include "instrument_io/address.h"
#include "instrument_io/io_error.h"
#include "instrument_io/transport.h"

namespace instrument_io {
namespace {

// Status bits and error numbers of linux-gpib.
constexpr int kErr = 0x8000;
constexpr int kTimo = 0x4000;
constexpr int kEnd = 0x2000;
constexpr int kEosRead = 0x0400;
constexpr int kErrAbo = 6;  // I/O aborted, which a time-out reports
constexpr const char* kLibrary = "libgpib.so.0";

struct GpibApi {
  int (*ibdev)(int, int, int, int, int, int) = nullptr;
  int (*ibwrt)(int, const void*, long) = nullptr;
  int (*ibrd)(int, void*, long) = nullptr;
  int (*ibtmo)(int, int) = nullptr;
  int (*ibonl)(int, int) = nullptr;
  int (*ibeos)(int, int) = nullptr;
  int (*threadIbsta)() = nullptr;
  int (*threadIberr)() = nullptr;
  long (*threadIbcntl)() = nullptr;
  int* ibsta = nullptr;
  int* iberr = nullptr;
  long* ibcntl = nullptr;
  std::string failure;  // why the library is not usable

  int Status() const { return threadIbsta ? threadIbsta() : *ibsta; }
  int Error() const { return threadIberr ? threadIberr() : *iberr; }
  long Count() const { return threadIbcntl ? threadIbcntl() : *ibcntl; }
};

const GpibApi& Api() {
  static GpibApi api;
  static std::once_flag once;
  std::call_once(once, [] {
    void* lib = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      const char* e = dlerror();
      api.failure = std::string("GPIB needs linux-gpib, whose library ") + kLibrary +
                    " cannot be loaded" + (e ? std::string(" (") + e + ")" : std::string());
      return;
    }
    auto sym = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
    };
    sym(api.ibdev, "ibdev");
    sym(api.ibwrt, "ibwrt");
    sym(api.ibrd, "ibrd");
    sym(api.ibtmo, "ibtmo");
    sym(api.ibonl, "ibonl");
    sym(api.ibeos, "ibeos");
    sym(api.threadIbsta, "ThreadIbsta");
    sym(api.threadIberr, "ThreadIberr");
    sym(api.threadIbcntl, "ThreadIbcntl");
    sym(api.ibsta, "ibsta");
    sym(api.iberr, "iberr");
    sym(api.ibcntl, "ibcntl");
    if (!api.ibdev || !api.ibwrt || !api.ibrd || !api.ibtmo || !api.ibonl ||
        !(api.threadIbsta || api.ibsta) || !(api.threadIberr || api.iberr) ||
        !(api.threadIbcntl || api.ibcntl))
      api.failure = std::string("GPIB needs linux-gpib, but ") + kLibrary +
                    " lacks the calls ibdev, ibwrt, ibrd, ibtmo, ibonl and ibsta";
  });
  return api;
}

// The smallest of linux-gpib's time-out steps (10 us .. 1000 s) that covers `ms`.
int TimeoutCode(int ms) {
  static constexpr double kSteps[] = {0.01, 0.03, 0.1,  0.3,   1,     3,      10,     30,     100,
                                      300,  1000, 3000, 10000, 30000, 100000, 300000, 1000000};
  for (int i = 0; i < 17; ++i)
    if (ms <= kSteps[i]) return i + 1;
  return 17;
}

class GpibTransport : public Transport {
 public:
  GpibTransport(const GpibApi& api, int ud) : api_(api), ud_(ud) {}
  ~GpibTransport() override { api_.ibonl(ud_, 0); }

  bool MarksEnd() const override { return true; }

  IoResult Read(uint8_t* buffer, size_t size, Deadline deadline) override {
    int ms = RemainingMs(deadline);
    if (ms <= 0) return {IoStatus::TimedOut, 0, false, {}};
    api_.ibtmo(ud_, TimeoutCode(ms));
    int sta = api_.ibrd(ud_, buffer, static_cast<long>(size));
    size_t n = static_cast<size_t>(api_.Count() > 0 ? api_.Count() : 0);
    if (sta & kErr) {
      if ((sta & kTimo) || api_.Error() == kErrAbo)
        return {n > 0 ? IoStatus::Ok : IoStatus::TimedOut, n, false, {}};
      return {IoStatus::Failed, n, false, "GPIB read error " + std::to_string(api_.Error())};
    }
    return {IoStatus::Ok, n, (sta & kEnd) != 0, {}};
  }

  IoResult Write(const uint8_t* data, size_t size, Deadline deadline) override {
    int ms = RemainingMs(deadline);
    api_.ibtmo(ud_, TimeoutCode(ms > 0 ? ms : 1));
    int sta = api_.ibwrt(ud_, data, static_cast<long>(size));
    size_t n = static_cast<size_t>(api_.Count() > 0 ? api_.Count() : 0);
    if (sta & kErr) {
      if ((sta & kTimo) || api_.Error() == kErrAbo) return {IoStatus::TimedOut, n, false, {}};
      return {IoStatus::Failed, n, false, "GPIB write error " + std::to_string(api_.Error())};
    }
    return {IoStatus::Ok, size, false, {}};
  }

  void SetTermChar(int termChar) override {
    if (api_.ibeos) api_.ibeos(ud_, termChar >= 0 ? (kEosRead | (termChar & 0xff)) : 0);
  }

 private:
  const GpibApi& api_;
  int ud_;
};

}  // namespace

std::unique_ptr<Transport> OpenGpib(const Address& address) {
  const GpibApi& api = Api();
  if (!api.failure.empty()) throw IoError(IO_E_NO_GPIB, api.failure);
  // Secondary addresses are passed as 0x60 + n; END is sent with the last byte.
  int sad = address.secondary >= 0 ? 0x60 + address.secondary : 0;
  int ud = api.ibdev(address.board, address.primary, sad, TimeoutCode(2000), 1, 0);
  if (ud < 0)
    throw IoError(IO_E_OPEN, "linux-gpib cannot open board " + std::to_string(address.board) +
                                 " device " + std::to_string(address.primary) + " (error " +
                                 std::to_string(api.Error()) + ")");
  return std::make_unique<GpibTransport>(api, ud);
}

}  // namespace instrument_io
