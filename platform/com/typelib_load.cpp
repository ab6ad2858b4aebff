#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "com/errorinfo.h"
#include "com/strings.h"
#include "com/typelib.h"
#include "com/typelib_impl.h"

namespace com {

HRESULT LoadTypeLibFromMemory(std::span<const BYTE> bytes, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  tlb::Library model;
  std::string why;
  if (!tlb::Deserialize(bytes, &model, &why))
    return SetError(TYPE_E_INVDATAREAD, "cannot load type library: " + why);
  *lib = new detail::TypeLibImpl(std::move(model));
  return S_OK;
}

HRESULT LoadTypeLibFromResource(HMODULE module, unsigned id, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  auto bytes = FindResource(module, "TYPELIB", id);
  if (!bytes)
    return SetError(TYPE_E_CANTLOADLIBRARY, "module " + ModuleFileName(module) +
                                                " carries no type library resource " +
                                                std::to_string(id));
  return LoadTypeLibFromMemory(*bytes, lib);
}

}  // namespace com

namespace {

bool StartsWith(const std::vector<BYTE>& b, const char* magic, size_t n) {
  return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
}

}  // namespace

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  if (!path || !*path) return com::SetError(E_INVALIDARG, "no type library path given");
  std::string file = com::Utf16ToUtf8(path);
  // "server.so\2": the resource id after the last backslash.
  unsigned id = 1;
  if (size_t bs = file.rfind('\\'); bs != std::string::npos) {
    std::string tail = file.substr(bs + 1);
    if (!tail.empty() && tail.find_first_not_of("0123456789") == std::string::npos &&
        tail.size() < 6) {
      id = static_cast<unsigned>(std::stoul(tail));
      file.resize(bs);
    }
  }
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return com::SetError(TYPE_E_CANTLOADLIBRARY,
                         "cannot open type library " + file + ": " + std::strerror(errno));
  std::vector<BYTE> head(4);
  in.read(reinterpret_cast<char*>(head.data()), 4);
  head.resize(static_cast<size_t>(in.gcount()));
  if (StartsWith(head,
                 "\x7f"
                 "ELF",
                 4)) {
    in.close();
    void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
      const char* err = dlerror();
      return com::SetError(TYPE_E_CANTLOADLIBRARY,
                           "cannot load " + file + ": " + (err ? err : "unknown error"));
    }
    // The library is copied out of the module, so the module need not stay loaded.
    HRESULT hr = com::LoadTypeLibFromResource(h, id, lib);
    dlclose(h);
    return hr;
  }
  in.seekg(0);
  std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  HRESULT hr = com::LoadTypeLibFromMemory(bytes, lib);
  if (FAILED(hr)) {
    com::ErrorDescription e = com::TakeError(hr);
    return com::SetError(hr, file + ": " + com::Utf16ToUtf8(e.description));
  }
  return hr;
}

HRESULT LoadTypeLibEx(LPCOLESTR path, REGKIND kind, ITypeLib** lib) {
  HRESULT hr = LoadTypeLib(path, lib);
  if (FAILED(hr) || kind != REGKIND_REGISTER) return hr;
  hr = RegisterTypeLib(*lib, path, nullptr);
  if (FAILED(hr)) {
    (*lib)->Release();
    *lib = nullptr;
  }
  return hr;
}
