// The editor side of the security store: what a rule loads as, and the
// bytes a save leaves in ACCESS.
#include "tools/accessrules.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "tests/tools/tools_fixture.h"

namespace tools_test {
namespace {

using List = TNameList;
using AccessRules = ToolsTest;

TEST_F(AccessRules, AKeyWithoutARowLoadsEnforcedIgnoringAddressesWithEveryGroupAvailable) {
  List ips{"left"}, available{"left"}, allowed{"left"};
  std::string action = "left";
  bool enforce = false;
  EXPECT_FALSE(LoadAccessRule("server", "/srv/", "get", ips, action, available, allowed, enforce));
  EXPECT_TRUE(enforce);
  EXPECT_EQ(action, "I");
  EXPECT_EQ(ips, List{});
  EXPECT_EQ(allowed, List{});
  EXPECT_EQ(available, (List{"Admins", "Guests", "Staff"}));  // in key order

  List users{"left"}, allowed_users{"left"};
  EXPECT_FALSE(LoadUserLists("server", "/srv/", "get", false, users, allowed_users));
  EXPECT_EQ(allowed_users, List{});
  EXPECT_EQ(users, (List{"ann", "Bob"}));
}

TEST_F(AccessRules, SaveWritesUpperCasedKeysAndEachItemFollowedByOneCarriageReturn) {
  {
    TAccessSave save;
    SaveAccessRule("server", "/srv/web/", "get", {"10.0.0.*", "127.0.0.1"}, "d", {"Admins", "Staff"}, false);
    SaveAccessUsers("server", "/srv/web/", "get", {"ann", "Bob"});
    save.Commit();
  }
  StoredRule r = Stored("SERVER", "/SRV/WEB/", "GET");
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.ipaction, "D");
  EXPECT_EQ(r.enforce, "N");
  EXPECT_EQ(r.groups, "Admins\rStaff\r");
  EXPECT_EQ(r.ipaddr, "10.0.0.*\r127.0.0.1\r");
  EXPECT_EQ(r.users, "ann\rBob\r");

