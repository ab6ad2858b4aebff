#include "com/registry_store.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <vector>

namespace com::regstore {
namespace {

constexpr const char* kMagic = "comrt registry";
constexpr int64_t kVersion = 1;
// Another process may hold the write lock for a moment; wait for it rather than fail.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kBusyAttempts = 3;

constexpr const char* kSchema = R"sql(
CREATE TABLE comrt_meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;
INSERT INTO comrt_meta VALUES('magic', 'comrt registry'), ('version', 1);
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  hive INTEGER NOT NULL,
  parent INTEGER,
  fold TEXT NOT NULL,
  name TEXT NOT NULL,
  UNIQUE(hive, fold));
CREATE INDEX keys_by_parent ON keys(parent, fold);
CREATE TABLE vals(
  key INTEGER NOT NULL,
  fold TEXT NOT NULL,
  name TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, fold)) WITHOUT ROWID;
INSERT INTO keys(id, hive, parent, fold, name) VALUES(1, 0, NULL, '', ''), (2, 1, NULL, '', '');
)sql";

struct State {
  std::recursive_mutex mutex;
  sqlite3* db = nullptr;
  std::string path;
  pid_t pid = 0;
  int depth = 0;
  bool doomed = false;
  std::unordered_map<const char*, sqlite3_stmt*> statements;
  // Connections inherited over fork(): the parent's, never to be used or closed here.
  std::vector<sqlite3*> inherited;
  // The file such a connection was open on. SQLite keeps per-process lock state for each
  // open file, and the copy inherited from the parent is wrong here, so this process must
  // not open that file again.
  std::string inheritedPath;
};

void PrepareFork();

State& S() {
  static State* state = [] {
    auto* created = new State;  // never destroyed: in use until the very end
    pthread_atfork(PrepareFork, nullptr, nullptr);
    return created;
  }();
  return *state;
}

void CloseDb() {
  State& s = S();
  for (auto& [sql, stmt] : s.statements) sqlite3_finalize(stmt);
  s.statements.clear();
  if (s.db) sqlite3_close_v2(s.db);
  s.db = nullptr;
  s.depth = 0;
  s.doomed = false;
}

void ForgetInherited() {
  State& s = S();
  s.inherited.push_back(s.db);
  s.inheritedPath = s.path;
  s.db = nullptr;
  s.statements.clear();
  s.depth = 0;
  s.doomed = false;
}

// A child of fork() can only open the registry afresh if no connection was open when it was
// made; so close an idle one first (never one inside a transaction or another call).
void PrepareFork() {
  State& s = S();
  if (!s.mutex.try_lock()) return;
  if (s.db && s.depth == 0 && s.pid == getpid()) CloseDb();
  s.mutex.unlock();
}

struct CloseAtExit {
  ~CloseAtExit() {
    auto lock = Lock();
    if (S().db && S().pid == getpid()) CloseDb();
  }
} closeAtExit;

std::string ErrnoText() { return std::strerror(errno); }

int Exec(const char* sql) { return sqlite3_exec(S().db, sql, nullptr, nullptr, nullptr); }

bool IsBusy(int rc) {
  int primary = rc & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

int BeginImmediate() {
  int rc = SQLITE_OK;
  for (int i = 0; i < kBusyAttempts; ++i) {
    rc = Exec("BEGIN IMMEDIATE");
    if (!IsBusy(rc)) break;
  }
  return rc;
}

// Commits, or rolls back and returns the commit's failure as an ERROR_* code.
LONG CommitOrRollback(std::string_view what) {
  int rc = SQLITE_OK;
  for (int i = 0; i < kBusyAttempts; ++i) {
    rc = Exec("COMMIT");
    if (!IsBusy(rc)) break;
  }
  if (rc == SQLITE_OK) return ERROR_SUCCESS;
  LONG error = SqlFail(rc, true, what);
  if (!sqlite3_get_autocommit(S().db)) Exec("ROLLBACK");
  return error;
}

std::string Home() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
  return {};
}

