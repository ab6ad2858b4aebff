#include "com/activation.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <map>
#include <mutex>
#include <string>

#include "com/errorinfo.h"
#include "com/registry.h"
#include "com/strings.h"

namespace {

struct LoadedServer {
  void* handle = nullptr;
  PFN_DllGetClassObject getClassObject = nullptr;
  PFN_DllCanUnloadNow canUnloadNow = nullptr;
};

// Servers stay loaded from their first use until CoFreeUnusedLibraries finds them idle.
std::recursive_mutex g_mutex;
std::map<std::string, LoadedServer>& Servers() {
  static auto* servers = new std::map<std::string, LoadedServer>;
  return *servers;
}

thread_local int t_initCount = 0;

HRESULT Fail(HRESULT hr, const std::string& text) { return com::SetError(hr, text); }

HRESULT ServerPath(REFCLSID clsid, std::string* path) {
  std::string guid = com::GuidToString(clsid);
  std::string key = "HKEY_CLASSES_ROOT\\CLSID\\" + guid + "\\InprocServer32";
  LONG rc = com::registry::GetText(key, "", path);
  if (rc == ERROR_FILE_NOT_FOUND) {
    return Fail(REGDB_E_CLASSNOTREG,
                "Class " + guid + " is not registered (no " + key + " in the registry)");
  }
  if (rc != ERROR_SUCCESS) return Fail(REGDB_E_READREGDB, com::registry::LastErrorText());
  if (path->empty() || path->front() != '/') {
    return Fail(CO_E_DLLNOTFOUND, "Class " + guid + " is registered with the server path '" +
                                      *path + "', which is not an absolute path");
  }
  struct stat st;
  if (stat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return Fail(CO_E_DLLNOTFOUND,
                "The server library " + *path + " registered for class " + guid + " is missing");
  }
  return S_OK;
}

HRESULT Load(const std::string& path, LoadedServer** out) {
  auto& servers = Servers();
  auto it = servers.find(path);
  if (it != servers.end()) {
    *out = &it->second;
    return S_OK;
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    return Fail(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
                "Cannot load the server library " + path + ": " + (why ? why : "unknown error"));
  }
  LoadedServer server;
  server.handle = handle;
  server.getClassObject =
      reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
  server.canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
  if (!server.getClassObject) {
    dlclose(handle);
    return Fail(CO_E_ERRORINDLL,
                "The server library " + path + " does not export DllGetClassObject");
  }
  *out = &servers.emplace(path, server).first->second;
  return S_OK;
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) {
    return Fail(REGDB_E_CLASSNOTREG, "Only in-process servers can be activated here");
  }
  std::string path;
  HRESULT hr = ServerPath(clsid, &path);
  if (FAILED(hr)) return hr;
  // Held while the server answers, so that no other thread unloads it meanwhile.
  std::lock_guard lock(g_mutex);
  LoadedServer* server = nullptr;
  hr = Load(path, &server);
  if (FAILED(hr)) return hr;
  return server->getClassObject(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  std::string name = com::Utf16ToUtf8(progId);
  if (name.empty() || name.find('\\') != std::string::npos)
    return Fail(CO_E_CLASSSTRING, "'" + name + "' is not a valid ProgID");
  // A version-independent ProgID names its current version under CurVer; follow a few
  // steps of that, never a loop.
  std::string current = name;
  for (int step = 0; step < 8; ++step) {
    std::string next;
    if (com::registry::GetText("HKEY_CLASSES_ROOT\\" + current + "\\CurVer", "", &next) !=
            ERROR_SUCCESS ||
        next.empty() || next == current)
      break;
    current = next;
  }
  std::string text;
  LONG rc = com::registry::GetText("HKEY_CLASSES_ROOT\\" + current + "\\CLSID", "", &text);
  if (rc != ERROR_SUCCESS && current != name)
    rc = com::registry::GetText("HKEY_CLASSES_ROOT\\" + name + "\\CLSID", "", &text);
  if (rc != ERROR_SUCCESS)
    return Fail(CO_E_CLASSSTRING, "The ProgID '" + name + "' is not registered");
  auto g = com::ParseGuid(text);
  if (!g)
    return Fail(CO_E_CLASSSTRING,
                "The ProgID '" + name + "' is registered with a malformed CLSID '" + text + "'");
  *clsid = *g;
  return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (!progId) return E_INVALIDARG;
  *progId = nullptr;
  std::string guid = com::GuidToString(clsid);
  std::string text;
  if (com::registry::GetText("HKEY_CLASSES_ROOT\\CLSID\\" + guid + "\\ProgID", "", &text) !=
          ERROR_SUCCESS ||
      text.empty())
    return Fail(REGDB_E_CLASSNOTREG, "Class " + guid + " has no ProgID in the registry");
  std::u16string wide = com::Utf8ToUtf16(text);
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!out) return E_OUTOFMEMORY;
  std::copy(wide.begin(), wide.end(), out);
  out[wide.size()] = 0;
  *progId = out;
  return S_OK;
}

void CoFreeUnusedLibraries() {
  std::lock_guard lock(g_mutex);
  auto& servers = Servers();
  for (auto it = servers.begin(); it != servers.end();) {
    LoadedServer& s = it->second;
    if (s.canUnloadNow && s.canUnloadNow() == S_OK) {
      dlclose(s.handle);
      it = servers.erase(it);
    } else {
      ++it;
    }
  }
}

namespace com {
size_t LoadedServerCount() {
  std::lock_guard lock(g_mutex);
  return Servers().size();
}
}  // namespace com
