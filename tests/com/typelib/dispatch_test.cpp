// Dispatch through the type information: every member kind of the test interface called
// by DISPID from a client that only knows IDispatch, and the errors a client sees.
#include "com/dispatch.h"

#include "com/collection.h"
#include "com/safearray.h"
#include "dispatch_helpers.h"
#include "typelib_fixture.h"
#include "widget.h"

using com::ComPtr;
using com::Variant;

class DispatchTest : public TypelibTest {
 protected:
  void SetUp() override {
    TypelibTest::SetUp();
    RegisterServer();
    ASSERT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               widget_.PutVoid()),
              S_OK);
  }
  void TearDown() override {
    widget_ = nullptr;
    TypelibTest::TearDown();
  }

  // A call that must succeed; its result.
  Variant Call(DISPID id, WORD flags, std::vector<VARIANT> args = {}) {
    CallOutcome o;
    InvokeInto(&o, widget_.Get(), id, flags, std::move(args));
    EXPECT_EQ(o.hr, S_OK) << std::hex << id << " " << o.Description();
    return std::move(o.result);
  }
  Variant Get(DISPID id) { return Call(id, DISPATCH_PROPERTYGET); }

  ComPtr<IDispatch> widget_;
};

constexpr DISPID kPicture = 0x68030010, kData = 0x6803000B, kCount = 0x6803000A,
                 kShown = 0x68030009, kKey = 0x68030008, kName = 0x68030007, kRun = 0x60030012,
                 kExecute = 0x60030013, kJoin = 1, kAdd = 2, kBump = 3, kFail = 4, kTail = 5,
                 kNames = 6, kByte = 7;

TEST_F(DispatchTest, PropertiesGetPutAndPutByReference) {
  Call(kCount, DISPATCH_PROPERTYPUT, {*Variant::FromI4(41).Get()});
  EXPECT_EQ(Get(kCount)->lVal, 41);
  EXPECT_EQ(Get(kCount).Type(), VT_I4);
  // Converted to the declared type on the way in.
  Variant text = Variant::FromText(std::string_view("12"));
  Call(kCount, DISPATCH_PROPERTYPUT, {*text.Get()});
  EXPECT_EQ(Get(kCount)->lVal, 12);
  Call(kShown, DISPATCH_PROPERTYPUT, {*Variant::FromBool(true).Get()});
  EXPECT_EQ(Get(kShown).Type(), VT_BOOL);
  EXPECT_EQ(Get(kShown)->boolVal, VARIANT_TRUE);
  Variant key = Variant::FromText(std::string_view("abc"));
  Call(kKey, DISPATCH_PROPERTYPUT, {*key.Get()});
  EXPECT_EQ(TextOf(Get(kName)), "abc");

  Variant picture = Get(kPicture);
  EXPECT_EQ(picture.Type(), VT_DISPATCH);
  EXPECT_EQ(picture->pdispVal, nullptr);

  // The by-reference setter keeps the caller's object itself.
  ComPtr<IDispatch> object;
  ASSERT_EQ(com::CreateCollection(object.Put()), S_OK);
  Variant v;
  v->vt = VT_DISPATCH;
  v->pdispVal = object.Get();
  object->AddRef();
  Call(kData, DISPATCH_PROPERTYPUTREF, {*v.Get()});
  Variant back = Get(kData);
  ASSERT_EQ(back.Type(), VT_DISPATCH);
  EXPECT_EQ(back->pdispVal, object.Get());
  // Data has no plain setter.
  CallOutcome o;
  InvokeInto(&o, widget_.Get(), kData, DISPATCH_PROPERTYPUT, {*v.Get()});
  EXPECT_EQ(o.hr, DISP_E_MEMBERNOTFOUND);
}

