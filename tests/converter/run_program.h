// Runs a shell command line; its exit status and what it wrote to either stream.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace fixture {

struct Outcome {
  int status = -1;
  std::string output;
};

inline Outcome RunCommand(const std::string& command) {
  Outcome r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int s = pclose(p);
  r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  return r;
}

// The text in single quotes for the shell.
inline std::string Quote(const std::string& s) {
  std::string o = "'";
  for (char c : s) o += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return o + "'";
}

}  // namespace fixture
