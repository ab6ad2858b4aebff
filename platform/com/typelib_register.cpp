// Registration of type libraries under HKEY_CLASSES_ROOT\TypeLib and \Interface, and
// loading them again by LIBID.
#include <cstdio>
#include <string>
#include <vector>

#include "com/errorinfo.h"
#include "com/ptr.h"
#include "com/registry.h"
#include "com/strings.h"
#include "com/typelib.h"

namespace {

using com::registry::CommitTransaction;
using com::registry::DeleteTree;
using com::registry::GetText;
using com::registry::ListSubkeys;
using com::registry::ListValues;
using com::registry::SetText;

constexpr const char* kPlatform = "win64";

std::string Hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", v);
  return buf;
}

std::string VersionText(WORD major, WORD minor) { return Hex(major) + "." + Hex(minor); }

std::string LibKey(REFGUID libid) { return "HKCR\\TypeLib\\" + com::GuidToString(libid); }

HRESULT RegistryFailure(LONG rc) {
  return com::SetError(TYPE_E_REGISTRYACCESS, "cannot write the type library registration: " +
                                                  com::registry::LastErrorText() + " (" +
                                                  std::to_string(rc) + ")");
}

struct InterfaceEntry {
  GUID iid;
  std::string name;
};

// The dual and automation interfaces of a library, with the aliases that name them.
HRESULT AutomationInterfaces(ITypeLib* lib, std::vector<InterfaceEntry>* out) {
  UINT n = lib->GetTypeInfoCount();
  for (UINT i = 0; i < n; ++i) {
    com::ComPtr<ITypeInfo> info;
    HRESULT hr = lib->GetTypeInfo(i, info.Put());
    if (FAILED(hr)) return hr;
    TYPEATTR* attr = nullptr;
    if (FAILED(hr = info->GetTypeAttr(&attr))) return hr;
    GUID guid = attr->guid;
    TYPEKIND kind = attr->typekind;
    WORD flags = attr->wTypeFlags;
    HREFTYPE aliasRef = attr->tdescAlias.hreftype;
    bool aliasOfUser = kind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED;
    info->ReleaseTypeAttr(attr);
    if (aliasOfUser) {
      com::ComPtr<ITypeInfo> target;
      TYPEATTR* ta = nullptr;
      if (FAILED(info->GetRefTypeInfo(aliasRef, target.Put())) || FAILED(target->GetTypeAttr(&ta)))
        continue;
      kind = ta->typekind;
      flags = ta->wTypeFlags;
      target->ReleaseTypeAttr(ta);
    }
    if ((kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) ||
        !(flags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)))
      continue;
    com::BStr name;
    lib->GetDocumentation(static_cast<INT>(i), name.Put(), nullptr, nullptr, nullptr);
    out->push_back({guid, name.Utf8()});
  }
  return S_OK;
}

// The registered version key that serves major.minor: same major, the highest minor not
// below the one asked for.
bool FindVersion(REFGUID libid, WORD major, WORD minor, std::string* key) {
  std::vector<std::string> versions;
  if (ListSubkeys(LibKey(libid), &versions) != ERROR_SUCCESS) return false;
  int best = -1;
  for (const auto& v : versions) {
    unsigned maj = 0, min = 0;
    char extra = 0;
    if (std::sscanf(v.c_str(), "%x.%x%c", &maj, &min, &extra) != 2) continue;
    if (maj == major && min >= minor && static_cast<int>(min) > best) {
      best = static_cast<int>(min);
      *key = LibKey(libid) + "\\" + v;
    }
  }
  return best >= 0;
}

bool IsEmptyKey(const std::string& key) {
  std::vector<std::string> subs;
  std::vector<com::registry::Value> values;
  return ListSubkeys(key, &subs) == ERROR_SUCCESS && subs.empty() &&
         ListValues(key, &values) == ERROR_SUCCESS && values.empty();
}

