// What the library reads from the user's registry: aliases and serial frame settings.
#pragma once

#include <optional>
#include <string>

#include "instrument_io/transport.h"

namespace instrument_io {

inline constexpr const char* kAliasesKey = "HKCU\\Software\\Quorell\\InstrumentIO\\Aliases";
inline constexpr const char* kSerialKey = "HKCU\\Software\\Quorell\\InstrumentIO\\Serial";

// The address stored under the alias name (names compare ignoring case).
std::optional<std::string> LookUpAlias(const std::string& name);
// BaudRate, DataBits, Parity (0 none, 1 odd, 2 even) and StopBits, each a number; a value
// that is not there keeps 9600 8N1.
SerialSettings ReadSerialSettings(const std::string& canonical);

}  // namespace instrument_io
