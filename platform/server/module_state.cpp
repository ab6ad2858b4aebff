#include <new>
#include <utility>

#include "server/module.h"

HRESULT ModuleStart(ModuleState* state, ClassTableEntry* classes, HMODULE module) {
  if (!state) return E_INVALIDARG;
  state->lockCount.store(0);
  state->serverLocks.store(0);
  state->module = module;
  state->classes = classes;
  state->termFunctions = nullptr;
  return S_OK;
}

HRESULT ModuleStop(ModuleState* state) {
  if (!state) return E_INVALIDARG;
  {
    std::lock_guard guard(state->lock);
    for (ClassTableEntry* row = state->classes; row && row->clsid; ++row)
      if (IUnknown* factory = std::exchange(row->cachedFactory, nullptr)) factory->Release();
  }
  TermNode* node;
  {
    std::lock_guard guard(state->termLock);
    node = std::exchange(state->termFunctions, nullptr);
  }
  while (node) {
    node->function(node->argument);
    delete std::exchange(node, node->next);
  }
  return S_OK;
}

LONG ModuleLock(ModuleState* state) { return state->lockCount.fetch_add(1) + 1; }

LONG ModuleUnlock(ModuleState* state) { return state->lockCount.fetch_sub(1) - 1; }

HRESULT ModuleLockServer(ModuleState* state, BOOL lock) {
  if (lock) {
    state->serverLocks.fetch_add(1);
    ModuleLock(state);
    return S_OK;
  }
  LONG locks = state->serverLocks.load();
  while (locks > 0)
    if (state->serverLocks.compare_exchange_weak(locks, locks - 1)) {
      ModuleUnlock(state);
      break;
    }
  return S_OK;
}

HRESULT ModuleGetClassObject(ModuleState* state, REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!state) return E_INVALIDARG;
  for (ClassTableEntry* row = state->classes; row && row->clsid; ++row) {
    if (*row->clsid != clsid) continue;
    if (!row->createClassFactory) break;
    // Two threads asking at once must end up with one cached factory.
    std::lock_guard guard(state->lock);
    if (!row->cachedFactory) {
      void* made = nullptr;
      HRESULT hr = row->createClassFactory(row->createInstance, IID_IUnknown, &made);
      if (FAILED(hr)) return hr;
      row->cachedFactory = static_cast<IUnknown*>(made);
    }
    return row->cachedFactory->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ModuleAddTermFunc(ModuleState* state, TermFunction function, void* argument) {
  if (!state || !function) return E_INVALIDARG;
  TermNode* node = new (std::nothrow) TermNode{function, argument, nullptr};
  if (!node) return E_OUTOFMEMORY;
  std::lock_guard guard(state->termLock);
  node->next = state->termFunctions;
  state->termFunctions = node;
  return S_OK;
}

HRESULT InternalQueryInterface(void* object, const InterfaceEntry* table, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!object || !table || !table->iid) return E_NOINTERFACE;
  for (const InterfaceEntry* row = table; row->iid; ++row) {
    if (*row->iid == riid || (row == table && riid == IID_IUnknown)) {
      auto* p = reinterpret_cast<IUnknown*>(static_cast<unsigned char*>(object) + row->offset);
      p->AddRef();
      *ppv = p;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

IUnknown* ComPtrAssign(IUnknown** destination, IUnknown* p) {
  if (!destination) return nullptr;
  if (p) p->AddRef();  // first, in case p is what *destination holds alone
  if (IUnknown* old = std::exchange(*destination, p)) old->Release();
  return p;
}
