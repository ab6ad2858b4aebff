#include "idl_parser.h"

#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

namespace idlc {

using namespace com::tlb;

namespace {

struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Tok { Ident, Number, String, Punct, End };

struct Token {
  Tok kind = Tok::End;
  std::string text;
  int line = 1;
};

struct Attribute {
  std::string name;
  std::string value;  // raw text inside the parentheses, or the string's content
  bool hasValue = false;
};
using Attributes = std::vector<Attribute>;

const Attribute* FindAttr(const Attributes& a, const std::string& name) {
  for (const auto& x : a)
    if (x.name == name) return &x;
  return nullptr;
}

class Parser {
 public:
  Parser(const std::string& text, const std::string& file) : s_(text), file_(file) { Next(); }

  void File(Library* lib) {
    bool haveLibrary = false;
    while (tok_.kind != Tok::End) {
      if (IsIdent("import")) {
        Next();
        Expect(Tok::String);
        ExpectPunct(";");
        continue;
      }
      Attributes attrs = OptAttributes();
      if (IsIdent("library")) {
        if (haveLibrary) Fail("only one library per file");
        haveLibrary = true;
        Library(attrs, lib);
      } else if (IsIdent("interface")) {
        Interface(attrs);
      } else {
        Fail("expected 'library' or 'interface', found '" + tok_.text + "'");
      }
    }
    if (!haveLibrary) Fail("no library block");
  }

