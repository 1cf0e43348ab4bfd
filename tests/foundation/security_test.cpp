#include "foundation/security.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "foundation/securitystore.h"
#include "tests/foundation/testdirs.h"
#include "tests/support/execute_sql.h"
#include "tests/support/security_tables.h"

using platform::Table;
using List = std::vector<std::string>;

namespace {

// --- hash -------------------------------------------------------------------

TEST(PasswordHash, EmptyPasswordGivesTheStartValue) {
  EXPECT_EQ(PasswordHash("", 1), 0xFFFFFFFEu);
  EXPECT_EQ(PasswordHash(nullptr, 0, 1), 0xFFFFFFFEu);
}

TEST(PasswordHash, KnownValues) {
  EXPECT_EQ(PasswordHash("SECRET"), 0x98F90339u);
  EXPECT_EQ(static_cast<std::int32_t>(PasswordHash("SECRET")), -1728511175);
  // With seed 0 and a final inversion it is the standard CRC-32.
  EXPECT_EQ(~PasswordHash("123456789", 0), 0xCBF43926u);
}

TEST(PasswordHash, StepUsesTheReflectedTable) {
  EXPECT_EQ(Crc32Step(0, 0), 0u);
  EXPECT_EQ(Crc32Step(1, 0), 0x77073096u);    // table entry 1
  EXPECT_EQ(Crc32Step(255, 0), 0x2D02EF8Du);  // table entry 255
  EXPECT_EQ(Crc32Step(0x41, 0x100), Crc32Step(0x41, 0) ^ 1u);
}

TEST(UpcaseShortString, OnlyLettersAToZChange) {
  ShortString s("abc xyz ABC 09 \xe4\xff-_");
  UpcaseShortString(s);
  EXPECT_EQ(s.str(), "ABC XYZ ABC 09 \xe4\xff-_");
  std::string t = "mixed Case";
  UpcaseShortString(t);
  EXPECT_EQ(t, "MIXED CASE");
}

// --- address patterns ----------------------------------------------------------

struct PatternCase {
  const char* pattern;
  const char* address;
  bool match;
};
constexpr PatternCase kPatternCases[] = {
      {"*", "10.1.2.3", true},
      {"*", "192.168.0.1", true},
      {"192.168.*", "192.168.0.1", true},
      {"192.168.*", "192.168.255.7", true},
      {"192.168.*", "192.169.0.1", false},
      {"192.168.*", "10.168.0.1", false},
      {"192.168.*.5", "192.168.7.9", true},  // the star ends the comparison
      {"010.1.2.3", "10.1.2.3", false},      // leading zeros count
      {"10.1.2.3", "10.1.2.3", true},
      {"10.1.2.3", "10.1.2.4", false},
      {"192.168", "192.168.168.168", true},  // the last part repeats
      {"192.168", "192.168.0.1", false},
      {"192.168", "192.168.168.1", false},
      {"1.2.3.4.5", "1.2.3.4", false},  // the fourth part is "4.5"
      {"1.2.3.4.5", "1.2.3.4.5", true},
      {"1.2.3.*", "1.2.3.77", true},
      {"1.2.3.4*", "1.2.3.45", false},  // only a whole part "*" is a star
      {"", "1.2.3.4", false},
      {"*.*.*.*", "10.1.2.3", true},
      {"10.*.*.*", "10.1.2.3", true},
      {"10.*.*.*", "11.1.2.3", false},
};

TEST(MatchIPPattern, ExamplesOfTheRules) {
  for (const auto& c : kPatternCases)
    EXPECT_EQ(MatchIPPattern(c.address, c.pattern), c.match) << c.pattern << " / " << c.address;
}

TEST(ReadIPPattern, GivesTheFourPartsTheCheckCompares) {
  const std::pair<const char*, const char*> cases[] = {
      {"10.1.2.3", "10.1.2.3"},   {"192.168.*.5", "192.168.*.*"}, {"192.168.*", "192.168.*.*"},
      {"*", "*.*.*.*"},           {"*.*.*.*", "*.*.*.*"},         {"*.5", "*.*.*.*"},
      {"192.168", "192.168.168.168"}, {"1.2.3.4.5", "1.2.3.4.5"}, {"010.1.2.3", "010.1.2.3"},
      {"1.2.3.4*", "1.2.3.4*"},   {"", "..."},                     {"10..1", "10..1.1"},
  };
  for (auto [pattern, reading] : cases) EXPECT_EQ(ReadIPPattern(pattern), reading) << pattern;
}

TEST(ReadIPPattern, MatchesWhatThePatternMatches) {
  for (const auto& p : kPatternCases) {
    std::string reading = ReadIPPattern(p.pattern);
    EXPECT_EQ(ReadIPPattern(reading), reading) << p.pattern;
    for (const auto& a : kPatternCases)
      EXPECT_EQ(MatchIPPattern(a.address, reading), MatchIPPattern(a.address, p.pattern))
          << p.pattern << " read as " << reading << " / " << a.address;
  }
}

TEST(MatchIPOctet, GivesZeroOneOrTwo) {
  EXPECT_EQ(MatchIPOctet(1, "10.*", "10.1.2.3"), 2);
  EXPECT_EQ(MatchIPOctet(2, "10.*", "10.1.2.3"), 1);
  EXPECT_EQ(MatchIPOctet(3, "10.*", "10.1.2.3"), 1);  // "*" repeats
  EXPECT_EQ(MatchIPOctet(1, "11.*", "10.1.2.3"), 0);
  EXPECT_EQ(MatchIPOctet(4, "1.2.3.4.5", "1.2.3.4"), 0);
  EXPECT_EQ(MatchIPOctet(4, "1.2.3.4.5", "9.9.9.4.5"), 2);
}

TEST(MatchIPList, LettersDecide) {
  List none;
  List local{"127.0.0.1", "10.*"};
  EXPECT_FALSE(MatchIPList('A', "1.2.3.4", none));
  EXPECT_TRUE(MatchIPList('D', "1.2.3.4", none));
  EXPECT_TRUE(MatchIPList('I', "1.2.3.4", none));
  EXPECT_TRUE(MatchIPList('A', "10.9.9.9", local));
  EXPECT_FALSE(MatchIPList('A', "11.9.9.9", local));
  EXPECT_FALSE(MatchIPList('D', "127.0.0.1", local));
  EXPECT_TRUE(MatchIPList('D', "11.9.9.9", local));
  EXPECT_FALSE(MatchIPList('a', "10.9.9.9", local));
  EXPECT_FALSE(MatchIPList('i', "10.9.9.9", local));
  EXPECT_FALSE(MatchIPList('\0', "10.9.9.9", local));
  EXPECT_FALSE(MatchIPList('X', "10.9.9.9", local));
}

TEST(ListsIntersect, ComparesWithoutRegardToCase) {
  EXPECT_TRUE(ListsIntersect({"a", "Staff"}, {"STAFF"}));
  EXPECT_FALSE(ListsIntersect({"a", "b"}, {"c"}));
  EXPECT_FALSE(ListsIntersect({}, {"c"}));
  EXPECT_FALSE(ListsIntersect({"c"}, {}));
}

// --- checks against the store ---------------------------------------------------

class SecurityCheckTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    SecurityStoreInit();
    data_ = MakeDir("Data");
    CreateSecurityTables(data_);
    ASSERT_EQ(platform::DbiAddAlias("FIXTURE", "PATH:" + data_), platform::kDbiOk);
    AddGroup("Staff");
    AddGroup("Admins");
    AddUser("Ann", "secret", {"Staff"});
    AddUser("Bob", "pw", {"Admins", "Ghosts"});
    AddUser("Carl", "pw", {});
    OpenSecurityStore("", data_, "");
  }
  void TearDown() override {
    CloseSecurityTables();
    TempDirTest::TearDown();
  }
  void Open(Table& t, const char* name) {
    t.SetDatabaseName("FIXTURE");
    t.SetTableName(name);
    t.Open();
  }
  static std::string Upper(std::string s) {
    UpcaseShortString(s);
    return s;
  }
  static std::string NameList(const List& items) {
    std::string blob;
    WriteNameList(blob, items);
    return blob;
  }
  void AddGroup(const std::string& display) {
    Table t;
    Open(t, "GROUPS");
    t.Insert();
    t.SetString("GROUPID", Upper(display));
    t.SetString("DISPLAY", display);
    t.Post();
  }
  void AddUser(const std::string& login, const std::string& password, const List& groups) {
    Table t;
    Open(t, "USERS");
    t.Insert();
    t.SetString("USERID", Upper(login));
    t.SetString("LOGINNAME", login);
    t.SetString("PASSHASH", std::to_string(static_cast<std::int32_t>(PasswordHash(Upper(password)))));
    t.SetBlob(t.FieldIndex("SECGROUPS"), NameList(groups));
    t.Post();
  }
  struct Rule {
    std::string resource{};
    std::string ipaction = "I";
    std::string enforce = "Y";
    List groups{}, users{}, ipaddr{};
  };
  void AddRule(const Rule& r) {
    Table t;
    Open(t, "ACCESS");
    t.Insert();
    t.SetString("MODULE", "SERVER");
    t.SetString("RESOURCE", r.resource);
    t.SetString("ACTION", "GET");
    t.SetString("IPACTION", r.ipaction);
    t.SetString("ENFORCE", r.enforce);
    t.SetBlob(t.FieldIndex("GROUPS"), NameList(r.groups));
    t.SetBlob(t.FieldIndex("USERS"), NameList(r.users));
    t.SetBlob(t.FieldIndex("IPADDR"), NameList(r.ipaddr));
    t.Post();
    t.Flush();
  }
  bool Allowed(const std::string& user, const std::string& address = "10.0.0.1",
               const std::string& file = "/web/private/page.htm") {
    return CheckAccess(file, user, address);
  }
  std::string data_;
};

