// The registered instrument I/O server in a private registry, and small helpers around it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "InstrumentIO.h"
#include "all_bytes_file.h"
#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/ptr.h"
#include "com/registry.h"
#include "com/safearray.h"
#include "support/files.h"
#include "support/private_registry.h"
#include "support/run.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace iotest {

using testsupport::ReadFile;
using testsupport::SimProcess;
using testsupport::TempDir;

inline const std::string kLibrary = SCRIVO_LIB_DIR "/libInstrumentIO.so";

// One private registry for the whole test program, with the server registered by regsvr.
class RegisteredServer : public ::testing::Environment {
 public:
  void SetUp() override {
    registry_.emplace();
    auto r = testsupport::Run(SCRIVO_BIN_DIR "/regsvr", {kLibrary}, {.merge_errors = true});
    ASSERT_EQ(r.status, 0) << r.out;
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    registry_.reset();
  }

 private:
  std::optional<testsupport::PrivateRegistry> registry_;
};

struct Failure {
  HRESULT hr = S_OK;
  std::string description;
};

// The result of a call with its error information taken.
inline Failure Outcome(HRESULT hr) {
  Failure f;
  f.hr = hr;
  if (FAILED(hr)) f.description = com::Utf16ToUtf8(com::TakeError(hr).description);
  return f;
}

inline com::ComPtr<IInstrumentIO> CreateIo() {
  com::ComPtr<IInstrumentIO> io;
  HRESULT hr = CoCreateInstance(CLSID_InstrumentIO, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IInstrumentIO, io.PutVoid());
  EXPECT_EQ(hr, S_OK) << com::Utf16ToUtf8(com::TakeError(hr).description);
  return io;
}

inline Failure Open(IInstrumentIO* io, const std::string& address,
                    com::ComPtr<InstrumentSession>* session) {
  Failure f = Outcome(io->OpenSession(com::BStr(address).Get(), session->Put()));
  if (f.hr == S_OK) {
    EXPECT_TRUE(*session);
  }
  return f;
}

inline HRESULT Write(InstrumentSession* s, const std::string& command) {
  com::Variant v = com::Variant::FromText(command);
  return s->WriteCommand(*v.Get());
}

inline std::string ReadText(InstrumentSession* s) {
  com::BStr text;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = text.Put();
  HRESULT hr = s->ReadFormatted(&ref, com::BStr("K").Get());
  EXPECT_EQ(hr, S_OK) << Outcome(hr).description;
  return text.Utf8();
}

inline std::string Query(InstrumentSession* s, const std::string& command) {
  EXPECT_EQ(Write(s, command), S_OK);
  return ReadText(s);
}

// The bytes of an "I1" read, with the array's bounds checked.
inline std::string ReadBlock(InstrumentSession* s, HRESULT* result = nullptr) {
  com::Variant v;
  HRESULT hr = s->ReadFormatted(v.Get(), com::BStr("I1").Get());
  if (result) *result = hr;
  if (hr != S_OK) return {};
  EXPECT_EQ(v.Type(), VT_ARRAY | VT_UI1);
  SAFEARRAY* sa = v->parray;
  LONG lower = -1, upper = -2;
  EXPECT_EQ(SafeArrayGetDim(sa), 1u);
  SafeArrayGetLBound(sa, 1, &lower);
  SafeArrayGetUBound(sa, 1, &upper);
  EXPECT_EQ(lower, 0);
  void* data = nullptr;
  SafeArrayAccessData(sa, &data);
  std::string bytes(static_cast<const char*>(data), static_cast<size_t>(upper + 1));
  SafeArrayUnaccessData(sa);
  return bytes;
}

}  // namespace iotest
