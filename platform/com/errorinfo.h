// Per-thread error information: a number and a description that go with a failed call.
#pragma once

#include <string>
#include <string_view>

#include "com/automation.h"

extern "C" {
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands out the thread's error information and clears it; S_FALSE when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
}

namespace com {

// Sets the thread's error information and returns number, so that a failing call can
// end with `return com::SetError(E_FAIL, u"...")`.
HRESULT SetError(HRESULT number, std::u16string_view description, std::u16string_view source = {});
HRESULT SetError(HRESULT number, std::string_view utf8Description,
                 std::string_view utf8Source = {});

struct ErrorDescription {
  HRESULT number = S_OK;
  std::u16string description;
  std::u16string source;
};
// Takes and clears the thread's error information. The number is the one set with it, or
// `hr` when none was; the description is empty when there is no information.
ErrorDescription TakeError(HRESULT hr);

// A short English text for a result code ("Class not registered", ...), never empty.
std::string ResultText(HRESULT hr);
// "0x80004005 (Unspecified error)".
std::string FormatResult(HRESULT hr);

}  // namespace com
