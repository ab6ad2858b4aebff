#include "options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <string_view>

namespace sim {
namespace {

constexpr std::size_t kMaxBlock = 999999999;  // a definite block header holds 9 digits
constexpr std::size_t kMaxFile = std::size_t{1} << 30;
constexpr int kMinSide = 32;
constexpr int kMaxSide = 4096;

template <typename T>
T ParseNumber(std::string_view option, std::string_view text, T min, T max) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    throw UsageError(std::string(option) + ": expected a number from " + std::to_string(min) +
                     " to " + std::to_string(max) + ", got '" + std::string(text) + "'");
  }
  return value;
}

CommandMatch ParseMatch(std::string_view option, std::string_view text) {
  CommandMatch m;
  if (auto at = text.rfind('@'); at != std::string_view::npos) {
    m.occurrence = ParseNumber<unsigned>(option, text.substr(at + 1), 1, 1000000);
    text = text.substr(0, at);
  }
  if (text.empty()) throw UsageError(std::string(option) + ": the command is empty");
  m.command = std::string(text);
  return m;
}

std::vector<std::size_t> ParseBlockSizes(std::string_view text) {
  std::vector<std::size_t> sizes;
  std::size_t start = 0;
  while (true) {
    auto comma = text.find(',', start);
    sizes.push_back(
        ParseNumber<std::size_t>("--block-size", text.substr(start, comma - start), 1, kMaxBlock));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return sizes;
}

void ParseSize(std::string_view text, Options& o) {
  auto x = text.find_first_of("xX");
  if (x == std::string_view::npos)
    throw UsageError("--size: expected WxH, got '" + std::string(text) + "'");
  o.width = ParseNumber<int>("--size (width)", text.substr(0, x), kMinSide, kMaxSide);
  o.height = ParseNumber<int>("--size (height)", text.substr(x + 1), kMinSide, kMaxSide);
}

}  // namespace

std::string Options::IdentityText() const {
  return idn.empty() ? "QUORELL," + model + ",SIM0001,1.0" : idn;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string name(arg);
    std::optional<std::string> inline_value;
    if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = std::string(arg.substr(0, eq));
      inline_value = std::string(arg.substr(eq + 1));
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= argc) throw UsageError(name + ": missing value");
      return argv[++i];
    };
    auto flag = [&] {
      if (inline_value) throw UsageError(name + ": takes no value");
    };

    if (name == "--help" || name == "-h") {
      flag();
      o.help = true;
    } else if (name == "--port") {
      o.port = ParseNumber<int>(name, value(), 0, 65535);
    } else if (name == "--bind") {
      o.bind = value();
      if (o.bind.empty()) throw UsageError("--bind: the address is empty");
    } else if (name == "--pty") {
      flag();
      o.pty = true;
    } else if (name == "--idn") {
      o.idn = value();
      if (o.idn.find('\n') != std::string::npos) throw UsageError("--idn: no line feeds");
    } else if (name == "--model") {
      o.model = value();
      if (o.model != "7612A" && o.model != "7613B") {
        throw UsageError("--model: expected 7612A or 7613B, got '" + o.model + "'");
      }
    } else if (name == "--size") {
      ParseSize(value(), o);
    } else if (name == "--tiff") {
      std::string v = value();
      if (v == "palette")
        o.tiff = TiffKind::kPalette;
      else if (v == "rgb")
        o.tiff = TiffKind::kRgb;
      else if (v == "bilevel")
        o.tiff = TiffKind::kBilevel;
      else
        throw UsageError("--tiff: expected palette, rgb or bilevel, got '" + v + "'");
    } else if (name == "--compression") {
      std::string v = value();
      if (v == "none")
        o.compression = Compression::kNone;
      else if (v == "packbits")
        o.compression = Compression::kPackBits;
      else if (v == "lzw")
        o.compression = Compression::kLzw;
      else
        throw UsageError("--compression: expected none, packbits or lzw, got '" + v + "'");
    } else if (name == "--block-size") {
      o.block_sizes = ParseBlockSizes(value());
    } else if (name == "--indefinite-blocks") {
      flag();
      o.indefinite_blocks = true;
    } else if (name == "--claim-length") {
      o.claimed_length = ParseNumber<std::size_t>(name, value(), 0, kMaxBlock);
    } else if (name == "--name-form") {
      std::string v = value();
      if (v == "_T")
        o.name_form = NameForm::kSuffixT;
      else if (v == ".TIF")
        o.name_form = NameForm::kExtTif;
      else if (v == "both")
        o.name_form = NameForm::kBoth;
      else if (v == "lower")
        o.name_form = NameForm::kLower;
      else
        throw UsageError("--name-form: expected _T, .TIF, both or lower, got '" + v + "'");
    } else if (name == "--save-nothing") {
      flag();
      o.save_nothing = true;
    } else if (name == "--file-size") {
      o.file_size = ParseNumber<std::size_t>(name, value(), 0, kMaxFile);
    } else if (name == "--preload") {
      std::string v = value();
      auto eq = v.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == v.size()) {
        throw UsageError("--preload: expected NAME=FILE, got '" + v + "'");
      }
      o.preloads.push_back({v.substr(0, eq), v.substr(eq + 1)});
    } else if (name == "--delay-after") {
      std::string v = value();
      auto eq = v.rfind('=');
      if (eq == std::string::npos) {
        throw UsageError("--delay-after: expected CMD=MS or CMD@N=MS, got '" + v + "'");
      }
      DelayRule rule;
      rule.match = ParseMatch(name, std::string_view(v).substr(0, eq));
      rule.ms = ParseNumber<unsigned>(name, std::string_view(v).substr(eq + 1), 0, 3600000);
      o.delays.push_back(rule);
    } else if (name == "--silent-after") {
      o.silent_after.push_back(ParseMatch(name, value()));
    } else if (name == "--no-reply") {
      o.no_reply.push_back(ParseMatch(name, value()));
    } else if (name == "--drop-after-bytes") {
      o.drop_after_bytes =
          ParseNumber<std::uint64_t>(name, value(), 0, std::numeric_limits<std::uint64_t>::max());
    } else if (name == "--one-client") {
      flag();
      o.one_client = true;
    } else if (name == "--trickle") {
      flag();
      o.trickle = true;
    } else if (name == "--trickle-us") {
      o.trickle = true;
      o.trickle_us = ParseNumber<unsigned>(name, value(), 0, 10000000);
    } else if (name == "--log") {
      o.log_path = value();
      if (o.log_path.empty()) throw UsageError("--log: the file name is empty");
    } else if (name == "--exit-on-eof") {
      flag();
      o.exit_on_eof = true;
    } else if (name == "--render-to") {
      o.render_to = value();
      if (o.render_to.empty()) throw UsageError("--render-to: the file name is empty");
    } else {
      throw UsageError("unknown option '" + std::string(arg) + "' (see --help)");
    }
  }
  if (!o.help && o.render_to.empty() && !o.port && !o.pty) {
    throw UsageError("nothing to listen on: give --port N (0 picks a free port) and/or --pty");
  }
  return o;
}

