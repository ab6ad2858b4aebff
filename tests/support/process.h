// A child program started without a shell. Its standard input is /dev/null unless piped;
// standard output and error are inherited unless piped. The destructor ends it (SIGTERM,
// then SIGKILL after three seconds) and reaps it, so no child outlives its test.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct Pipes {
  bool input = false;
  bool output = false;
  bool errors = false;        // standard error on a pipe of its own
  bool merge_errors = false;  // standard error on the output pipe
};

class Process {
 public:
  // program is a path; throws std::runtime_error when no pipe or process can be made.
  Process(const std::string& program, const std::vector<std::string>& args, Pipes pipes = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }  // -1 once reaped
  int input() const { return input_; }
  int output() const { return output_; }
  int errors() const { return errors_; }
  void CloseInput();
  void Signal(int sig);
  // The wait status (as from waitpid) once it ended, nullopt while it still runs after
  // timeout_ms; a negative time-out waits as long as it takes.
  std::optional<int> Wait(int timeout_ms);
  // Waits for the end: its exit code, or -1 when a signal ended it.
  int ExitCode();
  // SIGTERM, then SIGKILL if it has not ended within grace_ms; always reaped.
  void Stop(int grace_ms = 3000);

 private:
  pid_t pid_ = -1;
  int input_ = -1, output_ = -1, errors_ = -1;
  std::optional<int> status_;
};

}  // namespace testsupport