TEST_F(SecurityCheckTest, PasswordInAnyCasePassesAndBothComeBackUpperCased) {
  ShortString user("ann"), password("Secret");
  EXPECT_TRUE(CheckPassword(user, password));
  EXPECT_EQ(user.str(), "ANN");
  EXPECT_EQ(password.str(), "SECRET");
}

TEST_F(SecurityCheckTest, WrongPasswordOrUnknownUserFails) {
  ShortString user("ann"), password("secrets");
  EXPECT_FALSE(CheckPassword(user, password));
  EXPECT_EQ(password.str(), "SECRETS");
  ShortString nobody("nobody"), pw("secret");
  EXPECT_FALSE(CheckPassword(nobody, pw));
  EXPECT_EQ(nobody.str(), "NOBODY");
  ShortString empty, none;
  EXPECT_FALSE(CheckPassword(empty, none));
}

TEST_F(SecurityCheckTest, HashStoredAsUnsignedNumberAlsoPasses) {
  CloseSecurityTables();
  testsupport::ExecuteSql(data_ + "/USERS.db",
                       "INSERT INTO USERS (USERID, LOGINNAME, PASSHASH) VALUES ('DORA', 'dora', 2566456121);", false);
  OpenSecurityStore("", data_, "");
  ShortString user("dora"), password("secret");
  EXPECT_TRUE(CheckPassword(user, password));
}

