// comcall: a small automation client. Creates one object and makes each call on it
// through IDispatch, by name, printing each result on its own line.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "call_syntax.h"
#include "com/activation.h"
#include "com/errorinfo.h"

namespace {

constexpr const char* kUsage =
    "usage: comcall PROGID|{CLSID} CALL...\n"
    "  Name             reads a property (or calls a method without arguments)\n"
    "  Name=VALUE       writes a property\n"
    "  Name(ARG, ...)   calls a method (or reads an indexed property)\n"
    "Arguments are numbers, True/False, \"quoted text\" or bare text; an empty one is left\n"
    "out. Each result is printed on its own line. The registry is $COMRT_REGISTRY when set.\n";

std::string Text(BSTR b) {
  return com::BStr(std::u16string_view(b ? b : u"", SysStringLen(b))).Utf8();
}

// "0x80020006: Unknown name" from what a failed call left behind.
std::string Describe(HRESULT hr, EXCEPINFO* ex) {
  HRESULT code = hr;
  std::string description;
  if (hr == DISP_E_EXCEPTION && ex) {
    if (ex->pfnDeferredFillIn) ex->pfnDeferredFillIn(ex);
    code = ex->scode ? ex->scode : (ex->wCode ? MAKE_HRESULT(1, FACILITY_DISPATCH, ex->wCode) : hr);
    description = Text(ex->bstrDescription);
  }
  if (description.empty()) {
    com::ErrorDescription e = com::TakeError(code);
    if (e.number == code) description = com::Utf16ToUtf8(e.description);
  }
  if (description.empty()) description = com::ResultText(code);
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(code));
  return std::string(buf) + ": " + description;
}

void ClearExcepInfo(EXCEPINFO* ex) {
  SysFreeString(ex->bstrSource);
  SysFreeString(ex->bstrDescription);
  SysFreeString(ex->bstrHelpFile);
  std::memset(ex, 0, sizeof *ex);
}

// One call; false after printing the failure.
bool Run(IDispatch* object, const comcall::Call& call) {
  std::u16string name = com::Utf8ToUtf16(call.name);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    std::cerr << "comcall: " << call.name << ": " << Describe(hr, nullptr) << "\n";
    return false;
  }
  // DISPPARAMS take the arguments last first; a write's value goes first of all.
  std::vector<VARIANT> args;
  if (call.value) args.push_back(*call.value->Get());
  for (auto it = call.args.rbegin(); it != call.args.rend(); ++it) args.push_back(*it->Get());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{args.empty() ? nullptr : args.data(), call.value ? &named : nullptr,
                    static_cast<UINT>(args.size()), call.value ? 1u : 0u};
  com::Variant result;
  EXCEPINFO ex{};
  UINT argErr = 0;
  if (call.value) {
    hr = object->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                        &ex, &argErr);
    if (hr == DISP_E_MEMBERNOTFOUND) {  // a property that is only set by reference
      ClearExcepInfo(&ex);
      hr = object->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUTREF, &params,
                          nullptr, &ex, &argErr);
    }
  } else {
    hr = object->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                        &params, result.Put(), &ex, &argErr);
  }
  if (FAILED(hr)) {
    std::string where = call.name;
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTOPTIONAL || hr == DISP_E_OVERFLOW) {
      size_t position = call.value && argErr == 0 ? 0 : args.size() - argErr;
      where += position == 0 ? " (the value)" : " (argument " + std::to_string(position) + ")";
    }
    std::cerr << "comcall: " << where << ": " << Describe(hr, &ex) << "\n";
    ClearExcepInfo(&ex);
    return false;
  }
  ClearExcepInfo(&ex);
  if (!call.value) std::cout << comcall::FormatValue(*result.Get()) << "\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc < 2) {
    std::cerr << kUsage;
    return 2;
  }
  std::vector<comcall::Call> calls;
  for (int i = 2; i < argc; ++i) {
    comcall::Call c;
    std::string error;
    if (!comcall::ParseCall(argv[i], &c, &error)) {
      std::cerr << "comcall: " << error << "\n";
      return 2;
    }
    calls.push_back(std::move(c));
  }
  CoInitialize(nullptr);
  int status = 0;
  {
    std::u16string target = com::Utf8ToUtf16(argv[1]);
    CLSID clsid{};
    HRESULT hr = target.starts_with(u"{") ? CLSIDFromString(target.c_str(), &clsid)
                                          : CLSIDFromProgID(target.c_str(), &clsid);
    com::ComPtr<IDispatch> object;
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.PutVoid());
    if (FAILED(hr)) {
      std::cerr << "comcall: cannot create " << argv[1] << ": " << Describe(hr, nullptr) << "\n";
      status = 1;
    }
    for (size_t i = 0; status == 0 && i < calls.size(); ++i)
      if (!Run(object.Get(), calls[i])) status = 1;
    std::cout.flush();
  }
  CoUninitialize();
  return status;
}