  // A second save of the rule alone keeps its users; empty lists are empty blobs.
  SaveAccessRule("SERVER", "/SRV/WEB/", "GET", {}, "I", {}, true);
  r = Stored("SERVER", "/SRV/WEB/", "GET");
  EXPECT_EQ(r.enforce, "Y");
  EXPECT_EQ(r.groups, "");
  EXPECT_EQ(r.ipaddr, "");
  EXPECT_EQ(r.users, "ann\rBob\r");
}

TEST_F(AccessRules, NamesGoneFromTheirTablesAreDroppedAndAllowedOnesAreNotOfferedWhateverTheirCase) {
  Sql("ACCESS",
      "INSERT INTO ACCESS VALUES ('SERVER','/A/','GET','A','y',CAST('STAFF'||char(13)||'Former'||char(13) AS BLOB),"
      "CAST('ANN'||char(13)||'gone'||char(13) AS BLOB),CAST('1.2.3.4'||char(13) AS BLOB));");
  List ips, available, allowed;
  std::string action;
  bool enforce = false;
  ASSERT_TRUE(LoadAccessRule("SERVER", "/a/", "GET", ips, action, available, allowed, enforce));
  EXPECT_TRUE(enforce);  // only "N" opens a rule
  EXPECT_EQ(action, "A");
  EXPECT_EQ(ips, List{"1.2.3.4"});
  EXPECT_EQ(allowed, List{"STAFF"});
  EXPECT_EQ(available, (List{"Admins", "Guests"}));
  List users, allowed_users;
  ASSERT_TRUE(LoadUserLists("SERVER", "/a/", "GET", false, users, allowed_users));
  EXPECT_EQ(allowed_users, List{"ANN"});
  EXPECT_EQ(users, List{"Bob"});
}

TEST_F(AccessRules, ProgressMovesEveryTwentiethOfTheAccountsAndEndsAtTheCount) {
  for (int accounts : {45, 10}) {
    Sql("USERS", "DELETE FROM USERS;");
    for (int i = 0; i < accounts; ++i)
      Sql("USERS", "INSERT INTO USERS VALUES ('U" + std::to_string(i) + "','u" + std::to_string(i) + "',0,NULL);");
    std::vector<int> shown;
    int observer = platform::ui::AddChangeObserver([&](platform::ui::Component& c, std::string_view what) {
      if (&c == ProgressForm->Gauge && what == "Progress") shown.push_back(ProgressForm->Gauge->Progress());
    });
    List users, allowed;
    LoadUserLists("SERVER", "/", "GET", true, users, allowed);
    platform::ui::RemoveChangeObserver(observer);
    std::erase(shown, 0);  // the reset to 0 before the count
    std::vector<int> expected;
    int step = accounts / 20 ? accounts / 20 : 1;
    for (int n = step; n <= accounts; n += step) expected.push_back(n);
    if (expected.back() != accounts) expected.push_back(accounts);
    EXPECT_EQ(shown, expected) << accounts << " accounts";
    EXPECT_EQ(ProgressForm->Caption(), "Loading User List...");
    EXPECT_EQ(ProgressForm->Gauge->MaxValue(), accounts);
    EXPECT_FALSE(ProgressForm->Visible());
    EXPECT_EQ(users.size(), static_cast<size_t>(accounts));
  }
}

TEST_F(AccessRules, AnUncommittedSaveIsNeverSeenAndIsDroppedWhole) {
  SaveAccessRule("SERVER", "/R/", "GET", {"1.1.1.1"}, "A", {"Staff"}, true);
  {
    TAccessSave save;
    SaveAccessRule("SERVER", "/R/", "GET", {"2.2.2.2"}, "D", {"Admins"}, false);
    SaveAccessUsers("SERVER", "/R/", "GET", {"ann"});
    // Another program reads the rule as the last complete save left it.
    StoredRule during = Stored("SERVER", "/R/", "GET");
    EXPECT_EQ(during.groups, "Staff\r");
    EXPECT_EQ(during.ipaddr, "1.1.1.1\r");
    EXPECT_EQ(during.users, "");
  }  // not committed
  StoredRule after = Stored("SERVER", "/R/", "GET");
  EXPECT_EQ(after.groups, "Staff\r");
  EXPECT_EQ(after.ipaction, "A");
  EXPECT_EQ(after.users, "");
  // The store's own view went back too.
  List ips, available, allowed;
  std::string action;
  bool enforce = false;
  LoadAccessRule("SERVER", "/R/", "GET", ips, action, available, allowed, enforce);
  EXPECT_EQ(allowed, List{"Staff"});
}

TEST_F(AccessRules, ASaveWaitsForAnotherWritersTransactionAndWinsAfterIt) {
  SaveAccessRule("SERVER", "/R/", "GET", {}, "I", {"Staff"}, true);
  // Another manager's save holds the write lock longer than a lookup waits.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((data_ + "ACCESS.db").c_str(), &other), SQLITE_OK);
  sqlite3_busy_timeout(other, 5000);
  ASSERT_EQ(sqlite3_exec(other,
                         "BEGIN IMMEDIATE; UPDATE ACCESS SET GROUPS = CAST('Guests'||char(13) AS BLOB) "
                         "WHERE RESOURCE = '/R/';",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::thread finisher([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  });
  std::string error;
  try {
    TAccessSave save;
    SaveAccessRule("SERVER", "/R/", "GET", {}, "I", {"Admins"}, true);
    save.Commit();
  } catch (const std::exception& e) {
    error = e.what();
  }
  finisher.join();
  EXPECT_EQ(error, "");
  sqlite3_close(other);
  EXPECT_EQ(Stored("SERVER", "/R/", "GET").groups, "Admins\r");
}

TEST_F(AccessRules, ASaveToATableFileRemovedSinceItWasOpenedIsRefused) {
  std::filesystem::rename(data_ + "ACCESS.db", data_ + "ACCESS.old");
  try {
    TAccessSave save;
    ADD_FAILURE() << "began a save on a removed file";
  } catch (const platform::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("was removed or replaced"), std::string::npos) << e.what();
  }
}

TEST(IPPatternQuestion, AsksWhenTheCheckReadsAPatternOtherwiseThanWritten) {
  // The patterns of the access check's own examples, and a few more.
  const std::pair<const char*, const char*> cases[] = {
      {"10.1.2.3", ""},
      {"0.0.0.0", ""},
      {"255.255.255.255", ""},
      {"1.2.3.*", ""},
      {"192.168.*", ""},  // a final star stands for the rest
      {"*", ""},
      {"*.*.*.*", ""},
      {"10.*.*", ""},
      {"192.168.*.5", "The access check reads 192.168.*.5 as 192.168.*.*. Change it?"},
      {"10.*.0.1", "The access check reads 10.*.0.1 as 10.*.*.*. Change it?"},
      {"192.168", "The access check reads 192.168 as 192.168.168.168. Change it?"},
      {"10.0.0", "The access check reads 10.0.0 as 10.0.0.0. Change it?"},
      {"*.5", "The access check reads *.5 as *.*.*.*, which matches every address. Change it?"},
      {"1.2.3.4.5", "The access check matches no address with 1.2.3.4.5: no address has the part \"4.5\". Change it?"},
      {"010.1.2.3", "The access check matches no address with 010.1.2.3: no address has the part \"010\". Change it?"},
      {"1.2.3.4*", "The access check matches no address with 1.2.3.4*: no address has the part \"4*\". Change it?"},
      {"10.0.0.256",
       "The access check matches no address with 10.0.0.256: no address has the part \"256\". Change it?"},
      {"192.300", "The access check matches no address with 192.300: no address has the part \"300\". Change it?"},
      {"a.b.c.d", "The access check matches no address with a.b.c.d: no address has the part \"a\". Change it?"},
      {"10..0.1", "The access check matches no address with 10..0.1: no address has an empty part. Change it?"},
      {"10.0.0.", "The access check matches no address with 10.0.0.: no address has an empty part. Change it?"},
  };
  for (auto [pattern, question] : cases) EXPECT_EQ(IPPatternQuestion(pattern), question) << pattern;
}

}  // namespace
}  // namespace tools_test
