#include "com/safearray.h"

#include <gtest/gtest.h>

#include "com/ptr.h"

TEST(SafeArray, BoundsAndOutOfRangeAccess) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 1, 3);
  ASSERT_NE(sa, nullptr);
  LONG lo = 0, hi = 0;
  EXPECT_EQ(SafeArrayGetLBound(sa, 1, &lo), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(sa, 1, &hi), S_OK);
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 3);
  EXPECT_EQ(SafeArrayGetUBound(sa, 2, &hi), DISP_E_BADINDEX);
  BYTE value = 9;
  for (LONG i : {0, 4, -1, 1 << 30}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(SafeArrayPutElement(sa, &i, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetElement(sa, &i, &value), DISP_E_BADINDEX);
  }
  LONG i = 3;
  EXPECT_EQ(SafeArrayPutElement(sa, &i, &value), S_OK);
  BYTE got = 0;
  EXPECT_EQ(SafeArrayGetElement(sa, &i, &got), S_OK);
  EXPECT_EQ(got, 9);
  SafeArrayDestroy(sa);
}

TEST(SafeArray, EmptyVectorHasUpperBoundBelowLower) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 0);
  LONG hi = 0;
  SafeArrayGetUBound(sa, 1, &hi);
  EXPECT_EQ(hi, -1);
  LONG i = 0;
  BYTE b;
  EXPECT_EQ(SafeArrayGetElement(sa, &i, &b), DISP_E_BADINDEX);
  SafeArrayDestroy(sa);
}

TEST(SafeArray, RedimKeepsContentsAndZeroesNewElements) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 4);
  BYTE* data = nullptr;
  SafeArrayAccessData(sa, reinterpret_cast<void**>(&data));
  for (int i = 0; i < 4; ++i) data[i] = static_cast<BYTE>(i + 1);
  // Locked arrays keep their size.
  SAFEARRAYBOUND grow{20000, 0};
  EXPECT_EQ(SafeArrayRedim(sa, &grow), DISP_E_ARRAYISLOCKED);
  SafeArrayUnaccessData(sa);
  ASSERT_EQ(SafeArrayRedim(sa, &grow), S_OK);
  SafeArrayAccessData(sa, reinterpret_cast<void**>(&data));
  EXPECT_EQ(data[0], 1);
  EXPECT_EQ(data[3], 4);
  EXPECT_EQ(data[4], 0);
  EXPECT_EQ(data[19999], 0);
  SafeArrayUnaccessData(sa);
  SAFEARRAYBOUND shrink{2, 0};
  ASSERT_EQ(SafeArrayRedim(sa, &shrink), S_OK);
  LONG hi;
  SafeArrayGetUBound(sa, 1, &hi);
  EXPECT_EQ(hi, 1);
  LONG i = 2;
  BYTE b;
  EXPECT_EQ(SafeArrayGetElement(sa, &i, &b), DISP_E_BADINDEX);
  SafeArrayDestroy(sa);
}

TEST(SafeArray, TextsAreOwnedAcrossPutShrinkAndDestroy) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 5);
  for (LONG i = 0; i < 5; ++i) {
    com::BStr s(std::u16string(1, static_cast<char16_t>(u'a' + i)));
    ASSERT_EQ(SafeArrayPutElement(sa, &i, s.Get()), S_OK);
  }
  LONG i = 2;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, com::BStr(u"again").Get()), S_OK);  // replaces, frees
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &got), S_OK);
  EXPECT_EQ(std::u16string_view(got), u"again");
  SysFreeString(got);
  SAFEARRAYBOUND shrink{1, 0};
  ASSERT_EQ(SafeArrayRedim(sa, &shrink), S_OK);  // frees the four dropped texts
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArray, FixedSizeArraysRefuseRedim) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 5);
  sa->fFeatures |= FADF_FIXEDSIZE;
  SAFEARRAYBOUND b{6, 0};
  EXPECT_EQ(SafeArrayRedim(sa, &b), DISP_E_ARRAYISLOCKED);
  VARTYPE vt;
  SafeArrayGetVartype(sa, &vt);
  EXPECT_EQ(vt, VT_BSTR);
  SafeArrayDestroy(sa);
}

TEST(SafeArray, VariantElementsCopy) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  com::Variant v = com::Variant::FromText(u"x");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, v.Get()), S_OK);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(sa, &copy), S_OK);
  SafeArrayDestroy(sa);
  com::Variant got;
  ASSERT_EQ(SafeArrayGetElement(copy, &i, got.Get()), S_OK);
  EXPECT_EQ(std::u16string_view(got->bstrVal), u"x");
  SafeArrayDestroy(copy);
}

TEST(SafeArray, RejectsUnknownTypesAndHugeSizes) {
  EXPECT_EQ(SafeArrayCreateVector(VT_VOID, 0, 1), nullptr);
  SAFEARRAYBOUND b[2] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, b), nullptr);
}
