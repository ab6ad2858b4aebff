// Failures of the instrument I/O library: a result code and a description that says what
// happened and where.
#pragma once

#include <stdexcept>
#include <string>

#include "com/base.h"

namespace instrument_io {

// Codes of this library (interface facility).
inline constexpr HRESULT IO_E_ADDRESS = MAKE_HRESULT(1, FACILITY_ITF, 0x2001);
inline constexpr HRESULT IO_E_OPEN = MAKE_HRESULT(1, FACILITY_ITF, 0x2002);
inline constexpr HRESULT IO_E_TIMEOUT = MAKE_HRESULT(1, FACILITY_ITF, 0x2003);
inline constexpr HRESULT IO_E_CONNECTION_LOST = MAKE_HRESULT(1, FACILITY_ITF, 0x2004);
inline constexpr HRESULT IO_E_BLOCK_FORMAT = MAKE_HRESULT(1, FACILITY_ITF, 0x2005);
inline constexpr HRESULT IO_E_BLOCK_TOO_LARGE = MAKE_HRESULT(1, FACILITY_ITF, 0x2006);
inline constexpr HRESULT IO_E_NO_GPIB = MAKE_HRESULT(1, FACILITY_ITF, 0x2007);
inline constexpr HRESULT IO_E_BUS = MAKE_HRESULT(1, FACILITY_ITF, 0x2008);
inline constexpr HRESULT IO_E_FORMAT = MAKE_HRESULT(1, FACILITY_ITF, 0x2009);
inline constexpr HRESULT IO_E_ARGUMENT = MAKE_HRESULT(1, FACILITY_ITF, 0x200A);
inline constexpr HRESULT IO_E_REPLY_TOO_LONG = MAKE_HRESULT(1, FACILITY_ITF, 0x200B);

class IoError : public std::runtime_error {
 public:
  IoError(HRESULT number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  HRESULT number() const { return number_; }

 private:
  HRESULT number_;
};

}  // namespace instrument_io
