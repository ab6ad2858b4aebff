#include "support/run.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "support/process.h"

namespace testsupport {

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              RunOptions options) {
  RunResult r;
  Process p(
      program, args,
      Pipes{.output = true, .errors = !options.merge_errors, .merge_errors = options.merge_errors});
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(options.timeout_ms);
  pollfd fds[2] = {{p.output(), POLLIN, 0}, {p.errors(), POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open_fds = (fds[0].fd >= 0) + (fds[1].fd >= 0);
  while (open_fds > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    int n = poll(fds, 2, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buf[4096];
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fds[i].fd = -1;  // the Process closes it
        --open_fds;
      } else {
        sinks[i]->append(buf, static_cast<std::size_t>(got));
      }
    }
  }
  if (open_fds > 0) {
    r.timed_out = true;
    p.Signal(SIGKILL);
  }
  int status = p.ExitCode();
  r.status = r.timed_out ? -1 : status;
  return r;
}

RunResult Run(const std::string& command_line) {
  return Run("/bin/sh", {"-c", command_line}, RunOptions{.merge_errors = true});
}

std::string Quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace testsupport
