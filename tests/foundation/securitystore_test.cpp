#include "foundation/securitystore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/foundation/childprocess.h"
#include "tests/foundation/testdirs.h"
#include "tests/support/execute_sql.h"
#include "tests/support/security_tables.h"

using platform::BlobReader;
using platform::DbError;
using platform::Table;
using List = std::vector<std::string>;

namespace {

std::string ThrownMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const DbError& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

List Read(const std::string& bytes, Table* filter = nullptr) {
  BlobReader blob(bytes);
  List list{"left over"};
  ReadNameList(blob, list, filter);
  return list;
}

// --- reading name lists -------------------------------------------------------

TEST(ReadNameList, ItemsEachEndWithACarriageReturn) {
  EXPECT_EQ(Read("Staff\rAdmins\r"), (List{"Staff", "Admins"}));
  EXPECT_EQ(Read(""), List{});
}

TEST(ReadNameList, NulEndsAnItemToo) {
  EXPECT_EQ(Read(std::string("a\0b\rc\0", 6)), (List{"a", "b", "c"}));
}

TEST(ReadNameList, LineFeedStaysPartOfTheItem) {
  EXPECT_EQ(Read("one\n\rtwo\r"), (List{"one\n", "two"}));
}

TEST(ReadNameList, UnterminatedLastItemIsIgnored) {
  EXPECT_EQ(Read("first\rsecond"), List{"first"});
  EXPECT_EQ(Read("lonely"), List{});
}

TEST(ReadNameList, TwoCarriageReturnsGiveAnEmptyItem) {
  EXPECT_EQ(Read("a\r\rb\r"), (List{"a", "", "b"}));
}

TEST(ReadNameList, BytesBeyondThe255thAreDropped) {
  std::string item(300, 'x');
  List list = Read(item + "\rnext\r");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], std::string(255, 'x'));
  EXPECT_EQ(list[1], "next");
}

TEST(ReadNameList, ItemSpanningTheChunkBoundary) {
  std::string first(95, 'a');
  std::string second = "0123456789";  // bytes 96..105 straddle the first 100
  EXPECT_EQ(Read(first + "\r" + second + "\r"), (List{first, second}));
}

TEST(ReadNameList, BlobOfExactly100BytesEndingWithCarriageReturn) {
  std::string bytes = std::string(49, 'a') + "\r" + std::string(49, 'b') + "\r";
  ASSERT_EQ(bytes.size(), 100u);
  EXPECT_EQ(Read(bytes), (List{std::string(49, 'a'), std::string(49, 'b')}));
  // Without the final carriage return the last item is not one.
  bytes.back() = 'b';
  EXPECT_EQ(Read(bytes), (List{std::string(49, 'a')}));
}

TEST(ReadNameList, BlobOfExactly200Bytes) {
  std::string bytes;
  List expected;
  for (int i = 0; i < 20; ++i) {
    std::string item = "item" + std::to_string(100000 + i);  // 10 bytes
    item.resize(9);
    bytes += item + "\r";
    expected.push_back(item);
  }
  ASSERT_EQ(bytes.size(), 200u);
  EXPECT_EQ(Read(bytes), expected);
}

TEST(ReadNameList, LongBlobIsReadWhole) {
  std::string bytes;
  List expected;
  for (int i = 0; i < 500; ++i) {
    expected.push_back("user" + std::to_string(i));
    bytes += expected.back() + "\r";
  }
  EXPECT_EQ(Read(bytes), expected);
}

// --- writing name lists -------------------------------------------------------

TEST(WriteNameList, EachItemFollowedByOneCarriageReturn) {
  std::string out;
  WriteNameList(out, {"Staff", "192.168.*", ""});
  EXPECT_EQ(out, std::string("Staff\r192.168.*\r\r"));
  std::string empty;
  WriteNameList(empty, {});
  EXPECT_EQ(empty, "");
}

TEST(WriteNameList, ItemsHoldingCarriageReturnOrNulAreLeftOut) {
  std::string out;
  WriteNameList(out, {"good", "bad\rsplit", std::string("nul\0inside", 10), "also good", "line\nfeed"});
  EXPECT_EQ(out, "good\ralso good\rline\nfeed\r");
  EXPECT_EQ(Read(out), (List{"good", "also good", "line\nfeed"}));
}

