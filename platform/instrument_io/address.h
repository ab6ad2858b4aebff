// I/O addresses as resource strings:
//   TCPIP[board]::host::port::SOCKET          raw TCP; host IPv4, IPv6 (bracketed or not), name
//   ASRL<n>[::INSTR]                          serial port /dev/ttyS<n-1>
//   ASRL/dev/<device>[::INSTR]                serial port by device path
//   GPIB[board]::primary[::secondary][::INSTR]
// Keywords are case-insensitive.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace instrument_io {

enum class Bus { Tcp, Serial, Gpib };

struct Address {
  Bus bus = Bus::Tcp;
  int board = 0;
  std::string host;    // Tcp, without brackets
  int port = 0;        // Tcp
  std::string device;  // Serial: device path
  int primary = 0;     // Gpib: 0..30
  int secondary = -1;  // Gpib: 0..30, or -1 for none
  // One spelling per instrument, the key under which sessions share a connection.
  std::string canonical;
};

// The address, or nothing when the text is not in one of the forms above.
std::optional<Address> ParseAddress(std::string_view text);

// Says what the forms are, for messages about a malformed address.
const char* ExpectedAddressForms();

}  // namespace instrument_io
