#include "com/errorinfo.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "com/ptr.h"

namespace {

class ErrorObject final : public IErrorInfo, public ICreateErrorInfo, public IErrorNumber {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo)
      *ppv = static_cast<IErrorInfo*>(this);
    else if (riid == IID_ICreateErrorInfo)
      *ppv = static_cast<ICreateErrorInfo*>(this);
    else if (riid == IID_IErrorNumber)
      *ppv = static_cast<IErrorNumber*>(this);
    else
      return *ppv = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    *guid = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* s) override { return Out(source_, s); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* s) override { return Out(description_, s); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* s) override { return Out(helpFile_, s); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* c) override {
    if (!c) return E_INVALIDARG;
    *c = helpContext_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
    guid_ = guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR s) override { return In(source_, s); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR s) override { return In(description_, s); }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR s) override { return In(helpFile_, s); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD c) override {
    helpContext_ = c;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetNumber(HRESULT* n) override {
    if (!n) return E_INVALIDARG;
    *n = number_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetNumber(HRESULT n) override {
    number_ = n;
    return S_OK;
  }

 private:
  static HRESULT Out(const std::u16string& v, BSTR* s) {
    if (!s) return E_INVALIDARG;
    *s = v.empty() ? nullptr : SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
    return S_OK;
  }
  static HRESULT In(std::u16string& v, LPOLESTR s) {
    v = s ? std::u16string(s) : std::u16string();
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  GUID guid_{};
  std::u16string source_, description_, helpFile_;
  DWORD helpContext_ = 0;
  HRESULT number_ = S_OK;
};

thread_local IErrorInfo* t_error = nullptr;

void Replace(IErrorInfo* info) {
  if (info) info->AddRef();
  IErrorInfo* old = t_error;
  t_error = info;
  if (old) old->Release();
}

// Error information left on a thread that ends is released with it.
struct ThreadCleanup {
  ~ThreadCleanup() { Replace(nullptr); }
};
thread_local ThreadCleanup t_cleanup;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
  if (!info) return E_INVALIDARG;
  auto* e = new (std::nothrow) ErrorObject;
  *info = e ? static_cast<ICreateErrorInfo*>(e) : nullptr;
  return e ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
  (void)&t_cleanup;
  Replace(info);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = t_error;
  t_error = nullptr;
  return *info ? S_OK : S_FALSE;
}

namespace com {

HRESULT SetError(HRESULT number, std::u16string_view description, std::u16string_view source) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put()))) return number;
  std::u16string d(description), s(source);
  create->SetDescription(d.data());
  create->SetSource(s.data());
  ComPtr<IErrorNumber> num;
  if (SUCCEEDED(create.As(IID_IErrorNumber, &num))) num->SetNumber(number);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(IID_IErrorInfo, &info))) SetErrorInfo(0, info.Get());
  return number;
}

HRESULT SetError(HRESULT number, std::string_view utf8Description, std::string_view utf8Source) {
  return SetError(number, std::u16string_view(Utf8ToUtf16(utf8Description)),
                  std::u16string_view(Utf8ToUtf16(utf8Source)));
}

ErrorDescription TakeError(HRESULT hr) {
  ErrorDescription out;
  out.number = hr;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return out;
  BStr d, s;
  info->GetDescription(d.Put());
  info->GetSource(s.Put());
  out.description = std::u16string(d.View());
  out.source = std::u16string(s.View());
  ComPtr<IErrorNumber> num;
  HRESULT n = S_OK;
  if (SUCCEEDED(info.As(IID_IErrorNumber, &num)) && SUCCEEDED(num->GetNumber(&n)) && n != S_OK)
    out.number = n;
  return out;
}

std::string ResultText(HRESULT hr) {
  struct Entry {
    HRESULT hr;
    const char* text;
  };
  static constexpr Entry kTexts[] = {
      {S_OK, "Success"},
      {S_FALSE, "Success (false)"},
      {E_NOTIMPL, "Not implemented"},
      {E_NOINTERFACE, "No such interface supported"},
      {E_POINTER, "Invalid pointer"},
      {E_ABORT, "Operation aborted"},
      {E_FAIL, "Unspecified error"},
      {E_UNEXPECTED, "Catastrophic failure"},
      {E_ACCESSDENIED, "Access is denied"},
      {E_HANDLE, "Invalid handle"},
      {E_OUTOFMEMORY, "Out of memory"},
      {E_INVALIDARG, "One or more arguments are invalid"},
      {CO_E_NOTINITIALIZED, "CoInitialize has not been called"},
      {CO_E_CLASSSTRING, "Invalid class string"},
      {CO_E_DLLNOTFOUND, "DLL for class not found"},
      {CO_E_ERRORINDLL, "Error in the DLL"},
      {CO_E_APPNOTFOUND, "Application not found"},
      {REGDB_E_READREGDB, "Could not read key from registry"},
      {REGDB_E_WRITEREGDB, "Could not write key to registry"},
      {REGDB_E_KEYMISSING, "Could not find the key in the registry"},
      {REGDB_E_CLASSNOTREG, "Class not registered"},
      {REGDB_E_IIDNOTREG, "Interface not registered"},
      {CLASS_E_NOAGGREGATION, "Class does not support aggregation"},
      {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
      {SELFREG_E_TYPELIB, "Failed to register or unregister the type library"},
      {SELFREG_E_CLASS, "Failed to register or unregister the class"},
      {DISP_E_UNKNOWNINTERFACE, "Unknown interface"},
      {DISP_E_MEMBERNOTFOUND, "Member not found"},
      {DISP_E_PARAMNOTFOUND, "Parameter not found"},
      {DISP_E_TYPEMISMATCH, "Type mismatch"},
      {DISP_E_UNKNOWNNAME, "Unknown name"},
      {DISP_E_NONAMEDARGS, "No named arguments"},
      {DISP_E_BADVARTYPE, "Bad variable type"},
      {DISP_E_EXCEPTION, "Exception occurred"},
      {DISP_E_OVERFLOW, "Out of present range"},
      {DISP_E_BADINDEX, "Invalid index"},
      {DISP_E_ARRAYISLOCKED, "Memory is locked"},
      {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
      {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional"},
      {TYPE_E_ELEMENTNOTFOUND, "Element not found"},
      {TYPE_E_LIBNOTREGISTERED, "Library not registered"},
      {TYPE_E_CANTLOADLIBRARY, "Error loading type library/DLL"},
      {TYPE_E_REGISTRYACCESS, "Error accessing the registry"},
      {TYPE_E_INVDATAREAD, "Invalid data read from type library"},
      {TYPE_E_UNSUPFORMAT, "Type library has unsupported format"},
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified"},
      {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified"},
      {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "The specified module could not be found"},
      {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "The specified procedure could not be found"},
      {HRESULT_FROM_WIN32(ERROR_BADDB), "The configuration registry database is corrupt"},
      {HRESULT_FROM_WIN32(ERROR_CANTOPEN), "The configuration registry key could not be opened"},
      {HRESULT_FROM_WIN32(ERROR_CANTWRITE), "The configuration registry key could not be written"},
  };
  for (const Entry& e : kTexts)
    if (e.hr == hr) return e.text;
  return SUCCEEDED(hr) ? "Success" : "Error";
}

std::string FormatResult(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(hr));
  return std::string(buf) + " (" + ResultText(hr) + ")";
}

}  // namespace com
