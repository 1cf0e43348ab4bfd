#include "platform/dbtables.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "platform/msgloop.h"
#include "tests/foundation/childprocess.h"
#include "tests/foundation/testdirs.h"
#include "tests/support/execute_sql.h"
#include "tests/support/lock_holder.h"

using platform::DbError;
using platform::HWND;
using platform::Table;

namespace {

std::string ThrownMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const DbError& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

class DbTablesTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    dir_ = MakeDir("data");
    ASSERT_EQ(platform::DbiAddAlias("TESTDB", "PATH:" + dir_), platform::kDbiOk);
  }
  void MakeTable(const std::string& name, const std::string& sql) {
    testsupport::ExecuteSql(dir_ + "/" + name + ".db", sql, true);
  }
  void MakeRules() {
    MakeTable("ACCESS",
              "CREATE TABLE ACCESS (MODULE TEXT, RESOURCE TEXT, ACTION TEXT, IPACTION TEXT, ENFORCE TEXT, "
              "GROUPS BLOB, USERS BLOB, IPADDR BLOB, PRIMARY KEY (MODULE, RESOURCE, ACTION));");
  }
  void MakeGroups(const std::string& rows = "") {
    MakeTable("GROUPS", "CREATE TABLE GROUPS (GROUPID TEXT PRIMARY KEY, DISPLAY TEXT);" + rows);
  }
  // The rule SERVER /WEB/ GET with the given enforcement, posted.
  static void InsertWebRule(Table& t, const std::string& enforce) {
    t.Insert();
    t.SetString("MODULE", "SERVER");
    t.SetString("RESOURCE", "/WEB/");
    t.SetString("ACTION", "GET");
    t.SetString("ENFORCE", enforce);
    t.Post();
  }
  void OpenTable(Table& t, const std::string& name) {
    t.SetDatabaseName("TESTDB");
    t.SetTableName(name);
    t.Open();
  }
  std::string dir_;
};

// --- alias registry -------------------------------------------------------

TEST_F(DbTablesTest, FirstRegistrationOfAnAliasWins) {
  std::string other = MakeDir("other");
  EXPECT_EQ(platform::DbiAddAlias("testdb", "PATH:" + other), platform::kDbiAliasExists);
  std::string path;
  ASSERT_TRUE(platform::LookupAlias("TestDB", path));
  EXPECT_EQ(path, dir_);
}

TEST_F(DbTablesTest, UnknownAliasIsNotFound) {
  std::string path = "unchanged";
  EXPECT_FALSE(platform::LookupAlias("NOSUCH", path));
  EXPECT_EQ(path, "unchanged");
}

TEST_F(DbTablesTest, BadAliasParametersAreRefused) {
  EXPECT_EQ(platform::DbiAddAlias("X", "DIR:/tmp"), platform::kDbiAliasFailed);
  EXPECT_EQ(platform::DbiAddAlias("X", "PATH:"), platform::kDbiAliasFailed);
  EXPECT_EQ(platform::DbiAddAlias("", "PATH:/tmp"), platform::kDbiAliasFailed);
  EXPECT_EQ(platform::DbiAddAlias("A=B", "PATH:/tmp"), platform::kDbiAliasFailed);
  EXPECT_EQ(platform::DbiAddAlias("X", "PATH:/tmp\n/etc"), platform::kDbiAliasFailed);
  EXPECT_EQ(platform::DbiAddAlias("Y", "path:/tmp"), platform::kDbiOk);
  std::string path;
  EXPECT_FALSE(platform::LookupAlias("X", path));
}

TEST_F(DbTablesTest, AliasRegistryLivesUnderTheRegistryRoot) {
  EXPECT_EQ(platform::AliasRegistryFile(), root_ + "/registry/aliases");
  EXPECT_TRUE(std::filesystem::exists(platform::AliasRegistryFile()));
}

