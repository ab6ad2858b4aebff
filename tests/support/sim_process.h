// analyzer-sim as a child process for a test: started with the given arguments plus
// --exit-on-eof and --log into a temporary folder, it announces its TCP port ("port N")
// and pty ("pty PATH"); the object waits for the announcements its arguments ask for and
// ends the simulator when it goes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace testsupport {

class SimProcess {
 public:
  static std::string Program();

  // Throws std::runtime_error when the simulator does not announce itself in time.
  explicit SimProcess(std::vector<std::string> args, int announce_timeout_ms = 10000);
  // The simulator on one of its two links: its pty, or TCP on a free port.
  static std::unique_ptr<SimProcess> OnLink(bool pty, std::vector<std::string> args);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  int port() const { return port_; }
  const std::string& pty() const { return pty_; }
  // The same as instrument I/O addresses.
  std::string TcpAddress() const;
  std::string PtyAddress() const;
  std::string Address(bool pty) const { return pty ? PtyAddress() : TcpAddress(); }
  // A folder for the test's own files, removed with the simulator.
  const std::string& dir() const { return dir_.path(); }
  std::string Log() const;
  // Waits until the log holds `text` (the simulator logs as it goes).
  bool WaitForLog(const std::string& text, int timeout_ms = 3000) const;

  void CloseStdin();
  void Signal(int sig);
  // Wait status (as from waitpid), or nullopt if it did not end in time.
  std::optional<int> Wait(int timeout_ms);

 private:
  TempDir dir_;
  std::unique_ptr<Process> process_;
  int port_ = -1;
  std::string pty_;
};

// Runs analyzer-sim to its end (option errors, --help, --render-to); output and errors apart.
RunResult RunSim(const std::vector<std::string>& args, int timeout_ms = 5000);

}  // namespace testsupport
