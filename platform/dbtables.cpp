#include "platform/dbtables.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ascii.h"
#include "platform/changestamp.h"
#include "platform/registry.h"

// Journal mode: an opened table is switched to the write-ahead log, in which
// a writer never blocks a reader (the -wal and -shm files beside the table
// belong to it). Each statement is its own transaction and is reset as soon
// as its row is copied, so no lock outlives a call. What a lock still holds
// up is bounded: a read waits at most kReadWaitMs, then fails with the
// engine's message; a write, which only the tools make, waits longer.
//
// The busy timeout does not bound every wait. A reader that finds the log's
// reader marks locked (another program in the middle of a recovery, or one
// holding them) retries inside SQLite, sleeping longer each time, for about
// 10 s before it fails with SQLITE_PROTOCOL; no busy handler, interrupt or
// progress handler is called meanwhile, only the VFS's xSleep. So tables
// are opened through a VFS of our own, the default one with xSleep wrapped:
// under a DbDeadline it never sleeps past the deadline, and once that has
// passed it returns at once, so SQLite's retries run out in microseconds
// and the statement fails.

namespace platform {

DbError::DbError(const std::string& message) : std::runtime_error(message) {}
DbError::~DbError() = default;

namespace {

constexpr int kReadWaitMs = 100;
constexpr int kWriteWaitMs = 10000;
constexpr std::size_t kKeyHitsMax = 256;

// Counts the writes this process makes to any table, which its own key
// searches must see at once (another process's are told by change stamps).
std::atomic<std::uint64_t> local_writes{0};

// The deadline of this thread's table operations (DbDeadline).
struct Deadline {
  std::chrono::steady_clock::time_point at = std::chrono::steady_clock::time_point::max();
  long long ms = 0;     // as set, for the message
  bool passed = false;  // a sleep found it passed
};
thread_local Deadline deadline;

int SleepWithinDeadline(sqlite3_vfs* vfs, int microseconds) {
  auto* base = static_cast<sqlite3_vfs*>(vfs->pAppData);
  if (deadline.at != std::chrono::steady_clock::time_point::max()) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline.at - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      deadline.passed = true;
      return 0;
    }
    if (left.count() < microseconds) microseconds = static_cast<int>(left.count());
  }
  return base->xSleep(base, microseconds);
}

// The default VFS with SleepWithinDeadline; every other method is the
// default's own, called with the default VFS.
sqlite3_vfs* BaseVfs(sqlite3_vfs* v) { return static_cast<sqlite3_vfs*>(v->pAppData); }

const char* DeadlineVfs() {
  static sqlite3_vfs vfs;
  static const char* name = []() -> const char* {
    sqlite3_initialize();
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    if (!base || !base->xSleep) return nullptr;
    // Version 2 at most: the system-call overrides of version 3 are test
    // hooks of the default VFS and stay its own.
    vfs.iVersion = std::min(base->iVersion, 2);
    vfs.szOsFile = base->szOsFile;
    vfs.mxPathname = base->mxPathname;
    vfs.zName = "halvorine-deadline";
    vfs.pAppData = base;
    vfs.xOpen = [](sqlite3_vfs* v, const char* n, sqlite3_file* f, int fl, int* out) {
      return BaseVfs(v)->xOpen(BaseVfs(v), n, f, fl, out);
    };
    vfs.xDelete = [](sqlite3_vfs* v, const char* n, int sync) { return BaseVfs(v)->xDelete(BaseVfs(v), n, sync); };
    vfs.xAccess = [](sqlite3_vfs* v, const char* n, int fl, int* out) {
      return BaseVfs(v)->xAccess(BaseVfs(v), n, fl, out);
    };
    vfs.xFullPathname = [](sqlite3_vfs* v, const char* n, int size, char* out) {
      return BaseVfs(v)->xFullPathname(BaseVfs(v), n, size, out);
    };
    vfs.xDlOpen = [](sqlite3_vfs* v, const char* n) { return BaseVfs(v)->xDlOpen(BaseVfs(v), n); };
    vfs.xDlError = [](sqlite3_vfs* v, int size, char* out) { BaseVfs(v)->xDlError(BaseVfs(v), size, out); };
    vfs.xDlSym = [](sqlite3_vfs* v, void* h, const char* n) { return BaseVfs(v)->xDlSym(BaseVfs(v), h, n); };
    vfs.xDlClose = [](sqlite3_vfs* v, void* h) { BaseVfs(v)->xDlClose(BaseVfs(v), h); };
    vfs.xRandomness = [](sqlite3_vfs* v, int size, char* out) {
      return BaseVfs(v)->xRandomness(BaseVfs(v), size, out);
    };
    vfs.xSleep = SleepWithinDeadline;
    vfs.xCurrentTime = [](sqlite3_vfs* v, double* out) { return BaseVfs(v)->xCurrentTime(BaseVfs(v), out); };
    vfs.xGetLastError = [](sqlite3_vfs* v, int size, char* out) {
      return BaseVfs(v)->xGetLastError ? BaseVfs(v)->xGetLastError(BaseVfs(v), size, out) : 0;
    };
    if (vfs.iVersion >= 2)
      vfs.xCurrentTimeInt64 = [](sqlite3_vfs* v, sqlite3_int64* out) {
        return BaseVfs(v)->xCurrentTimeInt64(BaseVfs(v), out);
      };
    return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK ? vfs.zName : nullptr;
  }();
  return name;
}