TEST_F(DbTablesTest, AliasRegisteredByAnotherProcessPersistsAndWins) {
  std::string a = MakeDir("a"), b = MakeDir("b");
  int rc = RunInChild([&] { return platform::DbiAddAlias("HALVORINE", "PATH:" + a) == platform::kDbiOk; });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(platform::DbiAddAlias("HALVORINE", "PATH:" + b), platform::kDbiAliasExists);
  std::string path;
  ASSERT_TRUE(platform::LookupAlias("HALVORINE", path));
  EXPECT_EQ(path, a);
}

TEST_F(DbTablesTest, ConcurrentRegistrationsLeaveExactlyOneWinner) {
  constexpr int kChildren = 8;
  std::vector<pid_t> pids;
  for (int i = 0; i < kChildren; ++i) {
    std::string d = MakeDir("c" + std::to_string(i));
    pids.push_back(StartChild([d, i] {
      // Every child also adds a name of its own, so no update may be lost.
      bool own = platform::DbiAddAlias("OWN" + std::to_string(i), "PATH:" + d) == platform::kDbiOk;
      int r = platform::DbiAddAlias("SHARED", "PATH:" + d);
      return own && r == platform::kDbiOk;
    }));
  }
  int winners = 0;
  for (pid_t p : pids) winners += WaitChild(p) == 0 ? 1 : 0;
  EXPECT_EQ(winners, 1);
  std::string path;
  for (int i = 0; i < kChildren; ++i) {
    EXPECT_TRUE(platform::LookupAlias("OWN" + std::to_string(i), path)) << i;
    EXPECT_EQ(path, root_ + "/c" + std::to_string(i));
  }
  ASSERT_TRUE(platform::LookupAlias("SHARED", path));
}

TEST_F(DbTablesTest, EngineStarts) {
  EXPECT_EQ(platform::DbiInit(), 0);
  platform::DbiExit();
}

// --- opening and its errors -----------------------------------------------

TEST_F(DbTablesTest, OpenWithUnregisteredAliasRaises) {
  Table t;
  t.SetDatabaseName("NOSUCH");
  t.SetTableName("USERS");
  EXPECT_EQ(ThrownMessage([&] { t.Open(); }), "USERS: Alias NOSUCH is not registered");
  EXPECT_FALSE(t.Active());
}

TEST_F(DbTablesTest, OpenInMissingDirectoryRaises) {
  ASSERT_EQ(platform::DbiAddAlias("GONE", "PATH:" + root_ + "/gone"), platform::kDbiOk);
  Table t;
  t.SetDatabaseName("GONE");
  t.SetTableName("USERS");
  EXPECT_EQ(ThrownMessage([&] { t.Open(); }), "USERS: Directory not found: " + root_ + "/gone (alias GONE)");
  EXPECT_FALSE(std::filesystem::exists(root_ + "/gone"));
}

TEST_F(DbTablesTest, OpenOfMissingTableFileRaisesAndCreatesNothing) {
  Table t;
  t.SetDatabaseName("TESTDB");
  t.SetTableName("USERS");
  EXPECT_EQ(ThrownMessage([&] { t.Open(); }), "USERS: Table file not found: " + dir_ + "/USERS.db");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/USERS.db"));
  EXPECT_FALSE(t.Active());
}

TEST_F(DbTablesTest, FileWithoutItsTableRaisesTheEnginesMessage) {
  MakeTable("USERS", "CREATE TABLE OTHER (X TEXT);");
  Table t;
  std::string msg = ThrownMessage([&] { OpenTable(t, "USERS"); });
  EXPECT_EQ(msg, "USERS: no such table: USERS (" + dir_ + "/USERS.db)");
  EXPECT_FALSE(t.Active());
}

TEST_F(DbTablesTest, FileThatIsNoDatabaseRaises) {
  std::ofstream(dir_ + "/USERS.db") << "this is not a database, just some text of reasonable length......";
  Table t;
  std::string msg = ThrownMessage([&] { OpenTable(t, "USERS"); });
  EXPECT_NE(msg.find("file is not a database"), std::string::npos) << msg;
}

