// The pty, IPv6, the transcript, ending the simulator, and its command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cctype>
#include <sstream>

#include "sim_harness.h"

namespace simtest {
namespace {

const std::string kIdn = "QUORELL,7613B,SIM0001,1.0";

TEST(SimTransport, PtyServesTheSameProtocolInRawMode) {
  TempDir dir;
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  SimProcess sim({"--port", "0", "--pty", "--preload", "ALL=" + dir.Write("all.bin", all)});
  ASSERT_EQ(sim.pty().rfind("/dev/pts/", 0), 0u) << sim.pty();
  Line pty = Line::Pty(sim.pty());
  ASSERT_TRUE(pty.ok());
  pty.Send("*idn?");
  EXPECT_EQ(pty.ReadLine(), kIdn);
  // Every byte value passes unchanged (no CR/LF mapping, no flow control characters).
  EXPECT_EQ(ReadFile(pty, "ALL"), all);
  pty.Send("SAVDTIF 'SCREEN'");
  EXPECT_TRUE(InspectTiff(ReadFile(pty, "SCREEN_T")).all_rows_read);
  // TCP at the same time sees the same storage.
  Line tcp = Line::Tcp(sim.port());
  tcp.Send("CAT?");
  EXPECT_NE(tcp.ReadLine().value_or("").find("SCREEN_T"), std::string::npos);
  // A client that closes the pty and opens it again is served again.
  pty.Close();
  Line again = Line::Pty(sim.pty());
  again.Send("*idn?");
  EXPECT_EQ(again.ReadLine(), kIdn);
}

TEST(SimTransport, PtyLineGoesDeadAfterDropBytes) {
  SimProcess sim({"--pty", "--drop-after-bytes", "10"});
  Line pty = Line::Pty(sim.pty());
  pty.Send("*idn?");
  EXPECT_EQ(pty.ReadExactly(10), kIdn.substr(0, 10));
  EXPECT_TRUE(pty.Quiet(200));
  pty.Send("*idn?");
  EXPECT_TRUE(pty.Quiet(200));
  EXPECT_TRUE(sim.WaitForLog("pty line dead after 10 reply bytes"));
}

TEST(SimTransport, ListensOnBothLoopbacksUnlessBound) {
  {
    SimProcess sim({"--port", "0"});
    Line v6 = Line::Tcp(sim.port(), "::1");
    ASSERT_TRUE(v6.ok());
    v6.Send("*idn?");
    EXPECT_EQ(v6.ReadLine(), kIdn);
  }
  SimProcess sim({"--port", "0", "--bind", "127.0.0.1"});
  EXPECT_FALSE(Line::Tcp(sim.port(), "::1").ok());
  EXPECT_TRUE(Line::Tcp(sim.port(), "127.0.0.1").ok());
}

TEST(SimTransport, LogHasTimedCommandsRepliesAndEvents) {
  TempDir dir;
  SimProcess sim({"--port", "0", "--delay-after", "CAT?=200", "--preload",
                  "F=" + dir.Write("f.bin", Bytes(20000, 1))});
  {
    Line line = Line::Tcp(sim.port());
    line.Send("*idn?");
    line.ReadLine();
    line.Send("CAT?");
    line.ReadLine();
    ReadFile(line, "F");
  }
  ASSERT_TRUE(sim.WaitForLog("closed: by the client"));
  std::istringstream log(sim.Log());
  std::vector<std::pair<double, std::string>> lines;
  double last = 0;
  for (std::string l; std::getline(log, l);) {
    // "<ms, right-aligned in 10 columns, 3 decimals> <dir> <text>"
    ASSERT_GT(l.size(), 13u) << l;
    std::string stamp = l.substr(0, 10);
    auto digits = stamp.find_first_not_of(' ');
    ASSERT_NE(digits, std::string::npos) << l;
    auto dot = stamp.find('.');
    ASSERT_EQ(dot, 6u) << l;
    for (std::size_t i = digits; i < 10; ++i) {
      ASSERT_TRUE(i == dot || std::isdigit(static_cast<unsigned char>(stamp[i]))) << l;
    }
    ASSERT_EQ(l[10], ' ') << l;
    ASSERT_NE(std::string("<>-").find(l[11]), std::string::npos) << l;
    ASSERT_EQ(l[12], ' ') << l;
    double t = std::stod(stamp);
    EXPECT_GE(t, last) << l;
    last = t;
    lines.emplace_back(t, l.substr(11));
  }
  auto at = [&](const std::string& text, std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i) {
      if (lines[i].second == text) return i;
    }
    ADD_FAILURE() << "not in the log: " << text;
    return lines.size();
  };
  std::size_t idn = at("< *idn?");
  EXPECT_EQ(lines[idn + 1].second, "> " + kIdn);
  std::size_t cat = at("< CAT?");
  std::size_t listing = cat + 2;  // after the delay event
  ASSERT_LT(listing, lines.size());
  EXPECT_EQ(lines[cat + 1].second, "- delay 200 ms: CAT?");
  EXPECT_EQ(lines[listing].second, "> 20000,67088864,\"F,20000\"");
  EXPECT_GE(lines[listing].first - lines[cat].first, 200.0);
  std::size_t first = at("> block 16384 bytes");
  EXPECT_LT(at("< READ?"), first);
  std::size_t second = at("> block 3616 bytes", first);
  std::size_t end = at("> block 0 bytes", second);
  at("< CLOSE", end);
}

TEST(SimTransport, EndsCleanlyOnSignalsAndOnEndOfInput) {
  for (int sig : {SIGTERM, SIGINT}) {
    SimProcess sim({"--port", "0"});
    Line line = Line::Tcp(sim.port());  // an open client does not keep it alive
    sim.Signal(sig);
    auto status = sim.Wait(3000);
    ASSERT_TRUE(status) << sig;
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << sig;
    EXPECT_NE(sim.Log().find("- exit: signal"), std::string::npos);
  }
  SimProcess sim({"--port", "0"});
  sim.CloseStdin();
  auto status = sim.Wait(3000);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_NE(sim.Log().find("- exit: standard input closed"), std::string::npos);
}

TEST(SimCommandLine, HelpNamesEveryOption) {
  Outcome o = RunSim({"--help"});
  EXPECT_EQ(o.status, 0);
  for (const char* option : {"--port",
                             "--bind",
                             "--pty",
                             "--model",
                             "--idn",
                             "--size",
                             "--tiff",
                             "--compression",
                             "--name-form",
                             "--block-size",
                             "--file-size",
                             "--preload",
                             "--render-to",
                             "--delay-after",
                             "--silent-after",
                             "--no-reply",
                             "--drop-after-bytes",
                             "--save-nothing",
                             "--one-client",
                             "--trickle",
                             "--trickle-us",
                             "--log",
                             "--exit-on-eof"}) {
    EXPECT_NE(o.out.find(option), std::string::npos) << option;
  }
}

TEST(SimCommandLine, BadOptionsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{}, "nothing to listen on"},
      {{"--port"}, "--port: missing value"},
      {{"--port", "abc"}, "--port: expected a number"},
      {{"--port", "70000"}, "--port: expected a number from 0 to 65535"},
      {{"--port", "0", "--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--port", "0", "--model", "7614"}, "--model: expected 7612A or 7613B"},
      {{"--port", "0", "--tiff", "jpeg"}, "--tiff: expected palette, rgb or bilevel"},
      {{"--port", "0", "--compression", "zip"}, "--compression: expected none, packbits or lzw"},
      {{"--port", "0", "--name-form", ".tif"}, "--name-form: expected _T, .TIF, both or lower"},
      {{"--port", "0", "--size", "640"}, "--size: expected WxH"},
      {{"--port", "0", "--size", "10x10"}, "--size (width): expected a number from 32"},
      {{"--port", "0", "--block-size", "0"}, "--block-size: expected a number from 1"},
      {{"--port", "0", "--block-size", "100,"}, "--block-size: expected a number"},
      {{"--port", "0", "--delay-after", "READ?"}, "--delay-after: expected CMD=MS"},
      {{"--port", "0", "--delay-after", "READ?=soon"}, "--delay-after: expected a number"},
      {{"--port", "0", "--silent-after", "READ?@0"}, "--silent-after: expected a number from 1"},
      {{"--port", "0", "--preload", "NAME"}, "--preload: expected NAME=FILE"},
      {{"--port", "0", "--trickle=yes"}, "--trickle: takes no value"},
  };
  for (const auto& c : cases) {
    Outcome o = RunSim(c.args);
    std::string label;
    for (const auto& a : c.args) label += a + " ";
    EXPECT_EQ(o.status, 2) << label;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << label << "-> " << o.err;
    EXPECT_EQ(o.out, "") << label;
  }
}

TEST(SimCommandLine, RunTimeErrorsExitWithOne) {
  Outcome missing = RunSim({"--port", "0", "--preload", "X=/nonexistent/file"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read '/nonexistent/file'"), std::string::npos) << missing.err;

  SimProcess busy({"--port", "0", "--bind", "127.0.0.1"});
  Outcome taken = RunSim({"--port", std::to_string(busy.port()), "--bind", "127.0.0.1"});
  EXPECT_EQ(taken.status, 1);
  EXPECT_NE(taken.err.find("cannot listen on 127.0.0.1 port"), std::string::npos) << taken.err;

  Outcome bad_bind = RunSim({"--port", "0", "--bind", "localhost"});
  EXPECT_EQ(bad_bind.status, 1);
  EXPECT_NE(bad_bind.err.find("not a numeric address"), std::string::npos) << bad_bind.err;
}

}  // namespace
}  // namespace simtest
