// Runs SQL statements on a database file, as the tests make and fill their
// tables (the programs only use the table layer). The file is created when
// create is true; a failure raises DbError with the engine's message.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/dbtables.h"

namespace testsupport {

inline void ExecuteSql(const std::string& file, std::string_view sql, bool create) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw platform::DbError(file + ": " + msg);
  }
  sqlite3_busy_timeout(db, 10000);  // as long as the table layer waits for a writer
  std::string text(sql);
  char* err = nullptr;
  rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    sqlite3_close(db);
    throw platform::DbError(file + ": " + msg);
  }
  sqlite3_close(db);
}

}  // namespace testsupport