LONG MakeParents(const std::string& file) {
  for (size_t pos = file.find('/', 1); pos != std::string::npos; pos = file.find('/', pos + 1)) {
    std::string dir = file.substr(0, pos);
    if (dir.back() == '/') continue;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode))
        return Fail(ERROR_CANTOPEN, Describe("cannot use the folder " + dir + ": not a folder"));
      continue;
    }
    if (errno != ENOENT)
      return Fail(ERROR_CANTOPEN, Describe("cannot use the folder " + dir + ": " + ErrnoText()));
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
      return Fail(ERROR_CANTOPEN, Describe("cannot create the folder " + dir + ": " + ErrnoText()));
  }
  return ERROR_SUCCESS;
}

// Makes sure the file is there (new ones private to the user) and is a plain file.
LONG PrepareFile(const std::string& path) {
  if (LONG r = MakeParents(path); r != ERROR_SUCCESS) return r;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Fail(ERROR_CANTOPEN, Describe("cannot open: it is a folder"));
    if (!S_ISREG(st.st_mode))
      return Fail(ERROR_CANTOPEN, Describe("cannot open: not a regular file"));
    return ERROR_SUCCESS;
  }
  if (errno != ENOENT) return Fail(ERROR_CANTOPEN, Describe("cannot open: " + ErrnoText()));
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return ERROR_SUCCESS;  // another process made it just now
    return Fail(ERROR_CANTOPEN, Describe("cannot create the file: " + ErrnoText()));
  }
  fchmod(fd, 0600);  // whatever the umask says
  close(fd);
  return ERROR_SUCCESS;
}

enum class Content { kRegistry, kEmpty, kFailed };

// Tells an empty database from ours and from anything else, reading only.
Content Inspect(LONG* error) {
  int64_t objects = 0;
  {
    Statement count("SELECT count(*) FROM sqlite_master");
    int rc = count.Step();
    if (rc != SQLITE_ROW) {
      *error = SqlFail(rc, false, "cannot read");
      return Content::kFailed;
    }
    objects = count.Int(0);
  }
  if (objects == 0) return Content::kEmpty;
  std::string magic;
  int64_t version = 0;
  {
    Statement meta("SELECT name, value FROM comrt_meta WHERE name IN ('magic', 'version')");
    if (!meta.ok() && (meta.prepareResult() & 0xff) == SQLITE_ERROR) {
      *error = Fail(ERROR_BADDB, Describe("file is not a registry (an SQLite database without the "
                                          "registry's tables)"));
      return Content::kFailed;
    }
    int rc;
    while ((rc = meta.Step()) == SQLITE_ROW) {
      if (meta.Text(0) == "magic")
        magic = meta.Text(1);
      else
        version = meta.Int(1);
    }
    if (rc != SQLITE_DONE) {
      *error = SqlFail(rc, false, "cannot read");
      return Content::kFailed;
    }
  }
  if (magic != kMagic) {
    *error = Fail(ERROR_BADDB, Describe("file is not a registry (no registry marker)"));
    return Content::kFailed;
  }
  if (version < 1 || version > kVersion) {
    *error = Fail(ERROR_BADDB, Describe("registry format version " + std::to_string(version) +
                                        " is not supported (this build reads version " +
                                        std::to_string(kVersion) + ")"));
    return Content::kFailed;
  }
  return Content::kRegistry;
}

LONG CreateSchema() {
  Exec("PRAGMA journal_mode=WAL");
  int rc = BeginImmediate();
  if (rc != SQLITE_OK) return SqlFail(rc, true, "cannot create the registry");
  LONG error = ERROR_SUCCESS;
  // Another process may have created it while this one waited for the lock.
  Content content = Inspect(&error);
  if (content == Content::kEmpty) {
    rc = Exec(kSchema);
    if (rc != SQLITE_OK) {
      error = SqlFail(rc, true, "cannot create the registry");
      Exec("ROLLBACK");
      return error;
    }
  } else if (content == Content::kFailed) {
    Exec("ROLLBACK");
    return error;
  }
  return CommitOrRollback("cannot create the registry");
}

