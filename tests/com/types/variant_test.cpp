#include "com/variant.h"

#include <gtest/gtest.h>

#include <atomic>

#include "com/ptr.h"
#include "com/safearray.h"

namespace {

// Counts references so that tests can see what a copy or a clear did to an interface.
struct Counted : IDispatch {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = this;
      ++refs;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
};

}  // namespace

TEST(Variant, CopyOwnsItsTextAndClearFreesIt) {
  com::Variant a = com::Variant::FromText(u"hello");
  com::Variant b = a;
  EXPECT_EQ(b.Type(), VT_BSTR);
  EXPECT_NE(a->bstrVal, b->bstrVal);
  EXPECT_EQ(std::u16string_view(b->bstrVal), u"hello");
  VariantClear(b.Get());
  EXPECT_EQ(b.Type(), VT_EMPTY);
  EXPECT_EQ(std::u16string_view(a->bstrVal), u"hello");
}

TEST(Variant, InterfacesAreCountedByCopyAndClear) {
  Counted obj;
  {
    com::Variant v;
    v->vt = VT_DISPATCH;
    v->pdispVal = &obj;
    obj.AddRef();
    com::Variant copy = v;
    EXPECT_EQ(obj.refs, 3u);
  }
  EXPECT_EQ(obj.refs, 1u);
}

TEST(Variant, ClearLeavesByReferenceTargetsAlone) {
  BSTR target = SysAllocString(u"kept");
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &target;
  VariantClear(&v);
  EXPECT_EQ(std::u16string_view(target), u"kept");
  // A copy of the reference refers to the same storage; an indirect copy owns a value.
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &target;
  com::Variant ind;
  ASSERT_EQ(VariantCopyInd(ind.Get(), &v), S_OK);
  EXPECT_EQ(ind.Type(), VT_BSTR);
  EXPECT_NE(ind->bstrVal, target);
  SysFreeString(target);
}

TEST(Variant, CopiesArraysDeeply) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG i = 1;
  SafeArrayPutElement(sa, &i, com::BStr(u"two").Get());
  com::Variant a = com::Variant::FromArray(VT_BSTR, sa);
  com::Variant b = a;
  EXPECT_NE(a->parray, b->parray);
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(b->parray, &i, &got), S_OK);
  EXPECT_EQ(std::u16string_view(got), u"two");
  SysFreeString(got);
}

struct ChangeCase {
  const char* name;
  com::Variant from;
  VARTYPE to;
  USHORT flags;
  HRESULT hr;
  std::u16string text;  // expected text, or the expected number as text
};

TEST(Variant, ChangeTypeTable) {
  com::Variant big = com::Variant::FromI4(40000);
  com::Variant half;
  half->vt = VT_R8;
  half->dblVal = 2.5;
  com::Variant threeHalves;
  threeHalves->vt = VT_R8;
  threeHalves->dblVal = 3.5;
  const ChangeCase cases[] = {
      {"I4 to text", com::Variant::FromI4(-42), VT_BSTR, 0, S_OK, u"-42"},
      {"text to I4", com::Variant::FromText(u" 17 "), VT_I4, 0, S_OK, u"17"},
      {"text not a number", com::Variant::FromText(u"abc"), VT_I4, 0, DISP_E_TYPEMISMATCH, u""},
      {"empty text", com::Variant::FromText(u""), VT_I4, 0, DISP_E_TYPEMISMATCH, u""},
      {"I4 too big for I2", big, VT_I2, 0, DISP_E_OVERFLOW, u""},
      {"I4 to UI1 overflow", com::Variant::FromI4(256), VT_UI1, 0, DISP_E_OVERFLOW, u""},
      {"negative to UI1", com::Variant::FromI4(-1), VT_UI1, 0, DISP_E_OVERFLOW, u""},
      {"bool to text, words", com::Variant::FromBool(true), VT_BSTR, VARIANT_ALPHABOOL, S_OK,
       u"True"},
      {"bool to text, number", com::Variant::FromBool(true), VT_BSTR, 0, S_OK, u"-1"},
      {"word to bool", com::Variant::FromText(u"false"), VT_BOOL, 0, S_OK, u"0"},
      {"number text to bool", com::Variant::FromText(u"5"), VT_BOOL, 0, S_OK, u"-1"},
      {"halves round to even 2.5", half, VT_I4, 0, S_OK, u"2"},
      {"halves round to even 3.5", threeHalves, VT_I4, 0, S_OK, u"4"},
      {"empty to I4", com::Variant(), VT_I4, 0, S_OK, u"0"},
      {"empty to text", com::Variant(), VT_BSTR, 0, S_OK, u""},
      {"text to dispatch", com::Variant::FromText(u"x"), VT_DISPATCH, 0, DISP_E_TYPEMISMATCH, u""},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    com::Variant out;
    HRESULT hr = VariantChangeType(out.Get(), c.from.Get(), c.flags, c.to);
    EXPECT_EQ(hr, c.hr);
    if (FAILED(hr)) {
      EXPECT_EQ(out.Type(), VT_EMPTY);
      continue;
    }
    EXPECT_EQ(out.Type(), c.to);
    com::Variant text;
    ASSERT_EQ(VariantChangeType(text.Get(), out.Get(), 0, VT_BSTR), S_OK);
    std::u16string got(text->bstrVal ? text->bstrVal : u"", SysStringLen(text->bstrVal));
    EXPECT_EQ(got, c.text);
  }
}

TEST(Variant, ChangeTypeInPlaceAndFromReference) {
  com::Variant v = com::Variant::FromText(u"123");
  ASSERT_EQ(VariantChangeType(v.Get(), v.Get(), 0, VT_I4), S_OK);
  EXPECT_EQ(v->lVal, 123);
  LONG n = 7;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &n;
  com::Variant text;
  ASSERT_EQ(VariantChangeType(text.Get(), &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string_view(text->bstrVal), u"7");
}