TEST_F(DbTablesTest, InvalidTableNameRaises) {
  Table t;
  t.SetDatabaseName("TESTDB");
  t.SetTableName("../USERS");
  EXPECT_EQ(ThrownMessage([&] { t.Open(); }), "Invalid table name: ../USERS");
}

TEST_F(DbTablesTest, MissingFieldRaises) {
  MakeGroups();
  Table t;
  OpenTable(t, "GROUPS");
  EXPECT_EQ(t.FieldIndex("display"), 1);
  EXPECT_EQ(ThrownMessage([&] { t.FieldIndex("NAME"); }), "GROUPS: Field 'NAME' not found");
  EXPECT_EQ(ThrownMessage([&] { t.AsString(7); }), "GROUPS: No field at position 7");
}

TEST_F(DbTablesTest, EveryOperationOnAClosedTableRaises) {
  MakeGroups();
  Table t;
  t.SetTableName("GROUPS");
  const std::string closed = "GROUPS: Cannot perform this operation on a closed table";
  EXPECT_EQ(ThrownMessage([&] { t.FindKey({"A"}); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.First(); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.Next(); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.Eof(); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.RecordCount(); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.FieldIndex("DISPLAY"); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.AsString(0); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.Insert(); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.Edit(); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.Post(); }), closed);
  EXPECT_EQ(ThrownMessage([&] { t.Flush(); }), closed);
  t.Close();  // closing a closed table is fine
  OpenTable(t, "GROUPS");
  t.Close();
  EXPECT_EQ(ThrownMessage([&] { t.First(); }), closed);
}

TEST_F(DbTablesTest, OpenFindsTheAliasDirectoryWithOrWithoutTrailingSlash) {
  std::string d = MakeDir("slash");
  ASSERT_EQ(platform::DbiAddAlias("SLASH", "PATH:" + d + "/"), platform::kDbiOk);
  testsupport::ExecuteSql(d + "/GROUPS.db", "CREATE TABLE GROUPS (GROUPID TEXT PRIMARY KEY, DISPLAY TEXT);", true);
  Table t;
  t.SetDatabaseName("SLASH");
  t.SetTableName("GROUPS");
  t.Open();
  EXPECT_EQ(t.FileName(), d + "/GROUPS.db");
}

// --- key search, walking, reading -----------------------------------------

TEST_F(DbTablesTest, FindKeyIsExactAndBinarySafe) {
  MakeGroups(
      "INSERT INTO GROUPS VALUES ('STAFF', 'Staff');"
      "INSERT INTO GROUPS VALUES ('A%', 'percent');"
      "INSERT INTO GROUPS VALUES ('O''BRIEN', 'quote');");
  Table t;
  OpenTable(t, "GROUPS");
  ASSERT_TRUE(t.FindKey({"STAFF"}));
  EXPECT_EQ(t.AsString("DISPLAY"), "Staff");
  EXPECT_FALSE(t.FindKey({"staff"}));
  EXPECT_THROW(t.Edit(), DbError);  // no current record
  EXPECT_EQ(t.AsString(1), "");  // no current record reads as empty
  EXPECT_FALSE(t.FindKey({"STAF"}));
  EXPECT_FALSE(t.FindKey({"STAFF "}));
  EXPECT_FALSE(t.FindKey({"A_"}));
  EXPECT_FALSE(t.FindKey({"%"}));
  EXPECT_TRUE(t.FindKey({"A%"}));
  EXPECT_TRUE(t.FindKey({"O'BRIEN"}));
  EXPECT_FALSE(t.FindKey({"' OR '1'='1"}));
  EXPECT_FALSE(t.FindKey({std::string_view("STAFF\0X", 7)}));
  EXPECT_EQ(ThrownMessage([&] { t.FindKey({"A", "B"}); }), "GROUPS: The key has 1 fields; 2 values were given");
}

