// The database engine: tables addressed by an alias and a table name, on
// SQLite. An alias names a directory; each table is one SQLite database file
// in it, named after the table ("USERS" is <directory>/USERS.db) and holding
// one SQL table of the same name. Aliases are registered persistently, for
// every program of the user, in <registry root>/aliases; the first
// registration of a name wins and later ones leave it alone.
//
// Every write (Post) is one committed SQLite transaction, so the next lookup
// of any process sees it. Lookups never hold a transaction open between
// calls, so a reader never blocks a writer for longer than one statement;
// both wait for each other's short locks (busy timeout) instead of failing.
// A caller that must not wait longer than a set time (the server, which
// answers every client from one thread) bounds its table operations with a
// DbDeadline.
//
// Errors are DbError exceptions whose text is the engine's message.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "platform/export.h"

namespace platform {

class HALV_EXPORT DbError : public std::runtime_error {
 public:
  explicit DbError(const std::string& message);
  ~DbError() override;
};

// Engine start and end. DbiInit returns 0 when the engine started.
HALV_EXPORT int DbiInit();
HALV_EXPORT void DbiExit();

// Results of DbiAddAlias.
constexpr int kDbiOk = 0;
constexpr int kDbiAliasExists = 1;  // the alias keeps the path it has
constexpr int kDbiAliasFailed = 2;  // bad name or parameter text, or the registry could not be written

// Adds a persistent alias; params is "PATH:" followed by the directory.
HALV_EXPORT int DbiAddAlias(std::string_view name, std::string_view params);

// The directory registered for an alias (names compare without regard to
// case); false when the alias is not registered.
HALV_EXPORT bool LookupAlias(std::string_view name, std::string& directory);

// The file that holds the alias registry.
HALV_EXPORT std::string AliasRegistryFile();

// While it lives, no table operation of this thread waits for another
// program's lock beyond the deadline, whatever the lock: a read, a write or
// the write-ahead log's reader marks. An operation that would have to wait
// on fails with DbError ("... no answer within <n> ms ..."), and so does
// every further one that meets a lock before the object is gone. Nested
// deadlines keep the earlier one. Without a deadline a read waits up to
// 100 ms for a lock that shuts readers out (and up to SQLite's own bound
// of about 10 s for the log's reader marks), a write up to 10 s.
class HALV_EXPORT DbDeadline {
 public:
  explicit DbDeadline(std::chrono::milliseconds wait);
  ~DbDeadline();
  DbDeadline(const DbDeadline&) = delete;
  DbDeadline& operator=(const DbDeadline&) = delete;

 private:
  std::chrono::steady_clock::time_point saved_at_;
  long long saved_ms_;
  bool saved_passed_;
};

// Reads a blob from its start, like a memory stream.
class HALV_EXPORT BlobReader {
 public:
  BlobReader() = default;
  explicit BlobReader(std::string bytes) : bytes_(std::move(bytes)) {}
  // Copies up to count bytes into buffer; the number copied, 0 at the end.
  std::size_t Read(void* buffer, std::size_t count);
  void Rewind() { pos_ = 0; }
  std::size_t Size() const { return bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
};

// One table. Open it by alias and name; then key search, walking in key
// order, reading and writing the current record. Every operation but the
// setters of the names, Close and Active raises DbError while the table is
// closed.
class HALV_EXPORT Table {
 public:
  Table();
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  void SetDatabaseName(std::string alias);
  void SetTableName(std::string name);

  // Opens <alias directory>/<name>.db; a missing alias, directory, file or
  // table raises. Nothing is created. Opening an open table does nothing.
  void Open();
  // Closes the table, dropping an unposted edit; does nothing when closed.
  void Close();
  bool Active() const;
  // The file the table lives in (set by Open).
  const std::string& FileName() const;

  // The position of a field (without regard to case); a missing field raises.
  int FieldIndex(std::string_view name) const;

  // Exact search on the primary key, with as many values as the key has
  // fields. True: positioned on that record. False: no current record.
  bool FindKey(std::initializer_list<std::string_view> values);

  // Walks the records in primary-key order. Eof is true when the table is
  // empty after First, or when Next is called on the last record.
  void First();
  void Next();
  bool Eof() const;
  int RecordCount();

  // Fields of the current record (of the edit buffer while editing). A null
  // value reads as "", 0 and an empty blob. AsInteger gives the low 32 bits of
  // the stored integer, so 2566456121 and -1728511175 read alike; a text that
  // is not a number raises.
  std::string AsString(int field) const;
  std::int32_t AsInteger(int field) const;
  BlobReader OpenBlob(int field) const;
  std::string AsString(std::string_view field) const { return AsString(FieldIndex(field)); }
  std::int32_t AsInteger(std::string_view field) const { return AsInteger(FieldIndex(field)); }

  // Edit changes the current record, Insert starts a new one (all fields
  // null). The setters change the buffer; Post writes the changed fields and
  // makes the record current (a new one is placed by its key; a key that
  // exists raises). Moving to another record posts a pending edit first.
  void Edit();
  void Insert();
  void Cancel();
  void SetString(int field, std::string_view value);
  void SetBlob(int field, std::string_view bytes);
  void SetString(std::string_view field, std::string_view value) { SetString(FieldIndex(field), value); }
  void Post();

  // Makes what was posted reach the table file itself. A posted record is
  // already committed and seen by other processes; this also folds a
  // write-ahead log, when the file uses one, into the file. Inside a
  // transaction it does nothing: the commit makes the records seen.
  void Flush();

  // One transaction on the table's file: what is posted between
  // StartTransaction and Commit reaches other processes all at once, or
  // (Rollback, an error, closing the table) not at all. StartTransaction
  // takes the write lock at once, waiting for another writer's as any
  // statement waits, so what a search inside finds stays true until the
  // commit. It raises when the table's file was deleted or replaced since
  // Open. Transactions do not nest.
  void StartTransaction();
  void Commit();
  // Drops what was posted since StartTransaction and any unposted edit;
  // does nothing outside a transaction. Never throws.
  void Rollback() noexcept;
  bool InTransaction() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
