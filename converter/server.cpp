// The component server: module state, class table, load and unload, the four exports.
#include "com/activation.h"
#include "server/class_factory.h"
#include "server/object.h"
#include "tiff_to_bitmap.h"

ModuleState RastovaModule;
constinit com::server::TypeInfoHolder<& RastovaModule> TiffToBitmapTypeInfo =
    com::server::TypeInfoHolder<&RastovaModule>::Registered(&LIBID_RASTOVALib, 1, 0,
                                                            &IID_ITiffToBitmap);

namespace {

ClassTableEntry classes[] = {
    {&CLSID_TiffToBitmap, &TiffToBitmap::UpdateRegistry,
     &com::server::ClassFactory<&RastovaModule>::Create,
     &com::server::CreateObject<TiffToBitmap, &RastovaModule>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Process attach and detach. There are no per-thread notifications on this platform, so
// there is nothing to switch off.
__attribute__((constructor)) void ProcessAttach() {
  ModuleStart(&RastovaModule, classes,
              com::ModuleFromAddress(reinterpret_cast<const void*>(&ProcessAttach)));
}

__attribute__((destructor)) void ProcessDetach() { ModuleStop(&RastovaModule); }

}  // namespace

STDAPI DllCanUnloadNow() { return RastovaModule.lockCount.load() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return ModuleGetClassObject(&RastovaModule, clsid, riid, ppv);
}

STDAPI DllRegisterServer() { return ModuleRegisterServer(&RastovaModule, TRUE, nullptr); }

STDAPI DllUnregisterServer() { return ModuleUnregisterServer(&RastovaModule, TRUE, nullptr); }
