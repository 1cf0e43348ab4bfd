// A data directory with the four security tables, opened as the tools open
// them, and the tools' two dialogs, for tests that drive the access-rule
// page and the store routines in the test's own process.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "foundation/security.h"
#include "foundation/securitystore.h"
#include "platform/dbtables.h"
#include "platform/msgbox.h"
#include "platform/msgloop.h"
#include "platform/ui/automation.h"
#include "tests/foundation/testdirs.h"
#include "tests/support/execute_sql.h"
#include "tests/support/security_tables.h"
#include "tools/nipfrm.h"
#include "tools/progress.h"

namespace tools_test {

// One stored rule, as its fields lie in the file.
struct StoredRule {
  bool found = false;
  std::string ipaction, enforce, groups, users, ipaddr;
};

class ToolsTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    data_ = root_ + "/Data/";
    CreateSecurityTables(data_);
    Sql("GROUPS", "INSERT INTO GROUPS VALUES ('STAFF','Staff'),('ADMINS','Admins'),('GUESTS','Guests');");
    Sql("USERS", "INSERT INTO USERS VALUES ('ANN','ann',0,CAST('' AS BLOB)),('BOB','Bob',0,CAST('' AS BLOB));");
    SecurityStoreInit();
    OpenSecurityStore("", data_);
    Drain();
    NewIPForm = new TNewIPForm(nullptr);
    NewIPForm->FinishCreate();
    ProgressForm = new TProgressForm(nullptr);
    ProgressForm->FinishCreate();
  }
  void TearDown() override {
    platform::ui::Free(NewIPForm);
    platform::ui::Free(ProgressForm);
    Drain();
    CloseSecurityTables();
    TempDirTest::TearDown();
  }

  static void Drain() {
    platform::MSG m;
    while (platform::PeekMessage(m, 0, 0, 0, platform::PM_REMOVE)) {
    }
  }

  void Sql(const std::string& table, const std::string& sql) {
    testsupport::ExecuteSql(data_ + table + ".db", sql, false);
  }

  // The rule's fields straight from ACCESS.db, bytes as stored.
  StoredRule Stored(const std::string& module, const std::string& resource, const std::string& action) {
    StoredRule r;
    sqlite3* db = nullptr;
    sqlite3_open_v2((data_ + "ACCESS.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT IPACTION, ENFORCE, GROUPS, USERS, IPADDR FROM ACCESS "
                       "WHERE MODULE = ?1 AND RESOURCE = ?2 AND ACTION = ?3",
                       -1, &st, nullptr);
    sqlite3_bind_text(st, 1, module.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, resource.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, action.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) {
      r.found = true;
      auto col = [&](int c) {
        const char* p = static_cast<const char*>(sqlite3_column_blob(st, c));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st, c))) : std::string();
      };
      r.ipaction = col(0);
      r.enforce = col(1);
      r.groups = col(2);
      r.users = col(3);
      r.ipaddr = col(4);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return r;
  }

  std::string data_;
  platform::MessageBoxScript boxes_;
};

}  // namespace tools_test
