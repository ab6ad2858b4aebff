// Activation of in-process servers through the class registry.
#pragma once

#include "com/unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

extern "C" {
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();
// Reads HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, loads that library (absolute path
// only) and asks its DllGetClassObject. Failures carry a description in the thread's error
// information: not registered, a relative or missing path, the loader's message, missing
// entry points.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
// ProgID -> CLSID, following CurVer to the current version's key.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);  // CoTaskMemFree the result
// Unloads every loaded server whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
}

// The four entry points of an in-process server.
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();

namespace com {
// How many server libraries activation holds loaded now (for tests and tools).
size_t LoadedServerCount();
}  // namespace com