TEST_F(DbTablesTest, FindKeyWithThreeValues) {
  MakeRules();
  testsupport::ExecuteSql(dir_ + "/ACCESS.db",
                       "INSERT INTO ACCESS (MODULE, RESOURCE, ACTION, IPACTION) VALUES ('SERVER', '/WEB/', 'GET', 'A');"
                       "INSERT INTO ACCESS (MODULE, RESOURCE, ACTION, IPACTION) VALUES ('WEBFILE', 'ADMINISTRATOR', '', 'I');",
                       false);
  Table t;
  OpenTable(t, "ACCESS");
  ASSERT_TRUE(t.FindKey({"SERVER", "/WEB/", "GET"}));
  EXPECT_EQ(t.AsString("IPACTION"), "A");
  EXPECT_TRUE(t.FindKey({"WEBFILE", "ADMINISTRATOR", ""}));
  EXPECT_FALSE(t.FindKey({"SERVER", "/WEB/", "POST"}));
  EXPECT_FALSE(t.FindKey({"SERVER", "/WEB", "GET"}));
  EXPECT_THROW(t.FindKey({"SERVER"}), DbError);
}

TEST_F(DbTablesTest, FirstAndNextWalkThePrimaryKeyInOrder) {
  MakeGroups(
      "INSERT INTO GROUPS VALUES ('MIKE', 'm');"
      "INSERT INTO GROUPS VALUES ('ALPHA', 'a');"
      "INSERT INTO GROUPS VALUES ('ZULU', 'z');"
      "INSERT INTO GROUPS VALUES ('CHARLIE', 'c');");
  Table t;
  OpenTable(t, "GROUPS");
  EXPECT_EQ(t.RecordCount(), 4);
  std::vector<std::string> seen;
  for (t.First(); !t.Eof(); t.Next()) seen.push_back(t.AsString(0));
  EXPECT_EQ(seen, (std::vector<std::string>{"ALPHA", "CHARLIE", "MIKE", "ZULU"}));
  // Eof leaves the last record current.
  EXPECT_EQ(t.AsString(0), "ZULU");
  // Next after a key search goes on from the record found.
  ASSERT_TRUE(t.FindKey({"CHARLIE"}));
  t.Next();
  EXPECT_FALSE(t.Eof());
  EXPECT_EQ(t.AsString(0), "MIKE");
}

TEST_F(DbTablesTest, OpenIsOnTheFirstRecordAndEmptyTableIsEof) {
  MakeGroups("INSERT INTO GROUPS VALUES ('B', 'b'); INSERT INTO GROUPS VALUES ('A', 'a');");
  Table t;
  OpenTable(t, "GROUPS");
  EXPECT_FALSE(t.Eof());
  EXPECT_EQ(t.AsString(0), "A");
  MakeTable("FIELDS", "CREATE TABLE FIELDS (FIELDID TEXT PRIMARY KEY);");
  Table f;
  OpenTable(f, "FIELDS");
  EXPECT_TRUE(f.Eof());
  EXPECT_EQ(f.RecordCount(), 0);
  f.First();
  EXPECT_TRUE(f.Eof());
  f.Next();
  EXPECT_TRUE(f.Eof());
}

TEST_F(DbTablesTest, IntegersReadAsTheir32BitPattern) {
  MakeTable("USERS",
            "CREATE TABLE USERS (USERID TEXT PRIMARY KEY, LOGINNAME TEXT, PASSHASH INTEGER, SECGROUPS BLOB);"
            "INSERT INTO USERS VALUES ('SIGNED', 's', -1728511175, NULL);"
            "INSERT INTO USERS VALUES ('UNSIGNED', 'u', 2566456121, NULL);"
            "INSERT INTO USERS VALUES ('NULL', 'n', NULL, NULL);"
            "INSERT INTO USERS VALUES ('WORD', 'w', 'abc', NULL);"
            "INSERT INTO USERS VALUES ('HUGE', 'h', 99999999999, NULL);");
  Table t;
  OpenTable(t, "USERS");
  int hash = t.FieldIndex("PASSHASH");
  ASSERT_TRUE(t.FindKey({"SIGNED"}));
  EXPECT_EQ(t.AsInteger(hash), -1728511175);
  ASSERT_TRUE(t.FindKey({"UNSIGNED"}));
  EXPECT_EQ(t.AsInteger(hash), -1728511175);
  ASSERT_TRUE(t.FindKey({"NULL"}));
  EXPECT_EQ(t.AsInteger(hash), 0);
  EXPECT_EQ(t.AsString(hash), "");
  ASSERT_TRUE(t.FindKey({"WORD"}));
  EXPECT_EQ(ThrownMessage([&] { t.AsInteger(hash); }), "USERS: 'abc' is not a valid integer value for field PASSHASH");
  ASSERT_TRUE(t.FindKey({"HUGE"}));
  EXPECT_THROW(t.AsInteger(hash), DbError);
}

