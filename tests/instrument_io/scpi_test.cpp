// The scpi tool against analyzer-sim, through the server registered for this test program.
#include <gtest/gtest.h>

#include "component_fixture.h"

using namespace iotest;

namespace {

const std::string kScpi = SCRIVO_BIN_DIR "/scpi";

struct Result {
  int status;
  std::string output;
};

// Everything it printed, or only what it printed on standard error.
Result Scpi(const std::string& arguments, bool errorsOnly = false) {
  auto r = testsupport::Run(kScpi + " " + arguments + (errorsOnly ? " 2>&1 >/dev/null" : ""));
  return {r.status, r.out};
}

}  // namespace

TEST(Scpi, PrintsTheRepliesOfQueriesInOrder) {
  SimProcess sim({"--port", "0"});
  Result r = Scpi(sim.TcpAddress() + " '*idn?' '*cls' 'CAT?' '*OPC?'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "QUORELL,7613B,SIM0001,1.0\n0,67108864\n1\n");
  EXPECT_NE(sim.Log().find("< *cls"), std::string::npos) << sim.Log();
}

TEST(Scpi, WritesTheLastBlockToAFile) {
  TempDir dir;
  std::string file = WriteAllBytesFile(dir.path(), 5000);
  SimProcess sim({"--pty", "--preload", "DATA=" + file});
  std::string out = dir.path() + "/block.bin";
  Result r = Scpi("--block " + out + " " + sim.PtyAddress() + " \"ROPEN 'DATA'\" 'READ?'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadFile(out), ReadFile(file));
}

TEST(Scpi, FailuresGoToStandardErrorWithNonZeroStatus) {
  SimProcess sim({"--port", "0", "--silent-after", "*idn?"});
  struct Case {
    std::string arguments;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"--timeout 200 " + sim.TcpAddress() + " '*idn?'", 1, "within 200 ms"},
      {"NotAnAddress '*idn?'", 1, "not a valid I/O address"},
      {"GPIB::17", 2, "no command given"},
      {"--timeout x GPIB::17 '*idn?'", 2, "--timeout"},
      {"--block f GPIB::17 '*cls'", 2, "must be a query"},
      {"--colour red GPIB::17 '*idn?'", 2, "unknown option"},
  };
  for (const Case& c : cases) {
    Result r = Scpi(c.arguments, true);
    EXPECT_EQ(r.status, c.status) << c.arguments << ": " << r.output;
    EXPECT_NE(r.output.find("scpi: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.arguments << ": " << r.output;
  }
}
