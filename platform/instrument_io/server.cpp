// The component server: module state, class table, load and unload, the four exports.
#include "com/activation.h"
#include "com/errorinfo.h"
#include "instrument_io/io_object.h"
#include "server/class_factory.h"
#include "server/object.h"

namespace instrument_io {

ModuleState InstrumentIOModule;
constinit TypeInfo InstrumentIOTypeInfo = TypeInfo::FromModuleResource(&IID_IInstrumentIO);
constinit TypeInfo InstrumentSessionTypeInfo = TypeInfo::FromModuleResource(&IID_InstrumentSession);

namespace {

ClassTableEntry classes[] = {
    {&CLSID_InstrumentIO, &InstrumentIOObject::UpdateRegistry,
     &com::server::ClassFactory<&InstrumentIOModule>::Create,
     &com::server::CreateObject<InstrumentIOObject, &InstrumentIOModule>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

__attribute__((constructor)) void ProcessAttach() {
  ModuleStart(&InstrumentIOModule, classes,
              com::ModuleFromAddress(reinterpret_cast<const void*>(&ProcessAttach)));
}

__attribute__((destructor)) void ProcessDetach() { ModuleStop(&InstrumentIOModule); }

}  // namespace

}  // namespace instrument_io

using instrument_io::InstrumentIOModule;

STDAPI DllCanUnloadNow() { return InstrumentIOModule.lockCount.load() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return ModuleGetClassObject(&InstrumentIOModule, clsid, riid, ppv);
}

STDAPI DllRegisterServer() { return ModuleRegisterServer(&InstrumentIOModule, TRUE, nullptr); }

STDAPI DllUnregisterServer() { return ModuleUnregisterServer(&InstrumentIOModule, TRUE, nullptr); }
