#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace testsupport {
namespace {

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// In the child: puts fd in place of target, keeping it open across exec.
void Place(int fd, int target) {
  if (fd == target)
    fcntl(fd, F_SETFD, 0);
  else
    dup2(fd, target);
}

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args, Pipes pipes) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  auto fail = [&](const char* what) {
    for (int* p : {in, out, err}) {
      CloseFd(&p[0]);
      CloseFd(&p[1]);
    }
    throw std::runtime_error(std::string(what) + " failed for " + program);
  };
  int devnull = pipes.input ? -1 : open("/dev/null", O_RDONLY | O_CLOEXEC);
  if ((pipes.input && pipe2(in, O_CLOEXEC) != 0) ||
      ((pipes.output || pipes.merge_errors) && pipe2(out, O_CLOEXEC) != 0) ||
      (pipes.errors && pipe2(err, O_CLOEXEC) != 0))
    fail("pipe");
  pid_ = fork();
  if (pid_ < 0) {
    if (devnull >= 0) close(devnull);
    fail("fork");
  }
  if (pid_ == 0) {
    Place(pipes.input ? in[0] : devnull, STDIN_FILENO);
    if (out[1] >= 0) Place(out[1], STDOUT_FILENO);
    if (err[1] >= 0)
      Place(err[1], STDERR_FILENO);
    else if (pipes.merge_errors)
      dup2(STDOUT_FILENO, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (devnull >= 0) close(devnull);
  CloseFd(&in[0]);
  CloseFd(&out[1]);
  CloseFd(&err[1]);
  input_ = in[1];
  output_ = out[0];
  errors_ = err[0];
}

Process::~Process() {
  Stop();
  CloseFd(&input_);
  CloseFd(&output_);
  CloseFd(&errors_);
}

void Process::CloseInput() { CloseFd(&input_); }

void Process::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

std::optional<int> Process::Wait(int timeout_ms) {
  if (pid_ <= 0) return status_;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, timeout_ms < 0 ? 0 : WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      status_ = status;
      return status_;
    }
    if (r < 0 && errno != EINTR) return std::nullopt;
    if (timeout_ms >= 0 && std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int Process::ExitCode() {
  auto status = Wait(-1);
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

void Process::Stop(int grace_ms) {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!Wait(grace_ms)) {
    kill(pid_, SIGKILL);
    Wait(-1);
  }
}

}  // namespace testsupport
