// The UTF-8 forms, and how the file is chosen from the environment.
#include <sys/stat.h>

#include "registry_fixture.h"

namespace {

using namespace com::registry;
using Helpers = RegistryTest;

TEST_F(Helpers, SplitRootAcceptsBothSpellingsOfBothHives) {
  struct Case {
    const char* path;
    HKEY root;
    const char* subKey;
  };
  const Case good[] = {
      {"HKEY_CLASSES_ROOT\\CLSID\\{x}", HKEY_CLASSES_ROOT, "CLSID\\{x}"},
      {"hkcr\\A", HKEY_CLASSES_ROOT, "A"},
      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, ""},
      {"HKCU\\Software\\X", HKEY_CURRENT_USER, "Software\\X"},
  };
  for (const Case& c : good) {
    HKEY root = nullptr;
    std::string subKey;
    ASSERT_TRUE(SplitRoot(c.path, &root, &subKey)) << c.path;
    EXPECT_EQ(root, c.root) << c.path;
    EXPECT_EQ(subKey, c.subKey) << c.path;
  }
  for (const char* bad : {"HKLM\\Software", "HKCUX\\A", "", "Software\\X", "\\HKCU"}) {
    HKEY root = nullptr;
    std::string subKey;
    EXPECT_FALSE(SplitRoot(bad, &root, &subKey)) << bad;
  }
  EXPECT_EQ(SetText("HKLM\\Software", "", "x"), ERROR_INVALID_PARAMETER);
  EXPECT_NE(LastErrorText().find("HKLM\\Software"), std::string::npos);
}

TEST_F(Helpers, TextAndNumbersRoundTripInUtf8) {
  ASSERT_EQ(SetText("HKCU\\Software\\Ünï", "Grüße", "Ωmega € 😀"), ERROR_SUCCESS);
  ASSERT_EQ(SetNumber("HKCU\\Software\\ÜNÏ", "Count", 4000000000u), ERROR_SUCCESS);
  ASSERT_EQ(SetText("HKCU\\Software\\ünï", "", "default"), ERROR_SUCCESS);
  std::string text;
  DWORD number = 0;
  ASSERT_EQ(GetText("HKCU\\software\\ünï", "GRÜSSE", &text), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(GetText("HKCU\\software\\ünï", "GRÜßE", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "Ωmega € 😀");
  ASSERT_EQ(GetNumber("HKCU\\Software\\Ünï", "count", &number), ERROR_SUCCESS);
  EXPECT_EQ(number, 4000000000u);
  EXPECT_EQ(GetNumber("HKCU\\Software\\Ünï", "Grüße", &number), ERROR_INVALID_DATA);
  EXPECT_EQ(GetText("HKCU\\Software\\Ünï", "Count", &text), ERROR_INVALID_DATA);
  EXPECT_NE(LastErrorText().find("is not text"), std::string::npos);

  std::vector<Value> values;
  ASSERT_EQ(ListValues("HKCU\\Software\\Ünï", &values), ERROR_SUCCESS);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, "");
  EXPECT_EQ(values[0].text, "default");
  EXPECT_EQ(values[1].name, "Count");
  EXPECT_EQ(values[1].type, REG_DWORD);
  EXPECT_EQ(values[1].number, 4000000000u);
  EXPECT_EQ(values[2].name, "Grüße");
  EXPECT_EQ(values[2].type, REG_SZ);

  std::vector<std::string> names;
  ASSERT_EQ(ListSubkeys("HKCU\\Software", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, std::vector<std::string>{"Ünï"});
  EXPECT_EQ(GetText("HKCU\\Software\\Nowhere", "Grüße", &text), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(LastErrorText().find("key HKEY_CURRENT_USER\\Software\\Nowhere does not exist"),
            std::string::npos)
      << LastErrorText();
  EXPECT_EQ(ListSubkeys("HKCU\\Nowhere", &names), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(LastErrorText().find("HKEY_CURRENT_USER\\Nowhere"), std::string::npos);
  EXPECT_NE(LastErrorText().find(file_), std::string::npos);

  EXPECT_EQ(DeleteValue("HKCU\\Software\\Ünï", "grüße"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteValue("HKCU\\Software\\Ünï", "grüße"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(CreateKey("HKCR\\A\\B\\C"), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists("HKEY_CLASSES_ROOT\\a\\b"));
  EXPECT_EQ(DeleteTree("HKCR\\A"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists("HKCR\\A\\B\\C"));
  EXPECT_EQ(DeleteTree("HKCR\\A"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Helpers, FollowsTheFileNamedInTheEnvironment) {
  const std::string other = dir_ + "/other.db";
  ASSERT_EQ(SetText("HKCU\\Where", "", "first"), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Where", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(FilePath(), file_);

  setenv("COMRT_REGISTRY", other.c_str(), 1);
  EXPECT_EQ(FilePath(), other);
  EXPECT_FALSE(KeyExists("HKCU\\Where"));
  // A handle belongs to the file it was opened in.
  EXPECT_EQ(SetSz(key, u"V", u"v"), ERROR_INVALID_HANDLE);
  ASSERT_EQ(SetText("HKCU\\Where", "", "second"), ERROR_SUCCESS);

  setenv("COMRT_REGISTRY", file_.c_str(), 1);
  std::string text;
  ASSERT_EQ(GetText("HKCU\\Where", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "first");
  EXPECT_EQ(QuerySz(key, nullptr), u"first");
  RegCloseKey(key);
}

TEST_F(Helpers, DefaultFileLiesUnderXdgDataHomeOrHome) {
  const char* savedXdg = getenv("XDG_DATA_HOME");
  const char* savedHome = getenv("HOME");
  std::string xdg = savedXdg ? savedXdg : "", home = savedHome ? savedHome : "";
  unsetenv("COMRT_REGISTRY");

  setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
  EXPECT_EQ(FilePath(), dir_ + "/data/comrt/registry.db");
  EXPECT_EQ(SetText("HKCU\\X", "", "xdg"), ERROR_SUCCESS);
  struct stat st;
  ASSERT_EQ(stat((dir_ + "/data/comrt/registry.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  unsetenv("XDG_DATA_HOME");
  setenv("HOME", (dir_ + "/home").c_str(), 1);
  EXPECT_EQ(FilePath(), dir_ + "/home/.local/share/comrt/registry.db");
  EXPECT_FALSE(KeyExists("HKCU\\X"));
  EXPECT_EQ(stat((dir_ + "/home/.local/share/comrt/registry.db").c_str(), &st), 0);

  if (savedXdg) setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  if (savedHome)
    setenv("HOME", home.c_str(), 1);
  else
    unsetenv("HOME");
  setenv("COMRT_REGISTRY", file_.c_str(), 1);
}

}  // namespace