LONG Open() {
  State& s = S();
  if (LONG r = PrepareFile(s.path); r != ERROR_SUCCESS) return r;
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(s.path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return Fail(ERROR_CANTOPEN, Describe("cannot open: " + message));
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  s.db = db;
  s.pid = getpid();
  LONG error = ERROR_SUCCESS;
  switch (Inspect(&error)) {
    case Content::kFailed:
      CloseDb();
      return error;
    case Content::kEmpty:
      if ((error = CreateSchema()) != ERROR_SUCCESS) {
        CloseDb();
        return error;
      }
      break;
    case Content::kRegistry:
      // Only our own file is switched to WAL; a read-only one stays as it is.
      Exec("PRAGMA journal_mode=WAL");
      break;
  }
  Exec("PRAGMA synchronous=NORMAL");
  return ERROR_SUCCESS;
}

}  // namespace

std::unique_lock<std::recursive_mutex> Lock() {
  return std::unique_lock<std::recursive_mutex>(S().mutex);
}

std::string& ErrorText() {
  thread_local std::string text;
  return text;
}

LONG Fail(LONG code, std::string text) {
  ErrorText() = std::move(text);
  return code;
}

std::string WantedPath(std::string* error) {
  std::string path;
  if (const char* env = std::getenv("COMRT_REGISTRY"); env && *env) {
    path = env;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    path = std::string(xdg) + "/comrt/registry.db";
  } else {
    std::string home = Home();
    if (home.empty()) {
      *error =
          "registry: no home folder to keep the registry in (HOME is not set); set "
          "COMRT_REGISTRY";
      return {};
    }
    path = home + "/.local/share/comrt/registry.db";
  }
  if (path[0] != '/') {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    if (!ec) path = absolute.string();
  }
  return path;
}

LONG Connect() {
  State& s = S();
  if (s.db && s.pid != getpid()) ForgetInherited();
  if (s.db && s.depth > 0) return ERROR_SUCCESS;
  std::string error;
  std::string wanted = WantedPath(&error);
  if (wanted.empty()) {
    CloseDb();
    return Fail(ERROR_CANTOPEN, error);
  }
  if (s.db && wanted == s.path) return ERROR_SUCCESS;
  CloseDb();
  s.path = std::move(wanted);
  if (!s.inheritedPath.empty() && s.path == s.inheritedPath)
    return Fail(ERROR_CANTOPEN, Describe("cannot open: this process was forked while its parent "
                                         "was inside a registry call or transaction"));
  return Open();
}

const std::string& Path() { return S().path; }

std::string Describe(std::string_view what) {
  return "registry " + S().path + ": " + std::string(what);
}

LONG SqlFail(int rc, bool writing, std::string_view what) {
  std::string message = S().db ? sqlite3_errmsg(S().db) : sqlite3_errstr(rc);
  switch (rc & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return Fail(ERROR_BADDB, Describe("file is not a registry (" + message + ")"));
    case SQLITE_CANTOPEN:
      return Fail(ERROR_CANTOPEN, Describe("cannot open: " + message));
    case SQLITE_NOMEM:
      return Fail(ERROR_OUTOFMEMORY, Describe(std::string(what) + ": " + message));
    default:
      return Fail(writing ? ERROR_CANTWRITE : ERROR_CANTREAD,
                  Describe(std::string(what) + ": " + message));
  }
}

