// Files that are not a registry, or cannot be used, give a clear error and stay as they were.
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "registry_fixture.h"

namespace {

using namespace com::registry;
using File = RegistryTest;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void MakeDatabase(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// Every call refuses the file with `code`, names it, and leaves it and its folder alone.
void ExpectRefused(const std::string& file, LONG code, const std::string& reason) {
  const std::string before = ReadAll(file);
  std::string text;
  EXPECT_EQ(SetText("HKCU\\Software\\X", "", "x"), code);
  EXPECT_NE(LastErrorText().find(file), std::string::npos) << LastErrorText();
  EXPECT_NE(LastErrorText().find(reason), std::string::npos) << LastErrorText();
  EXPECT_EQ(GetText("HKCU\\Software\\X", "", &text), code);
  EXPECT_EQ(CreateKey("HKCR\\CLSID"), code);
  EXPECT_EQ(BeginTransaction(), code);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID", 0, KEY_READ, &key), code);
  EXPECT_EQ(ReadAll(file), before);
  for (const char* suffix : {"-wal", "-shm", "-journal"})
    EXPECT_FALSE(std::filesystem::exists(file + suffix)) << suffix;
}

TEST_F(File, GarbageIsNotARegistryAndStaysIntact) {
  std::string noise(8192, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::string fakeHeader = std::string("SQLite format 3\0", 16) + noise.substr(0, 4080);
  for (const std::string& bytes : {noise, std::string("hello\n"), fakeHeader}) {
    WriteAll(file_, bytes);
    SCOPED_TRACE(bytes.size());
    ExpectRefused(file_, ERROR_BADDB, "is not a registry");
  }
}

TEST_F(File, AnotherDatabaseIsNotARegistry) {
  MakeDatabase(file_, "CREATE TABLE people(name TEXT); INSERT INTO people VALUES('ann');");
  ExpectRefused(file_, ERROR_BADDB, "without the registry's tables");
}

TEST_F(File, WrongMarkerOrNewerVersionIsRefused) {
  MakeDatabase(file_,
               "CREATE TABLE comrt_meta(name TEXT PRIMARY KEY, value);"
               "INSERT INTO comrt_meta VALUES('magic', 'something else'), ('version', 1);");
  ExpectRefused(file_, ERROR_BADDB, "no registry marker");
  std::filesystem::remove(file_);
  MakeDatabase(file_,
               "CREATE TABLE comrt_meta(name TEXT PRIMARY KEY, value);"
               "INSERT INTO comrt_meta VALUES('magic', 'comrt registry'), ('version', 2);");
  ExpectRefused(file_, ERROR_BADDB, "version 2");
}

TEST_F(File, DamagedRegistryGivesAnErrorNotACrash) {
  for (int i = 0; i < 200; ++i)
    ASSERT_EQ(SetText("HKCU\\Many\\K" + std::to_string(i), "V", std::string(100, 'x')), 0);
  // Switching files closes this one, so that all of it is in the main file.
  setenv("COMRT_REGISTRY", (dir_ + "/elsewhere.db").c_str(), 1);
  ASSERT_FALSE(KeyExists("HKCU\\Many"));
  std::string bytes = ReadAll(file_);
  ASSERT_GT(bytes.size(), 4096u);
  for (size_t i = 100; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5 ^ i);
  WriteAll(file_, bytes);
  setenv("COMRT_REGISTRY", file_.c_str(), 1);
  ExpectRefused(file_, ERROR_BADDB, "is not a registry");
}

TEST_F(File, EmptyFileAndMissingFoldersGetANewRegistry) {
  WriteAll(file_, "");
  ASSERT_EQ(SetText("HKCU\\A", "", "a"), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(GetText("HKCU\\A", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "a");

  const std::string deep = dir_ + "/new/deeper/registry.db";
  setenv("COMRT_REGISTRY", deep.c_str(), 1);
  ASSERT_EQ(SetText("HKCU\\B", "", "b"), ERROR_SUCCESS);
  struct stat st;
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(KeyExists("HKCU\\A"));
}

TEST_F(File, UnusableLocationsAreNamed) {
  const std::string plain = dir_ + "/plain";
  WriteAll(plain, "not a folder");
  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {dir_, "it is a folder"},
      {plain + "/registry.db", plain + ": not a folder"},
      {plain + "/sub/registry.db", plain + ": not a folder"},
      {"/proc/self/no-such-folder/registry.db", "cannot create the folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    setenv("COMRT_REGISTRY", c.path.c_str(), 1);
    EXPECT_EQ(SetText("HKCU\\X", "", "x"), ERROR_CANTOPEN);
    EXPECT_NE(LastErrorText().find("registry " + c.path), std::string::npos) << LastErrorText();
    EXPECT_NE(LastErrorText().find(c.reason), std::string::npos) << LastErrorText();
    EXPECT_FALSE(KeyExists("HKCU\\X"));
  }
  EXPECT_EQ(ReadAll(plain), "not a folder");

  // Once the variable names a usable file again, all is well.
  setenv("COMRT_REGISTRY", file_.c_str(), 1);
  EXPECT_EQ(SetText("HKCU\\X", "", "x"), ERROR_SUCCESS);
}

}  // namespace