TEST_F(DispatchTest, MethodsWithAndWithoutArguments) {
  Call(kRun, DISPATCH_METHOD);
  Call(kRun, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  EXPECT_EQ(Get(kCount)->lVal, 2);
  Variant one = Variant::FromI4(1), zero = Variant::FromI4(0);
  EXPECT_EQ(TextOf(Call(kExecute, DISPATCH_METHOD, {*one.Get(), *zero.Get()})), "MS Sans Serif");
  Variant nothing = Call(kExecute, DISPATCH_METHOD, {*zero.Get(), *zero.Get()});
  EXPECT_EQ(nothing.Type(), VT_BSTR);
  EXPECT_EQ(TextOf(nothing), "");

  Variant a = Variant::FromText(std::string_view("ab")),
          b = Variant::FromText(std::string_view("cd"));
  Call(kJoin, DISPATCH_METHOD, {*a.Get(), *b.Get()});
  EXPECT_EQ(TextOf(Get(kName)), "abcd");

  Variant x = Variant::FromI4(1), y = Variant::FromI2(2), z;
  z->vt = VT_R8;
  z->dblVal = 0.5;
  Variant sum = Call(kAdd, DISPATCH_METHOD, {*x.Get(), *y.Get(), *z.Get()});
  ASSERT_EQ(sum.Type(), VT_R8);
  EXPECT_DOUBLE_EQ(sum->dblVal, 3.5);
  Variant t1 = Variant::FromText(std::string_view("10")), t2 = Variant::FromI4(20);
  EXPECT_DOUBLE_EQ(Call(kAdd, DISPATCH_METHOD, {*t1.Get(), *t2.Get(), *t2.Get()})->dblVal, 50);

  Variant small = Variant::FromI4(7), i = Variant::FromI4(-3);
  EXPECT_EQ(Call(kByte, DISPATCH_METHOD, {*small.Get(), *i.Get()})->lVal, 6997);

  // An optional argument left out, and given.
  EXPECT_EQ(TextOf(Call(kTail, DISPATCH_METHOD, {*a.Get()})), "ab|missing");
  EXPECT_EQ(TextOf(Call(kTail, DISPATCH_METHOD, {*a.Get(), *t2.Get()})), "ab|20");

  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 3);
  Variant arr = Variant::FromArray(VT_BSTR, sa);
  EXPECT_EQ(Call(kNames, DISPATCH_METHOD, {*arr.Get()})->lVal, 3);
}

TEST_F(DispatchTest, ByReferenceArgumentsComeBackChanged) {
  LONG n = 4;
  com::BStr s("hi");
  BSTR raw = s.Detach();
  Call(kBump, DISPATCH_METHOD, {Ref(VT_I4, &n), Ref(VT_BSTR, &raw)});
  EXPECT_EQ(n, 5);
  EXPECT_EQ(com::BStr::Attach(raw).Utf8(), "hi!");

  // A variant by reference, also inside a by-reference variant holding a long.
  Variant inner = Variant::FromI4(9);
  Variant two = Variant::FromI4(2);
  Call(kExecute, DISPATCH_METHOD, {*two.Get(), Ref(VT_VARIANT, inner.Get())});
  EXPECT_EQ(TextOf(inner), "changed");
  Variant boxed = Variant::FromI4(1);
  Call(kBump, DISPATCH_METHOD, {Ref(VT_VARIANT, boxed.Get()), *Variant::FromText(u"x").Get()});
  EXPECT_EQ(boxed->lVal, 2);

  // Passed by value, the caller's argument stays as it was.
  Variant plain = Variant::FromI4(9);
  Call(kExecute, DISPATCH_METHOD, {*two.Get(), *plain.Get()});
  EXPECT_EQ(plain.Type(), VT_I4);
  EXPECT_EQ(plain->lVal, 9);
}

