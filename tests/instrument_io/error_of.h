// The error number (and text) that a call to the transport core throws; S_OK when none.
#pragma once

#include <functional>
#include <string>

#include "instrument_io/io_error.h"

namespace iotest {

inline HRESULT ErrorOf(const std::function<void()>& f, std::string* text = nullptr) {
  try {
    f();
  } catch (const instrument_io::IoError& e) {
    if (text) *text = e.what();
    return e.number();
  }
  return S_OK;
}

}  // namespace iotest
