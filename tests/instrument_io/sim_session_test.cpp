// Sessions of the transport core against analyzer-sim over loopback TCP and its pty.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "all_bytes_file.h"
#include "error_of.h"
#include "instrument_io/io_error.h"
#include "instrument_io/session_core.h"
#include "support/files.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

using namespace instrument_io;
using namespace std::chrono_literals;
using iotest::ErrorOf;
using testsupport::SimProcess;

namespace {

std::string Query(SessionCore& s, const std::string& command) {
  s.Write(command);
  return s.ReadText();
}

std::string Block(SessionCore& s) {
  s.Write("READ?");
  auto bytes = s.ReadBlock();
  return std::string(bytes.begin(), bytes.end());
}

long MsSince(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// The simulator on one of its two links, as the parameter of a test.
struct Link {
  const char* name;
  bool pty;
};

class SimLink : public ::testing::TestWithParam<Link> {
 protected:
  std::unique_ptr<SimProcess> Start(std::vector<std::string> args) {
    return SimProcess::OnLink(GetParam().pty, std::move(args));
  }
  std::string AddressOf(const SimProcess& sim) { return sim.Address(GetParam().pty); }
};

}  // namespace

TEST_P(SimLink, QueriesAndABlockOfEveryByteValue) {
  testsupport::TempDir dir;
  std::string file = iotest::WriteAllBytesFile(dir.path(), 40000);
  auto sim = Start({"--preload", "DATA=" + file, "--block-size", "16384"});
  auto s = OpenSessionCore(AddressOf(*sim), {});
  EXPECT_EQ(s->Address(), AddressOf(*sim));
  EXPECT_EQ(Query(*s, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  s->SetTermChar(-1);
  s->Write("ROPEN 'DATA'");
  std::string all = Block(*s);
  EXPECT_EQ(all.size(), 16384u);
  all += Block(*s);
  std::string last = Block(*s);
  EXPECT_EQ(last.size(), 40000u - 2 * 16384u);
  all += last;
  EXPECT_EQ(all, testsupport::ReadFile(file));
  EXPECT_EQ(Query(*s, "*OPC?"), "1");
}

TEST_P(SimLink, TrickledRepliesAreAssembled) {
  testsupport::TempDir dir;
  std::string file = iotest::WriteAllBytesFile(dir.path(), 300);
  auto sim = Start({"--preload", "DATA=" + file, "--trickle", "--trickle-us", "300"});
  auto s = OpenSessionCore(AddressOf(*sim), {});
  EXPECT_EQ(Query(*s, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  s->Write("ROPEN 'DATA'");
  EXPECT_EQ(Block(*s), testsupport::ReadFile(file));
}

TEST_P(SimLink, TimeOutThenTheNextOperationWorks) {
  auto sim = Start({"--delay-after", "*idn?@1=1500"});
  auto s = OpenSessionCore(AddressOf(*sim), {});
  s->SetTimeoutMs(300);
  std::string text;
  auto start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { Query(*s, "*idn?"); }, &text), IO_E_TIMEOUT);
  long ms = MsSince(start);
  EXPECT_GE(ms, 295);
  EXPECT_LT(ms, 1200);  // not the simulator's 1500 ms
  EXPECT_NE(text.find(AddressOf(*sim)), std::string::npos) << text;
  EXPECT_NE(text.find("300 ms"), std::string::npos) << text;
  // The late reply, once it comes, is not taken for the answer to the next query.
  std::this_thread::sleep_for(1400ms);
  s->SetTimeoutMs(2000);
  EXPECT_EQ(Query(*s, "*OPC?"), "1");
}

INSTANTIATE_TEST_SUITE_P(Links, SimLink, ::testing::Values(Link{"Tcp", false}, Link{"Pty", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimSession, ConnectionDroppedInsideABlock) {
  testsupport::TempDir dir;
  std::string file = iotest::WriteAllBytesFile(dir.path(), 20000);
  auto sim = std::make_unique<SimProcess>(std::vector<std::string>{
      "--port", "0", "--preload", "DATA=" + file, "--drop-after-bytes", "5000"});
  auto s = OpenSessionCore(sim->TcpAddress(), {});
  s->Write("ROPEN 'DATA'");
  std::string text;
  EXPECT_EQ(ErrorOf([&] { Block(*s); }, &text), IO_E_CONNECTION_LOST);
  EXPECT_NE(text.find("inside a block of 16384 bytes"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([&] { Query(*s, "*idn?"); }, &text), IO_E_CONNECTION_LOST);
  EXPECT_NE(text.find("lost earlier"), std::string::npos) << text;
  // Opening again makes a new connection.
  auto again = OpenSessionCore(sim->TcpAddress(), {});
  EXPECT_EQ(Query(*again, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  EXPECT_EQ(ErrorOf([&] { s->ReadText(); }), IO_E_CONNECTION_LOST);
}

TEST(SimSession, SessionsOnOneAddressShareTheOneClientConnection) {
  SimProcess sim({"--port", "0", "--one-client", "--delay-after", "CAT?=800"});
  auto a = OpenSessionCore(sim.TcpAddress(), {});
  // Another spelling of the same address shares the connection too.
  auto b = OpenSessionCore("tcpip0::127.0.0.1::" + sim.TcpAddress().substr(18), {});
  EXPECT_EQ(b->Canonical(), a->Canonical());
  EXPECT_EQ(Query(*a, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  EXPECT_EQ(Query(*b, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  // Each session keeps its own time-out.
  a->SetTimeoutMs(200);
  b->SetTimeoutMs(3000);
  EXPECT_EQ(ErrorOf([&] { Query(*a, "CAT?"); }), IO_E_TIMEOUT);
  EXPECT_EQ(a->TimeoutMs(), 200);
  // The late reply arrives before the next command, which discards it.
  std::this_thread::sleep_for(900ms);
  b->Write("*OPC?");
  EXPECT_EQ(b->ReadText(), "1");
  a.reset();
  EXPECT_EQ(Query(*b, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
}

TEST(SimSession, MalformedAddressAliasAndGpib) {
  std::string text;
  EXPECT_EQ(ErrorOf([&] { OpenSessionCore("GPIB::99", {}); }, &text), IO_E_ADDRESS);
  EXPECT_NE(text.find("\"GPIB::99\" is not a valid I/O address"), std::string::npos) << text;
  EXPECT_NE(text.find("TCPIP[board]::host::port::SOCKET"), std::string::npos) << text;

  SimProcess sim({"--port", "0"});
  OpenOptions options;
  options.resolveAlias = [&](const std::string& name) -> std::optional<std::string> {
    if (name == "Analyzer") return sim.TcpAddress();
    if (name == "Broken") return std::string("TCPIP::nowhere");
    return std::nullopt;
  };
  auto s = OpenSessionCore("Analyzer", options);
  EXPECT_EQ(s->Address(), "Analyzer");
  EXPECT_EQ(Query(*s, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  EXPECT_EQ(ErrorOf([&] { OpenSessionCore("Broken", options); }, &text), IO_E_ADDRESS);
  EXPECT_NE(text.find("TCPIP::nowhere"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([&] { OpenSessionCore("Nobody", options); }), IO_E_ADDRESS);

  if (void* lib = dlopen("libgpib.so.0", RTLD_NOW)) {
    dlclose(lib);
    GTEST_SKIP() << "linux-gpib is installed here";
  }
  EXPECT_EQ(ErrorOf([&] { OpenSessionCore("GPIB::17", {}); }, &text), IO_E_NO_GPIB);
  EXPECT_NE(text.find("GPIB needs linux-gpib"), std::string::npos) << text;
  EXPECT_NE(text.find("GPIB::17"), std::string::npos) << text;
}

TEST(SimSession, OpenFailuresNameTheAddress) {
  std::string text;
  // A port nobody listens on: take a free one from a simulator that then ends.
  std::string address;
  {
    SimProcess sim({"--port", "0"});
    address = sim.TcpAddress();
  }
  EXPECT_EQ(ErrorOf([&] { OpenSessionCore(address, {}); }, &text), IO_E_OPEN);
  EXPECT_NE(text.find(address), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([&] { OpenSessionCore("ASRL/dev/nonexistent-tty::INSTR", {}); }, &text),
            IO_E_OPEN);
  EXPECT_NE(text.find("/dev/nonexistent-tty"), std::string::npos) << text;
}

TEST(SimSession, HostNamesAndIpv6) {
  SimProcess sim({"--port", "0"});
  std::string port = sim.TcpAddress().substr(18, sim.TcpAddress().size() - 18 - 8);
  auto byName = OpenSessionCore("TCPIP::localhost::" + port + "::SOCKET", {});
  EXPECT_EQ(Query(*byName, "*idn?"), "QUORELL,7613B,SIM0001,1.0");
  int probe = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  a.sin6_port = htons(static_cast<uint16_t>(std::stoi(port)));
  bool v6 = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (probe >= 0) close(probe);
  if (!v6) GTEST_SKIP() << "no IPv6 loopback here";
  for (const char* host : {"[::1]", "::1"}) {
    auto s = OpenSessionCore(std::string("TCPIP0::") + host + "::" + port + "::SOCKET", {});
    EXPECT_EQ(Query(*s, "*idn?"), "QUORELL,7613B,SIM0001,1.0") << host;
  }
}