// The longer wait for the span of one write.
class WriteWait {
 public:
  explicit WriteWait(sqlite3* db) : db_(db) {
    local_writes.fetch_add(1);
    sqlite3_busy_timeout(db_, kWriteWaitMs);
  }
  ~WriteWait() { sqlite3_busy_timeout(db_, kReadWaitMs); }
  WriteWait(const WriteWait&) = delete;
  WriteWait& operator=(const WriteWait&) = delete;

 private:
  sqlite3* db_;
};

using ascii::SameText;

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string QuoteName(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

// Alias registry: one "NAME=DIRECTORY" line per alias.
struct AliasEntry {
  std::string name, directory;
};

std::vector<AliasEntry> ReadAliases(const std::string& file) {
  std::vector<AliasEntry> entries;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::size_t eq = line.find('=');
    if (eq == 0 || eq == std::string::npos) continue;
    entries.push_back({line.substr(0, eq), line.substr(eq + 1)});
  }
  return entries;
}

const AliasEntry* FindAlias(const std::vector<AliasEntry>& entries, std::string_view name) {
  for (const auto& e : entries)
    if (SameText(e.name, name)) return &e;
  return nullptr;
}

bool WriteWhole(int fd, const std::string& data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A prepared statement that is reset whenever it goes out of use.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }
  void Finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class ResetOnExit {
 public:
  explicit ResetOnExit(sqlite3_stmt* s) : s_(s) {}
  ~ResetOnExit() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  sqlite3_stmt* s_;
};

struct Value {
  int type = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text or blob
};

struct Column {
  std::string name;
  int pk = 0;  // position in the primary key, 1-based; 0 when not a key field
};

}  // namespace

DbDeadline::DbDeadline(std::chrono::milliseconds wait)
    : saved_at_(deadline.at), saved_ms_(deadline.ms), saved_passed_(deadline.passed) {
  auto at = std::chrono::steady_clock::now() + wait;
  if (at < deadline.at) {
    deadline.at = at;
    deadline.ms = wait.count();
  }
}

DbDeadline::~DbDeadline() {
  deadline.at = saved_at_;
  deadline.ms = saved_ms_;
  deadline.passed = saved_passed_;
}

std::size_t BlobReader::Read(void* buffer, std::size_t count) {
  std::size_t n = std::min(count, bytes_.size() - pos_);
  if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
  pos_ += n;
  return n;
}

int DbiInit() { return sqlite3_initialize() == SQLITE_OK ? 0 : 1; }

// The library needs no shutdown, and other tables of the process may still
// be open.
void DbiExit() {}

std::string AliasRegistryFile() { return RegistryRoot() + "/aliases"; }

bool LookupAlias(std::string_view name, std::string& directory) {
  auto entries = ReadAliases(AliasRegistryFile());
  const AliasEntry* e = FindAlias(entries, name);
  if (!e) return false;
  directory = e->directory;
  return true;
}