TEST(WriteNameList, LongItemsAreCutTo254) {
  std::string out;
  WriteNameList(out, {std::string(254, 'a'), std::string(255, 'b'), std::string(1000, 'c')});
  EXPECT_EQ(out, std::string(254, 'a') + "\r" + std::string(254, 'b') + "\r" + std::string(254, 'c') + "\r");
  EXPECT_EQ(Read(out), (List{std::string(254, 'a'), std::string(254, 'b'), std::string(254, 'c')}));
}

TEST(WriteNameList, AppendsToTheStream) {
  std::string out = "x\r";
  WriteNameList(out, {"y"});
  EXPECT_EQ(out, "x\ry\r");
}

// --- the store ----------------------------------------------------------------

class SecurityStoreTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    SecurityStoreInit();
    data_ = MakeDir("Data");
    CreateSecurityTables(data_);
  }
  void TearDown() override {
    CloseSecurityTables();
    TempDirTest::TearDown();
  }
  // A table of dir, opened through an alias of its own.
  void OpenAt(Table& t, const std::string& dir, const std::string& name) {
    std::string alias = "FIXTURE_" + std::to_string(std::hash<std::string>{}(dir));
    platform::DbiAddAlias(alias, "PATH:" + dir);
    t.SetDatabaseName(alias);
    t.SetTableName(name);
    t.Open();
  }
  void AddGroup(const std::string& dir, const std::string& key, const std::string& display) {
    Table t;
    OpenAt(t, dir, "GROUPS");
    t.Insert();
    t.SetString("GROUPID", key);
    t.SetString("DISPLAY", display);
    t.Post();
  }
  std::string data_;
};

TEST_F(SecurityStoreTest, ServerVariantRegistersBothAliasesAndOpens) {
  std::string second = MakeDir("HalvDB");
  OpenSecurityStore("", data_ + "/", second + "/");
  SecurityStore& s = SecurityStore::Instance();
  EXPECT_TRUE(s.Open);
  EXPECT_EQ(s.DataDirectory, data_ + "/");
  EXPECT_TRUE(s.Users.Active() && s.Groups.Active() && s.Access.Active() && s.Fields.Active());
  std::string path;
  ASSERT_TRUE(platform::LookupAlias("HALVORINE", path));
  EXPECT_EQ(path, data_ + "/");
  ASSERT_TRUE(platform::LookupAlias("HALVDB", path));
  EXPECT_EQ(path, second + "/");
  EXPECT_EQ(s.Users.FileName(), data_ + "/USERS.db");
  EXPECT_EQ(s.UsersPassHash, 2);
  EXPECT_EQ(s.UsersSecGroups, 3);
  EXPECT_EQ(s.AccessIpAction, 3);
  EXPECT_EQ(s.AccessEnforce, 4);
  EXPECT_EQ(s.AccessGroups, 5);
  EXPECT_EQ(s.AccessUsers, 6);
  EXPECT_EQ(s.AccessIpAddr, 7);
}

TEST_F(SecurityStoreTest, EmptySecondDirectoryRegistersNoSecondAlias) {
  OpenSecurityStore("", data_, "");
  std::string path;
  EXPECT_FALSE(platform::LookupAlias("HALVDB", path));
}

TEST_F(SecurityStoreTest, RegisteredDataDirectoryWinsOverANewOne) {
  std::string first = MakeDir("First");
  CreateSecurityTables(first);
  AddGroup(first, "OLD", "Old");
  ASSERT_EQ(platform::DbiAddAlias("HALVORINE", "PATH:" + first), platform::kDbiOk);
  OpenSecurityStore("", data_, "");
  SecurityStore& s = SecurityStore::Instance();
  EXPECT_EQ(s.Groups.FileName(), first + "/GROUPS.db");
  EXPECT_TRUE(s.Groups.FindKey({"OLD"}));
  // The tool variant alike.
  CloseSecurityTables();
  OpenSecurityStore("", data_);
  EXPECT_EQ(SecurityStore::Instance().Groups.FileName(), first + "/GROUPS.db");
}

