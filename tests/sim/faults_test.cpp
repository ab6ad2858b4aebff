// Each fault option: delays, silence, dropped connections, one client, trickling.
#include <gtest/gtest.h>

#include <chrono>

#include "sim_harness.h"

namespace simtest {
namespace {

using Clock = std::chrono::steady_clock;
const std::string kIdn = "QUORELL,7613B,SIM0001,1.0";

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(SimFaults, DelayHoldsThatCommandAndWhatFollowsIt) {
  SimProcess sim({"--port", "0", "--delay-after", "*idn?=400"});
  Line line = Line::Tcp(sim.port());
  auto t0 = Clock::now();
  line.Send("CAT?");
  ASSERT_TRUE(line.ReadLine());
  EXPECT_LT(MsSince(t0), 300);

  t0 = Clock::now();
  line.Send("*IDN?");  // any case matches
  line.Send("*OPC?");  // queued behind the delayed command
  EXPECT_TRUE(line.Quiet(200));
  EXPECT_EQ(line.ReadLine(), kIdn);
  EXPECT_GE(MsSince(t0), 400);
  EXPECT_EQ(line.ReadLine(), "1");
  EXPECT_TRUE(sim.WaitForLog("- delay 400 ms: *IDN?"));
}

TEST(SimFaults, DelayOfOneOccurrence) {
  TempDir dir;
  SimProcess sim({"--port", "0", "--delay-after", "READ?@2=400", "--preload",
                  "F=" + dir.Write("f.bin", Bytes(40000, 'x'))});
  Line line = Line::Tcp(sim.port());
  line.Send("ROPEN 'F'");
  long long took[3];
  for (long long& ms : took) {
    auto t0 = Clock::now();
    line.Send("READ?");
    ASSERT_TRUE(line.ReadBlock());
    ms = MsSince(t0);
  }
  EXPECT_LT(took[0], 300);
  EXPECT_GE(took[1], 400);
  EXPECT_LT(took[2], 300);
}

TEST(SimFaults, SilentAfterAnswersNothingMoreOnAnyConnection) {
  TempDir dir;
  SimProcess sim({"--port", "0", "--silent-after", "READ?", "--preload",
                  "F=" + dir.Write("f.bin", Bytes(100, 'x'))});
  Line line = Line::Tcp(sim.port());
  line.Send("*idn?");
  EXPECT_EQ(line.ReadLine(), kIdn);
  line.Send("ROPEN 'F'");
  line.Send("READ?");
  EXPECT_TRUE(line.Quiet(300));
  line.Send("*idn?");
  EXPECT_TRUE(line.Quiet(200));
  Line other = Line::Tcp(sim.port());
  other.Send("*idn?");
  EXPECT_TRUE(other.Quiet(200));
  // Commands are still received and logged.
  EXPECT_TRUE(sim.WaitForLog("silent from now on: READ?"));
  std::string log = sim.Log();
  EXPECT_NE(log.find("< *idn?", log.find("silent from now on")), std::string::npos);
}

TEST(SimFaults, SilentAfterTheSecondOccurrence) {
  SimProcess sim({"--port", "0", "--silent-after", "*idn?@2"});
  Line line = Line::Tcp(sim.port());
  line.Send("*idn?");
  EXPECT_EQ(line.ReadLine(), kIdn);
  line.Send("*idn?");
  EXPECT_TRUE(line.Quiet(300));
}

TEST(SimFaults, NoReplyWithholdsOneAnswerAndTheNextAreServed) {
  SimProcess sim({"--port", "0", "--no-reply", "*idn?@2", "--no-reply", "CAT?"});
  Line line = Line::Tcp(sim.port());
  line.Send("*idn?");
  EXPECT_EQ(line.ReadLine(), kIdn);
  line.Send("*idn?");
  line.Send("CAT?");
  EXPECT_TRUE(line.Quiet(200));
  line.Send("*idn?");
  EXPECT_EQ(line.ReadLine(), kIdn);
  EXPECT_TRUE(sim.WaitForLog("- reply withheld: " + kIdn));
}

TEST(SimFaults, DropAfterBytesCutsTheReplyAndClosesTheConnection) {
  TempDir dir;
  SimProcess sim({"--port", "0", "--drop-after-bytes", "100", "--preload",
                  "F=" + dir.Write("f.bin", Bytes(40000, 'z'))});
  {
    Line line = Line::Tcp(sim.port());
    line.Send("*idn?");  // 26 bytes
    EXPECT_EQ(line.ReadLine(), kIdn);
    line.Send("ROPEN 'F'");
    line.Send("READ?");
    bool eof = false;
    std::string got = line.ReadUntilClosed(3000, &eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(got.size(), 100u - 26u);
    EXPECT_EQ(got.substr(0, 7), "#516384");
  }
  EXPECT_TRUE(sim.WaitForLog("dropped after 100 reply bytes"));
  // The count is per connection: a new one is served again.
  Line again = Line::Tcp(sim.port());
  again.Send("*idn?");
  EXPECT_EQ(again.ReadLine(), kIdn);
}

TEST(SimFaults, DropAfterZeroBytesClosesAtTheFirstReply) {
  SimProcess sim({"--port", "0", "--drop-after-bytes", "0"});
  Line line = Line::Tcp(sim.port());
  line.Send("*cls");  // no reply: the connection stays
  EXPECT_TRUE(line.Quiet(100));
  line.Send("*idn?");
  bool eof = false;
  EXPECT_EQ(line.ReadUntilClosed(3000, &eof), "");
  EXPECT_TRUE(eof);
}

TEST(SimFaults, OneClientRefusesASecondWhileTheFirstIsOpen) {
  SimProcess sim({"--port", "0", "--one-client"});
  auto first = std::make_unique<Line>(Line::Tcp(sim.port()));
  first->Send("*idn?");
  ASSERT_EQ(first->ReadLine(), kIdn);

  Line second = Line::Tcp(sim.port());
  ASSERT_TRUE(second.ok());  // the kernel accepts; the simulator closes it at once
  bool eof = false;
  auto t0 = Clock::now();
  EXPECT_EQ(second.ReadUntilClosed(3000, &eof), "");
  EXPECT_TRUE(eof);
  EXPECT_LT(MsSince(t0), 1000);
  EXPECT_TRUE(sim.WaitForLog("one client only"));

  first->Send("*idn?");
  EXPECT_EQ(first->ReadLine(), kIdn);
  first.reset();
  ASSERT_TRUE(sim.WaitForLog("connection 1 closed"));
  Line third = Line::Tcp(sim.port());
  third.Send("*idn?");
  EXPECT_EQ(third.ReadLine(), kIdn);
}

TEST(SimFaults, SeveralClientsAtOnceWithoutOneClient) {
  SimProcess sim({"--port", "0"});
  Line a = Line::Tcp(sim.port());
  Line b = Line::Tcp(sim.port());
  a.Send("*idn?");
  b.Send("*OPC?");
  EXPECT_EQ(b.ReadLine(), "1");
  EXPECT_EQ(a.ReadLine(), kIdn);
}

TEST(SimFaults, TrickleSendsOneByteAtATime) {
  struct Case {
    std::vector<std::string> args;
    long long min_ms;
  };
  const Case cases[] = {{{"--trickle"}, 25}, {{"--trickle-us", "4000"}, 100}};
  for (const auto& c : cases) {
    std::vector<std::string> args{"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SimProcess sim(args);
    Line line = Line::Tcp(sim.port());
    auto t0 = Clock::now();
    line.Send("*idn?");
    auto reads = line.CountReads(kIdn.size() + 1, 5000);
    ASSERT_TRUE(reads);
    EXPECT_GE(*reads, static_cast<int>(kIdn.size()) / 2);  // arrives in many pieces
    EXPECT_GE(MsSince(t0), c.min_ms);
    EXPECT_EQ(line.ReadLine(), kIdn);
  }
}

}  // namespace
}  // namespace simtest
