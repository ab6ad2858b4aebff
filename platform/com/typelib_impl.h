// The runtime's ITypeLib and ITypeInfo over a loaded type-library model. Everything is
// read-only once built, so the objects serve any number of threads.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

#include "com/dispatch_plan.h"
#include "com/typelib_model.h"

namespace com::detail {

class TypeLibImpl;

// References to the standard interfaces, which live in the built-in standard library.
constexpr HREFTYPE kHrefIUnknown = 0x10000;
constexpr HREFTYPE kHrefIDispatch = 0x10001;

class TypeInfoImpl final : public ITypeInfo {
 public:
  TypeInfoImpl(TypeLibImpl* lib, UINT index, const tlb::TypeEntry* entry);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) override;
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** desc) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** desc) override;
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* names, UINT maxNames,
                                     UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* flags) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc,
                                             DWORD* helpContext, BSTR* helpFile) override;
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND kind, BSTR* dll, BSTR* name,
                                        WORD* ordinal) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND kind,
                                            void** address) override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* mops) override;
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) override;
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) override;
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* desc) override;

  const tlb::TypeEntry& Entry() const { return *entry_; }
  // Builds what needs the whole library (references between its types).
  void Complete();

 private:
  struct FuncInfo {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
  };
  TYPEDESC* MakeTypeDesc(const tlb::Type& t, size_t from = 0);
  const tlb::Function* FindFunction(MEMBERID memid) const;

  TypeLibImpl* lib_;
  UINT index_;
  const tlb::TypeEntry* entry_;
  TYPEATTR attr_{};
  std::deque<TYPEDESC> typeDescs_;  // stable addresses for the descriptions handed out
  std::vector<FuncInfo> funcs_;
  std::vector<CallPlan> plans_;
};

class TypeLibImpl final : public ITypeLib {
 public:
  explicit TypeLibImpl(tlb::Library model);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  UINT STDMETHODCALLTYPE GetTypeInfoCount() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                                             BSTR* helpFile) override;
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG hash, BOOL* found) override;
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids,
                                     USHORT* found) override;
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) override;

  const tlb::Library& Model() const { return model_; }
  TypeInfoImpl* Info(UINT index) { return infos_[index].get(); }
  // The index of a type by name, or -1.
  int IndexOf(const std::string& name) const;
  // The built-in library holds the standard interfaces and is never freed.
  void MakePermanent() { permanent_ = true; }

 private:
  tlb::Library model_;
  std::vector<std::unique_ptr<TypeInfoImpl>> infos_;
  TLIBATTR attr_{};
  std::atomic<ULONG> refs_{1};
  bool permanent_ = false;
};

// The standard library's type information for IUnknown and IDispatch.
TypeInfoImpl* StandardTypeInfo(HREFTYPE ref);

// Case-insensitive comparison of a UTF-8 name and a UTF-16 one.
bool NameEquals(const std::string& utf8, const char16_t* wide);

}  // namespace com::detail