TEST_F(SecurityStoreTest, GivenAliasOpensThroughItWithoutRegistering) {
  ASSERT_EQ(platform::DbiAddAlias("MYDB", "PATH:" + data_), platform::kDbiOk);
  OpenSecurityStore("MYDB", "/nowhere/", "/nowhere/either/");
  EXPECT_TRUE(SecurityStore::Instance().Open);
  std::string path;
  EXPECT_FALSE(platform::LookupAlias("HALVORINE", path));
  EXPECT_FALSE(platform::LookupAlias("HALVDB", path));
  EXPECT_EQ(SecurityStore::Instance().Access.FileName(), platform::WithOneTrailingSlash(data_) + "ACCESS.db");
}

TEST_F(SecurityStoreTest, ToolVariantRefusesAnOverlongDataDirectory) {
  std::string dir249 = "/" + std::string(248, 'd');
  std::string dir250 = dir249 + "x";
  EXPECT_EQ(ThrownMessage([&] { OpenSecurityStore("", dir250); }),
            "The data directory is longer than 249 characters: " + dir250);
  std::string path;
  EXPECT_FALSE(platform::LookupAlias("HALVORINE", path));
  EXPECT_FALSE(SecurityStore::Instance().Open);
  // 249 characters are accepted (and then the directory is missing).
  EXPECT_EQ(ThrownMessage([&] { OpenSecurityStore("", dir249); }),
            "USERS: Directory not found: " + dir249 + " (alias HALVORINE)");
  ASSERT_TRUE(platform::LookupAlias("HALVORINE", path));
  EXPECT_EQ(path, dir249);
}

TEST_F(SecurityStoreTest, MissingDataDirectoryRaisesAndStaysClosed) {
  std::string gone = root_ + "/NoData/";
  EXPECT_EQ(ThrownMessage([&] { OpenSecurityStore("", gone, ""); }),
            "USERS: Directory not found: " + gone + " (alias HALVORINE)");
  EXPECT_FALSE(SecurityStore::Instance().Open);
}

TEST_F(SecurityStoreTest, MissingTableClosesTheTablesOpenedBeforeIt) {
  std::filesystem::remove(data_ + "/ACCESS.db");
  EXPECT_EQ(ThrownMessage([&] { OpenSecurityStore("", data_, ""); }),
            "ACCESS: Table file not found: " + data_ + "/ACCESS.db");
  SecurityStore& s = SecurityStore::Instance();
  EXPECT_FALSE(s.Open);
  EXPECT_FALSE(s.Users.Active());
  EXPECT_FALSE(s.Groups.Active());
  EXPECT_FALSE(s.Access.Active());
  EXPECT_FALSE(std::filesystem::exists(data_ + "/ACCESS.db"));
}

TEST_F(SecurityStoreTest, MissingFieldRaisesAndStaysClosed) {
  std::filesystem::remove(data_ + "/ACCESS.db");
  testsupport::ExecuteSql(data_ + "/ACCESS.db",
                       "CREATE TABLE ACCESS (MODULE TEXT, RESOURCE TEXT, ACTION TEXT, IPACTION TEXT, ENFORCE TEXT, "
                       "GROUPS BLOB, USERS BLOB, PRIMARY KEY (MODULE, RESOURCE, ACTION));",
                       true);
  EXPECT_EQ(ThrownMessage([&] { OpenSecurityStore("", data_, ""); }), "ACCESS: Field 'IPADDR' not found");
  EXPECT_FALSE(SecurityStore::Instance().Open);
  EXPECT_FALSE(SecurityStore::Instance().Fields.Active());
}

TEST_F(SecurityStoreTest, MissingFieldsTableIsAnError) {
  std::filesystem::remove(data_ + "/FIELDS.db");
  EXPECT_EQ(ThrownMessage([&] { OpenSecurityStore("", data_, ""); }),
            "FIELDS: Table file not found: " + data_ + "/FIELDS.db");
  EXPECT_FALSE(SecurityStore::Instance().Users.Active());
}

TEST_F(SecurityStoreTest, CloseClosesAllFourOnlyWhenOpen) {
  CloseSecurityTables();  // closed: nothing happens
  OpenSecurityStore("", data_, "");
  CloseSecurityTables();
  SecurityStore& s = SecurityStore::Instance();
  EXPECT_FALSE(s.Open);
  EXPECT_FALSE(s.Users.Active() || s.Groups.Active() || s.Access.Active() || s.Fields.Active());
  CloseSecurityTables();
  // Reopening after a close works, as at every server start.
  OpenSecurityStore("", data_, "");
  EXPECT_TRUE(s.Open);
}

