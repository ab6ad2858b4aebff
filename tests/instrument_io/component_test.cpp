// The instrument I/O server as the add-in uses it: created by class identity through a
// private registry, driving analyzer-sim over loopback TCP and its pty.
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "com/typelib.h"
#include "component_fixture.h"
#include "instrument_io/io_error.h"

using namespace iotest;
using com::BStr;
using com::ComPtr;
using com::Variant;
using instrument_io::IO_E_ADDRESS;
using instrument_io::IO_E_BLOCK_TOO_LARGE;
using instrument_io::IO_E_CONNECTION_LOST;
using instrument_io::IO_E_FORMAT;
using instrument_io::IO_E_NO_GPIB;
using instrument_io::IO_E_TIMEOUT;

namespace {

const auto* const kServer = ::testing::AddGlobalTestEnvironment(new RegisteredServer);

// Reads "K" into a fixed array of five strings, as the identity check does.
std::vector<std::string> ReadFields(InstrumentSession* s) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 5);
  sa->fFeatures |= FADF_FIXEDSIZE;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
  v.pparray = &sa;
  HRESULT hr = s->ReadFormatted(&v, BStr("K").Get());
  EXPECT_EQ(hr, S_OK) << Outcome(hr).description;
  std::vector<std::string> fields;
  EXPECT_EQ(sa->rgsabound[0].cElements, 5u);
  for (LONG i = 0; i < 5; ++i) {
    BSTR b = nullptr;
    SafeArrayGetElement(sa, &i, &b);
    fields.push_back(BStr::Attach(b).Utf8());
  }
  sa->fFeatures &= ~FADF_FIXEDSIZE;
  SafeArrayDestroy(sa);
  return fields;
}

struct Link {
  const char* name;
  bool pty;
};

class ComponentLink : public ::testing::TestWithParam<Link> {
 protected:
  std::unique_ptr<SimProcess> Start(std::vector<std::string> args) {
    return SimProcess::OnLink(GetParam().pty, std::move(args));
  }
  std::string AddressOf(const SimProcess& sim) { return sim.Address(GetParam().pty); }
};

}  // namespace

TEST(Component, RegisteredUnderItsIdentities) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"Quorell.InstrumentIO", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_InstrumentIO);
  std::string path;
  EXPECT_EQ(com::registry::GetText("HKCR\\CLSID\\{AFF8D8E1-CE0D-11D3-98BB-00108301CB39}"
                                   "\\InprocServer32",
                                   "", &path),
            ERROR_SUCCESS);
  EXPECT_EQ(path, kLibrary);
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(LIBID_InstrumentIOLib, 1, 0, 0, lib.Put()), S_OK);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_InstrumentSession, info.Put()), S_OK);
}

TEST_P(ComponentLink, TheThreeReadFormattedUses) {
  TempDir dir;
  std::string file = WriteAllBytesFile(dir.path(), 20000);
  auto sim = Start({"--preload", "DATA=" + file, "--idn", "QUORELL,7612A,SN42,2.1,extra,more"});
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  ASSERT_EQ(Open(io.Get(), AddressOf(*sim), &s).hr, S_OK);
  BStr address;
  EXPECT_EQ(s->get_SessionAddress(address.Put()), S_OK);
  EXPECT_EQ(address.Utf8(), AddressOf(*sim));

  // "K" into a string reference: the whole reply, commas included.
  EXPECT_EQ(Query(s.Get(), "*idn?"), "QUORELL,7612A,SN42,2.1,extra,more");
  // "K" into an in/out variant holding a string.
  ASSERT_EQ(Write(s.Get(), "*OPC?"), S_OK);
  Variant text = Variant::FromText(std::string("old"));
  EXPECT_EQ(s->ReadFormatted(text.Get(), BStr("K").Get()), S_OK);
  ASSERT_EQ(text.Type(), VT_BSTR);
  EXPECT_EQ(BStr(std::u16string_view(text->bstrVal)).Utf8(), "1");
  // "K" into five fields: the sixth field and beyond are dropped.
  ASSERT_EQ(Write(s.Get(), "*idn?"), S_OK);
  EXPECT_EQ(ReadFields(s.Get()),
            (std::vector<std::string>{"QUORELL", "7612A", "SN42", "2.1", "extra"}));

  // "I1" into an empty variant: exactly the data bytes, lower bound 0.
  LONG timeout = 0;
  EXPECT_EQ(s->get_TimeoutMs(&timeout), S_OK);
  EXPECT_EQ(timeout, 2000);
  EXPECT_EQ(s->put_TimeoutMs(15000), S_OK);
  EXPECT_EQ(s->put_TermChar(-1), S_OK);
  ASSERT_EQ(Write(s.Get(), "ROPEN 'DATA'"), S_OK);
  std::string all;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Write(s.Get(), "READ?"), S_OK);
    all += ReadBlock(s.Get());
  }
  EXPECT_EQ(all, ReadFile(file));
  ASSERT_EQ(Write(s.Get(), "CLOSE"), S_OK);
  // With no file open the analyzer answers an empty block: an array of no elements.
  ASSERT_EQ(Write(s.Get(), "READ?"), S_OK);
  HRESULT hr = E_FAIL;
  EXPECT_EQ(ReadBlock(s.Get(), &hr), "");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(s->put_TermChar(10), S_OK);
  EXPECT_EQ(Query(s.Get(), "*OPC?"), "1");
}

