// scpi: sends commands to an instrument through the instrument I/O library and prints the
// replies to its queries.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "InstrumentIO.h"
#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/ptr.h"
#include "com/safearray.h"

namespace {

constexpr const char* kUsage =
    "usage: scpi [--timeout MS] [--block FILE] ADDRESS COMMAND...\n"
    "\n"
    "Sends each COMMAND to the instrument at ADDRESS, in order, each ended with a line feed.\n"
    "A command with a '?' is a query: its reply is printed on a line of its own.\n"
    "\n"
    "  --timeout MS   time-out of every read and write (default 2000)\n"
    "  --block FILE   read the reply of the last command, a query, as a binary block\n"
    "                 (#<n><length><bytes>) and write its bytes to FILE\n"
    "\n"
    "ADDRESS: TCPIP[board]::host::port::SOCKET, ASRL<n>::INSTR, ASRL/dev/<device>::INSTR,\n"
    "GPIB[board]::primary[::secondary][::INSTR], or an alias. The library is created through\n"
    "the class registry ($COMRT_REGISTRY when set).\n"
    "Exit status: 0 done, 1 an instrument or library error, 2 bad usage.\n";

struct Options {
  long timeoutMs = -1;
  std::string blockFile;
  std::string address;
  std::vector<std::string> commands;
};

int UsageError(const std::string& why) {
  std::fprintf(stderr, "scpi: %s (see scpi --help)\n", why.c_str());
  return 2;
}

// The description of a failed call, from its error information.
std::string Describe(HRESULT hr) {
  com::ErrorDescription e = com::TakeError(hr);
  std::string text = com::Utf16ToUtf8(e.description);
  return text.empty() ? com::FormatResult(hr) : text;
}

int Fail(const std::string& what, HRESULT hr) {
  std::fprintf(stderr, "scpi: %s%s\n", what.c_str(), Describe(hr).c_str());
  return 1;
}

bool ParseOptions(int argc, char** argv, Options* o, int* status) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      *status = 0;
      return false;
    }
    if (a == "--") {
      ++i;
      break;
    }
    if (a.rfind("--", 0) != 0) break;
    if (i + 1 >= argc) {
      *status = UsageError(a + " needs a value");
      return false;
    }
    std::string value = argv[++i];
    if (a == "--timeout") {
      char* end = nullptr;
      errno = 0;
      long ms = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || errno || ms < 0 || ms > 0x7fffffff) {
        *status =
            UsageError("--timeout needs milliseconds from 0 to 2147483647, not '" + value + "'");
        return false;
      }
      o->timeoutMs = ms;
    } else if (a == "--block") {
      o->blockFile = value;
    } else {
      *status = UsageError("unknown option '" + a + "'");
      return false;
    }
  }
  if (i >= argc) {
    *status = UsageError("no address given");
    return false;
  }
  o->address = argv[i++];
  for (; i < argc; ++i) o->commands.push_back(argv[i]);
  if (o->commands.empty()) {
    *status = UsageError("no command given");
    return false;
  }
  if (!o->blockFile.empty() && o->commands.back().find('?') == std::string::npos) {
    *status = UsageError("--block reads the reply of the last command, which must be a query");
    return false;
  }
  return true;
}

int WriteBlock(const std::string& path, const com::Variant& block) {
  SAFEARRAY* sa = block->parray;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(sa, 1, &lower);
  SafeArrayGetUBound(sa, 1, &upper);
  void* data = nullptr;
  SafeArrayAccessData(sa, &data);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), upper - lower + 1);
  out.close();
  SafeArrayUnaccessData(sa);
  if (!out) {
    std::fprintf(stderr, "scpi: cannot write the block to %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}

int Run(const Options& o) {
  com::ComPtr<IInstrumentIO> io;
  HRESULT hr = CoCreateInstance(CLSID_InstrumentIO, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IInstrumentIO, io.PutVoid());
  if (FAILED(hr))
    return Fail("cannot create the instrument I/O library (is it registered with regsvr?): ", hr);
  com::ComPtr<InstrumentSession> session;
  if (FAILED(hr = io->OpenSession(com::BStr(o.address).Get(), session.Put()))) return Fail("", hr);
  if (o.timeoutMs >= 0 && FAILED(hr = session->put_TimeoutMs(static_cast<LONG>(o.timeoutMs))))
    return Fail("", hr);
  for (size_t i = 0; i < o.commands.size(); ++i) {
    const std::string& command = o.commands[i];
    bool block = !o.blockFile.empty() && i + 1 == o.commands.size();
    if (block && FAILED(hr = session->put_TermChar(-1))) return Fail("", hr);
    com::Variant text = com::Variant::FromText(command);
    if (FAILED(hr = session->WriteCommand(*text.Get()))) return Fail("", hr);
    if (command.find('?') == std::string::npos) continue;
    com::Variant reply;
    hr = session->ReadFormatted(reply.Get(), com::BStr(block ? "I1" : "K").Get());
    if (FAILED(hr)) return Fail("", hr);
    if (block) return WriteBlock(o.blockFile, reply);
    std::string line = com::BStr(std::u16string_view(reply->bstrVal ? reply->bstrVal : u"",
                                                     SysStringLen(reply->bstrVal)))
                           .Utf8();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int status = 0;
  if (!ParseOptions(argc, argv, &o, &status)) return status;
  CoInitialize(nullptr);
  status = Run(o);
  CoUninitialize();
  return status;
}
