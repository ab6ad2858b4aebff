// The analyzer's command set, independent of how commands arrive.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "options.h"
#include "storage.h"
#include "transcript.h"

namespace sim {

// A reply: text, then optionally a slice of a stored file, then more text.
struct Reply {
  std::string head;
  FileData data;
  std::size_t offset = 0;
  std::size_t length = 0;
  std::string tail;
  std::string description;  // for the transcript

  std::size_t size() const { return head.size() + length + tail.size(); }
};

class Instrument {
 public:
  Instrument(const Options& options, Transcript& log);

  // Handles one command line (without its line feed); returns the reply, if the command
  // has one.
  std::optional<Reply> Handle(std::string_view line);

  Storage& storage() { return storage_; }
  // The display as SAVDTIF stores it (after --file-size).
  FileData SavedImage();

 private:
  Reply Text(std::string text);
  Reply ReadBlock();
  void Save(const std::string& base);

  const Options& options_;
  Transcript& log_;
  Storage storage_;
  FileData image_;  // rendered once: the display never changes

  struct OpenFile {
    std::string name;
    FileData data;
    std::size_t position = 0;
    std::size_t blocks = 0;
  };
  std::optional<OpenFile> open_;
};

}  // namespace sim
