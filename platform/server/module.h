// Module state of an in-process server and the operations every server is built from:
// start and stop, class-object lookup over the class table, registration, the registry
// script from a resource, table-driven interface lookup, the termination list and
// interface-pointer assignment.
#pragma once

#include <atomic>
#include <mutex>

#include "com/module.h"
#include "com/unknown.h"
#include "server/registrar.h"

// Makes an object: the outer object (null when not aggregated), the interface, the out
// pointer.
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
// Makes a class factory around an instance creator and answers it for riid.
using ClassFactoryCreator = HRESULT (*)(InstanceCreator createInstance, REFIID riid, void** ppv);
// Runs the class's registry script for registration (true) or unregistration (false).
using RegistrationRoutine = HRESULT (*)(BOOL doRegister);
using CATID = GUID;

// One row of a server's class table; the table ends with a row whose clsid is null.
struct ClassTableEntry {
  const CLSID* clsid;
  RegistrationRoutine updateRegistry;
  ClassFactoryCreator createClassFactory;
  InstanceCreator createInstance;
  IUnknown* cachedFactory;  // made on the first request, kept until the module stops
  const CATID* categories;  // implemented categories, ended by GUID_NULL; null for none
};

using TermFunction = void (*)(void* argument);

struct TermNode {
  TermFunction function;
  void* argument;
  TermNode* next;
};

// One per server library, as a global: it is constant-initialised and has nothing to
// destroy, so it is ready before the library's load notification and still intact at its
// unload notification, whatever order the loader runs them in.
struct ModuleState {
  std::atomic<LONG> lockCount{0};
  std::atomic<LONG> serverLocks{0};  // the part of lockCount that LockServer(TRUE) added
  HMODULE module = nullptr;
  ClassTableEntry* classes = nullptr;
  // Guards the factory cache and data that a server loads once on first use.
  std::mutex lock;
  std::mutex termLock;
  TermNode* termFunctions = nullptr;  // last added first
};

// Interface table of an object class: the interface and where it lives in the object.
// The first row answers IUnknown; the table ends with a row whose iid is null.
struct InterfaceEntry {
  const IID* iid;
  ptrdiff_t offset;
};

// Where interface I starts inside an object of class T.
// (No static storage here: a static in a template would be one object for the whole
// process, shared by every library that uses it, and would keep those libraries loaded.)
template <class T, class I>
ptrdiff_t InterfaceOffset() {
  alignas(T) unsigned char storage[sizeof(T)];
  T* object = reinterpret_cast<T*>(storage);
  return reinterpret_cast<unsigned char*>(static_cast<I*>(object)) - storage;
}

HRESULT ModuleStart(ModuleState* state, ClassTableEntry* classes, HMODULE module);
// Releases the cached class factories and runs the termination list, last added first.
HRESULT ModuleStop(ModuleState* state);
LONG ModuleLock(ModuleState* state);    // the new lock count
LONG ModuleUnlock(ModuleState* state);  // the new lock count
// IClassFactory::LockServer. An unlock without a lock to match is ignored: it would take
// away a live object's lock and let the library be unloaded under it.
HRESULT ModuleLockServer(ModuleState* state, BOOL lock);
HRESULT ModuleGetClassObject(ModuleState* state, REFCLSID clsid, REFIID riid, void** ppv);
// Registers every class (clsid null) or one, and with registerTypeLib the type library the
// module carries as TYPELIB 1; all in one registry transaction.
HRESULT ModuleRegisterServer(ModuleState* state, BOOL registerTypeLib, const CLSID* clsid);
HRESULT ModuleUnregisterServer(ModuleState* state, BOOL unregisterTypeLib, const CLSID* clsid);
// Runs the REGISTRY resource with that id; %MODULE% is the module's path, the caller may
// add more substitutions.
HRESULT ModuleUpdateRegistryFromResource(ModuleState* state, UINT resourceId, BOOL doRegister,
                                         const com::server::Substitutions* extra = nullptr);
HRESULT ModuleAddTermFunc(ModuleState* state, TermFunction function, void* argument);

// The standard QueryInterface over an interface table; object is the start of the object.
HRESULT InternalQueryInterface(void* object, const InterfaceEntry* table, REFIID riid, void** ppv);
// Stores p in *destination with a reference added, releasing what was there.
IUnknown* ComPtrAssign(IUnknown** destination, IUnknown* p);