TEST_F(SecurityCheckTest, StoreErrorIsARefusalWithItsMessage) {
  AddRule({.resource = "/WEB/PRIVATE/", .enforce = "N"});
  CloseSecurityTables();
  std::string error;
  ShortString user("ann"), password("secret");
  EXPECT_FALSE(CheckPassword(user, password, &error));
  EXPECT_EQ(error, "USERS: Cannot perform this operation on a closed table");
  error.clear();
  EXPECT_FALSE(CheckAccess("/web/private/page.htm", "ANN", "10.0.0.1", &error));
  EXPECT_EQ(error, "ACCESS: Cannot perform this operation on a closed table");
  EXPECT_FALSE(CheckAccessRule("SERVER", "/WEB/PRIVATE/", "GET", "ANN", "10.0.0.1"));
}

TEST_F(SecurityCheckTest, NotEnforcedRuleAllowsEverybodyFromEverywhere) {
  AddRule({.resource = "/WEB/PRIVATE/", .ipaction = "A", .enforce = "N"});
  EXPECT_TRUE(Allowed(""));
  EXPECT_TRUE(Allowed("NOBODY", "203.0.113.9"));
  EXPECT_TRUE(Allowed("ANN"));
}

TEST_F(SecurityCheckTest, OnlyCapitalNMeansNotEnforced) {
  for (const char* enforce : {"Y", "n", "", "NO", " N"}) {
    CloseSecurityTables();
    std::filesystem::remove(data_ + "/ACCESS.db");
    CreateSecurityTables(data_);
    AddRule({.resource = "/WEB/PRIVATE/", .enforce = enforce});
    OpenSecurityStore("", data_, "");
    EXPECT_FALSE(Allowed("")) << '"' << enforce << '"';
    EXPECT_FALSE(Allowed("CARL")) << '"' << enforce << '"';
  }
}

TEST_F(SecurityCheckTest, MissingRuleRefusesEverybody) {
  AddRule({.resource = "/WEB/", .enforce = "N"});
  EXPECT_FALSE(Allowed("ANN"));  // rules do not inherit: /web/private/ has none
  EXPECT_FALSE(Allowed(""));
}

TEST_F(SecurityCheckTest, EnforcedRuleWithoutGroupsOrUsersAllowsNobody) {
  AddRule({.resource = "/WEB/PRIVATE/"});
  EXPECT_FALSE(Allowed("ANN"));
  EXPECT_FALSE(Allowed("BOB"));
  EXPECT_FALSE(Allowed(""));
}

TEST_F(SecurityCheckTest, SharedGroupPasses) {
  AddRule({.resource = "/WEB/PRIVATE/", .groups = {"STAFF"}});
  EXPECT_TRUE(Allowed("ANN"));
  EXPECT_FALSE(Allowed("BOB"));
  EXPECT_FALSE(Allowed(""));
}