TEST_F(DbTablesTest, BlobsAreBytesReadLikeAStream) {
  MakeGroups();
  Table t;
  OpenTable(t, "GROUPS");
  std::string bytes("a\0b\rc\n", 6);
  t.Insert();
  t.SetString(0, "K");
  t.SetBlob(1, bytes);
  t.Post();
  ASSERT_TRUE(t.FindKey({"K"}));
  platform::BlobReader r = t.OpenBlob(1);
  EXPECT_EQ(r.Size(), 6u);
  char buf[4];
  EXPECT_EQ(r.Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), std::string("a\0b\r", 4));
  EXPECT_EQ(r.Read(buf, 4), 2u);
  EXPECT_EQ(std::string(buf, 2), "c\n");
  EXPECT_EQ(r.Read(buf, 4), 0u);
  r.Rewind();
  EXPECT_EQ(r.Read(buf, 1), 1u);
  EXPECT_EQ(buf[0], 'a');
}

// --- writing ----------------------------------------------------------------

TEST_F(DbTablesTest, InsertEditAndPost) {
  MakeRules();
  Table t;
  OpenTable(t, "ACCESS");
  t.Insert();
  t.SetString("MODULE", "SERVER");
  t.SetString("RESOURCE", "/WEB/");
  t.SetString("ACTION", "GET");
  t.SetString("ENFORCE", "Y");
  EXPECT_THROW(t.Edit(), DbError);  // in insert mode
  t.Post();
  EXPECT_NO_THROW(t.Edit());  // out of it, on the posted record
  t.Cancel();
  EXPECT_EQ(t.AsString("RESOURCE"), "/WEB/");  // the posted record is current
  EXPECT_EQ(t.RecordCount(), 1);

  ASSERT_TRUE(t.FindKey({"SERVER", "/WEB/", "GET"}));
  t.Edit();
  t.SetString("ENFORCE", "N");
  EXPECT_EQ(t.AsString("ENFORCE"), "N");  // the edit buffer
  t.Cancel();
  EXPECT_EQ(t.AsString("ENFORCE"), "Y");
  t.Edit();
  t.SetString("ENFORCE", "N");
  t.Post();
  Table other;
  OpenTable(other, "ACCESS");
  ASSERT_TRUE(other.FindKey({"SERVER", "/WEB/", "GET"}));
  EXPECT_EQ(other.AsString("ENFORCE"), "N");
}

TEST_F(DbTablesTest, PostWritesOnlyTheChangedFields) {
  MakeRules();
  testsupport::ExecuteSql(dir_ + "/ACCESS.db",
                       "INSERT INTO ACCESS (MODULE, RESOURCE, ACTION, ENFORCE, USERS) VALUES ('S', 'R', 'A', 'Y', 'old');",
                       false);
  Table editor;
  OpenTable(editor, "ACCESS");
  ASSERT_TRUE(editor.FindKey({"S", "R", "A"}));
  // Another program changes USERS meanwhile; this editor changes ENFORCE only.
  testsupport::ExecuteSql(dir_ + "/ACCESS.db", "UPDATE ACCESS SET USERS = 'new';", false);
  editor.Edit();
  editor.SetString("ENFORCE", "N");
  editor.Post();
  EXPECT_EQ(editor.AsString("USERS"), "new");
  EXPECT_EQ(editor.AsString("ENFORCE"), "N");
}

