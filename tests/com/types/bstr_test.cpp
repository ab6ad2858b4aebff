#include "com/bstr.h"

#include <gtest/gtest.h>

#include <cstring>

#include "com/ptr.h"

TEST(Bstr, KeepsEmbeddedZerosAndLength) {
  const char16_t text[] = {u'a', 0, u'b', 0, u'c'};
  BSTR b = SysAllocStringLen(text, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 10u);
  EXPECT_EQ(std::u16string_view(b, 5), std::u16string_view(text, 5));
  EXPECT_EQ(b[5], 0);  // terminated after the counted characters
  SysFreeString(b);
}

TEST(Bstr, NullAndEmptyAreTheSameValue) {
  BSTR empty = SysAllocString(u"");
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(com::BStr(), com::BStr::Attach(empty));
  EXPECT_TRUE(com::BStr(std::u16string_view()).Empty());
  EXPECT_EQ(com::BStr(u"").Get(), nullptr);
  SysFreeString(nullptr);  // harmless
}

TEST(Bstr, ByteLengthFormsAndReallocation) {
  BSTR b = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(b), 3u);
  EXPECT_EQ(SysStringLen(b), 1u);
  EXPECT_EQ(std::memcmp(b, "abc\0", 4), 0);
  ASSERT_TRUE(SysReAllocString(&b, u"longer text"));
  EXPECT_EQ(std::u16string_view(b), u"longer text");
  ASSERT_TRUE(SysReAllocStringLen(&b, nullptr, 3));
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(b[0], 0);
  SysFreeString(b);
}

TEST(Bstr, HolderCopiesAndConverts) {
  com::BStr a("grüße");
  com::BStr b = a;
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(a, b);
  EXPECT_EQ(b.Utf8(), "grüße");
  BSTR raw = b.Detach();
  EXPECT_EQ(b.Get(), nullptr);
  SysFreeString(raw);
}
