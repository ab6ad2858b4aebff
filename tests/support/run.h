// Running a program to its end and collecting what it printed.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
  int status = -1;         // exit code, or -1 when it did not exit normally or ran out of time
  std::string out;         // standard output (with standard error when merged)
  std::string err;         // standard error when kept apart
  bool timed_out = false;  // killed at the time-out
};

struct RunOptions {
  bool merge_errors = false;  // standard error into `out`, in the order written
  int timeout_ms = 120000;    // then the program is killed
};

// The program (a path) with its arguments, no shell; standard input is /dev/null.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              RunOptions options = {});

// A shell command line (/bin/sh -c); standard output and error together in `out`, and
// the default time-out.
RunResult Run(const std::string& command_line);

// Quotes a text for the shell.
std::string Quote(const std::string& text);

}  // namespace testsupport
