// What many tests need: a private temporary folder and registry, and running a program.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "scrivo-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points COMRT_REGISTRY at a new registry file in its own folder for the scope's duration.
class PrivateRegistry {
 public:
  PrivateRegistry() : file_(dir_ / "registry.db") {
    if (const char* old = getenv("COMRT_REGISTRY")) old_ = old, had_ = true;
    setenv("COMRT_REGISTRY", file_.c_str(), 1);
  }
  ~PrivateRegistry() {
    if (had_)
      setenv("COMRT_REGISTRY", old_.c_str(), 1);
    else
      unsetenv("COMRT_REGISTRY");
  }
  const std::string& file() const { return file_; }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string file_;
  std::string old_;
  bool had_ = false;
};

struct RunResult {
  int status = -1;     // exit code, or -1 when it did not exit normally
  std::string output;  // standard output and standard error together
};

// Runs a shell command line and collects what it prints.
inline RunResult Run(const std::string& command) {
  RunResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Quotes a text for the shell.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace testsupport