TEST_F(DbTablesTest, DuplicateKeyRaisesAndKeepsTheNewRecord) {
  MakeGroups("INSERT INTO GROUPS VALUES ('STAFF', 'Staff');");
  Table t;
  OpenTable(t, "GROUPS");
  t.Insert();
  t.SetString(0, "STAFF");
  t.SetString(1, "Other");
  std::string msg = ThrownMessage([&] { t.Post(); });
  EXPECT_NE(msg.find("UNIQUE constraint failed: GROUPS.GROUPID"), std::string::npos) << msg;
  EXPECT_THROW(t.Edit(), DbError);  // still in insert mode
  EXPECT_EQ(t.AsString(1), "Other");
  t.SetString(0, "OTHER");
  t.Post();
  EXPECT_EQ(t.RecordCount(), 2);
}

TEST_F(DbTablesTest, EditingNeedsARecordAndPostNeedsEditing) {
  MakeGroups();
  Table t;
  OpenTable(t, "GROUPS");
  EXPECT_EQ(ThrownMessage([&] { t.Edit(); }), "GROUPS: No current record");
  EXPECT_EQ(ThrownMessage([&] { t.Post(); }), "GROUPS: Table is not in edit or insert mode");
  EXPECT_EQ(ThrownMessage([&] { t.SetString(0, "X"); }), "GROUPS: Table is not in edit or insert mode");
}

TEST_F(DbTablesTest, MovingPostsAPendingEditAndCloseDropsIt) {
  MakeGroups("INSERT INTO GROUPS VALUES ('A', 'a');");
  Table t;
  OpenTable(t, "GROUPS");
  t.Insert();
  t.SetString(0, "B");
  t.First();  // posts B
  EXPECT_EQ(t.RecordCount(), 2);
  t.Insert();
  t.SetString(0, "C");
  t.Close();
  OpenTable(t, "GROUPS");
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_FALSE(t.FindKey({"C"}));
}

TEST_F(DbTablesTest, FlushOnAnOpenTable) {
  MakeGroups();
  Table t;
  OpenTable(t, "GROUPS");
  t.Insert();
  t.SetString(0, "X");
  t.Post();
  EXPECT_NO_THROW(t.Flush());
}

// --- between processes ------------------------------------------------------

TEST_F(DbTablesTest, RulePostedByAnotherProcessIsSeenAtTheNextLookup) {
  MakeRules();
  Table server;
  OpenTable(server, "ACCESS");
  ASSERT_FALSE(server.FindKey({"SERVER", "/WEB/", "GET"}));
  int rc = RunInChild([this] {
    Table editor;
    OpenTable(editor, "ACCESS");
    InsertWebRule(editor, "N");
    editor.Flush();
    return true;
  });
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(server.FindKey({"SERVER", "/WEB/", "GET"}));
  EXPECT_EQ(server.AsString("ENFORCE"), "N");

  rc = RunInChild([this] {
    Table editor;
    OpenTable(editor, "ACCESS");
    if (!editor.FindKey({"SERVER", "/WEB/", "GET"})) return false;
    editor.Edit();
    editor.SetString("ENFORCE", "Y");
    editor.Post();
    editor.Flush();
    return true;
  });
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(server.FindKey({"SERVER", "/WEB/", "GET"}));
  EXPECT_EQ(server.AsString("ENFORCE"), "Y");
}

