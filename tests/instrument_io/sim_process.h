// analyzer-sim as a child process for a test: started with the given options, it announces
// its TCP port and pty path; it ends when the test's object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace iotest {

inline std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "iotest.XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

class TempDir {
 public:
  TempDir() : path_(MakeTempDir()) {}
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) : dir_(MakeTempDir()) {
    bool wantPort = false, wantPty = false;
    for (const auto& a : args) {
      wantPort |= a == "--port";
      wantPty |= a == "--pty";
    }
    args.insert(args.end(), {"--exit-on-eof", "--log", dir_ + "/sim.log"});
    std::string program = SCRIVO_BIN_DIR "/analyzer-sim";
    std::vector<char*> argv{program.data()};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string text;
    while ((wantPort && port_ < 0) || (wantPty && pty_.empty())) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      pollfd p{stdout_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buf[256];
      ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
      std::istringstream lines(text);
      for (std::string l; std::getline(lines, l);) {
        if (l.rfind("port ", 0) == 0) port_ = std::atoi(l.c_str() + 5);
        if (l.rfind("pty ", 0) == 0) pty_ = l.substr(4);
      }
    }
    if ((wantPort && port_ < 0) || (wantPty && pty_.empty()))
      throw std::runtime_error("analyzer-sim did not announce itself: " + text);
  }
  ~SimProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    close(stdin_);
    close(stdout_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  std::string TcpAddress() const {
    return "TCPIP::127.0.0.1::" + std::to_string(port_) + "::SOCKET";
  }
  std::string PtyAddress() const { return "ASRL" + pty_ + "::INSTR"; }
  const std::string& dir() const { return dir_; }
  std::string Log() const {
    std::ifstream in(dir_ + "/sim.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
  int port_ = -1;
  std::string pty_;
};

// A file in the simulator's storage that holds every byte value and many line feeds.
inline std::string WriteAllBytesFile(const std::string& dir, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i % 7 == 0 ? '\n' : (i * 31 + i / 256) & 0xff);
  std::string path = dir + "/allbytes.bin";
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  return path;
}

inline std::string ReadBinary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace iotest