TEST_F(SecurityStoreTest, FilterKeepsStoredCaseAndDropsUnknownItems) {
  AddGroup(data_, "STAFF", "Staff");
  AddGroup(data_, "", "the empty key");
  OpenSecurityStore("", data_, "");
  Table* groups = &SecurityStore::Instance().Groups;
  EXPECT_EQ(Read("Staff\rNobody\rstaff\r", groups), (List{"Staff", "staff"}));
  // An empty item stays only where the filter has an empty key.
  EXPECT_EQ(Read("a\r\rb\r"), (List{"a", "", "b"}));
  EXPECT_EQ(Read("a\r\rb\r", groups), List{""});
}

TEST_F(SecurityStoreTest, EmptyItemIsDroppedByAFilterWithoutSuchKey) {
  AddGroup(data_, "STAFF", "Staff");
  OpenSecurityStore("", data_, "");
  EXPECT_EQ(Read("Staff\r\r", &SecurityStore::Instance().Groups), List{"Staff"});
}

TEST_F(SecurityStoreTest, ReadsANameListFromATableField) {
  {
    Table users;
    OpenAt(users, data_, "USERS");
    users.Insert();
    users.SetString("USERID", "ANN");
    std::string blob;
    WriteNameList(blob, {"Staff", "Admins"});
    users.SetBlob(users.FieldIndex("SECGROUPS"), blob);
    users.Post();
  }
  OpenSecurityStore("", data_, "");
  SecurityStore& s = SecurityStore::Instance();
  ASSERT_TRUE(s.Users.FindKey({"ANN"}));
  List list;
  ReadNameList(s.Users, s.UsersSecGroups, list, nullptr);
  EXPECT_EQ(list, (List{"Staff", "Admins"}));
}

// The script run in the data directory, as an administrator does, makes the
// same tables as CreateSecurityTables, which points it at another directory.
TEST_F(SecurityStoreTest, SchemaScriptMakesTheSameTables) {
  std::string scripted = MakeDir("Scripted");
  int rc = RunInChild([&] {
    if (chdir(scripted.c_str()) != 0) return false;
    std::ifstream in(HALV_SCHEMA_SCRIPT);
    std::string sql((std::istreambuf_iterator<char>(in)), {});
    if (sql.empty()) return false;
    testsupport::ExecuteSql(":memory:", sql, true);
    return true;
  });
  ASSERT_EQ(rc, 0);
  auto describe = [](const std::string& file, const std::string& table) {
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* st = nullptr;
      std::string sql = "PRAGMA table_info(" + table + ")";
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
      while (st && sqlite3_step(st) == SQLITE_ROW)
        for (int c = 1; c <= 5; ++c) {
          const unsigned char* t = sqlite3_column_text(st, c);
          out += (t ? reinterpret_cast<const char*>(t) : "null") + std::string(c == 5 ? ";" : ",");
        }
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
  };
  for (const char* table : {"USERS", "GROUPS", "ACCESS", "FIELDS"}) {
    std::string file = std::string("/") + table + ".db";
    std::string made = describe(data_ + file, table);
    EXPECT_FALSE(made.empty()) << table;
    EXPECT_EQ(describe(scripted + file, table), made) << table;
  }
  EXPECT_EQ(describe(data_ + "/USERS.db", "USERS"),
            "USERID,TEXT,0,null,1;LOGINNAME,TEXT,0,null,0;PASSHASH,INTEGER,0,null,0;SECGROUPS,BLOB,0,null,0;");
  // And the store opens them.
  OpenSecurityStore("", scripted, "");
  EXPECT_TRUE(SecurityStore::Instance().Open);
}

TEST_F(SecurityStoreTest, CreatingAgainKeepsTheRows) {
  AddGroup(data_, "STAFF", "Staff");
  CreateSecurityTables(data_);
  OpenSecurityStore("", data_, "");
  EXPECT_TRUE(SecurityStore::Instance().Groups.FindKey({"STAFF"}));
}

}  // namespace
