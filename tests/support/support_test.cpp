// The shared test helpers themselves: what the other tests take on trust.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <optional>

#include "support/files.h"
#include "support/private_registry.h"
#include "support/process.h"
#include "support/run.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

TEST(TempDir, IsFreshAndGoesWithEverythingInIt) {
  std::string path;
  {
    TempDir a, b;
    path = a.path();
    EXPECT_NE(a.path(), b.path());
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(a.Entries().empty());
    fs::create_directory(a / "sub");
    EXPECT_EQ(ReadFile(a.Write("sub/f", std::string("x\0y", 3))), std::string("x\0y", 3));
    EXPECT_EQ(ReadBytes(a.Write("g", std::vector<std::uint8_t>{0, 255})),
              (std::vector<std::uint8_t>{0, 255}));
    EXPECT_EQ(a.Entries().size(), 2u);
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(ReadFile(path + "/g"), "");
  EXPECT_FALSE(WriteFile(path + "/g", "no folder"));
}

TEST(PrivateRegistry, SetsTheVariableAndPutsItBack) {
  setenv("COMRT_REGISTRY", "/outer.db", 1);
  {
    PrivateRegistry outer;
    EXPECT_EQ(getenv("COMRT_REGISTRY"), outer.file());
    EXPECT_EQ(fs::path(outer.file()).parent_path(), outer.dir().path());
    {
      PrivateRegistry inner;
      EXPECT_EQ(getenv("COMRT_REGISTRY"), inner.file());
    }
    EXPECT_EQ(getenv("COMRT_REGISTRY"), outer.file());
  }
  EXPECT_STREQ(getenv("COMRT_REGISTRY"), "/outer.db");
  unsetenv("COMRT_REGISTRY");
  { PrivateRegistry registry; }
  EXPECT_EQ(getenv("COMRT_REGISTRY"), nullptr);
}

TEST(Run, ProgramWithArgumentsKeepsStreamsApartOrTogether) {
  RunResult r = testsupport::Run("/bin/sh", {"-c", "printf 'a b'; echo oops >&2; exit 3"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "a b");
  EXPECT_EQ(r.err, "oops\n");
  EXPECT_FALSE(r.timed_out);

  r = testsupport::Run("/bin/sh", {"-c", "echo 1; echo 2 >&2; echo 3", "it's"},
                       {.merge_errors = true});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1\n2\n3\n");
  EXPECT_EQ(r.err, "");

  r = testsupport::Run("/bin/cat", {});  // standard input is empty
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");

  r = testsupport::Run("/nonexistent/program", {});
  EXPECT_EQ(r.status, 127);
}

TEST(Run, ShellLineTogetherAndQuoting) {
  std::string odd = "it's \"$HOME\" `x` \\";
  RunResult r = testsupport::Run("printf '%s' " + Quote(odd) + "; echo E >&2; exit 4");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out, odd + "E\n");
}

TEST(Run, KillsAProgramPastItsTimeOut) {
  auto start = std::chrono::steady_clock::now();
  RunResult r =
      testsupport::Run("/bin/sh", {"-c", "echo started; exec sleep 30"}, {.timeout_ms = 200});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.out, "started\n");
}

TEST(Process, WaitsSignalsAndReapsOnDestruction) {
  pid_t pid;
  {
    Process p("/bin/sleep", {"30"});
    pid = p.pid();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(p.Wait(50));
  }
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped, not a zombie

  Process ignores("/bin/sh", {"-c", "trap '' TERM; echo ready; exec sleep 30"}, {.output = true});
  char c;
  ASSERT_EQ(read(ignores.output(), &c, 1), 1);  // the trap is set
  auto start = std::chrono::steady_clock::now();
  ignores.Stop(200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(ignores.pid(), -1);

  Process cat("/bin/cat", {}, {.input = true});
  cat.CloseInput();
  EXPECT_EQ(cat.ExitCode(), 0);
  EXPECT_EQ(cat.ExitCode(), 0);  // asked again after reaping
}

TEST(SimProcess, AnnouncesPortAndPtyAndEnds) {
  SimProcess sim({"--port", "0", "--pty"});
  EXPECT_GT(sim.port(), 0);
  EXPECT_EQ(sim.TcpAddress(), "TCPIP::127.0.0.1::" + std::to_string(sim.port()) + "::SOCKET");
  EXPECT_EQ(sim.pty().rfind("/dev/", 0), 0u) << sim.pty();
  EXPECT_EQ(sim.PtyAddress(), "ASRL" + sim.pty() + "::INSTR");
  EXPECT_TRUE(fs::is_directory(sim.dir()));
  sim.CloseStdin();
  auto status = sim.Wait(5000);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
}

TEST(SimProcess, TellsWhenItDoesNotAnnounce) {
  EXPECT_THROW(SimProcess({"--port", "0", "--no-such-option"}), std::runtime_error);
  RunResult r = RunSim({"--no-such-option"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err, "");
}

}  // namespace
}  // namespace testsupport
