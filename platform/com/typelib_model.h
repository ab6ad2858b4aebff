// The description of a type library as idlc writes it and the runtime reads it: one file
// format shared by the compiler and the loader, so both sides agree by construction.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "com/automation.h"

namespace com::tlb {

// "CTLB" followed by the format version.
inline constexpr uint32_t kMagic = 0x424C5443;
inline constexpr uint32_t kFormatVersion = 1;

// A type as a chain: {VT_PTR, VT_BSTR} is BSTR*, {VT_SAFEARRAY, VT_I4} is SAFEARRAY(long).
// An interface of the library ends the chain as VT_USERDEFINED and is always reached
// through a pointer: {VT_PTR, VT_USERDEFINED} is Foo*, with userType "Foo".
struct Type {
  std::vector<VARTYPE> chain;
  std::string userType;
  friend bool operator==(const Type&, const Type&) = default;
};

struct Param {
  std::string name;
  Type type;
  USHORT flags = 0;  // PARAMFLAG_*
};

struct Function {
  std::string name;
  MEMBERID memid = 0;
  INVOKEKIND invkind = INVOKE_FUNC;
  WORD funcFlags = 0;  // FUNCFLAG_*
  std::string help;
  std::vector<Param> params;
  Type result;        // VT_HRESULT for every automation method
  uint16_t slot = 0;  // index in the method table, IUnknown's three included
};

enum class Kind : uint8_t { Interface = 0, Alias = 1, CoClass = 2 };

struct ImplType {
  std::string name;  // an interface of this library
  INT flags = 0;     // IMPLTYPEFLAG_*
};

struct TypeEntry {
  Kind kind = Kind::Interface;
  std::string name;
  GUID guid{};
  WORD typeFlags = 0;  // TYPEFLAG_*
  std::string help;
  // Interface: the base ("IDispatch", "IUnknown" or an interface of this library).
  std::string base;
  std::vector<Function> functions;
  // Alias: the interface it names.
  std::string aliasOf;
  // Coclass.
  std::vector<ImplType> impls;
};

struct Library {
  std::string name;
  GUID libid{};
  WORD major = 0, minor = 0;
  LCID lcid = 0;
  WORD libFlags = 0;
  std::string help;
  std::vector<std::string> imports;
  std::vector<TypeEntry> types;

  const TypeEntry* Find(const std::string& typeName) const;
};

std::vector<uint8_t> Serialize(const Library& lib);
// False with a reason for anything that is not a complete, well-formed library.
bool Deserialize(std::span<const uint8_t> bytes, Library* lib, std::string* error);

// "{XXXXXXXX-...}" in upper case, without the runtime's help (idlc links no runtime).
std::string FormatGuid(const GUID& g);

}  // namespace com::tlb
