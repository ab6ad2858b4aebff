// Command-line options of analyzer-sim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

enum class TiffKind { kPalette, kRgb, kBilevel };
enum class Compression { kNone, kPackBits, kLzw };
enum class NameForm { kSuffixT, kExtTif, kBoth, kLower };

// A command pattern of a fault option: the command's text (whole line, or its first word),
// compared ignoring case, and optionally only its n-th occurrence (1-based, 0 = every one).
struct CommandMatch {
  std::string command;
  unsigned occurrence = 0;
};

struct DelayRule {
  CommandMatch match;
  unsigned ms = 0;
};

struct Preload {
  std::string name;
  std::string path;
};

struct Options {
  std::optional<int> port;  // 0 = pick a free one
  std::string bind;         // empty = 127.0.0.1 and ::1
  bool pty = false;
  std::string idn;  // empty = derived from model
  std::string model = "7613B";
  int width = 640;
  int height = 480;
  TiffKind tiff = TiffKind::kPalette;
  Compression compression = Compression::kPackBits;  // small enough for six blocks
  std::vector<std::size_t> block_sizes{16384};
  bool indefinite_blocks = false;             // "#0<bytes>" in place of "#<n><len><bytes>"
  std::optional<std::size_t> claimed_length;  // header length that READ? claims
  NameForm name_form = NameForm::kSuffixT;
  bool save_nothing = false;
  std::optional<std::size_t> file_size;
  std::vector<Preload> preloads;
  std::vector<DelayRule> delays;
  std::vector<CommandMatch> silent_after;
  std::vector<CommandMatch> no_reply;
  std::optional<std::uint64_t> drop_after_bytes;
  bool one_client = false;
  bool trickle = false;
  unsigned trickle_us = 1000;
  std::string log_path;
  bool exit_on_eof = false;
  std::string render_to;  // render the display into this file and exit
  bool help = false;

  std::string IdentityText() const;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws UsageError with a message that names the offending option.
Options ParseOptions(int argc, char** argv);
const char* HelpText();

}  // namespace sim
