#include "instrument_io/settings.h"

#include "com/registry.h"

namespace instrument_io {

std::optional<std::string> LookUpAlias(const std::string& name) {
  if (name.empty() || name.find('\\') != std::string::npos) return std::nullopt;
  std::string address;
  if (com::registry::GetText(kAliasesKey, name, &address) != ERROR_SUCCESS) return std::nullopt;
  return address;
}

SerialSettings ReadSerialSettings(const std::string&) {
  SerialSettings s;
  auto number = [](const char* name, int* value) {
    DWORD n = 0;
    if (com::registry::GetNumber(kSerialKey, name, &n) == ERROR_SUCCESS)
      *value = static_cast<int>(n);
  };
  number("BaudRate", &s.baudRate);
  number("DataBits", &s.dataBits);
  number("Parity", &s.parity);
  number("StopBits", &s.stopBits);
  return s;
}

}  // namespace instrument_io
