// Type libraries: loading (from a .tlb file, a server library's TYPELIB resource or
// memory), registration under HKEY_CLASSES_ROOT\TypeLib and \Interface, and loading by
// LIBID. Type libraries are written by idlc from an interface definition.
#pragma once

#include <span>
#include <string>

#include "com/automation.h"
#include "com/module.h"

constexpr MEMBERID MEMBERID_NIL = -1;

enum REGKIND : int { REGKIND_DEFAULT, REGKIND_REGISTER, REGKIND_NONE };

// The proxy-stub class that the registration names for automation interfaces.
inline constexpr CLSID CLSID_PSOAInterface = com::Guid("{00020424-0000-0000-C000-000000000046}");

extern "C" {
// `path` names a type library file, or a server library carrying the type library as
// resource TYPELIB 1; "lib.so\2" picks resource 2. Failures have a description in the
// thread's error information.
HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** lib);
// As LoadTypeLib; REGKIND_REGISTER also registers it (help folder: the file's folder).
HRESULT LoadTypeLibEx(LPCOLESTR path, REGKIND kind, ITypeLib** lib);
// Writes HKCR\TypeLib\{LIBID}\<major.minor> (default: the help string) with
// \<lcid>\win64 (default: fullPath), \FLAGS and \HELPDIR, and HKCR\Interface\{IID} for each
// dual or automation interface and its aliases, all in one transaction.
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir);
// Removes what RegisterTypeLib wrote for that version and nothing else; the LIBID key goes
// only when no other version remains. TYPE_E_LIBNOTREGISTERED when it is not registered.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
// The registered library with this major version and at least this minor version (the
// highest such), for lcid, its primary language or neutral. TYPE_E_LIBNOTREGISTERED with
// a description when there is none.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
// The registered path (BSTR, SysFreeString it).
HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, BSTR* path);
}

namespace com {

// A type library from the bytes idlc wrote; the bytes are copied.
HRESULT LoadTypeLibFromMemory(std::span<const BYTE> bytes, ITypeLib** lib);
// Resource TYPELIB `id` of a loaded module.
HRESULT LoadTypeLibFromResource(HMODULE module, unsigned id, ITypeLib** lib);

}  // namespace com
