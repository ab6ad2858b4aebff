#include "instrument_io/address.h"

#include <gtest/gtest.h>

using instrument_io::Bus;
using instrument_io::ParseAddress;

TEST(Address, AcceptedFormsAndTheirCanonicalSpelling) {
  struct Case {
    const char* text;
    Bus bus;
    const char* canonical;
  };
  const Case cases[] = {
      {"TCPIP::127.0.0.1::5025::SOCKET", Bus::Tcp, "TCPIP0::127.0.0.1::5025::SOCKET"},
      {"tcpip3::Analyzer.Lab::5025::socket", Bus::Tcp, "TCPIP3::analyzer.lab::5025::SOCKET"},
      {"TCPIP::[::1]::5025::SOCKET", Bus::Tcp, "TCPIP0::[::1]::5025::SOCKET"},
      {"TCPIP0::::1::5025::SOCKET", Bus::Tcp, "TCPIP0::[::1]::5025::SOCKET"},
      {"TCPIP::fe80::1::80::SOCKET", Bus::Tcp, "TCPIP0::[fe80::1]::80::SOCKET"},
      {"ASRL1::INSTR", Bus::Serial, "ASRL/dev/ttyS0::INSTR"},
      {"asrl4", Bus::Serial, "ASRL/dev/ttyS3::INSTR"},
      {"ASRL/dev/ttyUSB0::INSTR", Bus::Serial, "ASRL/dev/ttyUSB0::INSTR"},
      {"ASRL/dev/ttyS0::instr", Bus::Serial, "ASRL/dev/ttyS0::INSTR"},
      {"GPIB::17", Bus::Gpib, "GPIB0::17::INSTR"},
      {"gpib1::5::INSTR", Bus::Gpib, "GPIB1::5::INSTR"},
      {"GPIB0::5::12::INSTR", Bus::Gpib, "GPIB0::5::12::INSTR"},
      {"  GPIB::17  ", Bus::Gpib, "GPIB0::17::INSTR"},
  };
  for (const Case& c : cases) {
    auto a = ParseAddress(c.text);
    ASSERT_TRUE(a) << c.text;
    EXPECT_EQ(a->bus, c.bus) << c.text;
    EXPECT_EQ(a->canonical, c.canonical) << c.text;
  }
  auto v6 = ParseAddress("TCPIP::[::1]::5025::SOCKET");
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, 5025);
  auto serial = ParseAddress("ASRL2::INSTR");
  EXPECT_EQ(serial->device, "/dev/ttyS1");
  auto gpib = ParseAddress("GPIB2::7::3");
  EXPECT_EQ(gpib->board, 2);
  EXPECT_EQ(gpib->primary, 7);
  EXPECT_EQ(gpib->secondary, 3);
}

TEST(Address, MalformedFormsAreRefused) {
  for (const char* text : {"",
                           "GPIB",
                           "GPIB::",
                           "GPIB::31",
                           "GPIB::-1",
                           "GPIB::17::31",
                           "GPIB::1::2::3::INSTR",
                           "GPIBx::17",
                           "TCPIP::host::SOCKET",
                           "TCPIP::host::0::SOCKET",
                           "TCPIP::host::65536::SOCKET",
                           "TCPIP::host::5025",
                           "TCPIP::host::5025::INSTR",
                           "TCPIP::::5025::SOCKET",
                           "TCPIP::a b::5025::SOCKET",
                           "ASRL0::INSTR",
                           "ASRL::INSTR",
                           "ASRL/::INSTR",
                           "ASRL/dev/a::b::INSTR",
                           "USB::0x1234::INSTR",
                           "MyAnalyzer"})
    EXPECT_FALSE(ParseAddress(text)) << text;
}
