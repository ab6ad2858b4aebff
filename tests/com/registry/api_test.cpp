// The Win32-style calls: names, values, buffer sizes, order, stale handles, transactions.
#include <vector>

#include "registry_fixture.h"

namespace {

using Api = RegistryTest;

HKEY Create(HKEY base, const char16_t* path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(base, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition),
            ERROR_SUCCESS);
  return key;
}

LONG Open(HKEY base, const char16_t* path, HKEY* key) {
  return RegOpenKeyExW(base, path, 0, KEY_READ, key);
}

std::vector<std::u16string> SubkeyNames(HKEY key) {
  std::vector<std::u16string> names;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD length = 256;
    LONG r = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(r, ERROR_SUCCESS);
    if (r != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

std::vector<std::u16string> ValueNames(HKEY key) {
  std::vector<std::u16string> names;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD length = 256;
    LONG r = RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(r, ERROR_SUCCESS);
    if (r != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

TEST_F(Api, KeyNamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  DWORD disposition = 0;
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\MixedCase", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again = Create(HKEY_CURRENT_USER, u"SOFTWARE\\mixedCASE\\", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  HKEY child = Create(HKEY_CURRENT_USER, u"software\\MIXEDCASE\\Child");
  EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER), std::vector<std::u16string>{u"Software"});
  HKEY software = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"sOfTwArE", &software), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(software), std::vector<std::u16string>{u"MixedCase"});
  EXPECT_EQ(SubkeyNames(key), std::vector<std::u16string>{u"Child"});
  // The two hives are separate.
  HKEY other = nullptr;
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"Software", &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(other, nullptr);
  for (HKEY h : {key, again, child, software}) EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
}

TEST_F(Api, CaseFoldingBeyondAscii) {
  struct Case {
    const char16_t* created;
    const char16_t* opened;
    bool same;
  };
  const Case cases[] = {
      {u"ÄRGER", u"ärger", true},     {u"ŸES", u"ÿes", true},       {u"ŁÓDŹ", u"łódź", true},
      {u"ΣΟΦΊΑ", u"σοφία", true},     {u"ПРИВЕТ", u"привет", true}, {u"ЁЖ", u"ёж", true},
      {u"Straße", u"STRASSE", false}, {u"cafe", u"café", false},    {u"Ab", u"A\\b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.created)));
    HKEY key = Create(HKEY_CLASSES_ROOT, c.created);
    HKEY opened = nullptr;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, c.opened, &opened),
              c.same ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    RegCloseKey(opened);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, c.created), ERROR_SUCCESS);
  }
}

