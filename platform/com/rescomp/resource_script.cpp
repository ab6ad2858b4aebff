#include "resource_script.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "com/resource.h"

namespace rescomp {

namespace {

struct ScriptError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Lexer {
 public:
  Lexer(std::string text, std::string file) : s_(std::move(text)), file_(std::move(file)) {}

  // Next token: a word, a number, a quoted string (quoted = true), or one punctuation mark.
  // Empty at the end.
  std::string Next(bool* quoted = nullptr) {
    if (quoted) *quoted = false;
    for (;;) {
      while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) {
        if (s_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (s_.compare(pos_, 2, "//") == 0) {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
    if (pos_ >= s_.size()) return {};
    char c = s_[pos_];
    if (c == '"') {
      std::string out;
      ++pos_;
      for (;;) {
        if (pos_ >= s_.size() || s_[pos_] == '\n') Fail("unterminated string");
        char d = s_[pos_++];
        if (d == '"') {
          if (pos_ < s_.size() && s_[pos_] == '"') {  // "" inside a string is one quote
            out += '"';
            ++pos_;
            continue;
          }
          break;
        }
        if (d == '\\' && pos_ < s_.size()) {
          char e = s_[pos_++];
          out += e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e;
          continue;
        }
        out += d;
      }
      if (quoted) *quoted = true;
      return out;
    }
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      size_t b = pos_;
      while (pos_ < s_.size() &&
             (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
        ++pos_;
      return s_.substr(b, pos_ - b);
    }
    ++pos_;
    return std::string(1, c);
  }

  [[noreturn]] void Fail(const std::string& why) {
    throw ScriptError(file_ + ":" + std::to_string(line_) + ": " + why);
  }

  unsigned long Number(const std::string& t, unsigned long max) {
    try {
      size_t used = 0;
      unsigned long v = std::stoul(t, &used, 0);
      if (used == t.size() && v <= max) return v;
    } catch (const std::exception&) {
    }
    Fail("bad number '" + t + "'");
  }

 private:
  std::string s_;
  std::string file_;
  size_t pos_ = 0;
  int line_ = 1;
};

void PutU16(std::vector<unsigned char>* o, uint16_t v) {
  o->push_back(static_cast<unsigned char>(v));
  o->push_back(static_cast<unsigned char>(v >> 8));
}
void PutU32(std::vector<unsigned char>* o, uint32_t v) {
  PutU16(o, static_cast<uint16_t>(v));
  PutU16(o, static_cast<uint16_t>(v >> 16));
}
void PutStr(std::vector<unsigned char>* o, const std::string& s) {
  PutU32(o, static_cast<uint32_t>(s.size()));
  o->insert(o->end(), s.begin(), s.end());
}

void VersionNumbers(Lexer& lx, uint16_t out[4]) {
  for (int i = 0; i < 4; ++i) {
    if (i) {
      if (lx.Next() != ",") lx.Fail("version numbers are four numbers separated by commas");
    }
    out[i] = static_cast<uint16_t>(lx.Number(lx.Next(), 0xffff));
  }
}

Resource VersionBlock(Lexer& lx) {
  if (lx.Next() != "{") lx.Fail("expected '{' after VERSIONINFO");
  uint16_t fileVersion[4]{}, productVersion[4]{};
  uint32_t fileType = VFT_DLL, fileOs = VOS_NT_WINDOWS32;
  uint16_t language = 0x0409, codePage = 1200;
  std::vector<std::pair<std::string, std::string>> strings;
  for (;;) {
    bool quoted = false;
    std::string t = lx.Next(&quoted);
    if (t.empty() && !quoted) lx.Fail("unterminated VERSIONINFO block");
    if (!quoted && t == "}") break;
    if (quoted) {
      bool q2 = false;
      std::string v = lx.Next(&q2);
      if (!q2) lx.Fail("version string \"" + t + "\" needs a quoted value");
      for (const auto& s : strings)
        if (s.first == t) lx.Fail("version string \"" + t + "\" given twice");
      strings.emplace_back(t, v);
    } else if (t == "FILEVERSION") {
      VersionNumbers(lx, fileVersion);
    } else if (t == "PRODUCTVERSION") {
      VersionNumbers(lx, productVersion);
    } else if (t == "FILETYPE") {
      std::string v = lx.Next();
      fileType = v == "DLL" ? VFT_DLL : v == "APP" ? VFT_APP : lx.Number(v, 0xffffffff);
    } else if (t == "FILEOS") {
      std::string v = lx.Next();
      fileOs = v == "NT_WINDOWS32" ? VOS_NT_WINDOWS32 : lx.Number(v, 0xffffffff);
    } else if (t == "LANGUAGE") {
      language = static_cast<uint16_t>(lx.Number(lx.Next(), 0xffff));
    } else if (t == "CODEPAGE") {
      codePage = static_cast<uint16_t>(lx.Number(lx.Next(), 0xffff));
    } else {
      lx.Fail("unknown VERSIONINFO entry '" + t + "'");
    }
  }
  Resource r;
  r.type = "VERSION";
  r.id = 1;
  PutU32(&r.bytes, kVersionMagic);
  for (uint16_t v : fileVersion) PutU16(&r.bytes, v);
  for (uint16_t v : productVersion) PutU16(&r.bytes, v);
  PutU32(&r.bytes, fileType);
  PutU32(&r.bytes, fileOs);
  PutU16(&r.bytes, language);
  PutU16(&r.bytes, codePage);
  PutU32(&r.bytes, static_cast<uint32_t>(strings.size()));
  for (const auto& [k, v] : strings) {
    PutStr(&r.bytes, k);
    PutStr(&r.bytes, v);
  }
  return r;
}

bool IsTypeName(const std::string& t) {
  if (t.empty()) return false;
  for (char c : t)
    if (!(std::isupper(static_cast<unsigned char>(c)) ||
          std::isdigit(static_cast<unsigned char>(c)) || c == '_'))
      return false;
  return std::isupper(static_cast<unsigned char>(t[0]));
}

}  // namespace

bool LoadScript(const std::string& path, const std::vector<std::string>& searchDirs, Script* out,
                std::string* error) {
  namespace fs = std::filesystem;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "rescomp: cannot read " + path;
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  Lexer lx(ss.str(), path);
  Script script;
  script.inputs.push_back(fs::absolute(path).string());
  std::vector<fs::path> dirs{fs::absolute(path).parent_path()};
  for (const auto& d : searchDirs) dirs.emplace_back(fs::absolute(d));
  try {
    for (;;) {
      std::string type = lx.Next();
      if (type.empty()) break;
      Resource r;
      if (type == "VERSIONINFO") {
        r = VersionBlock(lx);
      } else {
        if (!IsTypeName(type)) lx.Fail("expected a resource type, found '" + type + "'");
        r.type = type;
        r.id = static_cast<unsigned>(lx.Number(lx.Next(), 0xffff));
        bool quoted = false;
        std::string arg = lx.Next(&quoted);
        if (!quoted) lx.Fail(type + " " + std::to_string(r.id) + " needs a quoted argument");
        if (type == "STRING") {
          r.bytes.assign(arg.begin(), arg.end());
        } else {
          fs::path found;
          for (const auto& d : dirs) {
            fs::path p = fs::path(arg).is_absolute() ? fs::path(arg) : d / arg;
            if (fs::is_regular_file(p)) {
              found = p;
              break;
            }
          }
          if (found.empty()) lx.Fail("cannot find " + arg);
          std::ifstream f(found, std::ios::binary);
          r.bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
          if (!f.good() && !f.eof()) lx.Fail("cannot read " + found.string());
          script.inputs.push_back(found.string());
        }
      }
      for (const auto& o : script.resources)
        if (o.type == r.type && o.id == r.id)
          lx.Fail(r.type + " " + std::to_string(r.id) + " is given twice");
      script.resources.push_back(std::move(r));
    }
  } catch (const ScriptError& e) {
    *error = e.what();
    return false;
  }
  *out = std::move(script);
  return true;
}

std::string WriteSource(const Script& script) {
  std::ostringstream o;
  o << "// Generated by rescomp; change the resource script instead.\n"
    << "#include \"com/resource.h\"\n\nnamespace {\n";
  for (size_t i = 0; i < script.resources.size(); ++i) {
    const auto& r = script.resources[i];
    o << "const unsigned char r" << i << "[] = {";
    for (size_t j = 0; j < r.bytes.size(); ++j) {
      if (j % 16 == 0) o << "\n ";
      char buf[8];
      std::snprintf(buf, sizeof buf, " 0x%02x,", r.bytes[j]);
      o << buf;
    }
    o << (r.bytes.empty() ? "0" : "") << "};\n";
  }
  o << "const ComResourceEntry entries[] = {\n";
  for (size_t i = 0; i < script.resources.size(); ++i) {
    const auto& r = script.resources[i];
    o << "    {\"" << r.type << "\", " << r.id << ", r" << i << ", " << r.bytes.size() << "},\n";
  }
  if (script.resources.empty()) o << "    {\"\", 0, nullptr, 0},\n";
  o << "};\nconst ComResourceDirectory directory = {kComResourceDirectoryVersion, "
    << script.resources.size() << ", entries};\n}  // namespace\n\n"
    << "extern \"C\" __attribute__((visibility(\"default\"))) const ComResourceDirectory* "
       "ComModuleResources() {\n  return &directory;\n}\n";
  return o.str();
}

}  // namespace rescomp