 private:
  // ---- lexing ----
  void SkipSpace() {
    for (;;) {
      while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) {
        if (s_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (s_.compare(pos_, 2, "//") == 0) {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else if (s_.compare(pos_, 2, "/*") == 0) {
        size_t end = s_.find("*/", pos_ + 2);
        if (end == std::string::npos) Fail("unterminated comment");
        for (size_t i = pos_; i < end; ++i)
          if (s_[i] == '\n') ++line_;
        pos_ = end + 2;
      } else {
        return;
      }
    }
  }

  void Next() {
    SkipSpace();
    tok_ = Token{};
    tok_.line = line_;
    if (pos_ >= s_.size()) return;
    char c = s_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t b = pos_;
      while (pos_ < s_.size() &&
             (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
        ++pos_;
      tok_ = {Tok::Ident, s_.substr(b, pos_ - b), line_};
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
      size_t b = pos_++;
      while (pos_ < s_.size() &&
             (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.'))
        ++pos_;
      tok_ = {Tok::Number, s_.substr(b, pos_ - b), line_};
    } else if (c == '"') {
      std::string out;
      ++pos_;
      for (;;) {
        if (pos_ >= s_.size() || s_[pos_] == '\n') Fail("unterminated string");
        char d = s_[pos_++];
        if (d == '"') break;
        if (d == '\\') {
          if (pos_ >= s_.size()) Fail("unterminated string");
          char e = s_[pos_++];
          out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        } else {
          out += d;
        }
      }
      tok_ = {Tok::String, out, line_};
    } else {
      ++pos_;
      tok_ = {Tok::Punct, std::string(1, c), line_};
    }
  }

  // Text up to the closing parenthesis, for uuid(...) and version(...), whose contents are
  // not tokens of their own.
  std::string RawUntilParen() {
    size_t end = s_.find(')', pos_);
    if (end == std::string::npos) Fail("missing ')'");
    std::string raw = s_.substr(pos_, end - pos_);
    pos_ = end;
    size_t b = raw.find_first_not_of(" \t"), e = raw.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : raw.substr(b, e - b + 1);
  }

  [[noreturn]] void Fail(const std::string& why) {
    throw ParseError(file_ + ":" + std::to_string(tok_.line ? tok_.line : line_) + ": " + why);
  }
  bool IsIdent(const char* w) const { return tok_.kind == Tok::Ident && tok_.text == w; }
  bool IsPunct(const char* p) const { return tok_.kind == Tok::Punct && tok_.text == p; }
  std::string Expect(Tok kind) {
    if (tok_.kind != kind) Fail("unexpected '" + tok_.text + "'");
    std::string t = tok_.text;
    Next();
    return t;
  }
  void ExpectPunct(const char* p) {
    if (!IsPunct(p)) Fail(std::string("expected '") + p + "', found '" + tok_.text + "'");
    Next();
  }
  bool OptPunct(const char* p) {
    if (!IsPunct(p)) return false;
    Next();
    return true;
  }

  // ---- grammar ----
  Attributes OptAttributes() {
    Attributes out;
    if (!OptPunct("[")) return out;
    for (;;) {
      Attribute a;
      a.name = Expect(Tok::Ident);
      if (IsPunct("(")) {
        a.hasValue = true;
        if (a.name == "uuid" || a.name == "version") {
          a.value = RawUntilParen();
          Next();
        } else {
          Next();
          if (tok_.kind == Tok::String || tok_.kind == Tok::Number || tok_.kind == Tok::Ident)
            a.value = tok_.text, Next();
          else
            Fail("bad value for attribute " + a.name);
        }
        ExpectPunct(")");
      }
      out.push_back(a);
      if (OptPunct("]")) break;
      ExpectPunct(",");
    }
    return out;
  }

  void CheckAttrs(const Attributes& a, const std::set<std::string>& allowed, const char* what) {
    for (const auto& x : a)
      if (!allowed.count(x.name)) Fail("attribute '" + x.name + "' not supported on " + what);
  }

  GUID RequireUuid(const Attributes& a, const std::string& what) {
    const Attribute* u = FindAttr(a, "uuid");
    if (!u) Fail(what + " needs a uuid");
    auto g = com::ParseGuid(u->value);
    if (!g) Fail("malformed uuid '" + u->value + "'");
    return *g;
  }

  static std::string Help(const Attributes& a) {
    const Attribute* h = FindAttr(a, "helpstring");
    return h ? h->value : std::string();
  }

  void Library(const Attributes& attrs, com::tlb::Library* lib) {
    CheckAttrs(attrs, {"uuid", "version", "helpstring", "lcid"}, "a library");
    Next();
    lib->name = Expect(Tok::Ident);
    lib->libid = RequireUuid(attrs, "library");
    lib->help = Help(attrs);
    if (const Attribute* v = FindAttr(attrs, "version")) {
      unsigned maj = 0, min = 0;
      char extra = 0;
      if (std::sscanf(v->value.c_str(), "%u.%u%c", &maj, &min, &extra) != 2 || maj > 0xffff ||
          min > 0xffff)
        Fail("malformed version '" + v->value + "'");
      lib->major = static_cast<WORD>(maj);
      lib->minor = static_cast<WORD>(min);
    }
    if (const Attribute* l = FindAttr(attrs, "lcid"))
      lib->lcid = static_cast<LCID>(Number(l->value));
    ExpectPunct("{");
    while (!OptPunct("}")) {
      if (IsIdent("importlib")) {
        Next();
        ExpectPunct("(");
        lib->imports.push_back(Expect(Tok::String));
        ExpectPunct(")");
        ExpectPunct(";");
        continue;
      }
      if (IsIdent("typedef")) {
        Typedef();
        continue;
      }
      Attributes a = OptAttributes();
      if (IsIdent("interface")) {
        Interface(a);
      } else if (IsIdent("coclass")) {
        CoClass(a);
      } else {
        Fail("expected interface, coclass or typedef, found '" + tok_.text + "'");
      }
    }
    OptPunct(";");
    if (tok_.kind != Tok::End) Fail("text after the library block");
    Resolve(lib);
  }

  void Interface(const Attributes& attrs) {
    int line = tok_.line;
    Next();
    std::string name = Expect(Tok::Ident);
    typeLine_[name] = line;
    if (OptPunct(";")) return;  // a reference to an interface defined earlier
    CheckAttrs(attrs,
               {"object", "uuid", "dual", "hidden", "nonextensible", "oleautomation", "helpstring",
                "pointer_default", "local"},
               "an interface");
    TypeEntry t;
    t.kind = Kind::Interface;
    t.name = name;
    t.guid = RequireUuid(attrs, "interface " + name);
    t.help = Help(attrs);
    if (FindAttr(attrs, "dual")) t.typeFlags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
    if (FindAttr(attrs, "oleautomation")) t.typeFlags |= TYPEFLAG_FOLEAUTOMATION;
    if (FindAttr(attrs, "hidden")) t.typeFlags |= TYPEFLAG_FHIDDEN;
    if (FindAttr(attrs, "nonextensible")) t.typeFlags |= TYPEFLAG_FNONEXTENSIBLE;
    ExpectPunct(":");
    t.base = Expect(Tok::Ident);
    ExpectPunct("{");
    while (!OptPunct("}")) t.functions.push_back(Method(t.name));
    OptPunct(";");
    AddType(std::move(t));
  }

  Function Method(const std::string& owner) {
    Attributes a = OptAttributes();
    CheckAttrs(a, {"id", "propget", "propput", "propputref", "hidden", "restricted", "helpstring"},
               "a method");
    Function f;
    int line = tok_.line;
    funcLines_[owner].push_back(line);
    f.result = TypeSpec();
    f.name = Expect(Tok::Ident);
    f.help = Help(a);
    int kinds = 0;
    if (FindAttr(a, "propget")) f.invkind = INVOKE_PROPERTYGET, ++kinds;
    if (FindAttr(a, "propput")) f.invkind = INVOKE_PROPERTYPUT, ++kinds;
    if (FindAttr(a, "propputref")) f.invkind = INVOKE_PROPERTYPUTREF, ++kinds;
    if (kinds > 1) Fail(f.name + ": more than one property kind");
    if (FindAttr(a, "hidden")) f.funcFlags |= FUNCFLAG_FHIDDEN;
    if (FindAttr(a, "restricted")) f.funcFlags |= FUNCFLAG_FRESTRICTED;
    if (const Attribute* id = FindAttr(a, "id")) {
      f.memid = static_cast<MEMBERID>(Number(id->value));
      explicitIds_.insert(owner + "." + f.name);
    } else {
      f.memid = DISPID_UNKNOWN;  // assigned once the interface is complete
    }
    ExpectPunct("(");
    if (IsIdent("void") && Peek() == ')') Next();
    while (!OptPunct(")")) {
      f.params.push_back(Parameter());
      if (!IsPunct(")")) ExpectPunct(",");
    }
    ExpectPunct(";");
    if (f.result.chain != std::vector<VARTYPE>{VT_HRESULT}) {
      tok_.line = line;
      Fail(f.name + ": an automation method returns HRESULT");
    }
    CheckSignature(f, line);
    return f;
  }

  char Peek() {
    size_t p = pos_;
    while (p < s_.size() && std::isspace(static_cast<unsigned char>(s_[p]))) ++p;
    return p < s_.size() ? s_[p] : 0;
  }

  Param Parameter() {
    Attributes a = OptAttributes();
    CheckAttrs(a, {"in", "out", "retval", "optional", "lcid"}, "a parameter");
    Param p;
    p.type = TypeSpec();
    p.name = Expect(Tok::Ident);
    if (FindAttr(a, "in")) p.flags |= PARAMFLAG_FIN;
    if (FindAttr(a, "out")) p.flags |= PARAMFLAG_FOUT;
    if (FindAttr(a, "retval")) p.flags |= PARAMFLAG_FRETVAL;
    if (FindAttr(a, "optional")) p.flags |= PARAMFLAG_FOPT;
    if (FindAttr(a, "lcid")) Fail(p.name + ": lcid parameters are not supported");
    if (!(p.flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT))) p.flags |= PARAMFLAG_FIN;
    return p;
  }

  // A type: a base name, SAFEARRAY(T), or an interface pointer, then any number of '*'.
  Type TypeSpec() {
    Type t;
    std::string base = Expect(Tok::Ident);
    if (base == "unsigned") {
      std::string n = Expect(Tok::Ident);
      base += " " + n;
    }
    static const std::map<std::string, VARTYPE> scalars = {
        {"BSTR", VT_BSTR},         {"VARIANT", VT_VARIANT},
        {"VARIANT_BOOL", VT_BOOL}, {"long", VT_I4},
        {"LONG", VT_I4},           {"short", VT_I2},
        {"SHORT", VT_I2},          {"int", VT_INT},
        {"INT", VT_INT},           {"unsigned char", VT_UI1},
        {"BYTE", VT_UI1},          {"unsigned short", VT_UI2},
        {"unsigned long", VT_UI4}, {"unsigned int", VT_UINT},
        {"double", VT_R8},         {"DOUBLE", VT_R8},
        {"float", VT_R4},          {"FLOAT", VT_R4},
        {"HRESULT", VT_HRESULT},   {"SCODE", VT_ERROR},
        {"void", VT_VOID},         {"char", VT_I1}};
    // Interfaces that automation carries as dispatch or unknown pointers. The picture
    // interfaces come from the standard library and are dispatch interfaces.
    static const std::map<std::string, VARTYPE> pointers = {
        {"IDispatch", VT_DISPATCH}, {"IUnknown", VT_UNKNOWN},   {"IPictureDisp", VT_DISPATCH},
        {"Picture", VT_DISPATCH},   {"IFontDisp", VT_DISPATCH}, {"Font", VT_DISPATCH}};
    std::vector<VARTYPE> inner;
    if (base == "SAFEARRAY") {
      ExpectPunct("(");
      Type el = TypeSpec();
      ExpectPunct(")");
      if (el.chain.size() != 1 && !(el.chain.size() == 1))
        Fail("SAFEARRAY of pointers is not supported");
      if (el.chain[0] == VT_VOID || el.chain[0] == VT_HRESULT) Fail("bad SAFEARRAY element type");
      inner = {VT_SAFEARRAY, el.chain[0]};
    } else if (auto s = scalars.find(base); s != scalars.end()) {
      inner = {s->second};
    } else if (auto p = pointers.find(base); p != pointers.end()) {
      if (!OptPunct("*")) Fail(base + " is used through a pointer");
      inner = {p->second};
    } else {
      // An interface of this library, checked once the whole library is read, so that it
      // may be defined after its use.
      if (!OptPunct("*")) Fail("unknown type '" + base + "'");
      inner = {VT_PTR, VT_USERDEFINED};
      t.userType = base;
    }
    int stars = 0;
    while (OptPunct("*")) ++stars;
    if (stars > 2 || (!t.userType.empty() && stars > 1)) Fail("too many levels of indirection");
    for (int i = 0; i < stars; ++i) t.chain.push_back(VT_PTR);
    t.chain.insert(t.chain.end(), inner.begin(), inner.end());
    return t;
  }

  void CheckSignature(const Function& f, int line) {
    tok_.line = line;
    if (f.params.size() > 30) Fail(f.name + ": too many parameters");
    for (size_t i = 0; i < f.params.size(); ++i) {
      const Param& p = f.params[i];
      // An interface pointer is the value itself; a pointer to it passes it by reference.
      const bool isInterface = !p.type.userType.empty();
      const size_t pointers = p.type.chain.size() - (isInterface ? 2 : 1);
      bool isPtr = p.type.chain[0] == VT_PTR && pointers > 0;
      if (p.type.chain.back() == VT_VOID || p.type.chain.back() == VT_HRESULT)
        Fail(f.name + ": parameter " + p.name + " has no automation type");
      if (!isInterface && p.type.chain.size() > 2 && p.type.chain[1] == VT_PTR)
        Fail(f.name + ": parameter " + p.name + ": pointer to pointer is not an automation type");
      if (isInterface && (p.flags & PARAMFLAG_FIN) && (p.flags & PARAMFLAG_FOUT))
        Fail(f.name + ": [in, out] interface parameter " + p.name + " is not supported");
      if ((p.flags & PARAMFLAG_FOUT) && !isPtr)
        Fail(f.name + ": [out] parameter " + p.name + " must be a pointer");
      if (p.flags & PARAMFLAG_FRETVAL) {
        if (i + 1 != f.params.size()) Fail(f.name + ": [retval] must be the last parameter");
        if (!(p.flags & PARAMFLAG_FOUT)) Fail(f.name + ": [retval] must also be [out]");
      }
      if ((p.flags & PARAMFLAG_FIN) && isInterface && isPtr)
        Fail(f.name + ": [in] interface parameter " + p.name + " takes the interface pointer");
      if ((p.flags & PARAMFLAG_FOPT) && p.type.chain.back() != VT_VARIANT)
        Fail(f.name + ": only VARIANT parameters can be [optional]");
    }
    bool hasRetval = !f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL);
    size_t ins = f.params.size() - (hasRetval ? 1 : 0);
    if (f.invkind == INVOKE_PROPERTYGET && !hasRetval)
      Fail(f.name + ": a propget needs an [out, retval] parameter");
    if ((f.invkind == INVOKE_PROPERTYPUT || f.invkind == INVOKE_PROPERTYPUTREF) &&
        (hasRetval || ins == 0))
      Fail(f.name + ": a property put takes the value as its last [in] parameter");
  }

  void Typedef() {
    Next();
    Attributes a = OptAttributes();
    CheckAttrs(a, {"uuid", "hidden", "public", "helpstring"}, "a typedef");
    TypeEntry t;
    t.kind = Kind::Alias;
    int line = tok_.line;
    t.aliasOf = Expect(Tok::Ident);
    t.name = Expect(Tok::Ident);
    typeLine_[t.name] = line;
    t.guid = RequireUuid(a, "typedef " + t.name);
    t.help = Help(a);
    if (FindAttr(a, "hidden")) t.typeFlags |= TYPEFLAG_FHIDDEN;
    ExpectPunct(";");
    AddType(std::move(t));
  }

  void CoClass(const Attributes& attrs) {
    CheckAttrs(attrs, {"uuid", "helpstring", "noncreatable", "appobject", "hidden"}, "a coclass");
    Next();
    TypeEntry t;
    t.kind = Kind::CoClass;
    typeLine_[tok_.text] = tok_.line;
    t.name = Expect(Tok::Ident);
    t.guid = RequireUuid(attrs, "coclass " + t.name);
    t.help = Help(attrs);
    if (!FindAttr(attrs, "noncreatable")) t.typeFlags |= TYPEFLAG_FCANCREATE;
    if (FindAttr(attrs, "appobject")) t.typeFlags |= TYPEFLAG_FAPPOBJECT;
    if (FindAttr(attrs, "hidden")) t.typeFlags |= TYPEFLAG_FHIDDEN;
    ExpectPunct("{");
    while (!OptPunct("}")) {
      Attributes ia = OptAttributes();
      CheckAttrs(ia, {"default", "source"}, "a coclass interface");
      if (!IsIdent("interface")) Fail("expected 'interface' in coclass " + t.name);
      Next();
      ImplType it;
      it.name = Expect(Tok::Ident);
      if (FindAttr(ia, "default")) it.flags |= IMPLTYPEFLAG_FDEFAULT;
      if (FindAttr(ia, "source")) it.flags |= 0x2;  // IMPLTYPEFLAG_FSOURCE
      ExpectPunct(";");
      t.impls.push_back(it);
    }
    OptPunct(";");
    if (t.impls.empty()) Fail("coclass " + t.name + " has no interface");
    AddType(std::move(t));
  }

  void AddType(TypeEntry t) {
    for (const auto& o : types_) {
      if (o.name == t.name) Fail("'" + t.name + "' is defined twice");
      if (o.guid == t.guid) Fail("'" + t.name + "' has the uuid of '" + o.name + "'");
    }
    types_.push_back(std::move(t));
  }

  int64_t Number(const std::string& v) {
    if (v == "DISPID_VALUE") return DISPID_VALUE;
    if (v == "DISPID_NEWENUM") return DISPID_NEWENUM;
    try {
      size_t used = 0;
      int64_t n = std::stoll(v, &used, 0);
      if (used != v.size() || n < INT32_MIN || n > UINT32_MAX) throw std::invalid_argument(v);
      return n;
    } catch (const std::exception&) {
      Fail("bad number '" + v + "'");
    }
  }

  // Bases, method-table slots, DISPIDs and cross references, once everything is known.
  void Resolve(com::tlb::Library* lib) {
    std::map<std::string, int> slots = {{"IUnknown", 3}, {"IDispatch", 7}};
    for (auto& t : types_) {
      tok_.line = typeLine_[t.name];
      if (t.kind == Kind::Interface) {
        auto b = slots.find(t.base);
        if (b == slots.end()) Fail("interface " + t.name + ": unknown base " + t.base);
        if (t.base == "IDispatch") t.typeFlags |= TYPEFLAG_FDISPATCHABLE;
        for (const auto& o : types_)
          if (o.name == t.base && (o.typeFlags & TYPEFLAG_FDISPATCHABLE))
            t.typeFlags |= TYPEFLAG_FDISPATCHABLE;
        if ((t.typeFlags & TYPEFLAG_FDUAL) && !(t.typeFlags & TYPEFLAG_FDISPATCHABLE))
          Fail("dual interface " + t.name + " must derive from IDispatch");
        int slot = b->second;
        std::map<std::string, MEMBERID> byName;
        int autoIndex = 0;
        for (auto& f : t.functions) {
          f.slot = static_cast<uint16_t>(slot++);
          if (f.memid == DISPID_UNKNOWN && !explicitIds_.count(t.name + "." + f.name)) {
            auto n = byName.find(f.name);
            f.memid = n != byName.end() ? n->second : 0x60020000 + autoIndex;
          }
          ++autoIndex;
          byName.emplace(f.name, f.memid);
        }
        for (size_t i = 0; i < t.functions.size(); ++i)
          for (size_t j = 0; j < i; ++j) {
            const auto &a = t.functions[i], &c = t.functions[j];
            tok_.line = funcLines_[t.name][i];
            if (a.name == c.name && a.invkind == c.invkind)
              Fail(t.name + "." + a.name + " is declared twice with the same kind");
            if (a.memid == c.memid && a.name != c.name)
              Fail(t.name + ": " + a.name + " and " + c.name + " share a DISPID");
            if (a.name == c.name && a.memid != c.memid)
              Fail(t.name + "." + a.name + ": accessors of one property need one DISPID");
          }
        slots[t.name] = slot;
      }
    }
    for (const auto& t : types_) {
      tok_.line = typeLine_[t.name];
      auto isInterface = [&](const std::string& n) {
        for (const auto& o : types_)
          if (o.name == n && o.kind == Kind::Interface) return true;
        return false;
      };
      for (size_t i = 0; i < t.functions.size(); ++i)
        for (const auto& p : t.functions[i].params)
          if (!p.type.userType.empty() && !isInterface(p.type.userType)) {
            tok_.line = funcLines_[t.name][i];
            Fail(t.functions[i].name + ": unknown type '" + p.type.userType + "'");
          }
      if (t.kind == Kind::Alias && !isInterface(t.aliasOf))
        Fail("typedef " + t.name + ": " + t.aliasOf + " is not an interface of this library");
      for (const auto& i : t.impls)
        if (!isInterface(i.name)) Fail("coclass " + t.name + ": unknown interface " + i.name);
    }
    lib->types = std::move(types_);
  }

  const std::string& s_;
  std::string file_;
  size_t pos_ = 0;
  int line_ = 1;
  Token tok_;
  std::vector<TypeEntry> types_;
  std::set<std::string> explicitIds_;
  std::map<std::string, int> typeLine_;
  std::map<std::string, std::vector<int>> funcLines_;
};

}  // namespace

bool ParseIdl(const std::string& text, const std::string& fileName, com::tlb::Library* lib,
              std::string* error) {
  try {
    Parser p(text, fileName);
    com::tlb::Library out;
    p.File(&out);
    *lib = std::move(out);
    return true;
  } catch (const ParseError& e) {
    *error = e.what();
    return false;
  }
}

}  // namespace idlc
