// The process's one connection to the registry file, with the error text of the last
// failure on each thread. Every function here is called with Lock() held.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "com/base.h"

namespace com::regstore {

std::unique_lock<std::recursive_mutex> Lock();

// Sets this thread's error text and returns code.
LONG Fail(LONG code, std::string text);
std::string& ErrorText();

// The file the environment names now, made absolute; an empty result with the reason in
// *error when there is none.
std::string WantedPath(std::string* error);

// Connects to the file the environment names, reopening when it changed since the last
// call (except inside a transaction, which keeps its file to the end).
LONG Connect();
// The file connected to; meaningful after Connect() succeeded.
const std::string& Path();

// "registry <file>: <what>".
std::string Describe(std::string_view what);
// Maps an SQLite failure to an ERROR_* code with a text naming the file.
LONG SqlFail(int rc, bool writing, std::string_view what);

// A cached prepared statement, reset and unbound when the holder goes.
class Statement {
 public:
  explicit Statement(const char* sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  bool ok() const { return stmt_ != nullptr; }
  int prepareResult() const { return prepareRc_; }
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, const void* data, size_t size);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  int64_t Int(int column);
  std::string_view Text(int column);
  const void* Blob(int column);
  size_t Bytes(int column);

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int prepareRc_ = SQLITE_OK;
};

// One writing call as one unit: its own IMMEDIATE transaction, or a savepoint inside the
// caller's transaction, so that a failing call leaves nothing half done.
class WriteScope {
 public:
  WriteScope() = default;
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;
  ~WriteScope();
  LONG Begin();
  LONG Commit();

 private:
  bool active_ = false;
  bool savepoint_ = false;
};

// Several reads as one snapshot, taking the file's lock once rather than per statement.
// Does nothing inside a transaction.
class ReadScope {
 public:
  ReadScope();
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;
  ~ReadScope();

 private:
  bool active_ = false;
};

LONG BeginTransaction();
LONG CommitTransaction();
void RollbackTransaction();

int64_t LastInsertId();
int Changes();

}  // namespace com::regstore
