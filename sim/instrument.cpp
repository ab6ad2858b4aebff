#include "instrument.h"

#include <algorithm>
#include <cctype>

#include "display.h"
#include "tiff_encode.h"

namespace sim {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// The argument of PURG, SAVDTIF and ROPEN: a name in single or double quotes, or bare.
std::string NameArgument(std::string_view arg) {
  arg = Trim(arg);
  if (arg.size() >= 2 && (arg.front() == '\'' || arg.front() == '"') && arg.back() == arg.front()) {
    arg = arg.substr(1, arg.size() - 2);
  }
  return std::string(arg);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

Instrument::Instrument(const Options& options, Transcript& log) : options_(options), log_(log) {}

FileData Instrument::SavedImage() {
  if (!image_) {
    Bytes bytes =
        EncodeTiff(RenderDisplay(options_.width, options_.height, options_.model), options_.tiff,
                   options_.compression, "QUORELL " + options_.model + " analyzer-sim");
    if (options_.file_size) {
      // Filler after the image: a byte pattern, so that misplaced blocks show.
      std::size_t old = bytes.size();
      bytes.resize(*options_.file_size);
      for (std::size_t i = old; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    image_ = std::make_shared<const Bytes>(std::move(bytes));
  }
  return image_;
}

Reply Instrument::Text(std::string text) {
  Reply r;
  r.description = text;
  r.head = std::move(text);
  r.tail = "\n";
  return r;
}

void Instrument::Save(const std::string& base) {
  if (base.empty()) {
    log_.Event("SAVDTIF without a name, nothing saved");
    return;
  }
  if (options_.save_nothing) {
    log_.Event("save stores nothing (--save-nothing)");
    return;
  }
  std::vector<std::string> names;
  switch (options_.name_form) {
    case NameForm::kSuffixT:
      names = {base + "_T"};
      break;
    case NameForm::kExtTif:
      names = {base + ".TIF"};
      break;
    case NameForm::kBoth:
      names = {base + "_T", base + ".TIF"};
      break;
    case NameForm::kLower:
      names = {Lower(base) + "_t"};
      break;
  }
  FileData image = SavedImage();
  for (const std::string& name : names) {
    storage_.Store(name, image);
    log_.Event("saved " + name + " " + std::to_string(image->size()) + " bytes");
  }
}

Reply Instrument::ReadBlock() {
  Reply r;
  r.tail = "\n";
  if (open_) {
    const auto& sizes = options_.block_sizes;
    std::size_t want = sizes[std::min(open_->blocks, sizes.size() - 1)];
    r.data = open_->data;
    r.offset = open_->position;
    r.length = std::min(want, open_->data->size() - open_->position);
    open_->position += r.length;
    ++open_->blocks;
  } else {
    log_.Event("READ? with no file open: empty block");
  }
  std::string digits = std::to_string(options_.claimed_length.value_or(r.length));
  r.head = options_.indefinite_blocks ? "#0" : "#" + std::to_string(digits.size()) + digits;
  r.description = "block " + std::to_string(r.length) + " bytes";
  if (options_.indefinite_blocks) r.description += " (indefinite)";
  if (options_.claimed_length) r.description += " (header says " + digits + ")";
  return r;
}

std::optional<Reply> Instrument::Handle(std::string_view line) {
  line = Trim(line);
  if (line.empty()) return std::nullopt;
  auto space = line.find_first_of(" \t");
  std::string_view keyword = line.substr(0, space);
  std::string_view arg = space == std::string_view::npos ? std::string_view() : line.substr(space);

  // Common commands are case-insensitive; the device commands are upper case.
  if (EqualsNoCase(keyword, "*IDN?")) return Text(options_.IdentityText());
  if (EqualsNoCase(keyword, "*OPC?")) return Text("1");
  if (EqualsNoCase(keyword, "*CLS")) return std::nullopt;
  if (keyword == "CAT?") return Text(storage_.Catalog());
  if (keyword == "STODMEMO") return std::nullopt;
  if (keyword == "READ?") return ReadBlock();
  if (keyword == "CLOSE") {
    if (open_) log_.Event("closed " + open_->name);
    open_.reset();
    return std::nullopt;
  }
  if (keyword == "SAVDTIF") {
    Save(NameArgument(arg));
    return std::nullopt;
  }
  if (keyword == "PURG") {
    std::string name = NameArgument(arg);
    log_.Event(storage_.Purge(name) ? "purged " + name : "PURG: no file " + name);
    return std::nullopt;
  }
  if (keyword == "ROPEN") {
    std::string name = NameArgument(arg);
    open_.reset();
    if (FileData data = storage_.Find(name)) {
      open_ = OpenFile{name, data};
      log_.Event("opened " + name + " " + std::to_string(data->size()) + " bytes");
    } else {
      log_.Event("ROPEN: no file " + name);
    }
    return std::nullopt;
  }
  log_.Event("unknown command, ignored");
  return std::nullopt;
}

}  // namespace sim
