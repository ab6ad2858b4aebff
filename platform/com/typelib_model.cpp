#include "com/typelib_model.h"

#include <cstdio>
#include <cstring>

namespace com::tlb {

namespace {

class Writer {
 public:
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    out_.insert(out_.end(), s.begin(), s.end());
  }
  void Guid(const GUID& g) {
    U32(g.Data1);
    U16(g.Data2);
    U16(g.Data3);
    for (uint8_t b : g.Data4) U8(b);
  }
  void TypeOf(const Type& t) {
    U16(static_cast<uint16_t>(t.chain.size()));
    for (VARTYPE vt : t.chain) U16(vt);
    // Only chains that name an interface carry its name, so other libraries read as before.
    if (!t.chain.empty() && t.chain.back() == VT_USERDEFINED) Str(t.userType);
  }
  std::vector<uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
};

// Every read is bounded by the input; a short or oversized field fails the whole load.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> in) : in_(in) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == in_.size(); }
  uint8_t U8() {
    if (!Need(1)) return 0;
    return in_[pos_++];
  }
  uint16_t U16() {
    uint16_t lo = U8();
    return static_cast<uint16_t>(lo | (U8() << 8));
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  std::string Str() {
    uint32_t n = U32();
    if (!Need(n)) return {};
    std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
    pos_ += n;
    return s;
  }
  GUID Guid() {
    GUID g{};
    g.Data1 = U32();
    g.Data2 = U16();
    g.Data3 = U16();
    for (uint8_t& b : g.Data4) b = U8();
    return g;
  }
  Type TypeOf() {
    Type t;
    uint16_t n = U16();
    if (n == 0 || n > 8) ok_ = false;
    for (uint16_t i = 0; ok_ && i < n; ++i) t.chain.push_back(U16());
    if (ok_ && t.chain.back() == VT_USERDEFINED) t.userType = Str();
    return t;
  }
  // A count that cannot exceed what is left (each element takes at least one byte).
  uint32_t Count() {
    uint32_t n = U32();
    if (n > in_.size() - pos_) ok_ = false;
    return ok_ ? n : 0;
  }

 private:
  bool Need(size_t n) {
    if (!ok_ || in_.size() - pos_ < n) ok_ = false;
    return ok_;
  }
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

bool KnownScalar(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_VOID:
    case VT_HRESULT:
      return true;
    default:
      return false;
  }
}

bool IsInterface(const Library& l, const std::string& name) {
  const TypeEntry* e = l.Find(name);
  return e && e->kind == Kind::Interface;
}

// Pointers and arrays name what they hold; the chain ends in a scalar, or in an interface
// of the library reached through a pointer.
bool WellFormed(const Library& l, const Type& t) {
  for (size_t i = 0; i < t.chain.size(); ++i) {
    VARTYPE vt = t.chain[i];
    bool last = i + 1 == t.chain.size();
    if (vt == VT_PTR || vt == VT_SAFEARRAY) {
      if (last) return false;
    } else if (vt == VT_USERDEFINED) {
      // Foo* or Foo**, never inside an array.
      if (!last || i == 0 || i > 2 || !IsInterface(l, t.userType)) return false;
      for (size_t j = 0; j < i; ++j)
        if (t.chain[j] != VT_PTR) return false;
    } else if (!last || !KnownScalar(vt)) {
      return false;
    }
  }
  return !t.chain.empty();
}

// The callee gets the address of the value; an interface pointer itself does not count.
bool PassedByReference(const Type& t) {
  size_t pointers = t.chain.back() == VT_USERDEFINED ? t.chain.size() - 2 : t.chain.size() - 1;
  return pointers > 0 && t.chain[0] == VT_PTR;
}

// What the runtime relies on beyond the byte layout: bases defined before use, slots in
// order after the base's, parameters it can call, references that resolve.
const char* Check(const Library& l) {
  std::vector<std::pair<std::string, unsigned>> slots = {{"IUnknown", 3}, {"IDispatch", 7}};
  auto slotsOf = [&](const std::string& n) -> int {
    for (const auto& [name, count] : slots)
      if (name == n) return static_cast<int>(count);
    return -1;
  };
  for (const auto& t : l.types) {
    if (t.kind == Kind::Interface) {
      int next = slotsOf(t.base);
      if (next < 0) return "interface with an unknown base";
      for (const auto& f : t.functions) {
        if (f.slot != next++) return "method-table slots out of order";
        if (!WellFormed(l, f.result) || f.params.size() > 30) return "malformed function";
        for (size_t i = 0; i < f.params.size(); ++i) {
          const Param& p = f.params[i];
          if (!WellFormed(l, p.type) || p.type.chain.back() == VT_VOID ||
              p.type.chain.back() == VT_HRESULT)
            return "malformed parameter";
          if ((p.flags & PARAMFLAG_FRETVAL) &&
              (i + 1 != f.params.size() || !PassedByReference(p.type)))
            return "malformed result parameter";
          // Not supported: what the caller passes in need not be of the declared interface.
          if (p.type.chain.back() == VT_USERDEFINED && (p.flags & PARAMFLAG_FIN) &&
              (p.flags & PARAMFLAG_FOUT))
            return "malformed parameter";
        }
      }
      slots.emplace_back(t.name, static_cast<unsigned>(next));
    } else if (t.kind == Kind::Alias) {
      if (!l.Find(t.aliasOf)) return "alias of an unknown type";
    } else {
      for (const auto& i : t.impls)
        if (!l.Find(i.name)) return "coclass with an unknown interface";
    }
  }
  return nullptr;
}

}  // namespace

