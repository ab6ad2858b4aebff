// The component server: module state, class table, load and unload, the four exports.
#include <iterator>
#include <mutex>

#include "com/activation.h"
#include "com/errorinfo.h"
#include "instrument_io/io_object.h"
#include "server/class_factory.h"
#include "server/object.h"

namespace instrument_io {

ModuleState InstrumentIOModule;

namespace {

ClassTableEntry classes[] = {
    {&CLSID_InstrumentIO, &InstrumentIOObject::UpdateRegistry,
     &com::server::ClassFactory<&InstrumentIOModule>::Create,
     &com::server::CreateObject<InstrumentIOObject, &InstrumentIOModule>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Loaded on first use, kept until the module stops. Plain data with nothing to destroy,
// like the module state, so that it is still intact when the module stops at unload.
struct TypeInfoCache {
  ITypeLib* lib;
  struct Entry {
    IID iid;
    ITypeInfo* info;
  } entries[4];
  size_t count;
};
constinit TypeInfoCache typeInfo{};

void ReleaseTypeLib(void*) {
  std::lock_guard guard(InstrumentIOModule.lock);
  for (size_t i = 0; i < typeInfo.count; ++i) typeInfo.entries[i].info->Release();
  typeInfo.count = 0;
  if (typeInfo.lib) typeInfo.lib->Release();
  typeInfo.lib = nullptr;
}

__attribute__((constructor)) void ProcessAttach() {
  ModuleStart(&InstrumentIOModule, classes,
              com::ModuleFromAddress(reinterpret_cast<const void*>(&ProcessAttach)));
}

__attribute__((destructor)) void ProcessDetach() { ModuleStop(&InstrumentIOModule); }

}  // namespace

ITypeInfo* ModuleTypeInfo(REFIID iid) {
  std::lock_guard guard(InstrumentIOModule.lock);
  if (!typeInfo.lib) {
    if (FAILED(com::LoadTypeLibFromResource(InstrumentIOModule.module, 1, &typeInfo.lib))) {
      typeInfo.lib = nullptr;
      return nullptr;
    }
    ModuleAddTermFunc(&InstrumentIOModule, ReleaseTypeLib, nullptr);
  }
  for (size_t i = 0; i < typeInfo.count; ++i)
    if (typeInfo.entries[i].iid == iid) return typeInfo.entries[i].info;
  ITypeInfo* info = nullptr;
  if (typeInfo.count == std::size(typeInfo.entries) ||
      FAILED(typeInfo.lib->GetTypeInfoOfGuid(iid, &info)))
    return nullptr;
  typeInfo.entries[typeInfo.count++] = {iid, info};
  return info;
}

}  // namespace instrument_io

using instrument_io::InstrumentIOModule;

STDAPI DllCanUnloadNow() { return InstrumentIOModule.lockCount.load() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return ModuleGetClassObject(&InstrumentIOModule, clsid, riid, ppv);
}

STDAPI DllRegisterServer() { return ModuleRegisterServer(&InstrumentIOModule, TRUE, nullptr); }

STDAPI DllUnregisterServer() { return ModuleUnregisterServer(&InstrumentIOModule, TRUE, nullptr); }
