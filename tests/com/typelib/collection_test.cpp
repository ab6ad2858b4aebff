// The keyed collection, driven by name through IDispatch as a script would.
#include "com/collection.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "dispatch_helpers.h"

using com::ComPtr;
using com::Variant;

namespace {

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(com::CreateCollection(c_.Put()), S_OK); }

  DISPID Id(const char16_t* name) {
    std::u16string n = name;
    LPOLESTR names[] = {n.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(c_->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK) << com::Utf16ToUtf8(name);
    return id;
  }
  HRESULT Add(const char* item, const char* key, CallOutcome* o) {
    Variant i = Variant::FromText(std::string_view(item));
    if (!key) {
      InvokeInto(o, c_.Get(), Id(u"add"), DISPATCH_METHOD, {*i.Get()});
    } else {
      Variant k = Variant::FromText(std::string_view(key));
      InvokeInto(o, c_.Get(), Id(u"ADD"), DISPATCH_METHOD, {*i.Get(), *k.Get()});
    }
    return o->hr;
  }
  void Add(const char* item, const char* key = nullptr) {
    CallOutcome o;
    ASSERT_EQ(Add(item, key, &o), S_OK) << o.Description();
  }
  void Item(const Variant& index, CallOutcome* o) {
    // The default member, as `c(index)` calls it.
    InvokeInto(o, c_.Get(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {*index.Get()});
  }
  std::string ItemText(const Variant& index) {
    CallOutcome o;
    Item(index, &o);
    EXPECT_EQ(o.hr, S_OK) << o.Description();
    return TextOf(o.result);
  }
  LONG Count() {
    CallOutcome o;
    InvokeInto(&o, c_.Get(), Id(u"Count"), DISPATCH_PROPERTYGET, {});
    EXPECT_EQ(o.hr, S_OK);
    return o.result->lVal;
  }
  HRESULT Remove(const Variant& index) {
    CallOutcome o;
    InvokeInto(&o, c_.Get(), Id(u"Remove"), DISPATCH_METHOD, {*index.Get()});
    return o.hr;
  }

  ComPtr<IDispatch> c_;
};

Variant Key(const char* k) { return Variant::FromText(std::string_view(k)); }

}  // namespace

TEST_F(CollectionTest, OrderedByIndexAndFoundByKeyWithoutCase) {
  EXPECT_EQ(Count(), 0);
  Add("first", "One");
  Add("second");
  Add("third", "Three");
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(ItemText(Variant::FromI4(1)), "first");
  EXPECT_EQ(ItemText(Variant::FromI2(2)), "second");
  EXPECT_EQ(ItemText(Key("THREE")), "third");
  EXPECT_EQ(ItemText(Key("one")), "first");

  ASSERT_EQ(Remove(Key("oNe")), S_OK);
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(ItemText(Variant::FromI4(1)), "second");
  ASSERT_EQ(Remove(Variant::FromI4(2)), S_OK);
  EXPECT_EQ(ItemText(Variant::FromI4(1)), "second");
  EXPECT_EQ(Count(), 1);
  // A removed key can be used again; an empty key is no key.
  Add("again", "one");
  Add("a", "");
  Add("b", "");
  EXPECT_EQ(Count(), 4);
}

TEST_F(CollectionTest, ItemsAreCopiesAndObjectsKeepTheirIdentity) {
  ComPtr<IDispatch> inner;
  ASSERT_EQ(com::CreateCollection(inner.Put()), S_OK);
  Variant v;
  v->vt = VT_DISPATCH;
  v->pdispVal = inner.Get();
  inner->AddRef();
  CallOutcome o;
  InvokeInto(&o, c_.Get(), Id(u"Add"), DISPATCH_METHOD, {*v.Get(), *Key("obj").Get()});
  ASSERT_EQ(o.hr, S_OK);
  CallOutcome got;
  Item(Key("OBJ"), &got);
  ASSERT_EQ(got.result.Type(), VT_DISPATCH);
  EXPECT_EQ(got.result->pdispVal, inner.Get());
}

TEST_F(CollectionTest, ErrorsHaveCodesAndDescriptions) {
  Add("x", "Key");
  CallOutcome dup;
  EXPECT_EQ(Add("y", "KEY", &dup), DISP_E_EXCEPTION);
  EXPECT_EQ(dup.ex.scode, COLLECTION_E_DUPLICATEKEY);
  EXPECT_EQ(dup.Description(), "This key is already associated with an element of this collection");
  EXPECT_EQ(Count(), 1);

  struct Case {
    Variant index;
    HRESULT code;
    const char* description;
  };
  Case cases[] = {
      {Variant::FromI4(0), COLLECTION_E_BADINDEX,
       "Index 0 is out of range (the collection has 1 items)"},
      {Variant::FromI4(2), COLLECTION_E_BADINDEX,
       "Index 2 is out of range (the collection has 1 items)"},
      {Key("nope"), COLLECTION_E_UNKNOWNKEY, "No element of this collection has the key \"nope\""},
  };
  for (auto& c : cases) {
    CallOutcome o;
    Item(c.index, &o);
    EXPECT_EQ(o.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(o.ex.scode, c.code);
    EXPECT_EQ(o.Description(), c.description);
    CallOutcome r;
    InvokeInto(&r, c_.Get(), Id(u"Remove"), DISPATCH_METHOD, {*c.index.Get()});
    EXPECT_EQ(r.ex.scode, c.code);
  }
  CallOutcome numeric;
  InvokeInto(&numeric, c_.Get(), Id(u"Add"), DISPATCH_METHOD,
             {*Key("z").Get(), *Variant::FromI4(5).Get()});
  EXPECT_EQ(numeric.ex.scode, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Count(), 1);
}