int DbiAddAlias(std::string_view name, std::string_view params) {
  constexpr std::string_view kPath = "PATH:";
  if (name.empty() || name.find_first_of("=\r\n") != std::string_view::npos) return kDbiAliasFailed;
  if (params.size() <= kPath.size() || !SameText(params.substr(0, kPath.size()), kPath)) return kDbiAliasFailed;
  std::string_view directory = params.substr(kPath.size());
  if (directory.find_first_of("\r\n") != std::string_view::npos || directory.find('\0') != std::string_view::npos)
    return kDbiAliasFailed;

  std::string root = RegistryRoot();
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  FileLock lock(root + "/aliases.lock");
  if (!lock.Held()) return kDbiAliasFailed;

  std::string file = AliasRegistryFile();
  auto entries = ReadAliases(file);
  if (FindAlias(entries, name)) return kDbiAliasExists;
  entries.push_back({std::string(name), std::string(directory)});

  std::string text;
  for (const auto& e : entries) text += e.name + "=" + e.directory + "\n";
  std::string temp = file + ".tmp" + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return kDbiAliasFailed;
  bool ok = WriteWhole(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return kDbiAliasFailed;
  }
  return kDbiOk;
}

// ---------------------------------------------------------------------------

struct Table::Impl {
  enum class Mode { kBrowse, kEdit, kInsert };

  std::string alias, name, file;
  sqlite3* db = nullptr;
  std::vector<Column> columns;
  std::vector<int> key;  // field positions in key order
  Statement find, load;
  std::string select_list;  // rowid, then every field

  bool has_row = false;
  std::int64_t rowid = 0;
  std::vector<Value> row;
  bool eof = true;
  std::vector<std::int64_t> walk;  // rowids in key order, taken by First
  std::size_t walk_pos = 0;
  Mode mode = Mode::kBrowse;
  std::vector<bool> changed;

  // Answers of key searches, good while the file's change stamp and the
  // process's writes stay as they were when they were found.
  struct KeyHit {
    bool found = false;
    std::int64_t rowid = 0;
    std::vector<Value> row;
  };
  std::unordered_map<std::string, KeyHit> key_hits;
  std::uint64_t hits_stamp = 0;
  std::uint64_t hits_writes = 0;

  [[noreturn]] void Fail(const std::string& message) const { throw DbError(name + ": " + message); }
  [[noreturn]] void FailEngine() const {
    std::string message = db ? sqlite3_errmsg(db) : "engine error";
    const int code = db ? sqlite3_errcode(db) & 0xFF : SQLITE_ERROR;
    if (deadline.passed && (code == SQLITE_BUSY || code == SQLITE_PROTOCOL || code == SQLITE_LOCKED))
      Fail("no answer within " + std::to_string(deadline.ms) + " ms: another program holds a lock on the table (" +
           message + ")");
    Fail(message);
  }

  void CheckOpen() const {
    if (!db) Fail("Cannot perform this operation on a closed table");
  }
  void CheckField(int field) const {
    CheckOpen();
    if (field < 0 || static_cast<std::size_t>(field) >= columns.size())
      Fail("No field at position " + std::to_string(field));
  }
  void CheckEditing() const {
    CheckOpen();
    if (mode == Mode::kBrowse) Fail("Table is not in edit or insert mode");
  }

  std::string OrderBy() const {
    std::string order;
    for (int k : key) order += QuoteName(columns[static_cast<std::size_t>(k)].name) + " COLLATE BINARY, ";
    return order + "rowid";
  }

