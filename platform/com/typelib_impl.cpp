#include "com/typelib_impl.h"

#include <cwctype>

#include "com/activation.h"
#include "com/bstr.h"
#include "com/strings.h"
#include "com/typelib.h"

namespace com::detail {

namespace {

BSTR MakeBstr(const std::string& utf8) {
  if (utf8.empty()) return nullptr;
  std::u16string w = Utf8ToUtf16(utf8);
  return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

char16_t Fold(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
  return static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
}

// Dual interfaces are seen through dispatch, as the platform's libraries describe them.
TYPEKIND KindOf(const tlb::TypeEntry& e) {
  switch (e.kind) {
    case tlb::Kind::Interface:
      return (e.typeFlags & TYPEFLAG_FDUAL) ? TKIND_DISPATCH : TKIND_INTERFACE;
    case tlb::Kind::Alias:
      return TKIND_ALIAS;
    case tlb::Kind::CoClass:
      return TKIND_COCLASS;
  }
  return TKIND_MAX;
}

// Method-table slots of an interface, its bases' included.
unsigned SlotCount(const tlb::Library& model, const std::string& name) {
  if (name == "IUnknown") return 3;
  if (name == "IDispatch") return 7;
  const tlb::TypeEntry* t = model.Find(name);
  if (!t || t->kind != tlb::Kind::Interface) return 0;
  if (!t->functions.empty()) return t->functions.back().slot + 1u;
  return SlotCount(model, t->base);
}

}  // namespace

bool NameEquals(const std::string& utf8, const char16_t* wide) {
  if (!wide) return false;
  std::u16string a = Utf8ToUtf16(utf8);
  size_t i = 0;
  for (; i < a.size(); ++i)
    if (!wide[i] || Fold(a[i]) != Fold(wide[i])) return false;
  return wide[i] == 0;
}

// ---- TypeInfoImpl ----

TypeInfoImpl::TypeInfoImpl(TypeLibImpl* lib, UINT index, const tlb::TypeEntry* entry)
    : lib_(lib), index_(index), entry_(entry) {}

TYPEDESC* TypeInfoImpl::MakeTypeDesc(const tlb::Type& t, size_t from) {
  TYPEDESC& d = typeDescs_.emplace_back();
  d.vt = t.chain[from];
  if ((d.vt == VT_PTR || d.vt == VT_SAFEARRAY) && from + 1 < t.chain.size())
    d.lptdesc = MakeTypeDesc(t, from + 1);
  else if (d.vt == VT_USERDEFINED)
    d.hreftype = static_cast<HREFTYPE>(lib_->IndexOf(t.userType));
  return &d;
}

void TypeInfoImpl::Complete() {
  const tlb::Library& model = lib_->Model();
  attr_.guid = entry_->guid;
  attr_.lcid = model.lcid;
  attr_.memidConstructor = MEMBERID_NIL;
  attr_.memidDestructor = MEMBERID_NIL;
  attr_.cbSizeInstance = sizeof(void*);
  attr_.typekind = KindOf(*entry_);
  attr_.cFuncs = static_cast<WORD>(entry_->functions.size());
  attr_.cbAlignment = alignof(void*);
  attr_.wTypeFlags = entry_->typeFlags;
  attr_.wMajorVerNum = model.major;
  attr_.wMinorVerNum = model.minor;
  switch (entry_->kind) {
    case tlb::Kind::Interface:
      attr_.cImplTypes = entry_->guid == IID_IUnknown ? 0 : 1;
      attr_.cbSizeVft = static_cast<WORD>(SlotCount(model, entry_->name) * sizeof(void*));
      break;
    case tlb::Kind::Alias:
      attr_.tdescAlias.vt = VT_USERDEFINED;
      attr_.tdescAlias.hreftype = static_cast<HREFTYPE>(lib_->IndexOf(entry_->aliasOf));
      break;
    case tlb::Kind::CoClass:
      attr_.cImplTypes = static_cast<WORD>(entry_->impls.size());
      break;
  }
  funcs_.resize(entry_->functions.size());
  plans_.resize(entry_->functions.size());
  for (size_t i = 0; i < entry_->functions.size(); ++i) {
    const tlb::Function& f = entry_->functions[i];
    FuncInfo& fi = funcs_[i];
    fi.params.resize(f.params.size());
    for (size_t p = 0; p < f.params.size(); ++p) {
      fi.params[p].tdesc = *MakeTypeDesc(f.params[p].type);
      fi.params[p].paramdesc.wParamFlags = f.params[p].flags;
    }
    FUNCDESC& d = fi.desc;
    d.memid = f.memid;
    d.lprgelemdescParam = fi.params.empty() ? nullptr : fi.params.data();
    d.funckind = FUNC_PUREVIRTUAL;
    d.invkind = f.invkind;
    d.callconv = CC_STDCALL;
    d.cParams = static_cast<SHORT>(f.params.size());
    d.cParamsOpt = 0;
    d.oVft = static_cast<SHORT>(f.slot * sizeof(void*));
    d.elemdescFunc.tdesc = *MakeTypeDesc(f.result);
    d.wFuncFlags = f.funcFlags;
    BuildCallPlan(model, f, &plans_[i]);
  }
}

const tlb::Function* TypeInfoImpl::FindFunction(MEMBERID memid) const {
  for (const auto& f : entry_->functions)
    if (f.memid == memid) return &f;
  return nullptr;
}

HRESULT TypeInfoImpl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
    *ppv = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// A type information lives as long as its library.
ULONG TypeInfoImpl::AddRef() { return lib_->AddRef(); }
ULONG TypeInfoImpl::Release() { return lib_->Release(); }

HRESULT TypeInfoImpl::GetTypeAttr(TYPEATTR** attr) {
  if (!attr) return E_INVALIDARG;
  *attr = &attr_;
  return S_OK;
}

HRESULT TypeInfoImpl::GetTypeComp(ITypeComp** comp) {
  if (comp) *comp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfoImpl::GetFuncDesc(UINT index, FUNCDESC** desc) {
  if (!desc) return E_INVALIDARG;
  *desc = nullptr;
  if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *desc = &funcs_[index].desc;
  return S_OK;
}

HRESULT TypeInfoImpl::GetVarDesc(UINT, VARDESC** desc) {
  if (desc) *desc = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoImpl::GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) {
  if (!names || !count) return E_INVALIDARG;
  *count = 0;
  const tlb::Function* f = nullptr;
  // The getter first: its parameters are the property's indices, without the value.
  for (const auto& c : entry_->functions)
    if (c.memid == memid && (!f || c.invkind == INVOKE_PROPERTYGET)) f = &c;
  if (!f) return TYPE_E_ELEMENTNOTFOUND;
  if (maxNames == 0) return S_OK;
  names[(*count)++] = MakeBstr(f->name);
  size_t n = f->params.size();
  if (f->invkind == INVOKE_PROPERTYPUT || f->invkind == INVOKE_PROPERTYPUTREF) --n;
  for (size_t i = 0; i < n && *count < maxNames; ++i) {
    if (f->params[i].flags & PARAMFLAG_FRETVAL) break;
    names[(*count)++] = MakeBstr(f->params[i].name);
  }
  return S_OK;
}

HRESULT TypeInfoImpl::GetRefTypeOfImplType(UINT index, HREFTYPE* ref) {
  if (!ref) return E_INVALIDARG;
  if (entry_->kind == tlb::Kind::Interface && index == 0 && attr_.cImplTypes == 1) {
    int b = lib_->IndexOf(entry_->base);
    *ref = b >= 0                       ? static_cast<HREFTYPE>(b)
           : entry_->base == "IUnknown" ? kHrefIUnknown
                                        : kHrefIDispatch;
    return S_OK;
  }
  if (entry_->kind == tlb::Kind::CoClass && index < entry_->impls.size()) {
    *ref = static_cast<HREFTYPE>(lib_->IndexOf(entry_->impls[index].name));
    return S_OK;
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoImpl::GetImplTypeFlags(UINT index, INT* flags) {
  if (!flags) return E_INVALIDARG;
  if (entry_->kind == tlb::Kind::CoClass && index < entry_->impls.size()) {
    *flags = entry_->impls[index].flags;
    return S_OK;
  }
  if (entry_->kind == tlb::Kind::Interface && index == 0) {
    *flags = 0;
    return S_OK;
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoImpl::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (!names || !ids) return E_INVALIDARG;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
  const tlb::Function* f = nullptr;
  for (const auto& c : entry_->functions)
    if (NameEquals(c.name, names[0])) {
      f = &c;
      break;
    }
  if (!f) return DISP_E_UNKNOWNNAME;
  ids[0] = f->memid;
  HRESULT hr = S_OK;
  // Further names are parameters, numbered by position; any accessor of the member counts.
  for (UINT i = 1; i < count; ++i) {
    for (const auto& c : entry_->functions) {
      if (c.memid != f->memid) continue;
      for (size_t p = 0; p < c.params.size() && ids[i] == MEMBERID_NIL; ++p)
        if (NameEquals(c.params[p].name, names[i])) ids[i] = static_cast<MEMBERID>(p);
    }
    if (ids[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TypeInfoImpl::Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) {
  if (!instance) return E_INVALIDARG;
  if (entry_->kind != tlb::Kind::Interface) return TYPE_E_BADMODULEKIND;
  return InvokePlanned(plans_, instance, memid, flags, params, result, excepinfo, argErr);
}

HRESULT TypeInfoImpl::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext,
                                       BSTR* helpFile) {
  const std::string* n = &entry_->name;
  const std::string* h = &entry_->help;
  if (memid != MEMBERID_NIL) {
    const tlb::Function* f = FindFunction(memid);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    n = &f->name;
    h = &f->help;
  }
  if (name) *name = MakeBstr(*n);
  if (doc) *doc = MakeBstr(*h);
  if (helpContext) *helpContext = 0;
  if (helpFile) *helpFile = nullptr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD* ordinal) {
  if (dll) *dll = nullptr;
  if (name) *name = nullptr;
  if (ordinal) *ordinal = 0;
  return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoImpl::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  TypeInfoImpl* target = nullptr;
  if (ref == kHrefIUnknown || ref == kHrefIDispatch) {
    target = StandardTypeInfo(ref);
  } else if (ref < lib_->Model().types.size()) {
    target = lib_->Info(ref);
  }
  if (!target) return TYPE_E_ELEMENTNOTFOUND;
  target->AddRef();
  *info = target;
  return S_OK;
}

HRESULT TypeInfoImpl::AddressOfMember(MEMBERID, INVOKEKIND, void** address) {
  if (address) *address = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfoImpl::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (entry_->kind != tlb::Kind::CoClass) return TYPE_E_BADMODULEKIND;
  return CoCreateInstance(entry_->guid, outer, CLSCTX_INPROC_SERVER, riid, ppv);
}

HRESULT TypeInfoImpl::GetMops(MEMBERID, BSTR* mops) {
  if (mops) *mops = nullptr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (lib) {
    lib_->AddRef();
    *lib = lib_;
  }
  if (index) *index = index_;
  return S_OK;
}

// The descriptions belong to the type information; nothing to free per request.
void TypeInfoImpl::ReleaseTypeAttr(TYPEATTR*) {}
void TypeInfoImpl::ReleaseFuncDesc(FUNCDESC*) {}
void TypeInfoImpl::ReleaseVarDesc(VARDESC*) {}

// ---- TypeLibImpl ----

TypeLibImpl::TypeLibImpl(tlb::Library model) : model_(std::move(model)) {
  attr_.guid = model_.libid;
  attr_.lcid = model_.lcid;
  attr_.syskind = SYS_WIN64;
  attr_.wMajorVerNum = model_.major;
  attr_.wMinorVerNum = model_.minor;
  attr_.wLibFlags = model_.libFlags;
  for (UINT i = 0; i < model_.types.size(); ++i)
    infos_.push_back(std::make_unique<TypeInfoImpl>(this, i, &model_.types[i]));
  for (auto& i : infos_) i->Complete();
}

int TypeLibImpl::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < model_.types.size(); ++i)
    if (model_.types[i].name == name) return static_cast<int>(i);
  return -1;
}

HRESULT TypeLibImpl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeLib) {
    *ppv = static_cast<ITypeLib*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeLibImpl::AddRef() { return ++refs_; }

ULONG TypeLibImpl::Release() {
  ULONG n = --refs_;
  if (n == 0 && !permanent_) delete this;
  return n;
}

UINT TypeLibImpl::GetTypeInfoCount() { return static_cast<UINT>(infos_.size()); }

HRESULT TypeLibImpl::GetTypeInfo(UINT index, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
  AddRef();
  *info = infos_[index].get();
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoType(UINT index, TYPEKIND* kind) {
  if (!kind) return E_INVALIDARG;
  if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *kind = KindOf(model_.types[index]);
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  for (size_t i = 0; i < model_.types.size(); ++i)
    if (model_.types[i].guid == guid) {
      AddRef();
      *info = infos_[i].get();
      return S_OK;
    }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibImpl::GetLibAttr(TLIBATTR** attr) {
  if (!attr) return E_INVALIDARG;
  *attr = &attr_;
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeComp(ITypeComp** comp) {
  if (comp) *comp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeLibImpl::GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                                      BSTR* helpFile) {
  const std::string *n = &model_.name, *h = &model_.help;
  if (index != -1) {
    if (index < 0 || static_cast<size_t>(index) >= model_.types.size())
      return TYPE_E_ELEMENTNOTFOUND;
    n = &model_.types[index].name;
    h = &model_.types[index].help;
  }
  if (name) *name = MakeBstr(*n);
  if (doc) *doc = MakeBstr(*h);
  if (helpContext) *helpContext = 0;
  if (helpFile) *helpFile = nullptr;
  return S_OK;
}

HRESULT TypeLibImpl::IsName(LPOLESTR name, ULONG, BOOL* found) {
  if (!name || !found) return E_INVALIDARG;
  *found = FALSE;
  for (const auto& t : model_.types) {
    if (NameEquals(t.name, name)) *found = TRUE;
    for (const auto& f : t.functions)
      if (NameEquals(f.name, name)) *found = TRUE;
  }
  return S_OK;
}

HRESULT TypeLibImpl::FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT* found) {
  if (found) *found = 0;
  return E_NOTIMPL;
}

void TypeLibImpl::ReleaseTLibAttr(TLIBATTR*) {}

// ---- the standard library ----

TypeInfoImpl* StandardTypeInfo(HREFTYPE ref) {
  // Described by identity, flags and method-table size; their members are the runtime's own.
  static TypeLibImpl* lib = [] {
    tlb::Library m;
    m.name = "stdole";
    m.libid = LIBID_stdole;
    m.major = 2;
    m.minor = 0;
    tlb::TypeEntry unk;
    unk.name = "IUnknown";
    unk.guid = IID_IUnknown;
    unk.typeFlags = TYPEFLAG_FHIDDEN;
    unk.base = "IUnknown";
    tlb::TypeEntry disp;
    disp.name = "IDispatch";
    disp.guid = IID_IDispatch;
    disp.typeFlags = TYPEFLAG_FDISPATCHABLE;
    disp.base = "IUnknown";
    m.types = {unk, disp};
    auto* l = new TypeLibImpl(std::move(m));
    l->MakePermanent();
    return l;
  }();
  return lib->Info(ref == kHrefIUnknown ? 0 : 1);
}

}  // namespace com::detail