TEST_F(SecurityCheckTest, GroupMissingFromGroupsDoesNotCount) {
  AddRule({.resource = "/WEB/PRIVATE/", .groups = {"Ghosts"}});
  EXPECT_FALSE(Allowed("BOB"));  // Bob is in Ghosts, which GROUPS does not hold
}

TEST_F(SecurityCheckTest, ListedUserPassesInAnyCase) {
  AddRule({.resource = "/WEB/PRIVATE/", .users = {"carl"}});
  EXPECT_TRUE(Allowed("CARL"));
  EXPECT_FALSE(Allowed("ANN"));
}

TEST_F(SecurityCheckTest, ListedUserMissingFromUsersIsRefused) {
  AddRule({.resource = "/WEB/PRIVATE/", .users = {"ERIC"}});
  EXPECT_FALSE(Allowed("ERIC"));
}

TEST_F(SecurityCheckTest, AddressListDecidesAfterTheUser) {
  AddRule({.resource = "/WEB/A/", .ipaction = "A", .users = {"CARL"}});
  AddRule({.resource = "/WEB/D/", .ipaction = "D", .users = {"CARL"}});
  AddRule({.resource = "/WEB/LOCAL/", .ipaction = "A", .users = {"CARL"}, .ipaddr = {"10.*", "127.0.0.1"}});
  AddRule({.resource = "/WEB/DENY/", .ipaction = "Deny", .users = {"CARL"}, .ipaddr = {"10.*"}});
  AddRule({.resource = "/WEB/LOWER/", .ipaction = "i", .users = {"CARL"}});
  AddRule({.resource = "/WEB/EMPTY/", .ipaction = "", .users = {"CARL"}});
  EXPECT_FALSE(Allowed("CARL", "10.0.0.1", "/web/a/x.htm"));
  EXPECT_TRUE(Allowed("CARL", "10.0.0.1", "/web/d/x.htm"));
  EXPECT_TRUE(Allowed("CARL", "10.7.7.7", "/web/local/x.htm"));
  EXPECT_TRUE(Allowed("CARL", "127.0.0.1", "/web/local/x.htm"));
  EXPECT_FALSE(Allowed("CARL", "192.168.1.1", "/web/local/x.htm"));
  EXPECT_FALSE(Allowed("CARL", "10.1.1.1", "/web/deny/x.htm"));
  EXPECT_TRUE(Allowed("CARL", "11.1.1.1", "/web/deny/x.htm"));
  EXPECT_FALSE(Allowed("CARL", "10.0.0.1", "/web/lower/x.htm"));
  EXPECT_FALSE(Allowed("CARL", "10.0.0.1", "/web/empty/x.htm"));
}

TEST_F(SecurityCheckTest, ResourceIsTheUpperCasedDirectoryOfTheFile) {
  AddRule({.resource = "/WEB/PRIVATE/", .enforce = "N"});
  AddRule({.resource = "/", .enforce = "N"});
  EXPECT_TRUE(Allowed("", "1.1.1.1", "/Web/Private/INDEX.htm"));
  EXPECT_TRUE(Allowed("", "1.1.1.1", "/index.htm"));  // the root has its own rule
  EXPECT_FALSE(Allowed("", "1.1.1.1", "/web/private/sub/page.htm"));
  EXPECT_FALSE(Allowed("", "1.1.1.1", "no-directory.htm"));
  EXPECT_TRUE(CheckAccessRule("SERVER", "/web/private/", "GET", "", "1.1.1.1"));
  EXPECT_FALSE(CheckAccessRule("SERVER", "/web/private/", "get", "", "1.1.1.1"));
}

TEST_F(SecurityCheckTest, HostileNamesAreJustKeys) {
  AddRule({.resource = "/WEB/PRIVATE/", .users = {"CARL"}});
  EXPECT_FALSE(Allowed("' OR '1'='1"));
  EXPECT_FALSE(Allowed("%"));
  ShortString user("%"), password("");
  EXPECT_FALSE(CheckPassword(user, password));
}

TEST_F(SecurityCheckTest, RuleChangedByTheEditorAppliesAtTheNextLookup) {
  AddRule({.resource = "/WEB/PRIVATE/"});
  EXPECT_FALSE(Allowed("ANN"));
  {
    Table t;
    Open(t, "ACCESS");
    ASSERT_TRUE(t.FindKey({"SERVER", "/WEB/PRIVATE/", "GET"}));
    t.Edit();
    t.SetBlob(t.FieldIndex("GROUPS"), NameList({"Staff"}));
    t.Post();
    t.Flush();
  }
  EXPECT_TRUE(Allowed("ANN"));
}

}  // namespace