HRESULT NotRegistered(REFGUID libid, WORD major, WORD minor) {
  return com::SetError(TYPE_E_LIBNOTREGISTERED, "type library " + com::GuidToString(libid) +
                                                    " version " + VersionText(major, minor) +
                                                    " is not registered");
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  if (!lib || !fullPath || !*fullPath) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  TLIBATTR a = *attr;
  lib->ReleaseTLibAttr(attr);
  com::BStr help;
  lib->GetDocumentation(-1, nullptr, help.Put(), nullptr, nullptr);
  std::vector<InterfaceEntry> interfaces;
  if (FAILED(hr = AutomationInterfaces(lib, &interfaces))) return hr;

  std::string path = com::Utf16ToUtf8(fullPath);
  std::string dir =
      helpDir && *helpDir ? com::Utf16ToUtf8(helpDir) : path.substr(0, path.find_last_of('/') + 1);
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::string libid = com::GuidToString(a.guid);
  std::string version = VersionText(a.wMajorVerNum, a.wMinorVerNum);
  std::string key = LibKey(a.guid) + "\\" + version;

  LONG rc = com::registry::BeginTransaction();
  if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
  auto set = [&](const std::string& k, const std::string& name, const std::string& v) {
    if (rc == ERROR_SUCCESS) rc = SetText(k, name, v);
  };
  set(key, "", help.Utf8());
  set(key + "\\" + Hex(a.lcid) + "\\" + kPlatform, "", path);
  set(key + "\\FLAGS", "", std::to_string(a.wLibFlags));
  set(key + "\\HELPDIR", "", dir);
  for (const auto& i : interfaces) {
    std::string ik = "HKCR\\Interface\\" + com::GuidToString(i.iid);
    set(ik, "", i.name);
    set(ik + "\\ProxyStubClsid", "", com::GuidToString(CLSID_PSOAInterface));
    set(ik + "\\ProxyStubClsid32", "", com::GuidToString(CLSID_PSOAInterface));
    set(ik + "\\TypeLib", "", libid);
    set(ik + "\\TypeLib", "Version", version);
  }
  if (rc == ERROR_SUCCESS) rc = CommitTransaction();
  if (rc != ERROR_SUCCESS) {
    com::registry::RollbackTransaction();
    return RegistryFailure(rc);
  }
  return S_OK;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
  std::string version = VersionText(major, minor);
  std::string key = LibKey(libid) + "\\" + version;
  std::string lcidKey = key + "\\" + Hex(lcid);
  std::string platformKey = lcidKey + "\\" + (syskind == SYS_WIN32 ? "win32" : kPlatform);
  if (!com::registry::KeyExists(platformKey)) return NotRegistered(libid, major, minor);
  std::string libidText = com::GuidToString(libid);

  LONG rc = com::registry::BeginTransaction();
  if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
  auto check = [&](LONG r) {
    if (rc == ERROR_SUCCESS && r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) rc = r;
  };
  check(DeleteTree(platformKey));
  if (IsEmptyKey(lcidKey)) check(DeleteTree(lcidKey));
  // The version goes when no other locale of it is left.
  std::vector<std::string> rest;
  check(ListSubkeys(key, &rest));
  bool otherLocale = false;
  for (const auto& s : rest)
    if (!com::EqualsIgnoreAsciiCase(s, "FLAGS") && !com::EqualsIgnoreAsciiCase(s, "HELPDIR"))
      otherLocale = true;
  if (!otherLocale) {
    check(DeleteTree(key));
    // Interfaces registered for this version of this library, and only what was written.
    std::vector<std::string> iids;
    if (ListSubkeys("HKCR\\Interface", &iids) == ERROR_SUCCESS) {
      for (const auto& iid : iids) {
        std::string ik = "HKCR\\Interface\\" + iid;
        std::string owner, ver;
        if (GetText(ik + "\\TypeLib", "", &owner) != ERROR_SUCCESS ||
            !com::EqualsIgnoreAsciiCase(owner, libidText))
          continue;
        if (GetText(ik + "\\TypeLib", "Version", &ver) != ERROR_SUCCESS ||
            !com::EqualsIgnoreAsciiCase(ver, version))
          continue;
        check(DeleteTree(ik + "\\TypeLib"));
        check(DeleteTree(ik + "\\ProxyStubClsid"));
        check(DeleteTree(ik + "\\ProxyStubClsid32"));
        check(com::registry::DeleteValue(ik, ""));
        if (IsEmptyKey(ik)) check(DeleteTree(ik));
      }
    }
    std::vector<std::string> versions;
    if (ListSubkeys(LibKey(libid), &versions) == ERROR_SUCCESS && versions.empty() &&
        IsEmptyKey(LibKey(libid)))
      check(DeleteTree(LibKey(libid)));
  }
  if (rc == ERROR_SUCCESS) rc = CommitTransaction();
  if (rc != ERROR_SUCCESS) {
    com::registry::RollbackTransaction();
    return RegistryFailure(rc);
  }
  return S_OK;
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, BSTR* path) {
  if (!path) return E_POINTER;
  *path = nullptr;
  std::string key;
  if (!FindVersion(libid, major, minor, &key)) return NotRegistered(libid, major, minor);
  // The locale asked for, its primary language, then neutral.
  for (LCID l : {lcid, static_cast<LCID>(lcid & 0x3ff), LCID{0}}) {
    for (const char* platform : {kPlatform, "win32"}) {
      std::string file;
      if (GetText(key + "\\" + Hex(l) + "\\" + platform, "", &file) == ERROR_SUCCESS &&
          !file.empty()) {
        *path = com::BStr(file).Detach();
        return S_OK;
      }
    }
  }
  return NotRegistered(libid, major, minor);
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  com::BStr path;
  HRESULT hr = QueryPathOfRegTypeLib(libid, major, minor, lcid, path.Put());
  if (FAILED(hr)) return hr;
  com::ComPtr<ITypeLib> loaded;
  if (FAILED(hr = LoadTypeLib(path.Get(), loaded.Put()))) return hr;
  TLIBATTR* attr = nullptr;
  if (SUCCEEDED(loaded->GetLibAttr(&attr))) {
    bool same = attr->guid == libid;
    loaded->ReleaseTLibAttr(attr);
    if (!same)
      return com::SetError(TYPE_E_LIBNOTREGISTERED, "the file registered for type library " +
                                                        com::GuidToString(libid) + " (" +
                                                        path.Utf8() + ") holds another library");
  }
  *lib = loaded.Detach();
  return S_OK;
}
