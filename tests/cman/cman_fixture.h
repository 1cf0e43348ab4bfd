// A manager's world for one test: a copy of the sample BBS, security tables
// in a data directory, a registry root and KORRIDAN.INI of its own.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/dbtables.h"
#include "tests/bbs/bbs_fixture.h"
#include "tests/support/execute_sql.h"
#include "tests/support/security_tables.h"

namespace cmantest {

// The security tables in dir, with a group and an account in them.
inline void MakeTables(const std::string& dir) {
  CreateSecurityTables(dir);
  testsupport::ExecuteSql(dir + "/GROUPS.db", "INSERT OR REPLACE INTO GROUPS VALUES ('STAFF','Staff');", false);
  testsupport::ExecuteSql(dir + "/USERS.db", "INSERT OR REPLACE INTO USERS VALUES ('ANN','Ann',0,CAST('' AS BLOB));",
                       false);
}

// The ACCESS rows as "MODULE RESOURCE ACTION ENFORCE GROUPS USERS", the
// name lists' CRs shown as "|", in order.
inline std::vector<std::string> RulesIn(const std::string& access_db) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_open(access_db.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT MODULE||' '||RESOURCE||' '||ACTION||' '||ENFORCE||' '||"
                     "replace(CAST(GROUPS AS TEXT),char(13),'|')||' '||"
                     "replace(CAST(USERS AS TEXT),char(13),'|') FROM ACCESS ORDER BY 1",
                     -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// The bytes of one list-file entry that the managers may change, or that
// the BBS library changes when a record is stored: the list entry's
// description and the record fields of the build.
inline std::set<size_t> OwnedBytes(bool file_libraries) {
  std::set<size_t> owned;
  auto add = [&](size_t from, size_t count) {
    for (size_t i = 0; i < count; ++i) owned.insert(from + i);
  };
  add(67, 93);  // the list entry's description, kept by the library
  if (file_libraries) {
    add(160 + 17, 41);
    add(160 + 85, 46);
    add(160 + 147, 1);
  } else {
    add(160 + 6, 41);
    add(160 + 73, 4);
    add(160 + 77, 2);
    add(160 + 79, 1);
    add(160 + 81, 2);
  }
  return owned;
}

// The differing offsets that fall outside the owned bytes of their entry.
inline std::vector<size_t> ForeignChanges(const std::vector<unsigned char>& before,
                                          const std::vector<unsigned char>& after, bool file_libraries) {
  size_t size = file_libraries ? bbstest::kDirectoryEntry : bbstest::kSubboardEntry;
  std::set<size_t> owned = OwnedBytes(file_libraries);
  std::vector<size_t> foreign;
  for (size_t at : bbstest::Differences(before, after))
    if (!owned.count(at % size)) foreign.push_back(at);
  return foreign;
}

}  // namespace cmantest