  // Copies the row of a stepped statement (rowid first) into the buffer.
  void TakeRow(sqlite3_stmt* s) {
    rowid = sqlite3_column_int64(s, 0);
    row.assign(columns.size(), Value{});
    for (std::size_t i = 0; i < columns.size(); ++i) {
      int c = static_cast<int>(i) + 1;
      Value& v = row[i];
      v.type = sqlite3_column_type(s, c);
      switch (v.type) {
        case SQLITE_INTEGER: v.integer = sqlite3_column_int64(s, c); break;
        case SQLITE_FLOAT: v.real = sqlite3_column_double(s, c); break;
        case SQLITE_TEXT: {
          const unsigned char* t = sqlite3_column_text(s, c);
          v.bytes.assign(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(s, c)));
          break;
        }
        case SQLITE_BLOB: {
          const void* b = sqlite3_column_blob(s, c);
          int n = sqlite3_column_bytes(s, c);
          if (b && n > 0) v.bytes.assign(static_cast<const char*>(b), static_cast<std::size_t>(n));
          break;
        }
        default: break;
      }
    }
    has_row = true;
  }

  // Loads a record by rowid; false when it is gone.
  bool LoadRow(std::int64_t id) {
    sqlite3_stmt* s = load.get();
    ResetOnExit reset(s);
    sqlite3_bind_int64(s, 1, id);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      TakeRow(s);
      return true;
    }
    if (rc != SQLITE_DONE) FailEngine();
    return false;
  }

  void TakeWalk() {
    walk.clear();
    walk_pos = 0;
    Statement st;
    if (st.Prepare(db, "SELECT rowid FROM " + QuoteName(name) + " ORDER BY " + OrderBy()) != SQLITE_OK) FailEngine();
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) walk.push_back(sqlite3_column_int64(st.get(), 0));
    if (rc != SQLITE_DONE) FailEngine();
  }

  // Moves to the first record of the walk from walk_pos on that still exists.
  bool LoadFromWalk() {
    for (; walk_pos < walk.size(); ++walk_pos)
      if (LoadRow(walk[walk_pos])) return true;
    return false;
  }

  void LeaveEditing(Table& t) {
    if (mode != Mode::kBrowse) t.Post();
  }

  const Value& FieldValue(int field) const {
    CheckField(field);
    static const Value kNull;
    if (!has_row && mode != Mode::kInsert) return kNull;
    return row[static_cast<std::size_t>(field)];
  }

  void SetValue(int field, Value v) {
    CheckEditing();
    CheckField(field);
    row[static_cast<std::size_t>(field)] = std::move(v);
    changed[static_cast<std::size_t>(field)] = true;
  }

  void Bind(sqlite3_stmt* s, int index, const Value& v) {
    switch (v.type) {
      case SQLITE_INTEGER: sqlite3_bind_int64(s, index, v.integer); break;
      case SQLITE_FLOAT: sqlite3_bind_double(s, index, v.real); break;
      case SQLITE_TEXT:
        sqlite3_bind_text(s, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
        break;
      case SQLITE_BLOB:
        sqlite3_bind_blob(s, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
        break;
      default: sqlite3_bind_null(s, index); break;
    }
  }

  void CloseDb() {
    find.Finalize();
    load.Finalize();
    if (db) sqlite3_close_v2(db);
    db = nullptr;
    columns.clear();
    key.clear();
    row.clear();
    changed.clear();
    walk.clear();
    key_hits.clear();
    has_row = false;
    eof = true;
    mode = Mode::kBrowse;
  }
};

Table::Table() : impl_(std::make_unique<Impl>()) {}
Table::~Table() { impl_->CloseDb(); }

void Table::SetDatabaseName(std::string alias) { impl_->alias = std::move(alias); }
void Table::SetTableName(std::string name) { impl_->name = std::move(name); }
const std::string& Table::FileName() const { return impl_->file; }
bool Table::Active() const { return impl_->db != nullptr; }

void Table::Open() {
  Impl& m = *impl_;
  if (m.db) return;
  if (m.name.empty() || !std::all_of(m.name.begin(), m.name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
      }))
    throw DbError("Invalid table name: " + m.name);
  std::string directory;
  if (m.alias.empty()) m.Fail("No database name is set");
  if (!LookupAlias(m.alias, directory)) m.Fail("Alias " + m.alias + " is not registered");
  if (!IsDirectory(directory)) m.Fail("Directory not found: " + directory + " (alias " + m.alias + ")");
  std::string file = JoinPath(directory, m.name + ".db");
  if (!IsFile(file)) m.Fail("Table file not found: " + file);

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, DeadlineVfs());
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    m.Fail(msg + " (" + file + ")");
  }
  m.db = db;
  m.file = file;
  sqlite3_busy_timeout(db, kReadWaitMs);
  // A table that cannot switch now (read-only, or busy) works in its own
  // mode; the next open tries again.
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  try {
    {
      Statement info;
      if (info.Prepare(db, "PRAGMA table_info(" + QuoteName(m.name) + ")") != SQLITE_OK) m.FailEngine();
      while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
        const unsigned char* n = sqlite3_column_text(info.get(), 1);
        m.columns.push_back({n ? reinterpret_cast<const char*>(n) : "", sqlite3_column_int(info.get(), 5)});
      }
      if (rc != SQLITE_DONE) m.FailEngine();
    }
    if (m.columns.empty()) {
      // Let the engine say what is wrong ("no such table: ...").
      Statement probe;
      if (probe.Prepare(db, "SELECT * FROM " + QuoteName(m.name)) != SQLITE_OK) m.Fail(std::string(sqlite3_errmsg(db)) + " (" + file + ")");
      m.Fail("no such table: " + m.name + " (" + file + ")");
    }
    std::vector<std::pair<int, int>> keyed;
    for (std::size_t i = 0; i < m.columns.size(); ++i)
      if (m.columns[i].pk > 0) keyed.push_back({m.columns[i].pk, static_cast<int>(i)});
    std::sort(keyed.begin(), keyed.end());
    for (auto& k : keyed) m.key.push_back(k.second);

    m.select_list = "SELECT rowid";
    for (const auto& c : m.columns) m.select_list += ", " + QuoteName(c.name);
    m.select_list += " FROM " + QuoteName(m.name);
    if (m.load.Prepare(db, m.select_list + " WHERE rowid = ?1") != SQLITE_OK) m.FailEngine();
    if (!m.key.empty()) {
      std::string where;
      for (std::size_t i = 0; i < m.key.size(); ++i) {
        if (i) where += " AND ";
        where += QuoteName(m.columns[static_cast<std::size_t>(m.key[i])].name) + " = ?" + std::to_string(i + 1) +
                 " COLLATE BINARY";
      }
      if (m.find.Prepare(db, m.select_list + " WHERE " + where + " LIMIT 1") != SQLITE_OK) m.FailEngine();
    }
    m.changed.assign(m.columns.size(), false);
    First();
  } catch (...) {
    m.CloseDb();
    throw;
  }
}

