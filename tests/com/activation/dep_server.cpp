// A server bound at load time to libact_dep.so.
#include "com/unknown.h"

extern "C" int act_dep_value();

extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
  *ppv = nullptr;
  return act_dep_value() ? CLASS_E_CLASSNOTAVAILABLE : E_FAIL;
}
extern "C" HRESULT DllCanUnloadNow() { return S_OK; }
extern "C" HRESULT DllRegisterServer() { return S_OK; }
extern "C" HRESULT DllUnregisterServer() { return S_OK; }
