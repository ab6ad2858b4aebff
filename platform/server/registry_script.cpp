#include "server/registry_script.h"

#include <cctype>
#include <charconv>
#include <optional>

#include "com/guid.h"
#include "com/strings.h"

namespace com::server {
namespace {

struct Token {
  enum class Kind { Word, Open, Close, Equals, End };
  Kind kind = Kind::End;
  std::string text;  // after substitution
  bool quoted = false;
  int line = 1;
};

struct SyntaxError {
  int line;
  std::string message;
};

class Lexer {
 public:
  Lexer(std::string_view text, const Substitutions& subs) : text_(text), subs_(subs) {}

  Token Next() {
    SkipSpace();
    Token t;
    t.line = line_;
    if (pos_ >= text_.size()) {
      t.line = lastLine_;  // the end is reported where the last token was
      return t;
    }
    char c = text_[pos_];
    if (c == '=') {
      ++pos_;
      t.kind = Token::Kind::Equals;
      lastLine_ = line_;
      return t;
    }
    if (c == '\'') return Quoted();
    // A braced GUID is a name; any other brace is one on its own, so blocks may touch
    // their names ("Key{Sub}").
    if (c == '{' && com::ParseGuid(text_.substr(pos_, 38))) {
      pos_ += 38;
      t.kind = Token::Kind::Word;
      t.text = std::string(text_.substr(pos_ - 38, 38));
      lastLine_ = line_;
      return t;
    }
    if (c == '{' || c == '}') {
      ++pos_;
      t.kind = c == '{' ? Token::Kind::Open : Token::Kind::Close;
      lastLine_ = line_;
      return t;
    }
    size_t start = pos_;
    while (pos_ < text_.size() && !IsSpace(text_[pos_]) &&
           std::string_view("='{}").find(text_[pos_]) == std::string_view::npos)
      ++pos_;
    std::string_view word = text_.substr(start, pos_ - start);
    t.kind = Token::Kind::Word;
    t.text = Substitute(word, t.line);
    lastLine_ = line_;
    return t;
  }

 private:
  static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
  }

  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }

  Token Quoted() {
    Token t;
    t.kind = Token::Kind::Word;
    t.quoted = true;
    t.line = line_;
    ++pos_;
    std::string raw;
    for (;;) {
      if (pos_ >= text_.size()) throw SyntaxError{t.line, "unterminated quoted text"};
      char c = text_[pos_++];
      if (c == '\'') {
        if (pos_ < text_.size() && text_[pos_] == '\'') {
          raw += '\'';
          ++pos_;
          continue;
        }
        break;
      }
      if (c == '\n') ++line_;
      raw += c;
    }
    t.text = Substitute(raw, t.line);
    lastLine_ = line_;
    return t;
  }

  // The caller's texts are data: they are inserted after the script is split into tokens,
  // so a quote or brace in a path cannot change the script's shape.
  std::string Substitute(std::string_view s, int line) const {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] != '%') {
        out += s[i];
        continue;
      }
      size_t end = s.find('%', i + 1);
      if (end == std::string_view::npos) throw SyntaxError{line, "unmatched '%'"};
      std::string_view name = s.substr(i + 1, end - i - 1);
      if (name.empty()) {
        out += '%';
      } else {
        const std::string* value = nullptr;
        for (const auto& [n, v] : subs_)
          if (com::EqualsIgnoreAsciiCase(n, name)) value = &v;
        if (!value) throw SyntaxError{line, "unknown substitution %" + std::string(name) + "%"};
        out += *value;
      }
      i = end;
    }
    return out;
  }

  std::string_view text_;
  const Substitutions& subs_;
  size_t pos_ = 0;
  int line_ = 1;
  int lastLine_ = 1;
};

class Parser {
 public:
  Parser(std::string_view text, const Substitutions& subs) : lex_(text, subs) { Advance(); }