void Table::Close() { impl_->CloseDb(); }

int Table::FieldIndex(std::string_view name) const {
  const Impl& m = *impl_;
  m.CheckOpen();
  for (std::size_t i = 0; i < m.columns.size(); ++i)
    if (SameText(m.columns[i].name, name)) return static_cast<int>(i);
  m.Fail("Field '" + std::string(name) + "' not found");
}

bool Table::FindKey(std::initializer_list<std::string_view> values) {
  Impl& m = *impl_;
  m.CheckOpen();
  if (m.key.empty()) m.Fail("The table has no primary key");
  if (values.size() != m.key.size())
    m.Fail("The key has " + std::to_string(m.key.size()) + " fields; " + std::to_string(values.size()) +
           " values were given");
  m.LeaveEditing(*this);
  // Outside a transaction a search is answered from the earlier answer while
  // nothing has changed the file since.
  std::string hit_key;
  const std::uint64_t stamp = sqlite3_get_autocommit(m.db) ? ChangeStamp(m.file) : 0;
  if (stamp != 0) {
    const std::uint64_t writes = local_writes.load();
    if (stamp != m.hits_stamp || writes != m.hits_writes) {
      m.key_hits.clear();
      m.hits_stamp = stamp;
      m.hits_writes = writes;
    }
    for (std::string_view v : values) hit_key.append(std::to_string(v.size())).append(1, ':').append(v);
    auto hit = m.key_hits.find(hit_key);
    if (hit != m.key_hits.end()) {
      if (!hit->second.found) {
        m.has_row = false;
        return false;
      }
      m.rowid = hit->second.rowid;
      m.row = hit->second.row;
      m.has_row = true;
      m.eof = false;
      return true;
    }
  }
  sqlite3_stmt* s = m.find.get();
  ResetOnExit reset(s);
  int i = 1;
  for (std::string_view v : values) sqlite3_bind_text(s, i++, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) m.FailEngine();
  const bool found = rc == SQLITE_ROW;
  if (found) {
    m.TakeRow(s);
    m.eof = false;
  } else {
    m.has_row = false;
  }
  if (stamp != 0) {
    if (m.key_hits.size() >= kKeyHitsMax) m.key_hits.clear();
    m.key_hits.emplace(std::move(hit_key), Impl::KeyHit{found, m.rowid, found ? m.row : std::vector<Value>{}});
  }
  return found;
}

void Table::First() {
  Impl& m = *impl_;
  m.CheckOpen();
  m.LeaveEditing(*this);
  m.TakeWalk();
  m.has_row = false;
  m.eof = !m.LoadFromWalk();
}