const char* HelpText() {
  return R"(Usage: analyzer-sim [--port N] [--pty] [options]

A simulated Quorell 7612A/7613B analyzer. Messages and replies end with a line feed.
Commands: *idn? *cls *OPC? CAT? PURG '<name>' STODMEMO SAVDTIF '<name>' ROPEN '<name>'
READ? CLOSE. Common commands (*...) in any case; device commands in upper case.

Where to listen (at least one):
  --port N                TCP port on loopback; 0 picks a free one. Prints "port N".
  --bind ADDR             listen on this numeric address only (default 127.0.0.1 and ::1)
  --pty                   a pseudo-terminal in raw mode (the serial path). Prints "pty PATH".

The instrument:
  --model 7612A|7613B     model in the identity (default 7613B)
  --idn TEXT              answer to *idn? (default "QUORELL,<model>,SIM0001,1.0")
  --size WxH              display size for SAVDTIF (default 640x480, 32..4096 each)
  --tiff palette|rgb|bilevel          TIFF colour form (default palette)
  --compression none|packbits|lzw     TIFF compression (default packbits)
  --name-form _T|.TIF|both|lower      stored name of SAVDTIF 'X': X_T (default), X.TIF,
                          both files, or lower case x_t
  --block-size N[,N...]   bytes per READ? block (default 16384); with a list, successive
                          blocks of one opened file take the sizes in turn, the last repeats
  --file-size N           SAVDTIF stores exactly N bytes: the TIFF cut short or followed
                          by filler bytes
  --preload NAME=FILE     put FILE's bytes into storage as NAME (repeatable)
  --render-to FILE        write the display TIFF to FILE and exit

Faults (CMD is a whole command or its first word, any case; CMD@K means its K-th
occurrence only, counted over all clients):
  --delay-after CMD=MS    handle CMD (and so reply to it) MS ms after it is due (repeatable)
  --silent-after CMD      from CMD on, answer and handle nothing more (repeatable)
  --no-reply CMD          handle CMD but withhold its reply; later commands are answered
                          (repeatable)
  --drop-after-bytes N    close a connection once N reply bytes were sent on it; on the
                          pty the line goes dead instead
  --save-nothing          SAVDTIF stores no file
  --indefinite-blocks     READ? answers "#0<bytes>" and its line feed
  --claim-length N        READ? block headers declare N bytes, whatever follows
  --one-client            refuse (close at once) a second TCP client while one is connected
  --trickle               send replies one byte at a time, 1 ms apart
  --trickle-us N          the same, N microseconds apart

Other:
  --log FILE              transcript: "<ms since start> <dir> <text>", dir '<' command,
                          '>' reply, '-' event; flushed per line
  --exit-on-eof           exit when standard input closes
  --help                  this text

SIGTERM and SIGINT end it cleanly. Exit status: 0 normal, 1 run-time error, 2 bad usage.
)";
}

}  // namespace sim
