#include "instrument_io/address.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace instrument_io {
namespace {

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool IEquals(std::string_view a, std::string_view b) { return Upper(a) == Upper(b); }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// A whole decimal number within [lo, hi]; an empty text is none.
std::optional<int> Number(std::string_view s, int lo, int hi) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

// "KEYWORD" followed by an optional board number: the board, or nothing.
std::optional<int> Board(std::string_view head, std::string_view keyword) {
  if (head.size() < keyword.size() || !IEquals(head.substr(0, keyword.size()), keyword))
    return std::nullopt;
  std::string_view rest = head.substr(keyword.size());
  if (rest.empty()) return 0;
  return Number(rest, 0, 999);
}

std::vector<std::string_view> Split(std::string_view s) {
  std::vector<std::string_view> parts;
  for (;;) {
    size_t at = s.find("::");
    if (at == std::string_view::npos) {
      parts.push_back(s);
      return parts;
    }
    parts.push_back(s.substr(0, at));
    s.remove_prefix(at + 2);
  }
}

bool ValidHost(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '.' || c == '-' || c == ':' || c == '_' || c == '%'))
      return false;
  }
  return true;
}

std::optional<Address> ParseTcp(std::string_view text) {
  size_t first = text.find("::");
  if (first == std::string_view::npos) return std::nullopt;
  auto board = Board(text.substr(0, first), "TCPIP");
  if (!board) return std::nullopt;
  std::string_view rest = text.substr(first + 2);
  // The last two fields are the port and SOCKET; everything before them is the host, so an
  // IPv6 address may keep its own "::".
  constexpr std::string_view kSocket = "::SOCKET";
  if (rest.size() < kSocket.size() || !IEquals(rest.substr(rest.size() - kSocket.size()), kSocket))
    return std::nullopt;
  rest.remove_suffix(kSocket.size());
  size_t portAt = rest.rfind("::");
  if (portAt == std::string_view::npos) return std::nullopt;
  auto port = Number(rest.substr(portAt + 2), 1, 65535);
  std::string_view host = rest.substr(0, portAt);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (!port || !ValidHost(host)) return std::nullopt;
  Address a;
  a.bus = Bus::Tcp;
  a.board = *board;
  a.host = Lower(host);
  a.port = *port;
  bool v6 = a.host.find(':') != std::string::npos;
  a.canonical = "TCPIP" + std::to_string(a.board) + "::" + (v6 ? "[" + a.host + "]" : a.host) +
                "::" + std::to_string(a.port) + "::SOCKET";
  return a;
}

std::optional<Address> ParseSerial(std::string_view text) {
  if (text.size() < 4 || !IEquals(text.substr(0, 4), "ASRL")) return std::nullopt;
  std::string_view rest = text.substr(4);
  constexpr std::string_view kInstr = "::INSTR";
  if (rest.size() >= kInstr.size() && IEquals(rest.substr(rest.size() - kInstr.size()), kInstr))
    rest.remove_suffix(kInstr.size());
  Address a;
  a.bus = Bus::Serial;
  if (!rest.empty() && rest.front() == '/') {
    if (rest.size() < 2 || rest.find("::") != std::string_view::npos) return std::nullopt;
    a.device = std::string(rest);
  } else {
    auto n = Number(rest, 1, 256);
    if (!n) return std::nullopt;
    a.board = *n;
    a.device = "/dev/ttyS" + std::to_string(*n - 1);
  }
  a.canonical = "ASRL" + a.device + "::INSTR";
  return a;
}

std::optional<Address> ParseGpib(std::string_view text) {
  std::vector<std::string_view> parts = Split(text);
  if (parts.size() > 1 && IEquals(parts.back(), "INSTR")) parts.pop_back();
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  auto board = Board(parts[0], "GPIB");
  auto primary = Number(parts[1], 0, 30);
  if (!board || !primary) return std::nullopt;
  Address a;
  a.bus = Bus::Gpib;
  a.board = *board;
  a.primary = *primary;
  if (parts.size() == 3) {
    auto secondary = Number(parts[2], 0, 30);
    if (!secondary) return std::nullopt;
    a.secondary = *secondary;
  }
  a.canonical = "GPIB" + std::to_string(a.board) + "::" + std::to_string(a.primary) +
                (a.secondary >= 0 ? "::" + std::to_string(a.secondary) : std::string()) + "::INSTR";
  return a;
}

}  // namespace

std::optional<Address> ParseAddress(std::string_view text) {
  text = Trim(text);
  if (auto a = ParseTcp(text)) return a;
  if (auto a = ParseSerial(text)) return a;
  if (auto a = ParseGpib(text)) return a;
  return std::nullopt;
}

const char* ExpectedAddressForms() {
  return "TCPIP[board]::host::port::SOCKET, ASRL<n>::INSTR, ASRL/dev/<device>::INSTR or "
         "GPIB[board]::primary[::secondary][::INSTR], or an alias defined under "
         "HKEY_CURRENT_USER\\Software\\Quorell\\InstrumentIO\\Aliases";
}

}  // namespace instrument_io