TEST_F(DbTablesTest, KeySearchesInHandlersSeeOwnWritesAtOnceAndOthersOnceTheLoopCollected) {
  MakeRules();
  Table server, editor;
  OpenTable(server, "ACCESS");
  OpenTable(editor, "ACCESS");
  std::vector<std::string> seen;
  auto look = [&] { seen.push_back(server.FindKey({"SERVER", "/WEB/", "GET"}) ? server.AsString("ENFORCE") : "-"); };
  HWND h = platform::CreateWindowHandle([&](const platform::MSG& m) {
    look();
    if (m.message != platform::WM_USER) return;
    // This process's own write, through another table object.
    InsertWebRule(editor, "N");
    look();
    // Another process's, told from the next handler on.
    ASSERT_EQ(RunInChild([this] {
                Table other;
                OpenTable(other, "ACCESS");
                if (!other.FindKey({"SERVER", "/WEB/", "GET"})) return false;
                other.Edit();
                other.SetString("ENFORCE", "Y");
                other.Post();
                return true;
              }),
              0);
  });
  platform::DispatchMessage(platform::MSG{h, platform::WM_USER, 0, 0});
  platform::MSG m;
  platform::PeekMessage(m, 0, 0, 0, platform::PM_NOREMOVE);  // the loop collects
  platform::DispatchMessage(platform::MSG{h, platform::WM_USER + 1, 0, 0});
  platform::DestroyWindowHandle(h);
  EXPECT_EQ(seen, (std::vector<std::string>{"-", "N", "Y"}));
}

TEST_F(DbTablesTest, WritersAndReadersInSeveralProcessesDoNotFailEachOther) {
  MakeRules();
  constexpr int kWriters = 4, kRows = 40;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pids.push_back(StartChild([this, w] {
      Table t;
      OpenTable(t, "ACCESS");
      for (int i = 0; i < kRows; ++i) {
        t.Insert();
        t.SetString("MODULE", "SERVER");
        t.SetString("RESOURCE", "/W" + std::to_string(w) + "/" + std::to_string(i) + "/");
        t.SetString("ACTION", "GET");
        t.Post();
        t.Flush();
      }
      return true;
    }));
  }
  pids.push_back(StartChild([this] {
    Table t;
    OpenTable(t, "ACCESS");
    for (int i = 0; i < 200; ++i) {
      t.FindKey({"SERVER", "/W0/0/", "GET"});
      t.RecordCount();
    }
    return true;
  }));
  for (pid_t p : pids) EXPECT_EQ(WaitChild(p), 0);
  Table t;
  OpenTable(t, "ACCESS");
  EXPECT_EQ(t.RecordCount(), kWriters * kRows);
}