TEST_F(DispatchTest, ErrorsComeBackWithTheirCodes) {
  Variant one = Variant::FromI4(1), word = Variant::FromText(std::string_view("word"));
  struct Case {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    HRESULT hr;
    UINT argErr;
  };
  VARIANT missing;
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  const Case cases[] = {
      {"unknown DISPID", 0x999, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, 0xffffffff},
      {"no setter", kName, DISPATCH_PROPERTYPUT, {*word.Get()}, DISP_E_MEMBERNOTFOUND, 0xffffffff},
      {"a method is no property put",
       kRun,
       DISPATCH_PROPERTYPUT,
       {*one.Get()},
       DISP_E_MEMBERNOTFOUND,
       0xffffffff},
      {"getter with an argument",
       kCount,
       DISPATCH_PROPERTYGET,
       {*one.Get()},
       DISP_E_BADPARAMCOUNT,
       0xffffffff},
      {"too few", kJoin, DISPATCH_METHOD, {*word.Get()}, DISP_E_BADPARAMCOUNT, 0xffffffff},
      {"too many", kRun, DISPATCH_METHOD, {*one.Get()}, DISP_E_BADPARAMCOUNT, 0xffffffff},
      {"first argument",
       kAdd,
       DISPATCH_METHOD,
       {*word.Get(), *one.Get(), *one.Get()},
       DISP_E_TYPEMISMATCH,
       2},
      {"second argument",
       kAdd,
       DISPATCH_METHOD,
       {*one.Get(), *word.Get(), *one.Get()},
       DISP_E_TYPEMISMATCH,
       1},
      {"not an array", kNames, DISPATCH_METHOD, {*word.Get()}, DISP_E_TYPEMISMATCH, 0},
      {"put value", kCount, DISPATCH_PROPERTYPUT, {*word.Get()}, DISP_E_TYPEMISMATCH, 0},
      {"left out, not optional",
       kJoin,
       DISPATCH_METHOD,
       {missing, *word.Get()},
       DISP_E_PARAMNOTOPTIONAL,
       1},
  };
  for (const auto& c : cases) {
    CallOutcome o;
    InvokeInto(&o, widget_.Get(), c.id, c.flags, c.args);
    EXPECT_EQ(o.hr, c.hr) << c.what;
    EXPECT_EQ(o.argErr, c.argErr) << c.what;
  }
  // Named arguments other than a put's value are not understood.
  DISPID named = 0;
  VARIANT arg = *one.Get();
  DISPPARAMS p{&arg, &named, 1, 1};
  EXPECT_EQ(widget_->Invoke(kByte, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
}

TEST_F(DispatchTest, FailingMethodBecomesAnExceptionWithItsDescription) {
  Variant code = Variant::FromI4(static_cast<LONG>(0x80040201));
  Variant text = Variant::FromText(std::string_view("The widget is broken"));
  CallOutcome o;
  InvokeInto(&o, widget_.Get(), kFail, DISPATCH_METHOD, {*code.Get(), *text.Get()});
  EXPECT_EQ(o.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(o.ex.scode, static_cast<SCODE>(0x80040201));
  EXPECT_EQ(o.Description(), "The widget is broken");
  EXPECT_EQ(com::BStr::Attach(SysAllocString(o.ex.bstrSource)).Utf8(), "Widget");

  // Without error information: still an exception, with the code and no description.
  CallOutcome bare;
  Variant none = Variant::FromText(std::u16string_view());
  InvokeInto(&bare, widget_.Get(), kFail, DISPATCH_METHOD, {*code.Get(), *none.Get()});
  EXPECT_EQ(bare.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(bare.ex.scode, static_cast<SCODE>(0x80040201));
  EXPECT_EQ(bare.ex.bstrDescription, nullptr);

  // Without EXCEPINFO the method's own code comes back.
  VARIANT args[] = {*none.Get(), *code.Get()};
  DISPPARAMS p{args, nullptr, 2, 0};
  EXPECT_EQ(widget_->Invoke(kFail, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr),
            static_cast<HRESULT>(0x80040201));
}

TEST_F(DispatchTest, TypeInformationAndNamesThroughIDispatch) {
  UINT count = 0;
  ASSERT_EQ(widget_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> first, other;
  ASSERT_EQ(widget_->GetTypeInfo(0, 0, first.Put()), S_OK);
  ASSERT_EQ(widget_->GetTypeInfo(7, 0x409, other.Put()), S_OK);
  EXPECT_EQ(first.Get(), other.Get());
  EXPECT_EQ(widget_->GetTypeInfo(0, 0, nullptr), E_POINTER);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID__IWidget);
  first->ReleaseTypeAttr(attr);

  std::u16string name = u"jOiN";
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  ASSERT_EQ(widget_->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, kJoin);
  std::u16string bad = u"Joint";
  names[0] = bad.data();
  EXPECT_EQ(widget_->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(DispatchTest, EarlyBoundTableAndEarlierIdentityAgree) {
  ComPtr<_IWidget> early, old;
  ASSERT_EQ(widget_.As(IID__IWidget, &early), S_OK);
  ASSERT_EQ(widget_.As(IID_IWidget___v0, &old), S_OK);
  EXPECT_EQ(early.Get(), old.Get());
  // The header's method table is the one the type information calls.
  ASSERT_EQ(early->put_Count(77), S_OK);
  EXPECT_EQ(Get(kCount)->lVal, 77);
  com::BStr a("x"), b("y");
  ASSERT_EQ(early->Join(a.Get(), b.Get()), S_OK);
  EXPECT_EQ(TextOf(Get(kName)), "xy");
}

TEST_F(DispatchTest, StandardDispatchObjectServesAnInterface) {
  ComPtr<_IWidget> early;
  ASSERT_EQ(widget_.As(IID__IWidget, &early), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(widget_->GetTypeInfo(0, 0, info.Put()), S_OK);
  ComPtr<IUnknown> std;
  ASSERT_EQ(CreateStdDispatch(nullptr, early.Get(), info.Get(), std.Put()), S_OK);
  ComPtr<IDispatch> disp;
  ASSERT_EQ(std.As(IID_IDispatch, &disp), S_OK);
  ASSERT_EQ(early->put_Count(5), S_OK);
  CallOutcome o;
  InvokeInto(&o, disp.Get(), kCount, DISPATCH_PROPERTYGET, {});
  EXPECT_EQ(o.hr, S_OK);
  EXPECT_EQ(o.result->lVal, 5);
  std::u16string name = u"count";
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  EXPECT_EQ(DispGetIDsOfNames(info.Get(), names, 1, &id), S_OK);
  EXPECT_EQ(id, kCount);
}

// A parameter of the library's own interface: described as a reference to it, handed out
// as a dispatch pointer, and taken in only as an object that answers it.
TEST_F(DispatchTest, InterfaceParametersOfTheLibrary) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(widget_->GetTypeInfo(0, 0, info.Put()), S_OK);
  for (UINT index : {18u, 19u}) {
    SCOPED_TRACE(index);
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(info->GetFuncDesc(index, &fd), S_OK);
    const TYPEDESC* t = &fd->lprgelemdescParam[0].tdesc;
    ASSERT_EQ(t->vt, VT_PTR);
    if (index == 18) {  // [out, retval] _IWidget**
      t = t->lptdesc;
      ASSERT_EQ(t->vt, VT_PTR);
    }
    ASSERT_EQ(t->lptdesc->vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> target;
    ASSERT_EQ(info->GetRefTypeInfo(t->lptdesc->hreftype, target.Put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(target->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID__IWidget);
    target->ReleaseTypeAttr(attr);
    info->ReleaseFuncDesc(fd);
  }

  constexpr DISPID kClone = 8, kCountOf = 9;
  Call(kCount, DISPATCH_PROPERTYPUT, {*Variant::FromI4(5).Get()});
  Variant clone = Call(kClone, DISPATCH_METHOD);
  ASSERT_EQ(clone.Type(), VT_DISPATCH);
  ComPtr<_IWidget> early;
  ASSERT_EQ(clone->pdispVal->QueryInterface(IID__IWidget, early.PutVoid()), S_OK);
  LONG n = 0;
  EXPECT_EQ(early->get_Count(&n), S_OK);
  EXPECT_EQ(n, 5);

  // In as a dispatch pointer, an unknown pointer, or by reference to either.
  early->put_Count(9);
  IDispatch* asDispatch = clone->pdispVal;
  IUnknown* asUnknown = early.Get();
  VARIANT unknownArg;
  VariantInit(&unknownArg);
  unknownArg.vt = VT_UNKNOWN;
  unknownArg.punkVal = asUnknown;
  for (VARIANT arg :
       {*clone.Get(), unknownArg, Ref(VT_DISPATCH, &asDispatch), Ref(VT_UNKNOWN, &asUnknown)}) {
    SCOPED_TRACE(arg.vt);
    EXPECT_EQ(Call(kCountOf, DISPATCH_METHOD, {arg})->lVal, 9);
  }

  // Anything else is the wrong type for argument 0, and the widget is not called.
  ComPtr<IDispatch> collection;
  ASSERT_EQ(com::CreateCollection(collection.Put()), S_OK);
  VARIANT other;
  VariantInit(&other);
  other.vt = VT_DISPATCH;
  other.pdispVal = collection.Get();
  for (VARIANT arg : {other, *Variant::FromI4(1).Get(), Variant().Get()[0]}) {
    SCOPED_TRACE(arg.vt);
    CallOutcome o;
    InvokeInto(&o, widget_.Get(), kCountOf, DISPATCH_METHOD, {arg});
    EXPECT_EQ(o.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(o.argErr, 0u);
  }
}
