#include <string>

#include "com/registry.h"
#include "com/strings.h"
#include "com/typelib.h"
#include "server/module.h"

namespace {

constexpr uint32_t kErrorResourceNotFound = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND

bool Selected(const ClassTableEntry& row, const CLSID* clsid) {
  return !clsid || *row.clsid == *clsid;
}

std::string CategoriesKey(const CLSID& clsid) {
  return "HKCR\\CLSID\\" + com::GuidToString(clsid) + "\\Implemented Categories";
}

HRESULT RegisterCategories(const ClassTableEntry& row, bool doRegister) {
  if (!row.categories || row.categories[0] == GUID_NULL) return S_OK;
  std::string key = CategoriesKey(*row.clsid);
  for (const CATID* c = row.categories; *c != GUID_NULL; ++c) {
    std::string path = key + "\\" + com::GuidToString(*c);
    LONG e = doRegister ? com::registry::CreateKey(path) : com::registry::DeleteTree(path);
    if (e != ERROR_SUCCESS && !(e == ERROR_FILE_NOT_FOUND && !doRegister))
      return HRESULT_FROM_WIN32(static_cast<uint32_t>(e));
  }
  if (!doRegister) {
    std::vector<std::string> left;
    if (com::registry::ListSubkeys(key, &left) == ERROR_SUCCESS && left.empty())
      com::registry::DeleteTree(key);
  }
  return S_OK;
}

HRESULT ModuleTypeLib(ModuleState* state, ITypeLib** lib) {
  return com::LoadTypeLibFromResource(state->module, 1, lib);
}

HRESULT RegisterTypeLibOf(ModuleState* state) {
  ITypeLib* lib = nullptr;
  HRESULT hr = ModuleTypeLib(state, &lib);
  if (FAILED(hr)) return hr;
  std::u16string path = com::Utf8ToUtf16(com::ModuleFileName(state->module));
  std::u16string folder = path.substr(0, path.find_last_of(u'/') + 1);
  hr = RegisterTypeLib(lib, path.c_str(), folder.c_str());
  lib->Release();
  return hr;
}

HRESULT UnregisterTypeLibOf(ModuleState* state) {
  ITypeLib* lib = nullptr;
  HRESULT hr = ModuleTypeLib(state, &lib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (SUCCEEDED(hr)) {
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                           attr->syskind);
    lib->ReleaseTLibAttr(attr);
  }
  lib->Release();
  // Unregistering what is not registered leaves the registry as asked.
  return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

// Registration and unregistration land as a whole or not at all.
template <class Steps>
HRESULT InOneTransaction(Steps steps) {
  if (LONG e = com::registry::BeginTransaction(); e != ERROR_SUCCESS)
    return HRESULT_FROM_WIN32(static_cast<uint32_t>(e));
  HRESULT hr = steps();
  if (FAILED(hr)) {
    com::registry::RollbackTransaction();
    return hr;
  }
  if (LONG e = com::registry::CommitTransaction(); e != ERROR_SUCCESS)
    return HRESULT_FROM_WIN32(static_cast<uint32_t>(e));
  return hr;
}

}  // namespace

HRESULT ModuleRegisterServer(ModuleState* state, BOOL registerTypeLib, const CLSID* clsid) {
  if (!state) return E_INVALIDARG;
  return InOneTransaction([&]() -> HRESULT {
    for (ClassTableEntry* row = state->classes; row && row->clsid; ++row) {
      if (!Selected(*row, clsid)) continue;
      if (row->updateRegistry) {
        HRESULT hr = row->updateRegistry(TRUE);
        if (FAILED(hr)) return hr;
      }
      HRESULT hr = RegisterCategories(*row, true);
      if (FAILED(hr)) return hr;
    }
    return registerTypeLib ? RegisterTypeLibOf(state) : S_OK;
  });
}

HRESULT ModuleUnregisterServer(ModuleState* state, BOOL unregisterTypeLib, const CLSID* clsid) {
  if (!state) return E_INVALIDARG;
  return InOneTransaction([&]() -> HRESULT {
    for (ClassTableEntry* row = state->classes; row && row->clsid; ++row) {
      if (!Selected(*row, clsid)) continue;
      HRESULT hr = RegisterCategories(*row, false);
      if (FAILED(hr)) return hr;
      if (row->updateRegistry) {
        hr = row->updateRegistry(FALSE);
        if (FAILED(hr)) return hr;
      }
    }
    return unregisterTypeLib ? UnregisterTypeLibOf(state) : S_OK;
  });
}

HRESULT ModuleUpdateRegistryFromResource(ModuleState* state, UINT resourceId, BOOL doRegister,
                                         const com::server::Substitutions* extra) {
  if (!state) return E_INVALIDARG;
  auto bytes = com::FindResource(state->module, "REGISTRY", resourceId);
  if (!bytes) return HRESULT_FROM_WIN32(kErrorResourceNotFound);
  std::string path = com::ModuleFileName(state->module);
  if (path.empty()) return E_UNEXPECTED;
  com::server::Substitutions subs{{"MODULE", path}};
  if (extra) subs.insert(subs.end(), extra->begin(), extra->end());
  std::string_view script(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  return com::server::RunRegistryScript(script, doRegister != FALSE, subs).hr;
}
