#include "com/guid.h"

#include <gtest/gtest.h>

TEST(Guid, TextRoundTrip) {
  constexpr GUID g = com::Guid("{2621762B-0DED-4A5D-81D1-F27C56D18377}");
  EXPECT_EQ(g.Data1, 0x2621762Bu);
  EXPECT_EQ(g.Data2, 0x0DED);
  EXPECT_EQ(g.Data4[0], 0x81);
  EXPECT_EQ(g.Data4[7], 0x77);
  EXPECT_EQ(com::GuidToString(g), "{2621762B-0DED-4A5D-81D1-F27C56D18377}");
  EXPECT_EQ(com::ParseGuid("{2621762b-0ded-4a5d-81d1-f27c56d18377}"), g);
  OLECHAR buf[39];
  ASSERT_EQ(StringFromGUID2(g, buf, 39), 39);
  CLSID back;
  ASSERT_EQ(CLSIDFromString(buf, &back), S_OK);
  EXPECT_EQ(back, g);
  EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);  // too small: nothing written
}

TEST(Guid, MalformedTextIsAnErrorNotAZeroGuid) {
  const char16_t* bad[] = {
      u"",
      u"{2621762B-0DED-4A5D-81D1-F27C56D1837}",    // short
      u"{2621762B-0DED-4A5D-81D1-F27C56D183777}",  // long
      u"{2621762B-0DED-4A5D-81D1+F27C56D18377}",   // wrong separator
      u"{2621762G-0DED-4A5D-81D1-F27C56D18377}",   // not hex
      u"(2621762B-0DED-4A5D-81D1-F27C56D18377)",   // wrong braces
      u"2621762B-0DED-4A5D-81D1-F27C56D18377",     // no braces here
      u"{2621762B0-DED-4A5D-81D1-F27C56D18377}",   // dash out of place
  };
  for (const char16_t* text : bad) {
    SCOPED_TRACE(std::string(text, text + std::char_traits<char16_t>::length(text)));
    CLSID out = com::Guid("{00000001-0000-0000-0000-000000000000}");
    EXPECT_EQ(CLSIDFromString(text, &out), CO_E_CLASSSTRING);
    EXPECT_EQ(out, GUID_NULL);
  }
  CLSID out;
  EXPECT_EQ(CLSIDFromString(nullptr, &out), CO_E_CLASSSTRING);
  EXPECT_FALSE(com::ParseGuid("{2621762B-0DED-4A5D-81D1-F27C56D18377"));
}