void Table::Next() {
  Impl& m = *impl_;
  m.CheckOpen();
  m.LeaveEditing(*this);
  if (!m.has_row) {
    m.eof = true;
    return;
  }
  // After a key search or a post the walk may not hold the current record.
  if (m.walk_pos >= m.walk.size() || m.walk[m.walk_pos] != m.rowid) {
    m.TakeWalk();
    auto it = std::find(m.walk.begin(), m.walk.end(), m.rowid);
    m.walk_pos = static_cast<std::size_t>(it - m.walk.begin());
  }
  std::int64_t current = m.rowid;
  ++m.walk_pos;
  if (!m.LoadFromWalk()) {
    m.eof = true;  // stays on the last record
    if (!m.LoadRow(current)) m.has_row = false;
  }
}

bool Table::Eof() const {
  impl_->CheckOpen();
  return impl_->eof;
}

int Table::RecordCount() {
  Impl& m = *impl_;
  m.CheckOpen();
  Statement st;
  if (st.Prepare(m.db, "SELECT count(*) FROM " + QuoteName(m.name)) != SQLITE_OK) m.FailEngine();
  if (sqlite3_step(st.get()) != SQLITE_ROW) m.FailEngine();
  return sqlite3_column_int(st.get(), 0);
}

std::string Table::AsString(int field) const {
  const Value& v = impl_->FieldValue(field);
  switch (v.type) {
    case SQLITE_INTEGER: return std::to_string(v.integer);
    case SQLITE_FLOAT: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.15g", v.real);
      return buf;
    }
    case SQLITE_TEXT:
    case SQLITE_BLOB: return v.bytes;
    default: return "";
  }
}

std::int32_t Table::AsInteger(int field) const {
  const Impl& m = *impl_;
  const Value& v = m.FieldValue(field);
  std::int64_t n = 0;
  bool ok = true;
  switch (v.type) {
    case SQLITE_NULL: return 0;
    case SQLITE_INTEGER: n = v.integer; break;
    case SQLITE_FLOAT:
      ok = std::isfinite(v.real) && v.real == std::trunc(v.real) && std::fabs(v.real) < 1e18;
      if (ok) n = static_cast<std::int64_t>(v.real);
      break;
    default: {
      const char* b = v.bytes.data();
      const char* e = b + v.bytes.size();
      auto r = std::from_chars(b, e, n);
      ok = !v.bytes.empty() && r.ec == std::errc() && r.ptr == e;
      break;
    }
  }
  // The low 32 bits, so a hash stored as unsigned reads as its signed pattern.
  if (!ok || n < INT32_MIN || n > static_cast<std::int64_t>(UINT32_MAX))
    m.Fail("'" + AsString(field) + "' is not a valid integer value for field " +
           m.columns[static_cast<std::size_t>(field)].name);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
}

BlobReader Table::OpenBlob(int field) const {
  const Value& v = impl_->FieldValue(field);
  if (v.type == SQLITE_TEXT || v.type == SQLITE_BLOB) return BlobReader(v.bytes);
  if (v.type == SQLITE_NULL) return BlobReader();
  return BlobReader(AsString(field));
}

void Table::Edit() {
  Impl& m = *impl_;
  m.CheckOpen();
  if (m.mode == Impl::Mode::kEdit) return;
  if (m.mode == Impl::Mode::kInsert) m.Fail("Table is in insert mode");
  if (!m.has_row) m.Fail("No current record");
  m.mode = Impl::Mode::kEdit;
  m.changed.assign(m.columns.size(), false);
}

void Table::Insert() {
  Impl& m = *impl_;
  m.CheckOpen();
  m.LeaveEditing(*this);
  m.mode = Impl::Mode::kInsert;
  m.row.assign(m.columns.size(), Value{});
  m.changed.assign(m.columns.size(), false);
}

void Table::Cancel() {
  Impl& m = *impl_;
  m.CheckOpen();
  Impl::Mode was = m.mode;
  m.mode = Impl::Mode::kBrowse;
  m.changed.assign(m.columns.size(), false);
  if (was == Impl::Mode::kBrowse) return;
  if (m.has_row && !m.LoadRow(m.rowid)) m.has_row = false;  // back to the stored values
}

void Table::SetString(int field, std::string_view value) {
  Value v;
  v.type = SQLITE_TEXT;
  v.bytes.assign(value.data(), value.size());
  impl_->SetValue(field, std::move(v));
}

void Table::SetBlob(int field, std::string_view bytes) {
  Value v;
  v.type = SQLITE_BLOB;
  v.bytes.assign(bytes.data(), bytes.size());
  impl_->SetValue(field, std::move(v));
}