TEST_F(Api, DefaultAndNamedValuesAreSeparateAndNamesKeepTheirSpelling) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Values");
  EXPECT_EQ(QuerySz(key, nullptr), std::nullopt);  // a key has no default value until set
  EXPECT_EQ(SetSz(key, nullptr, u"default"), ERROR_SUCCESS);
  EXPECT_EQ(SetSz(key, u"Name", u"named"), ERROR_SUCCESS);
  EXPECT_EQ(QuerySz(key, u""), u"default");  // empty and null both name the default
  EXPECT_EQ(QuerySz(key, u"NAME"), u"named");
  EXPECT_EQ(SetSz(key, u"nAmE", u"replaced"), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, u"Count", 0xDEADBEEF), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"", u"Count", u"Name"}));
  EXPECT_EQ(QuerySz(key, u"name"), u"replaced");

  DWORD type = 0, number = 0, size = sizeof number;
  EXPECT_EQ(
      RegQueryValueExW(key, u"count", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(number, 0xDEADBEEFu);

  EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(QuerySz(key, nullptr), std::nullopt);
  EXPECT_EQ(QuerySz(key, u"Name"), u"replaced");
  EXPECT_EQ(RegDeleteValueW(key, u"Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(com::registry::LastErrorText().find("Missing"), std::string::npos);
  RegCloseKey(key);
}

TEST_F(Api, QueryReportsSizesAndRefusesSmallBuffers) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Sizes");
  ASSERT_EQ(SetSz(key, u"Text", u"hello"), ERROR_SUCCESS);
  const DWORD needed = 6 * sizeof(char16_t);

  DWORD size = 0, type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(type, REG_SZ);

  char16_t buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  size = needed - 1;
  EXPECT_EQ(
      RegQueryValueExW(key, u"Text", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(buffer[needed / 2], u'#');  // nothing written past the buffer's size

  size = needed;
  EXPECT_EQ(
      RegQueryValueExW(key, u"Text", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buffer), u"hello");
  EXPECT_EQ(buffer[needed / 2], u'#');

  // Data without its size is refused, not written somewhere.
  EXPECT_EQ(
      RegQueryValueExW(key, u"Text", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), nullptr),
      ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(Api, SetChecksDataAndTerminatesText) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Set");
  const char16_t unterminated[] = {u'a', u'b'};
  ASSERT_EQ(RegSetValueExW(key, u"T", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), 4),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"T", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(QuerySz(key, u"T"), u"ab");
  EXPECT_EQ(RegSetValueExW(key, u"E", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(QuerySz(key, u"E"), u"");

  const BYTE bytes[3] = {1, 2, 3};
  EXPECT_EQ(RegSetValueExW(key, u"D", 0, REG_DWORD, bytes, 3), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, u"O", 0, REG_SZ, bytes, 3), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, u"N", 0, REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"E", u"T"}));
  RegCloseKey(key);
}

TEST_F(Api, EnumerationIsSortedCaseInsensitively) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Order");
  for (const char16_t* name : {u"beta", u"Ärger", u"ALPHA2", u"gamma", u"Alpha", u"_x", u"Beta1"})
    RegCloseKey(Create(key, name));
  for (const char16_t* name : {u"b", u"C", u"a", u"", u"A1"}) ASSERT_EQ(SetDword(key, name, 1), 0);
  EXPECT_EQ(SubkeyNames(key), (std::vector<std::u16string>{u"_x", u"Alpha", u"ALPHA2", u"beta",
                                                           u"Beta1", u"gamma", u"Ärger"}));
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"", u"a", u"A1", u"b", u"C"}));

  // A short name buffer gets the size it needs, with the terminating zero.
  char16_t name[4];
  DWORD length = 4;
  EXPECT_EQ(RegEnumKeyExW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(length, 7u);
  length = 4;
  DWORD size = 0;
  EXPECT_EQ(RegEnumValueW(key, 2, name, &length, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, length), u"A1");
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(RegEnumValueW(key, 5, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(Api, DeleteTreeTakesEverythingBelowAndNothingBeside) {
  for (const char16_t* path : {u"App\\Sub\\Deep", u"App2", u"App Data", u"App]", u"Apq", u"Ap"})
    RegCloseKey(Create(HKEY_CURRENT_USER, path));
  HKEY deep = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"app\\sub\\deep", &deep), ERROR_SUCCESS);
  ASSERT_EQ(SetSz(deep, u"V", u"x"), ERROR_SUCCESS);
  RegCloseKey(deep);
  HKEY app = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"App", &app), ERROR_SUCCESS);
  ASSERT_EQ(SetSz(app, nullptr, u"app"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"App"), ERROR_ACCESS_DENIED);  // it has subkeys
  EXPECT_EQ(RegDeleteTreeW(app, u"SUB"), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(app), std::vector<std::u16string>{});
  EXPECT_EQ(QuerySz(app, nullptr), u"app");
  EXPECT_EQ(RegDeleteTreeW(app, u"Sub"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(app);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"app"), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER),
            (std::vector<std::u16string>{u"Ap", u"App Data", u"App2", u"App]", u"Apq"}));

  // A hive's root keeps itself and loses all it holds; the other hive is untouched.
  RegCloseKey(Create(HKEY_CLASSES_ROOT, u"Kept"));
  ASSERT_EQ(SetSz(HKEY_CURRENT_USER, u"RootValue", u"r"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER), std::vector<std::u16string>{});
  EXPECT_EQ(ValueNames(HKEY_CURRENT_USER), std::vector<std::u16string>{});
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT), std::vector<std::u16string>{u"Kept"});
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, nullptr), ERROR_ACCESS_DENIED);
}

