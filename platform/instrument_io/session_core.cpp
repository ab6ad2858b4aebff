#include "instrument_io/session_core.h"

#include <map>
#include <mutex>

#include "instrument_io/io_error.h"

namespace instrument_io {
namespace {

struct Pool {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<Connection>> connections;
};

// Holds no connection itself, only weak references: sessions that outlive it at exit
// never touch it again.
Pool& ThePool() {
  static Pool pool;
  return pool;
}

std::unique_ptr<Transport> OpenTransport(const Address& a, const OpenOptions& options) {
  switch (a.bus) {
    case Bus::Tcp:
      return OpenTcp(a, options.connectTimeoutMs);
    case Bus::Serial:
      return OpenSerial(
          a, options.serialSettings ? options.serialSettings(a.canonical) : SerialSettings{});
    case Bus::Gpib:
      return OpenGpib(a);
  }
  throw IoError(IO_E_ADDRESS, "unknown bus");
}

std::shared_ptr<Connection> Connect(const Address& a, const OpenOptions& options) {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.mutex);
  for (auto it = pool.connections.begin(); it != pool.connections.end();)
    it = it->second.expired() ? pool.connections.erase(it) : std::next(it);
  if (auto existing = pool.connections[a.canonical].lock(); existing && !existing->Lost())
    return existing;
  auto connection = std::make_shared<Connection>(a.canonical, OpenTransport(a, options));
  pool.connections[a.canonical] = connection;
  return connection;
}

}  // namespace

SessionCore::SessionCore(std::string opened, std::string label,
                         std::shared_ptr<Connection> connection)
    : opened_(std::move(opened)), label_(std::move(label)), connection_(std::move(connection)) {}

void SessionCore::SetTimeoutMs(int ms) {
  if (ms < 0)
    throw IoError(IO_E_ARGUMENT,
                  label_ + ": a time-out must be 0 ms or more, not " + std::to_string(ms));
  timeoutMs_ = ms;
}

void SessionCore::SetTermChar(int c) {
  if (c < -1 || c > 255)
    throw IoError(IO_E_ARGUMENT, label_ +
                                     ": a termination character must be a byte value "
                                     "0 to 255, or -1 for none, not " +
                                     std::to_string(c));
  termChar_ = c;
}

void SessionCore::Rethrow(const IoError& e) const {
  throw IoError(e.number(), label_ + ": " + e.what());
}

void SessionCore::Write(const std::string& command) {
  try {
    if (!command.empty() && command.back() == '\n')
      connection_->Write(command, timeoutMs_);
    else
      connection_->Write(command + "\n", timeoutMs_);
  } catch (const IoError& e) {
    Rethrow(e);
  }
}

std::string SessionCore::ReadText() {
  try {
    return connection_->ReadText(timeoutMs_, termChar_, blockLimit_);
  } catch (const IoError& e) {
    Rethrow(e);
  }
}

std::vector<uint8_t> SessionCore::ReadBlock() {
  try {
    return connection_->ReadBlock(timeoutMs_, termChar_, blockLimit_);
  } catch (const IoError& e) {
    Rethrow(e);
  }
}

size_t SessionCore::ReadBlock(BlockSink& sink) {
  try {
    return connection_->ReadBlock(timeoutMs_, termChar_, blockLimit_, sink);
  } catch (const IoError& e) {
    Rethrow(e);
  }
}

std::unique_ptr<SessionCore> OpenSessionCore(const std::string& text, const OpenOptions& options) {
  std::optional<Address> a = ParseAddress(text);
  std::string label = text;
  if (!a && options.resolveAlias) {
    if (std::optional<std::string> target = options.resolveAlias(text)) {
      a = ParseAddress(*target);
      if (!a)
        throw IoError(IO_E_ADDRESS, "the alias \"" + text + "\" stands for \"" + *target +
                                        "\", which is not a valid I/O address; expected " +
                                        ExpectedAddressForms());
      label = text + " (" + a->canonical + ")";
    }
  }
  if (!a)
    throw IoError(IO_E_ADDRESS, "\"" + text + "\" is not a valid I/O address; expected " +
                                    ExpectedAddressForms());
  try {
    return std::make_unique<SessionCore>(text, label, Connect(*a, options));
  } catch (const IoError& e) {
    throw IoError(e.number(), "cannot open " + label + ": " + e.what());
  }
}

}  // namespace instrument_io