void Table::Post() {
  Impl& m = *impl_;
  m.CheckEditing();
  WriteWait wait(m.db);
  std::vector<std::size_t> fields;
  for (std::size_t i = 0; i < m.columns.size(); ++i)
    if (m.changed[i]) fields.push_back(i);

  if (m.mode == Impl::Mode::kEdit) {
    if (!fields.empty()) {
      std::string sql = "UPDATE " + QuoteName(m.name) + " SET ";
      for (std::size_t i = 0; i < fields.size(); ++i)
        sql += (i ? ", " : "") + QuoteName(m.columns[fields[i]].name) + " = ?" + std::to_string(i + 1);
      sql += " WHERE rowid = ?" + std::to_string(fields.size() + 1);
      Statement st;
      if (st.Prepare(m.db, sql) != SQLITE_OK) m.FailEngine();
      for (std::size_t i = 0; i < fields.size(); ++i) m.Bind(st.get(), static_cast<int>(i) + 1, m.row[fields[i]]);
      sqlite3_bind_int64(st.get(), static_cast<int>(fields.size()) + 1, m.rowid);
      if (sqlite3_step(st.get()) != SQLITE_DONE) m.FailEngine();
      if (sqlite3_changes(m.db) == 0) m.Fail("The record was deleted by another program");
    }
  } else {
    std::string sql = "INSERT INTO " + QuoteName(m.name);
    if (fields.empty()) {
      sql += " DEFAULT VALUES";
    } else {
      std::string names, marks;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        names += (i ? ", " : "") + QuoteName(m.columns[fields[i]].name);
        marks += (i ? ", ?" : "?") + std::to_string(i + 1);
      }
      sql += " (" + names + ") VALUES (" + marks + ")";
    }
    Statement st;
    if (st.Prepare(m.db, sql) != SQLITE_OK) m.FailEngine();
    for (std::size_t i = 0; i < fields.size(); ++i) m.Bind(st.get(), static_cast<int>(i) + 1, m.row[fields[i]]);
    if (sqlite3_step(st.get()) != SQLITE_DONE) m.FailEngine();
    m.rowid = sqlite3_last_insert_rowid(m.db);
  }
  m.mode = Impl::Mode::kBrowse;
  m.changed.assign(m.columns.size(), false);
  m.eof = false;
  if (!m.LoadRow(m.rowid)) m.has_row = false;
}

void Table::Flush() {
  Impl& m = *impl_;
  m.CheckOpen();
  if (InTransaction()) return;
  if (sqlite3_exec(m.db, "PRAGMA wal_checkpoint(PASSIVE)", nullptr, nullptr, nullptr) != SQLITE_OK) m.FailEngine();
}

void Table::StartTransaction() {
  Impl& m = *impl_;
  m.CheckOpen();
  if (InTransaction()) m.Fail("A transaction is already open");
  m.LeaveEditing(*this);
  {
    // Taking the write lock waits for another writer as long as a post does.
    WriteWait wait(m.db);
    if (sqlite3_exec(m.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) m.FailEngine();
  }
  // Writes to a file that was deleted or replaced under the open table
  // would reach nobody.
  int moved = 0;
  if (sqlite3_file_control(m.db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved) {
    sqlite3_exec(m.db, "ROLLBACK", nullptr, nullptr, nullptr);
    m.Fail("The table file " + m.file + " was removed or replaced since the table was opened");
  }
}

void Table::Commit() {
  Impl& m = *impl_;
  m.CheckOpen();
  if (!InTransaction()) m.Fail("No transaction is open");
  m.LeaveEditing(*this);
  local_writes.fetch_add(1);
  if (sqlite3_exec(m.db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) m.FailEngine();
}

void Table::Rollback() noexcept {
  Impl& m = *impl_;
  if (!m.db) return;
  m.mode = Impl::Mode::kBrowse;
  m.changed.assign(m.columns.size(), false);
  local_writes.fetch_add(1);
  if (!sqlite3_get_autocommit(m.db)) sqlite3_exec(m.db, "ROLLBACK", nullptr, nullptr, nullptr);
  try {
    if (m.has_row && !m.LoadRow(m.rowid)) m.has_row = false;  // back to the stored values
  } catch (...) {
    m.has_row = false;
  }
}

bool Table::InTransaction() const {
  return impl_->db != nullptr && !sqlite3_get_autocommit(impl_->db);
}

}  // namespace platform