TEST_F(Api, HandlesOfDeletedKeysStayDeleted) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Gone\\Child");
  ASSERT_EQ(SetSz(key, u"V", u"x"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"GONE"), ERROR_SUCCESS);
  EXPECT_EQ(QuerySz(key, u"V"), std::nullopt);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_NE(com::registry::LastErrorText().find("Gone\\Child"), std::string::npos);
  EXPECT_EQ(SetSz(key, u"V", u"y"), ERROR_KEY_DELETED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, 0, nullptr, &sub, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(sub, nullptr);

  // A new key under the same name is a different key.
  HKEY fresh = Create(HKEY_CURRENT_USER, u"Gone\\Child");
  EXPECT_EQ(SetSz(key, u"V", u"y"), ERROR_KEY_DELETED);
  char16_t name[8];
  DWORD length = 8;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // already closed
  int notAHandle = 0;
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(&notAHandle)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetSz(reinterpret_cast<HKEY>(&notAHandle), u"V", u"y"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);  // the roots need no closing
  EXPECT_EQ(RegCloseKey(fresh), ERROR_SUCCESS);
}

TEST_F(Api, BadKeyNamesAreRefused) {
  HKEY key = nullptr;
  for (const char16_t* path : {u"\\Leading", u"a\\\\b", u"\\"}) {
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, nullptr);
  }
  std::u16string longName(256, u'x');
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                            nullptr),
            ERROR_INVALID_PARAMETER);
  longName.pop_back();
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER), std::vector<std::u16string>{longName});
}

TEST_F(Api, TransactionsLandTogetherOrNotAtAll) {
  using namespace com::registry;
  ASSERT_EQ(BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(SetText("HKCR\\One", "", "1"), ERROR_SUCCESS);
  ASSERT_EQ(SetNumber("HKCU\\Two", "N", 2), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists("HKCR\\One"));  // visible inside the transaction
  RollbackTransaction();
  EXPECT_FALSE(KeyExists("HKCR\\One"));
  EXPECT_FALSE(KeyExists("HKCU\\Two"));

  ASSERT_EQ(BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(SetText("HKCR\\One", "", "1"), ERROR_SUCCESS);
  // A failing call inside leaves nothing of itself and spoils nothing else.
  EXPECT_EQ(DeleteTree("HKCR\\Missing"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(BeginTransaction(), ERROR_SUCCESS);  // nested: joins the outer one
  ASSERT_EQ(SetText("HKCR\\Three", "", "3"), ERROR_SUCCESS);
  ASSERT_EQ(CommitTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(CommitTransaction(), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(GetText("HKCR\\one", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "1");
  EXPECT_TRUE(KeyExists("HKCR\\Three"));

  // An inner rollback undoes the whole transaction; the outer commit then says so.
  ASSERT_EQ(BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(SetText("HKCR\\Four", "", "4"), ERROR_SUCCESS);
  ASSERT_EQ(BeginTransaction(), ERROR_SUCCESS);
  RollbackTransaction();
  EXPECT_EQ(SetText("HKCR\\Five", "", "5"), ERROR_CANTWRITE);
  EXPECT_EQ(CommitTransaction(), ERROR_CANTWRITE);
  EXPECT_FALSE(KeyExists("HKCR\\Four"));
  EXPECT_FALSE(KeyExists("HKCR\\Five"));

  EXPECT_EQ(CommitTransaction(), ERROR_INVALID_PARAMETER);  // none open
  EXPECT_EQ(SetText("HKCR\\Six", "", "6"), ERROR_SUCCESS);  // back to one call at a time
  EXPECT_TRUE(KeyExists("HKCR\\Six"));
}

}  // namespace