  std::vector<ScriptRoot> Script() {
    std::vector<ScriptRoot> roots;
    while (tok_.kind != Token::Kind::End) {
      if (tok_.kind != Token::Kind::Word) Fail("expected a root key such as HKCR");
      ScriptRoot root;
      if (com::EqualsIgnoreAsciiCase(tok_.text, "HKCR") ||
          com::EqualsIgnoreAsciiCase(tok_.text, "HKEY_CLASSES_ROOT"))
        root.root = "HKCR";
      else if (com::EqualsIgnoreAsciiCase(tok_.text, "HKCU") ||
               com::EqualsIgnoreAsciiCase(tok_.text, "HKEY_CURRENT_USER"))
        root.root = "HKCU";
      else
        Fail("unknown root key '" + tok_.text + "'");
      Advance();
      Expect(Token::Kind::Open, "expected '{' after the root key");
      while (tok_.kind != Token::Kind::Close) {
        if (IsKeyword("val")) Fail("a root key has no named values");
        root.keys.push_back(Key());
      }
      Advance();
      roots.push_back(std::move(root));
    }
    return roots;
  }

 private:
  [[noreturn]] void Fail(const std::string& message) { throw SyntaxError{tok_.line, message}; }

  void Advance() { tok_ = lex_.Next(); }

  void Expect(Token::Kind kind, const char* message) {
    if (tok_.kind != kind) Fail(message);
    Advance();
  }

  bool IsKeyword(std::string_view word) const {
    return tok_.kind == Token::Kind::Word && !tok_.quoted &&
           com::EqualsIgnoreAsciiCase(tok_.text, word);
  }

  std::string Name(const char* what) {
    if (tok_.kind != Token::Kind::Word) Fail(std::string("expected ") + what);
    if (tok_.text.empty()) Fail(std::string("empty ") + what);
    std::string name = tok_.text;
    Advance();
    return name;
  }

  ScriptValue Value() {
    ScriptValue v;
    if (IsKeyword("s")) {
      Advance();
      if (tok_.kind != Token::Kind::Word) Fail("expected a text after 's'");
      v.type = REG_SZ;
      v.text = tok_.text;
    } else if (IsKeyword("d")) {
      Advance();
      if (tok_.kind != Token::Kind::Word) Fail("expected a number after 'd'");
      auto n = Number(tok_.text);
      if (!n) Fail("'" + tok_.text + "' is not a 32-bit number");
      v.type = REG_DWORD;
      v.number = *n;
    } else if (tok_.kind == Token::Kind::Word && !tok_.quoted) {
      Fail("unsupported value type '" + tok_.text + "' (s and d are supported)");
    } else {
      Fail("expected a value type (s or d)");
    }
    Advance();
    return v;
  }

  static std::optional<DWORD> Number(std::string_view s) {
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      base = 16;
      s.remove_prefix(2);
    }
    uint64_t n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if (negative ? n > 0x80000000ull : n > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<DWORD>(negative ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n));
  }

  ScriptKey Key() {
    ScriptKey key;
    for (;;) {
      ScriptKey::Flag flag;
      if (IsKeyword("NoRemove"))
        flag = ScriptKey::Flag::NoRemove;
      else if (IsKeyword("ForceRemove"))
        flag = ScriptKey::Flag::ForceRemove;
      else if (IsKeyword("Delete"))
        flag = ScriptKey::Flag::Delete;
      else
        break;
      if (key.flag != ScriptKey::Flag::None)
        Fail("a key takes only one of NoRemove, ForceRemove, Delete");
      key.flag = flag;
      Advance();
    }
    if (tok_.kind == Token::Kind::End) Fail("unexpected end of script: missing '}'");
    if (IsKeyword("val")) Fail("'val' cannot follow a key flag");
    key.name = Name("a key name");
    if (tok_.kind == Token::Kind::Equals) {
      Advance();
      key.hasDefault = true;
      key.defaultValue = Value();
    }
    if (tok_.kind == Token::Kind::Open) {
      Advance();
      while (tok_.kind != Token::Kind::Close) {
        if (tok_.kind == Token::Kind::End) Fail("unexpected end of script: missing '}'");
        if (IsKeyword("val")) {
          Advance();
          ScriptNamedValue nv;
          nv.name = Name("a value name");
          Expect(Token::Kind::Equals, "expected '=' after the value name");
          nv.value = Value();
          key.values.push_back(std::move(nv));
        } else {
          key.subkeys.push_back(Key());
        }
      }
      Advance();
    }
    return key;
  }

  Lexer lex_;
  Token tok_;
};

}  // namespace

ParsedScript ParseRegistryScript(std::string_view script, const Substitutions& substitutions) {
  ParsedScript out;
  try {
    Parser parser(script, substitutions);
    out.roots = parser.Script();
  } catch (const SyntaxError& e) {
    out.roots.clear();
    out.errorLine = e.line;
    out.error = e.message;
  }
  return out;
}

}  // namespace com::server