const TypeEntry* Library::Find(const std::string& typeName) const {
  for (const auto& t : types)
    if (t.name == typeName) return &t;
  return nullptr;
}

std::vector<uint8_t> Serialize(const Library& lib) {
  Writer w;
  w.U32(kMagic);
  w.U32(kFormatVersion);
  w.Str(lib.name);
  w.Guid(lib.libid);
  w.U16(lib.major);
  w.U16(lib.minor);
  w.U32(lib.lcid);
  w.U16(lib.libFlags);
  w.Str(lib.help);
  w.U32(static_cast<uint32_t>(lib.imports.size()));
  for (const auto& i : lib.imports) w.Str(i);
  w.U32(static_cast<uint32_t>(lib.types.size()));
  for (const auto& t : lib.types) {
    w.U8(static_cast<uint8_t>(t.kind));
    w.Str(t.name);
    w.Guid(t.guid);
    w.U16(t.typeFlags);
    w.Str(t.help);
    w.Str(t.base);
    w.Str(t.aliasOf);
    w.U32(static_cast<uint32_t>(t.functions.size()));
    for (const auto& f : t.functions) {
      w.Str(f.name);
      w.U32(static_cast<uint32_t>(f.memid));
      w.U8(static_cast<uint8_t>(f.invkind));
      w.U16(f.funcFlags);
      w.Str(f.help);
      w.TypeOf(f.result);
      w.U16(f.slot);
      w.U32(static_cast<uint32_t>(f.params.size()));
      for (const auto& p : f.params) {
        w.Str(p.name);
        w.TypeOf(p.type);
        w.U16(p.flags);
      }
    }
    w.U32(static_cast<uint32_t>(t.impls.size()));
    for (const auto& i : t.impls) {
      w.Str(i.name);
      w.U32(static_cast<uint32_t>(i.flags));
    }
  }
  return w.Take();
}

bool Deserialize(std::span<const uint8_t> bytes, Library* lib, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  Reader r(bytes);
  if (r.U32() != kMagic || !r.ok()) return fail("not a type library (bad magic)");
  if (r.U32() != kFormatVersion) return fail("unsupported type library format version");
  Library l;
  l.name = r.Str();
  l.libid = r.Guid();
  l.major = r.U16();
  l.minor = r.U16();
  l.lcid = r.U32();
  l.libFlags = r.U16();
  l.help = r.Str();
  for (uint32_t i = 0, n = r.Count(); r.ok() && i < n; ++i) l.imports.push_back(r.Str());
  for (uint32_t i = 0, n = r.Count(); r.ok() && i < n; ++i) {
    TypeEntry t;
    uint8_t kind = r.U8();
    if (kind > static_cast<uint8_t>(Kind::CoClass)) return fail("unknown type kind");
    t.kind = static_cast<Kind>(kind);
    t.name = r.Str();
    t.guid = r.Guid();
    t.typeFlags = r.U16();
    t.help = r.Str();
    t.base = r.Str();
    t.aliasOf = r.Str();
    for (uint32_t j = 0, nf = r.Count(); r.ok() && j < nf; ++j) {
      Function f;
      f.name = r.Str();
      f.memid = static_cast<MEMBERID>(r.U32());
      uint8_t k = r.U8();
      if (k != INVOKE_FUNC && k != INVOKE_PROPERTYGET && k != INVOKE_PROPERTYPUT &&
          k != INVOKE_PROPERTYPUTREF)
        return fail("unknown invoke kind");
      f.invkind = static_cast<INVOKEKIND>(k);
      f.funcFlags = r.U16();
      f.help = r.Str();
      f.result = r.TypeOf();
      f.slot = r.U16();
      for (uint32_t p = 0, np = r.Count(); r.ok() && p < np; ++p) {
        Param prm;
        prm.name = r.Str();
        prm.type = r.TypeOf();
        prm.flags = r.U16();
        f.params.push_back(std::move(prm));
      }
      t.functions.push_back(std::move(f));
    }
    for (uint32_t j = 0, ni = r.Count(); r.ok() && j < ni; ++j) {
      ImplType it;
      it.name = r.Str();
      it.flags = static_cast<INT>(r.U32());
      t.impls.push_back(std::move(it));
    }
    l.types.push_back(std::move(t));
  }
  if (!r.ok()) return fail("type library is truncated or corrupt");
  if (!r.AtEnd()) return fail("type library has trailing bytes");
  if (const char* why = Check(l)) return fail(why);
  *lib = std::move(l);
  return true;
}

std::string FormatGuid(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

}  // namespace com::tlb
