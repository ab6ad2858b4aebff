// Several processes on one registry file: concurrent writers lose nothing, and a transaction
// stays invisible to others until it commits.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "registry_fixture.h"
#include "support/process.h"

namespace {

using namespace com::registry;
using Processes = RegistryTest;

constexpr int kWriters = 2;
constexpr int kSingleWrites = 150;
constexpr int kTransactions = 10;
constexpr int kPerTransaction = 10;

std::string KeyOf(int writer, int i) {
  return "HKCU\\Load\\Writer" + std::to_string(writer) + "\\K" + std::to_string(i);
}

// One writer's work; returns the number of calls that failed.
int Write(int writer) {
  int failures = 0;
  for (int i = 0; i < kSingleWrites; ++i) {
    failures += SetText(KeyOf(writer, i), "V", std::to_string(i)) != ERROR_SUCCESS;
    failures +=
        SetNumber("HKCU\\Load\\Shared", "W" + std::to_string(writer) + "_" + std::to_string(i),
                  i) != ERROR_SUCCESS;
  }
  for (int t = 0; t < kTransactions; ++t) {
    if (BeginTransaction() != ERROR_SUCCESS) {
      ++failures;
      continue;
    }
    for (int j = 0; j < kPerTransaction; ++j)
      failures += SetText(KeyOf(writer, kSingleWrites + t * kPerTransaction + j), "V",
                          std::to_string(kSingleWrites + t * kPerTransaction + j)) != 0;
    failures += CommitTransaction() != ERROR_SUCCESS;
  }
  return failures;
}

// Starts the writers together and returns how many failed.
int RunWriters() {
  int gate[2];
  if (pipe(gate) != 0) return -1;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char c;
      (void)!read(gate[0], &c, 1);  // returns when the parent closes its end
      _exit(Write(writer) == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  int failed = 0;
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  return failed;
}

void ExpectEveryWrite() {
  const int total = kSingleWrites + kTransactions * kPerTransaction;
  for (int writer = 0; writer < kWriters; ++writer) {
    std::vector<std::string> names;
    ASSERT_EQ(ListSubkeys("HKCU\\Load\\Writer" + std::to_string(writer), &names), 0);
    EXPECT_EQ(names.size(), static_cast<size_t>(total));
    for (int i = 0; i < total; ++i) {
      std::string text;
      ASSERT_EQ(GetText(KeyOf(writer, i), "V", &text), ERROR_SUCCESS) << KeyOf(writer, i);
      EXPECT_EQ(text, std::to_string(i));
    }
  }
  std::vector<Value> shared;
  ASSERT_EQ(ListValues("HKCU\\Load\\Shared", &shared), ERROR_SUCCESS);
  EXPECT_EQ(shared.size(), static_cast<size_t>(kWriters * kSingleWrites));
}

TEST_F(Processes, TwoWritersOnANewFileLoseNothing) {
  // Neither the parent nor anyone else has made the file: both writers race to create it.
  ASSERT_FALSE(std::filesystem::exists(file_));
  ASSERT_EQ(RunWriters(), 0);
  ExpectEveryWrite();
}

TEST_F(Processes, TwoWritersForkedFromAUserOfTheRegistryLoseNothing) {
  ASSERT_EQ(SetText("HKCU\\Load", "", "parent"), ERROR_SUCCESS);  // connected before fork
  ASSERT_EQ(RunWriters(), 0);
  ExpectEveryWrite();
  std::string text;
  EXPECT_EQ(GetText("HKCU\\Load", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "parent");
}

// Runs `reg` with arguments; the caller waits for it.
std::unique_ptr<testsupport::Process> StartReg(const std::vector<std::string>& args) {
  return std::make_unique<testsupport::Process>(SCRIVO_BIN_DIR "/reg", args);
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Processes, TransactionIsInvisibleUntilCommittedAndWritersWaitForIt) {
  ASSERT_EQ(CreateKey("HKCU\\Before"), ERROR_SUCCESS);
  ASSERT_EQ(BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(SetText("HKCU\\Pending", "", "p"), ERROR_SUCCESS);
  EXPECT_EQ(StartReg({"list", "HKCU\\Pending"})->ExitCode(), 1);  // others do not see it yet
  EXPECT_EQ(StartReg({"list", "HKCU\\Before"})->ExitCode(), 0);   // and read on meanwhile

  // A writer waits for the transaction rather than fail.
  auto writer = StartReg({"set", "HKCU\\Other", "", "o"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(CommitTransaction(), ERROR_SUCCESS);
  EXPECT_EQ(writer->ExitCode(), 0);
  EXPECT_EQ(StartReg({"get", "HKCU\\Pending"})->ExitCode(), 0);
  std::string text;
  EXPECT_EQ(GetText("HKCU\\Other", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "o");
}

TEST_F(Processes, ChildForkedInsideATransactionIsToldItCannotUseTheFile) {
  ASSERT_EQ(BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(SetText("HKCU\\Pending", "", "p"), ERROR_SUCCESS);
  pid_t pid = fork();
  if (pid == 0) {
    bool refused = CreateKey("HKCU\\Child") == ERROR_CANTOPEN &&
                   LastErrorText().find("forked") != std::string::npos;
    _exit(refused ? 0 : 1);
  }
  EXPECT_EQ(Wait(pid), 0);
  ASSERT_EQ(CommitTransaction(), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists("HKCU\\Pending"));
  EXPECT_FALSE(KeyExists("HKCU\\Child"));
}

}  // namespace