TEST_P(ComponentLink, MissingFieldsAreEmptyAndATimeOutIsReported) {
  auto sim = Start({"--idn", "ONLY,TWO", "--delay-after", "*idn?@2=1500"});
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  ASSERT_EQ(Open(io.Get(), AddressOf(*sim), &s).hr, S_OK);
  ASSERT_EQ(Write(s.Get(), "*idn?"), S_OK);
  EXPECT_EQ(ReadFields(s.Get()), (std::vector<std::string>{"ONLY", "TWO", "", "", ""}));

  EXPECT_EQ(s->put_TimeoutMs(500), S_OK);
  ASSERT_EQ(Write(s.Get(), "*idn?"), S_OK);
  Variant v;
  auto start = std::chrono::steady_clock::now();
  Failure f = Outcome(s->ReadFormatted(v.Get(), BStr("K").Get()));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_EQ(f.hr, IO_E_TIMEOUT);
  EXPECT_GE(ms, 495);
  EXPECT_LT(ms, 1400);
  EXPECT_NE(f.description.find(AddressOf(*sim)), std::string::npos) << f.description;
  EXPECT_NE(f.description.find("500 ms"), std::string::npos) << f.description;
  EXPECT_EQ(v.Type(), VT_EMPTY);
}

INSTANTIATE_TEST_SUITE_P(Links, ComponentLink,
                         ::testing::Values(Link{"Tcp", false}, Link{"Pty", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Component, BadFormatsAndTargetsFailBeforeReading) {
  SimProcess sim({"--port", "0"});
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  ASSERT_EQ(Open(io.Get(), sim.TcpAddress(), &s).hr, S_OK);
  ASSERT_EQ(Write(s.Get(), "*idn?"), S_OK);
  Variant v;
  Failure f = Outcome(s->ReadFormatted(v.Get(), BStr("Q9").Get()));
  EXPECT_EQ(f.hr, IO_E_FORMAT);
  EXPECT_NE(f.description.find("\"Q9\""), std::string::npos) << f.description;
  Variant number = Variant::FromI4(5);
  f = Outcome(s->ReadFormatted(number.Get(), BStr("K").Get()));
  EXPECT_EQ(f.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Outcome(s->put_TermChar(300)).hr, instrument_io::IO_E_ARGUMENT);
  EXPECT_EQ(Outcome(s->put_TimeoutMs(-1)).hr, instrument_io::IO_E_ARGUMENT);
  // The reply is still there for a proper read.
  EXPECT_EQ(ReadText(s.Get()), "QUORELL,7613B,SIM0001,1.0");
}

TEST(Component, AddressesAliasesAndGpib) {
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  Failure f = Open(io.Get(), "GPIB::17::99", &s);
  EXPECT_EQ(f.hr, IO_E_ADDRESS);
  EXPECT_NE(f.description.find("GPIB[board]::primary[::secondary][::INSTR]"), std::string::npos)
      << f.description;
  EXPECT_FALSE(s);

  SimProcess sim({"--port", "0"});
  ASSERT_EQ(com::registry::SetText("HKCU\\Software\\Quorell\\InstrumentIO\\Aliases", "Bench7612",
                                   sim.TcpAddress()),
            ERROR_SUCCESS);
  ASSERT_EQ(Open(io.Get(), "bench7612", &s).hr, S_OK);
  BStr address;
  EXPECT_EQ(s->get_SessionAddress(address.Put()), S_OK);
  EXPECT_EQ(address.Utf8(), "bench7612");
  EXPECT_EQ(Query(s.Get(), "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  f = Open(io.Get(), "NoSuchAlias", &s);
  EXPECT_EQ(f.hr, IO_E_ADDRESS);
  EXPECT_NE(f.description.find("no"), std::string::npos);

  if (void* lib = dlopen("libgpib.so.0", RTLD_NOW)) {
    dlclose(lib);
    GTEST_SKIP() << "linux-gpib is installed here";
  }
  f = Open(io.Get(), "GPIB::17", &s);
  EXPECT_EQ(f.hr, IO_E_NO_GPIB);
  EXPECT_NE(f.description.find("GPIB needs linux-gpib"), std::string::npos) << f.description;
}

TEST(Component, TwoSessionsOnAOneClientAnalyzer) {
  SimProcess sim({"--port", "0", "--one-client"});
  auto io = CreateIo();
  ComPtr<InstrumentSession> shared, request;
  ASSERT_EQ(Open(io.Get(), sim.TcpAddress(), &shared).hr, S_OK);
  ASSERT_EQ(Open(CreateIo().Get(), sim.TcpAddress(), &request).hr, S_OK);
  EXPECT_EQ(Query(request.Get(), "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  EXPECT_EQ(shared->put_TimeoutMs(500), S_OK);
  LONG ms = 0;
  request->get_TimeoutMs(&ms);
  EXPECT_EQ(ms, 2000);
  EXPECT_EQ(Query(shared.Get(), "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  request = nullptr;
  EXPECT_EQ(Query(shared.Get(), "*OPC?"), "1");
}

TEST(Component, DroppedConnectionIsReportedUntilReopened) {
  TempDir dir;
  std::string file = WriteAllBytesFile(dir.path(), 20000);
  SimProcess sim({"--port", "0", "--preload", "DATA=" + file, "--drop-after-bytes", "3000"});
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  ASSERT_EQ(Open(io.Get(), sim.TcpAddress(), &s).hr, S_OK);
  s->put_TermChar(-1);
  ASSERT_EQ(Write(s.Get(), "ROPEN 'DATA'"), S_OK);
  ASSERT_EQ(Write(s.Get(), "READ?"), S_OK);
  HRESULT hr = S_OK;
  ReadBlock(s.Get(), &hr);
  Failure f = Outcome(hr);
  EXPECT_EQ(f.hr, IO_E_CONNECTION_LOST);
  EXPECT_NE(f.description.find("block"), std::string::npos) << f.description;
  f = Outcome(Write(s.Get(), "*idn?"));
  EXPECT_EQ(f.hr, IO_E_CONNECTION_LOST);
  EXPECT_NE(f.description.find("lost earlier"), std::string::npos) << f.description;
  ComPtr<InstrumentSession> again;
  ASSERT_EQ(Open(io.Get(), sim.TcpAddress(), &again).hr, S_OK);
  EXPECT_EQ(Query(again.Get(), "*idn?"), "QUORELL,7613B,SIM0001,1.0");
}

TEST(Component, OversizedBlockHeaderFromATinyServer) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread server([listener] {
    int c = accept(listener, nullptr, nullptr);
    char buf[64];
    if (read(c, buf, sizeof buf) > 0) {
      const char reply[] = "#9999999999\x01\x02";
      (void)!write(c, reply, sizeof reply - 1);
    }
    char rest;
    (void)!read(c, &rest, 1);  // until the client closes
    close(c);
  });
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  ASSERT_EQ(
      Open(io.Get(), "TCPIP::127.0.0.1::" + std::to_string(ntohs(a.sin_port)) + "::SOCKET", &s).hr,
      S_OK);
  ASSERT_EQ(Write(s.Get(), "READ?"), S_OK);
  HRESULT hr = S_OK;
  auto start = std::chrono::steady_clock::now();
  ReadBlock(s.Get(), &hr);
  Failure f = Outcome(hr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(f.hr, IO_E_BLOCK_TOO_LARGE);
  EXPECT_NE(f.description.find("999999999 bytes"), std::string::npos) << f.description;
  EXPECT_NE(f.description.find("limit of 268435456 bytes"), std::string::npos) << f.description;
  s = nullptr;
  server.join();
  close(listener);
}

TEST(Component, DispatchReachesTheSameSession) {
  SimProcess sim({"--port", "0"});
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  ASSERT_EQ(Open(io.Get(), sim.TcpAddress(), &s).hr, S_OK);
  IDispatch* d = s.Get();
  auto id = [&](const char16_t* name) {
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(d->GetIDsOfNames(GUID_NULL, names, 1, 0, &dispid), S_OK);
    return dispid;
  };
  // TimeoutMs = 750
  Variant value = Variant::FromI4(750);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS putArgs{value.Get(), &put, 1, 1};
  EXPECT_EQ(d->Invoke(id(u"TimeoutMs"), GUID_NULL, 0, DISPATCH_PROPERTYPUT, &putArgs, nullptr,
                      nullptr, nullptr),
            S_OK);
  LONG ms = 0;
  s->get_TimeoutMs(&ms);
  EXPECT_EQ(ms, 750);
  // WriteCommand "*idn?", then ReadFormatted reply, "K" with the reply by reference.
  Variant command = Variant::FromText(std::string("*idn?"));
  DISPPARAMS writeArgs{command.Get(), nullptr, 1, 0};
  EXPECT_EQ(d->Invoke(id(u"WriteCommand"), GUID_NULL, 0, DISPATCH_METHOD, &writeArgs, nullptr,
                      nullptr, nullptr),
            S_OK);
  Variant reply;
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(u"K");
  args[1].vt = VT_BYREF | VT_VARIANT;
  args[1].pvarVal = reply.Get();
  DISPPARAMS readArgs{args, nullptr, 2, 0};
  EXPECT_EQ(d->Invoke(id(u"ReadFormatted"), GUID_NULL, 0, DISPATCH_METHOD, &readArgs, nullptr,
                      nullptr, nullptr),
            S_OK);
  VariantClear(&args[0]);
  ASSERT_EQ(reply.Type(), VT_BSTR);
  EXPECT_EQ(BStr(std::u16string_view(reply->bstrVal)).Utf8(), "QUORELL,7613B,SIM0001,1.0");
  // A failure arrives as an exception with the description.
  Variant empty;
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(u"K");
  args[1].pvarVal = empty.Get();
  EXCEPINFO info{};
  s->put_TimeoutMs(100);
  EXPECT_EQ(d->Invoke(id(u"ReadFormatted"), GUID_NULL, 0, DISPATCH_METHOD, &readArgs, nullptr,
                      &info, nullptr),
            DISP_E_EXCEPTION);
  VariantClear(&args[0]);
  EXPECT_EQ(info.scode, IO_E_TIMEOUT);
  EXPECT_NE(BStr::Attach(info.bstrDescription).Utf8().find("100 ms"), std::string::npos);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
}

TEST(Component, SerialFrameSettingsComeFromTheRegistry) {
  SimProcess sim({"--pty"});
  const std::string key = "HKCU\\Software\\Quorell\\InstrumentIO\\Serial";
  ASSERT_EQ(com::registry::SetNumber(key, "BaudRate", 12345), ERROR_SUCCESS);
  auto io = CreateIo();
  ComPtr<InstrumentSession> s;
  Failure f = Open(io.Get(), sim.PtyAddress(), &s);
  EXPECT_EQ(f.hr, instrument_io::IO_E_OPEN);
  EXPECT_NE(f.description.find("12345 baud"), std::string::npos) << f.description;
  ASSERT_EQ(com::registry::SetNumber(key, "BaudRate", 19200), ERROR_SUCCESS);
  ASSERT_EQ(com::registry::SetNumber(key, "Parity", 2), ERROR_SUCCESS);
  ASSERT_EQ(Open(io.Get(), sim.PtyAddress(), &s).hr, S_OK);
  EXPECT_EQ(Query(s.Get(), "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  com::registry::DeleteTree(key);
}

// By dispatch, OpenSession hands out the session's own dual interface as VT_DISPATCH; the
// type information names InstrumentSession as its result.
TEST(Component, OpenSessionByDispatchGivesTheSession) {
  SimProcess sim({"--port", "0"});
  auto io = CreateIo();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(io->GetTypeInfo(0, 0, info.Put()), S_OK);
  FUNCDESC* fd = nullptr;
  ASSERT_EQ(info->GetFuncDesc(0, &fd), S_OK);
  const TYPEDESC& result = fd->lprgelemdescParam[1].tdesc;
  ASSERT_EQ(result.vt, VT_PTR);
  ASSERT_EQ(result.lptdesc->vt, VT_PTR);
  ASSERT_EQ(result.lptdesc->lptdesc->vt, VT_USERDEFINED);
  ComPtr<ITypeInfo> session;
  ASSERT_EQ(info->GetRefTypeInfo(result.lptdesc->lptdesc->hreftype, session.Put()), S_OK);
  info->ReleaseFuncDesc(fd);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(session->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_InstrumentSession);
  session->ReleaseTypeAttr(attr);

  Variant address = Variant::FromText(sim.TcpAddress());
  DISPPARAMS args{address.Get(), nullptr, 1, 0};
  Variant opened;
  ASSERT_EQ(io->Invoke(1, GUID_NULL, 0, DISPATCH_METHOD, &args, opened.Put(), nullptr, nullptr),
            S_OK);
  ASSERT_EQ(opened.Type(), VT_DISPATCH);
  ComPtr<InstrumentSession> s;
  ASSERT_EQ(opened->pdispVal->QueryInterface(IID_InstrumentSession, s.PutVoid()), S_OK);
  EXPECT_EQ(static_cast<IDispatch*>(s.Get()), opened->pdispVal);
  EXPECT_EQ(Query(s.Get(), "*idn?").empty(), false);
}