// Another process's connection to the table, made the way the sqlite3
// shell makes one.
class OtherConnection {
 public:
  explicit OtherConnection(const std::string& file) { sqlite3_open(file.c_str(), &db_); }
  ~OtherConnection() { sqlite3_close(db_); }
  OtherConnection(const OtherConnection&) = delete;
  OtherConnection& operator=(const OtherConnection&) = delete;
  std::string Exec(const std::string& sql) {
    std::string out;
    char* err = nullptr;
    auto row = [](void* text, int n, char** values, char**) {
      for (int i = 0; i < n; ++i) *static_cast<std::string*>(text) += values[i] ? values[i] : "";
      return 0;
    };
    if (sqlite3_exec(db_, sql.c_str(), row, &out, &err) != SQLITE_OK) out = std::string("error: ") + err;
    sqlite3_free(err);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

TEST_F(DbTablesTest, AWriterNeverHoldsUpAReader) {
  MakeRules();
  MakeTable("ACCESS", "INSERT INTO ACCESS (MODULE, RESOURCE, ACTION, ENFORCE) VALUES ('SERVER', '/WEB/', 'GET', 'N');");
  Table server;
  OpenTable(server, "ACCESS");
  OtherConnection other(dir_ + "/ACCESS.db");
  EXPECT_EQ(other.Exec("PRAGMA journal_mode"), "wal") << "an opened table is kept in the write-ahead log";
  // A writer in the middle of its transaction: the reader sees the last
  // committed rule at once.
  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE; UPDATE ACCESS SET ENFORCE = 'Y';"), "");
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(server.FindKey({"SERVER", "/WEB/", "GET"}));
  EXPECT_EQ(server.AsString("ENFORCE"), "N");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  ASSERT_EQ(other.Exec("COMMIT;"), "");
  ASSERT_TRUE(server.FindKey({"SERVER", "/WEB/", "GET"}));
  EXPECT_EQ(server.AsString("ENFORCE"), "Y");
}

TEST_F(DbTablesTest, ALockHoldsALookupUpOnlyBriefly) {
  MakeRules();
  MakeTable("ACCESS", "INSERT INTO ACCESS (MODULE, RESOURCE, ACTION, ENFORCE) VALUES ('SERVER', '/WEB/', 'GET', 'N');");
  // A reader at the open keeps the table in its old journal mode, where a
  // writer's exclusive lock shuts readers out.
  OtherConnection other(dir_ + "/ACCESS.db");
  ASSERT_EQ(other.Exec("BEGIN; SELECT count(*) FROM ACCESS;"), "1");
  Table server;
  OpenTable(server, "ACCESS");
  ASSERT_EQ(other.Exec("COMMIT; PRAGMA journal_mode;"), "delete");
  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE; UPDATE ACCESS SET ENFORCE = 'Y';"), "");
  auto start = std::chrono::steady_clock::now();
  EXPECT_NE(ThrownMessage([&] { server.FindKey({"SERVER", "/WEB/", "GET"}); }).find("locked"), std::string::npos);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  // The next lookup tries again.
  ASSERT_EQ(other.Exec("COMMIT;"), "");
  ASSERT_TRUE(server.FindKey({"SERVER", "/WEB/", "GET"}));
  EXPECT_EQ(server.AsString("ENFORCE"), "Y");
}

TEST_F(DbTablesTest, ADeadlineBoundsTheWaitForEveryKindOfLock) {
  struct Case {
    const char* what;
    off_t first, count;
    bool shuts_readers_out;
  };
  const Case cases[] = {
      {"the reader marks", testsupport::kShmReaderMarks, 5, true},
      {"every lock of the log", testsupport::kShmLocks, 8, true},
      {"the writer, checkpoint and recovery locks", testsupport::kShmLocks, 3, false},
  };
  MakeRules();
  MakeTable("ACCESS", "INSERT INTO ACCESS (MODULE, RESOURCE, ACTION, ENFORCE) VALUES ('SERVER', '/WEB/', 'GET', 'N');");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Table server;
    OpenTable(server, "ACCESS");
    testsupport::LockHolder other(dir_ + "/ACCESS.db-shm", k.first, k.count);
    ASSERT_TRUE(other.Held());
    {
      platform::DbDeadline deadline(std::chrono::milliseconds(100));
      auto start = std::chrono::steady_clock::now();
      if (!k.shuts_readers_out) {
        EXPECT_TRUE(server.FindKey({"SERVER", "/WEB/", "GET"})) << "a writer never holds up a reader";
        continue;
      }
      std::string message = ThrownMessage([&] { server.FindKey({"SERVER", "/WEB/", "GET"}); });
      auto waited = std::chrono::steady_clock::now() - start;
      EXPECT_NE(message.find("ACCESS: no answer within 100 ms"), std::string::npos) << message;
      EXPECT_GE(waited, std::chrono::milliseconds(90));
      EXPECT_LT(waited, std::chrono::milliseconds(300));
      // Once the time is up a further access fails without waiting again.
      message = ThrownMessage([&] { server.FindKey({"SERVER", "/OTHER/", "GET"}); });
      EXPECT_NE(message.find("no answer within 100 ms"), std::string::npos) << message;
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    }
    // The next lookup tries again.
    other.Release();
    EXPECT_TRUE(server.FindKey({"SERVER", "/WEB/", "GET"}));
  }
}

TEST_F(DbTablesTest, ExecuteSqlCreatesOnlyWhenAsked) {
  EXPECT_THROW(testsupport::ExecuteSql(dir_ + "/NEW.db", "CREATE TABLE NEW (X);", false), DbError);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/NEW.db"));
  testsupport::ExecuteSql(dir_ + "/NEW.db", "CREATE TABLE NEW (X);", true);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/NEW.db"));
  std::string msg = ThrownMessage([&] { testsupport::ExecuteSql(dir_ + "/NEW.db", "CREATE TABLE NEW (X);", false); });
  EXPECT_EQ(msg, dir_ + "/NEW.db: table NEW already exists");
}

}  // namespace
