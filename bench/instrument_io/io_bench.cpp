// Throughput and latency of the instrument I/O library against analyzer-sim, each beside a
// plain loopback baseline measured in the same run:
//   a 16 MiB "READ?" block through InstrumentSession vs the same bytes over a bare socket;
//   the "*idn?" round trip through InstrumentSession vs the same query on a bare socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "InstrumentIO.h"
#include "all_bytes_file.h"
#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/ptr.h"
#include "com/safearray.h"
#include "support/files.h"
#include "support/private_registry.h"
#include "support/run.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBlock = size_t{16} << 20;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

[[noreturn]] void Die(const char* what, HRESULT hr) {
  std::fprintf(stderr, "io_bench: %s: %s\n", what,
               com::Utf16ToUtf8(com::TakeError(hr).description).c_str());
  std::exit(1);
}

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) Die(what, hr);
}

void Write(InstrumentSession* s, const char* command) {
  com::Variant v = com::Variant::FromText(std::string_view(command));
  Check(s->WriteCommand(*v.Get()), command);
}

// Seconds to read one 16 MiB block over a bare loopback TCP connection.
double PlainSocketCopy(const std::vector<char>& bytes) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listener, 1);
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  int client = socket(AF_INET, SOCK_STREAM, 0);
  connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int server = accept(listener, nullptr, nullptr);
  std::vector<char> in(bytes.size());
  auto start = Clock::now();
  std::thread sender([&] {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(server, bytes.data() + done, bytes.size() - done, 0);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  });
  size_t got = 0;
  while (got < in.size()) {
    ssize_t n = recv(client, in.data() + got, in.size() - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  double s = Seconds(Clock::now() - start);
  sender.join();
  close(server);
  close(client);
  close(listener);
  return s;
}

// Seconds for one "*idn?" and its reply on a bare socket to the simulator.
double RawIdn(int fd) {
  auto start = Clock::now();
  send(fd, "*idn?\n", 6, 0);
  char buf[256];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0 || buf[n - 1] == '\n') break;
  }
  return Seconds(Clock::now() - start);
}

}  // namespace

int main() {
  testsupport::TempDir dir;
  testsupport::PrivateRegistry registry;
  auto reg = testsupport::Run(SCRIVO_BIN_DIR "/regsvr", {SCRIVO_LIB_DIR "/libInstrumentIO.so"});
  if (reg.status != 0) {
    std::fprintf(stderr, "io_bench: regsvr failed: %s\n", reg.err.c_str());
    return 1;
  }
  std::string file = iotest::WriteAllBytesFile(dir.path(), kBlock);
  testsupport::SimProcess sim(
      {"--port", "0", "--preload", "DATA=" + file, "--block-size", std::to_string(kBlock)});

  CoInitialize(nullptr);
  {
    com::ComPtr<IInstrumentIO> io;
    Check(CoCreateInstance(CLSID_InstrumentIO, nullptr, CLSCTX_INPROC_SERVER, IID_IInstrumentIO,
                           io.PutVoid()),
          "CoCreateInstance");
    com::ComPtr<InstrumentSession> s;
    Check(io->OpenSession(com::BStr(sim.TcpAddress()).Get(), s.Put()), "OpenSession");
    Check(s->put_TimeoutMs(15000), "TimeoutMs");
    Check(s->put_TermChar(-1), "TermChar");

    std::vector<char> bytes(kBlock);
    std::string content = testsupport::ReadFile(file);
    std::copy(content.begin(), content.end(), bytes.begin());
    std::vector<double> library, plain;
    for (int round = 0; round < 7; ++round) {
      Write(s.Get(), "ROPEN 'DATA'");
      auto start = Clock::now();
      Write(s.Get(), "READ?");
      com::Variant block;
      Check(s->ReadFormatted(block.Get(), com::BStr("I1").Get()), "ReadFormatted I1");
      library.push_back(Seconds(Clock::now() - start));
      if (block->parray->rgsabound[0].cElements != kBlock) {
        std::fprintf(stderr, "io_bench: short block\n");
        return 1;
      }
      Write(s.Get(), "CLOSE");
      plain.push_back(PlainSocketCopy(bytes));
    }
    double mib = static_cast<double>(kBlock) / (1 << 20);
    double libRate = mib / Median(library), plainRate = mib / Median(plain);
    std::printf(
        "16 MiB READ? block: library %.0f MiB/s, plain loopback socket %.0f MiB/s, "
        "ratio %.2f (target at least 0.50)\n",
        libRate, plainRate, libRate / plainRate);

    // The same 16 MiB in the capture's blocks of 16384 bytes, one "READ?" each.
    testsupport::SimProcess smallSim({"--port", "0", "--preload", "DATA=" + file});
    com::ComPtr<InstrumentSession> s3;
    Check(io->OpenSession(com::BStr(smallSim.TcpAddress()).Get(), s3.Put()), "OpenSession");
    Check(s3->put_TermChar(-1), "TermChar");
    std::vector<double> small;
    for (int round = 0; round < 3; ++round) {
      Write(s3.Get(), "ROPEN 'DATA'");
      auto start = Clock::now();
      for (size_t done = 0; done < kBlock;) {
        Write(s3.Get(), "READ?");
        com::Variant block;
        Check(s3->ReadFormatted(block.Get(), com::BStr("I1").Get()), "ReadFormatted I1");
        done += block->parray->rgsabound[0].cElements;
      }
      small.push_back(Seconds(Clock::now() - start));
      Write(s3.Get(), "CLOSE");
    }
    std::printf(
        "16 MiB as 1024 READ? blocks of 16384 bytes: library %.0f MiB/s, ratio %.2f to "
        "the plain socket\n",
        mib / Median(small), (mib / Median(small)) / plainRate);

    Check(s->put_TermChar(10), "TermChar");
    testsupport::SimProcess idnSim({"--port", "0"});
    com::ComPtr<InstrumentSession> s2;
    Check(io->OpenSession(com::BStr(idnSim.TcpAddress()).Get(), s2.Put()), "OpenSession");
    int raw = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(std::stoi(idnSim.TcpAddress().substr(18))));
    int one = 1;
    setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(raw, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      std::fprintf(stderr, "io_bench: cannot connect a second client\n");
      return 1;
    }
    std::vector<double> viaLibrary, direct;
    for (int i = 0; i < 2000; ++i) {
      auto start = Clock::now();
      Write(s2.Get(), "*idn?");
      com::BStr text;
      VARIANT ref;
      VariantInit(&ref);
      ref.vt = VT_BYREF | VT_BSTR;
      ref.pbstrVal = text.Put();
      Check(s2->ReadFormatted(&ref, com::BStr("K").Get()), "ReadFormatted K");
      viaLibrary.push_back(Seconds(Clock::now() - start));
      direct.push_back(RawIdn(raw));
    }
    close(raw);
    double us = 1e6 * Median(viaLibrary), rawUs = 1e6 * Median(direct);
    std::printf(
        "*idn? round trip: library %.1f us, bare socket to the simulator %.1f us, "
        "library's own share %.1f us (target under 100 us)\n",
        us, rawUs, us - rawUs);
  }
  CoUninitialize();
  return 0;
}
