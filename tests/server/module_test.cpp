// The module library with a class of its own: class table, factory, plain and aggregated
// objects with two interfaces, termination list, registration in one transaction.
#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "com/ptr.h"
#include "com/registry.h"
#include "registry_dump.h"
#include "server/class_factory.h"
#include "server/object.h"
#include "support/private_registry.h"

namespace {

struct ICounter : IUnknown {
  virtual int STDMETHODCALLTYPE Next() = 0;
};
struct INamed : IUnknown {
  virtual int STDMETHODCALLTYPE Name() = 0;
};
constexpr IID IID_ICounter = com::Guid("{0C0C0C0C-0000-4000-8000-000000000001}");
constexpr IID IID_INamed = com::Guid("{0C0C0C0C-0000-4000-8000-000000000002}");
constexpr CLSID CLSID_Thing = com::Guid("{0C0C0C0C-0000-4000-8000-0000000000C1}");
constexpr CLSID CLSID_Other = com::Guid("{0C0C0C0C-0000-4000-8000-0000000000C2}");
constexpr CATID kCategories[] = {com::Guid("{0C0C0C0C-0000-4000-8000-0000000000CA}"), GUID_NULL};

ModuleState module;

class Thing : public ICounter, public INamed {
 public:
  static const InterfaceEntry* InterfaceTable() {
    static const InterfaceEntry table[] = {{&IID_ICounter, InterfaceOffset<Thing, ICounter>()},
                                           {&IID_INamed, InterfaceOffset<Thing, INamed>()},
                                           {nullptr, 0}};
    return table;
  }
  int STDMETHODCALLTYPE Next() override { return ++n_; }
  int STDMETHODCALLTYPE Name() override { return 42; }

 private:
  int n_ = 0;
};

HRESULT RegisterThing(BOOL doRegister) {
  return com::server::RunRegistryScript(
             "HKCR { NoRemove CLSID { ForceRemove {0C0C0C0C-0000-4000-8000-0000000000C1} = s "
             "'Thing' } }",
             doRegister, {})
      .hr;
}
HRESULT FailingRegistration(BOOL) { return E_ACCESSDENIED; }

ClassTableEntry classes[] = {
    {&CLSID_Thing, &RegisterThing, &com::server::ClassFactory<&module>::Create,
     &com::server::CreateObject<Thing, &module>, nullptr, kCategories},
    {&CLSID_Other, &FailingRegistration, nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

std::vector<int> order;

class ModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registry_.emplace(); }
  static void TearDownTestSuite() { registry_.reset(); }
  static inline std::optional<testsupport::PrivateRegistry> registry_;
  void SetUp() override {
    ModuleStart(&module, classes,
                com::ModuleFromAddress(reinterpret_cast<const void*>(&RegisterThing)));
  }
  void TearDown() override {
    ModuleStop(&module);
    EXPECT_EQ(module.lockCount.load(), 0);
  }
};

TEST_F(ModuleTest, ObjectsAnswerEachInterfaceAtItsOwnPlaceWithOneIdentity) {
  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(ModuleGetClassObject(&module, CLSID_Thing, IID_IClassFactory, factory.PutVoid()), S_OK);
  com::ComPtr<ICounter> counter;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICounter, counter.PutVoid()), S_OK);
  EXPECT_EQ(module.lockCount.load(), 2);  // the client's factory reference and the object
  com::ComPtr<INamed> named;
  ASSERT_EQ(counter.As(IID_INamed, &named), S_OK);
  EXPECT_NE(static_cast<void*>(named.Get()), static_cast<void*>(counter.Get()));
  EXPECT_EQ(named->Name(), 42);
  EXPECT_EQ(counter->Next(), 1);
  com::ComPtr<IUnknown> a, b;
  ASSERT_EQ(named.As(IID_IUnknown, &a), S_OK);
  ASSERT_EQ(counter.As(IID_IUnknown, &b), S_OK);
  EXPECT_EQ(a.Get(), b.Get());
  EXPECT_EQ(static_cast<void*>(a.Get()), static_cast<void*>(counter.Get()));  // the first row
  counter.Reset();
  named.Reset();
  a.Reset();
  b.Reset();
  EXPECT_EQ(module.lockCount.load(), 1);
  factory.Reset();
  EXPECT_EQ(module.lockCount.load(), 0);
}

