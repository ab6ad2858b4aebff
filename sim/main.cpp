// analyzer-sim: a simulated Quorell 7612A/7613B analyzer for tests and demonstrations.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "instrument.h"
#include "options.h"
#include "server.h"
#include "transcript.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

sim::FileData ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("--preload: cannot read '" + path + "'");
  sim::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("--preload: error reading '" + path + "'");
  return std::make_shared<const sim::Bytes>(std::move(bytes));
}

int Run(const sim::Options& options) {
  sim::Transcript log;
  if (!options.log_path.empty()) log.Open(options.log_path);
  sim::Instrument instrument(options, log);

  if (!options.render_to.empty()) {
    sim::FileData image = instrument.SavedImage();
    std::ofstream out(options.render_to, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image->data()), image->size());
    out.close();
    if (!out) throw std::runtime_error("--render-to: cannot write '" + options.render_to + "'");
    return 0;
  }
  for (const sim::Preload& p : options.preloads) {
    sim::FileData data = ReadWholeFile(p.path);
    instrument.storage().Store(p.name, data);
    log.Event("preloaded " + p.name + " " + std::to_string(data->size()) + " bytes");
  }

  // The stop signals are blocked except while the loop waits, so none is lost.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t block, wait_mask;
  sigemptyset(&block);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &wait_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigdelset(&wait_mask, sig);

  sim::Server server(options, instrument, log);
  server.Start();
  server.Run(&g_stop, wait_mask);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  sim::Options options;
  try {
    options = sim::ParseOptions(argc, argv);
  } catch (const sim::UsageError& e) {
    std::fprintf(stderr, "analyzer-sim: %s\n", e.what());
    return 2;
  }
  if (options.help) {
    std::fputs(sim::HelpText(), stdout);
    return 0;
  }
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "analyzer-sim: %s\n", e.what());
    return 1;
  }
}
