#include "support/sim_process.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/files.h"

namespace testsupport {

using Clock = std::chrono::steady_clock;

std::string SimProcess::Program() { return SCRIVO_BIN_DIR "/analyzer-sim"; }

SimProcess::SimProcess(std::vector<std::string> args, int announce_timeout_ms) {
  bool want_port = false, want_pty = false;
  for (const auto& a : args) {
    want_port |= a == "--port";
    want_pty |= a == "--pty";
  }
  args.insert(args.end(), {"--exit-on-eof", "--log", dir_.File("sim.log")});
  process_ = std::make_unique<Process>(Program(), args, Pipes{.input = true, .output = true});

  auto deadline = Clock::now() + std::chrono::milliseconds(announce_timeout_ms);
  std::string text;
  std::size_t parsed = 0;  // only whole lines count: a port number may arrive in pieces
  while ((want_port && port_ < 0) || (want_pty && pty_.empty())) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{process_->output(), POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[256];
    ssize_t n = read(process_->output(), buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    for (std::size_t lf; (lf = text.find('\n', parsed)) != std::string::npos; parsed = lf + 1) {
      std::string line = text.substr(parsed, lf - parsed);
      if (line.rfind("port ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
      if (line.rfind("pty ", 0) == 0) pty_ = line.substr(4);
    }
  }
  if ((want_port && port_ < 0) || (want_pty && pty_.empty()))
    throw std::runtime_error("analyzer-sim did not announce itself; its output was: " + text);
}

std::unique_ptr<SimProcess> SimProcess::OnLink(bool pty, std::vector<std::string> args) {
  if (pty)
    args.push_back("--pty");
  else
    args.insert(args.end(), {"--port", "0"});
  return std::make_unique<SimProcess>(std::move(args));
}

SimProcess::~SimProcess() = default;  // the Process ends and reaps it before the folder goes

std::string SimProcess::TcpAddress() const {
  return "TCPIP::127.0.0.1::" + std::to_string(port_) + "::SOCKET";
}

std::string SimProcess::PtyAddress() const { return "ASRL" + pty_ + "::INSTR"; }

std::string SimProcess::Log() const { return ReadFile(dir_.File("sim.log")); }

bool SimProcess::WaitForLog(const std::string& text, int timeout_ms) const {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Log().find(text) == std::string::npos) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void SimProcess::CloseStdin() { process_->CloseInput(); }

void SimProcess::Signal(int sig) { process_->Signal(sig); }

std::optional<int> SimProcess::Wait(int timeout_ms) { return process_->Wait(timeout_ms); }

RunResult RunSim(const std::vector<std::string>& args, int timeout_ms) {
  return Run(SimProcess::Program(), args, RunOptions{.timeout_ms = timeout_ms});
}

}  // namespace testsupport