TEST_F(ModuleTest, AnAggregatedObjectDelegatesEveryInterfaceItHandsOut) {
  struct Outer : IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  } outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ((com::server::CreateObject<Thing, &module>(&outer, IID_IUnknown,
                                                       reinterpret_cast<void**>(&inner))),
            S_OK);
  INamed* named = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_INamed, reinterpret_cast<void**>(&named)), S_OK);
  EXPECT_EQ(outer.refs, 2u);
  EXPECT_EQ(named->Name(), 42);
  void* p = nullptr;
  EXPECT_EQ(named->QueryInterface(IID_ICounter, &p), E_NOINTERFACE) << "asked the outer object";
  named->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(module.lockCount.load(), 1);
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(module.lockCount.load(), 0);
}

TEST_F(ModuleTest, TheFactoryCountsAtomicallyAndIsReleasedAtStop) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(ModuleGetClassObject(&module, CLSID_Thing, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)),
            S_OK);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([factory] {
      for (int i = 0; i < 2000; ++i) {
        factory->AddRef();
        factory->Release();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(module.lockCount.load(), 1);
  // Stopping drops the module's reference, which leaves the count at 1 and so unlocks; the
  // client's reference still works, and its release destroys the factory (a leak would
  // show under the address sanitizer).
  ModuleStop(&module);
  EXPECT_EQ(classes[0].cachedFactory, nullptr);
  EXPECT_EQ(module.lockCount.load(), 0);
  void* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICounter, &object), S_OK);
  static_cast<ICounter*>(object)->Release();
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(module.lockCount.load(), 0);
}

TEST_F(ModuleTest, ClassObjectLookupRefusesUnknownClassesAndInterfaces) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(ModuleGetClassObject(&module, GUID_NULL, IID_IClassFactory, &p),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ModuleGetClassObject(&module, CLSID_Other, IID_IClassFactory, &p),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(ModuleGetClassObject(&module, CLSID_Thing, IID_ICounter, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ModuleGetClassObject(&module, CLSID_Thing, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ModuleTest, TheTerminationListRunsLastAddedFirstAtStop) {
  order.clear();
  static int one = 1, two = 2;
  auto record = [](void* arg) { order.push_back(*static_cast<int*>(arg)); };
  ASSERT_EQ(ModuleAddTermFunc(&module, record, &one), S_OK);
  ASSERT_EQ(ModuleAddTermFunc(&module, record, &two), S_OK);
  EXPECT_TRUE(order.empty());
  ModuleStop(&module);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  ModuleStop(&module);
  EXPECT_EQ(order.size(), 2u) << "each runs once";
}

TEST_F(ModuleTest, ComPtrAssignAddsBeforeItReleases) {
  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(ModuleGetClassObject(&module, CLSID_Thing, IID_IClassFactory, factory.PutVoid()), S_OK);
  IUnknown* p = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
  IUnknown* slot = nullptr;
  EXPECT_EQ(ComPtrAssign(&slot, p), p);
  p->Release();                                // the slot holds the only reference now
  EXPECT_EQ(ComPtrAssign(&slot, slot), slot);  // self-assignment keeps it alive
  EXPECT_EQ(module.lockCount.load(), 2);
  EXPECT_EQ(ComPtrAssign(&slot, nullptr), nullptr);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(module.lockCount.load(), 1);
}

TEST_F(ModuleTest, RegistrationWritesCategoriesAndIsAllOrNothing) {
  const std::string key = "HKCR\\CLSID\\{0C0C0C0C-0000-4000-8000-0000000000C1}";
  ASSERT_EQ(ModuleRegisterServer(&module, FALSE, &CLSID_Thing), S_OK);
  EXPECT_TRUE(com::registry::KeyExists(
      key + "\\Implemented Categories\\{0C0C0C0C-0000-4000-8000-0000000000CA}"));
  ASSERT_EQ(ModuleUnregisterServer(&module, FALSE, &CLSID_Thing), S_OK);
  EXPECT_FALSE(com::registry::KeyExists(key));
  EXPECT_TRUE(com::registry::KeyExists("HKCR\\CLSID"));

  // All classes: the second one's routine fails after the first one's wrote its keys.
  const auto before = testing_registry::Dump("HKCR");
  EXPECT_EQ(ModuleRegisterServer(&module, FALSE, nullptr), E_ACCESSDENIED);
  EXPECT_EQ(testing_registry::Dump("HKCR"), before);
}

TEST_F(ModuleTest, AModuleWithoutTheScriptResourceSaysSo) {
  EXPECT_EQ(ModuleUpdateRegistryFromResource(&module, 101, TRUE), HRESULT_FROM_WIN32(1814));
}

}  // namespace