Statement::Statement(const char* sql) {
  State& s = S();
  if (auto it = s.statements.find(sql); it != s.statements.end()) {
    stmt_ = it->second;
    return;
  }
  prepareRc_ = sqlite3_prepare_v3(s.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (prepareRc_ != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return;
  }
  s.statements.emplace(sql, stmt_);
}

Statement::~Statement() {
  if (stmt_) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
}

Statement& Statement::Bind(int index, int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (stmt_)
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  static const char kNothing = 0;
  if (stmt_) sqlite3_bind_blob64(stmt_, index, size ? data : &kNothing, size, SQLITE_TRANSIENT);
  return *this;
}

int Statement::Step() { return stmt_ ? sqlite3_step(stmt_) : prepareRc_; }

int64_t Statement::Int(int column) { return sqlite3_column_int64(stmt_, column); }

std::string_view Statement::Text(int column) {
  auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text ? std::string_view(text, sqlite3_column_bytes(stmt_, column)) : std::string_view();
}

const void* Statement::Blob(int column) { return sqlite3_column_blob(stmt_, column); }

size_t Statement::Bytes(int column) {
  return static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
}

WriteScope::~WriteScope() {
  if (!active_) return;
  if (savepoint_) {
    Exec("ROLLBACK TO comrt_call");
    Exec("RELEASE comrt_call");
  } else {
    Exec("ROLLBACK");
  }
}

LONG WriteScope::Begin() {
  State& s = S();
  if (s.depth > 0) {
    if (s.doomed)
      return Fail(ERROR_CANTWRITE, Describe("cannot write: the transaction was rolled back"));
    int rc = Exec("SAVEPOINT comrt_call");
    if (rc != SQLITE_OK) return SqlFail(rc, true, "cannot write");
    savepoint_ = true;
  } else {
    int rc = BeginImmediate();
    if (rc != SQLITE_OK) return SqlFail(rc, true, "cannot write");
    savepoint_ = false;
  }
  active_ = true;
  return ERROR_SUCCESS;
}

LONG WriteScope::Commit() {
  active_ = false;
  if (!savepoint_) return CommitOrRollback("cannot write");
  int rc = Exec("RELEASE comrt_call");
  if (rc != SQLITE_OK) return SqlFail(rc, true, "cannot write");
  return ERROR_SUCCESS;
}

ReadScope::ReadScope() {
  State& s = S();
  if (!s.db || s.depth > 0 || !sqlite3_get_autocommit(s.db)) return;
  Statement begin("BEGIN");
  active_ = begin.Step() == SQLITE_DONE;
}

ReadScope::~ReadScope() {
  if (!active_) return;
  Statement commit("COMMIT");
  if (commit.Step() != SQLITE_DONE) Exec("ROLLBACK");
}

LONG BeginTransaction() {
  State& s = S();
  if (LONG r = Connect(); r != ERROR_SUCCESS) return r;
  if (s.depth == 0) {
    int rc = BeginImmediate();
    if (rc != SQLITE_OK) return SqlFail(rc, true, "cannot start a transaction");
    s.doomed = false;
  }
  ++s.depth;
  return ERROR_SUCCESS;
}

LONG CommitTransaction() {
  State& s = S();
  if (s.db && s.pid != getpid()) ForgetInherited();
  if (s.depth == 0) return Fail(ERROR_INVALID_PARAMETER, "registry: commit without a transaction");
  --s.depth;
  if (s.doomed) {
    if (s.depth == 0) s.doomed = false;
    return Fail(ERROR_CANTWRITE, Describe("cannot commit: the transaction was rolled back"));
  }
  if (s.depth > 0) return ERROR_SUCCESS;
  return CommitOrRollback("cannot commit");
}

void RollbackTransaction() {
  State& s = S();
  if (s.db && s.pid != getpid()) ForgetInherited();
  if (s.depth == 0) return;
  if (!s.doomed) {
    Exec("ROLLBACK");
    s.doomed = true;
  }
  if (--s.depth == 0) s.doomed = false;
}

int64_t LastInsertId() { return sqlite3_last_insert_rowid(S().db); }
int Changes() { return sqlite3_changes(S().db); }

}  // namespace com::regstore
