// Authentication: the access rules of directories, Basic credentials, the
// realm check by client address, and the "&" rule.
#include "tests/e2e/site.h"

namespace e2e {
namespace {

class AuthTest : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    AddRule(home_, "N");
    AddRule(home_ + "private/", "Y", "Staff");
    AddRule(home_ + "&members/", "N");
    WriteFile(home_ + "notes.txt", "public\n");
    WriteFile(home_ + "private/secret.txt", "staff only\n");
    WriteFile(home_ + "&members/list.txt", "members\n");
    WriteFile(home_ + "closed/x.txt", "no rule\n");
  }
  std::string Request(const std::string& method_url, const std::string& auth = "") {
    return method_url + " HTTP/1.0\r\n" + auth + "\r\n";
  }
};

TEST_F(AuthTest, ProtectedFileWithoutCredentialsIs401WithTheAuthenticateLine) {
  Start();
  EXPECT_EQ(Get(Request("GET /private/secret.txt")), Error(401, "Unauthorized"));
  EXPECT_EQ(AccessLog(), Line("", "GET /private/secret.txt HTTP/1.0", 401, 0));
}

TEST_F(AuthTest, ValidCredentialsInAnyCaseReachTheProtectedFile) {
  Start();
  EXPECT_EQ(Get(Request("GET /private/secret.txt", AuthLine("ann", "secret"))), Ok("text/plain", "staff only\n"));
  EXPECT_EQ(Get(Request("GET /private/secret.txt", AuthLine("ANN", "SeCrEt"))), Ok("text/plain", "staff only\n"));
  EXPECT_EQ(AccessLog(), Line("ANN", "GET /private/secret.txt HTTP/1.0", 200, 11) +
                             Line("ANN", "GET /private/secret.txt HTTP/1.0", 200, 11));
}

TEST_F(AuthTest, UserOutsideTheRulesGroupsIs401) {
  Start();
  EXPECT_EQ(Get(Request("GET /private/secret.txt", AuthLine("bob", "hunter2"))), Error(401, "Unauthorized"));
  EXPECT_EQ(AccessLog(), Line("BOB", "GET /private/secret.txt HTTP/1.0", 401, 0));
}

TEST_F(AuthTest, DirectoryWithoutARuleIsClosedToEverybody) {
  Start();
  EXPECT_EQ(Get(Request("GET /closed/x.txt", AuthLine("ann", "secret"))), Error(401, "Unauthorized"));
}

TEST_F(AuthTest, MissingFileIs404BeforeTheAccessCheck) {
  Start();
  EXPECT_EQ(Get(Request("GET /private/none.txt")), Error(404, "Not Found"));
}

TEST_F(AuthTest, Http11HeaderLinesAreRead) {
  Start();
  EXPECT_EQ(Get("GET /private/secret.txt HTTP/1.1\r\nHost: x\r\n" + AuthLine("ann", "secret") + "\r\n"),
            Ok("text/plain", "staff only\n"));
  // The version code stays "none" for HTTP/1.1.
  EXPECT_EQ(AccessLog(), Line("ANN", "GET /private/secret.txt ", 200, 11));
}

TEST_F(AuthTest, AddressThatLoggedInGets401WithoutCredentialsAndItsLineShowsHead) {
  Start();
  EXPECT_EQ(Get(Request("GET /notes.txt", AuthLine("ann", "secret")), "127.0.0.2"), Ok("text/plain", "public\n"));
  // The same address without credentials, even for a public file.
  EXPECT_EQ(Get(Request("GET /notes.txt"), "127.0.0.2"), Error(401, "Unauthorized"));
  // Another address is not affected.
  EXPECT_EQ(Get(Request("GET /notes.txt"), "127.0.0.3"), Ok("text/plain", "public\n"));
  // Credentials again are fine.
  EXPECT_EQ(Get(Request("GET /notes.txt", AuthLine("ann", "secret")), "127.0.0.2"), Ok("text/plain", "public\n"));
  EXPECT_EQ(AccessLog(), Line("ANN", "GET /notes.txt HTTP/1.0", 200, 7, "127.0.0.2") +
                             Line("", "HEAD /notes.txt HTTP/1.0", 401, 0, "127.0.0.2") +
                             Line("", "GET /notes.txt HTTP/1.0", 200, 7, "127.0.0.3") +
                             Line("ANN", "GET /notes.txt HTTP/1.0", 200, 7, "127.0.0.2"));
}

TEST_F(AuthTest, RealmRefusalOfAPostShowsHeadToo) {
  Start();
  EXPECT_EQ(Get(Request("GET /notes.txt", AuthLine("ann", "secret")), "127.0.0.4"), Ok("text/plain", "public\n"));
  EXPECT_EQ(Get("POST /notes.txt HTTP/1.0\r\nContent-Length: 0\r\n\r\n", "127.0.0.4"), Error(401, "Unauthorized"));
  EXPECT_NE(AccessLog().find(Line("", "HEAD /notes.txt HTTP/1.0", 401, 0, "127.0.0.4")), std::string::npos);
}

TEST_F(AuthTest, WrongPasswordCountsAsAnonymous) {
  Start();
  EXPECT_EQ(Get(Request("GET /private/secret.txt", AuthLine("ann", "wrong")), "127.0.0.5"),
            Error(401, "Unauthorized"));
  // The address was recorded without a user, so anonymous requests from it
  // are not refused afterwards.
  EXPECT_EQ(Get(Request("GET /notes.txt"), "127.0.0.5"), Ok("text/plain", "public\n"));
  EXPECT_EQ(Get(Request("GET /&members/list.txt", AuthLine("ann", "wrong")), "127.0.0.5"),
            Error(401, "Unauthorized"));
  EXPECT_EQ(Get(Request("GET /notes.txt", AuthLine("nobody", "x")), "127.0.0.5"), Ok("text/plain", "public\n"));
  EXPECT_EQ(AccessLog(), Line("", "GET /private/secret.txt HTTP/1.0", 401, 0, "127.0.0.5") +
                             Line("", "GET /notes.txt HTTP/1.0", 200, 7, "127.0.0.5") +
                             Line("", "GET /&members/list.txt HTTP/1.0", 401, 0, "127.0.0.5") +
                             Line("", "GET /notes.txt HTTP/1.0", 200, 7, "127.0.0.5"));
}

TEST_F(AuthTest, AmpersandUrlNeedsAValidUserWhateverItsDirectoryRuleSays) {
  Start();
  EXPECT_EQ(Get(Request("GET /&members/list.txt")), Error(401, "Unauthorized"));
  // Leading separators and "." segments, escaped or not, do not hide the "&".
  for (const char* url : {"//&members/list.txt", "/\\&members/list.txt", "/%2F&members/list.txt",
                          "/%5C/&members/list.txt", "/./&members/list.txt", "/%2e/&members/list.txt",
                          "//./&members/list.txt", "/.\\&members/list.txt", "/%2E%5C&members/list.txt"})
    EXPECT_EQ(Get(Request(std::string("GET ") + url)), Error(401, "Unauthorized")) << url;
  // No file lookup was made for any of them.
  EXPECT_EQ(ServerLog().find("Requested File"), std::string::npos);
}

TEST_F(AuthTest, AmpersandUrlWithAValidUserIsServed) {
  Start();
  EXPECT_EQ(Get(Request("GET /&members/list.txt", AuthLine("bob", "hunter2"))), Ok("text/plain", "members\n"));
  EXPECT_EQ(Get(Request("GET //&members/list.txt", AuthLine("bob", "hunter2"))), Ok("text/plain", "members\n"));
}

TEST_F(AuthTest, StoreErrorIsARefusalAndIsLogged) {
  Start();
  // An account table that cannot be read any more: the password check
  // fails closed and the request counts as anonymous.
  Sql("USERS", "DROP TABLE USERS;");
  EXPECT_EQ(Get(Request("GET /private/secret.txt", AuthLine("ann", "secret")), "127.0.0.6"),
            Error(401, "Unauthorized"));
  EXPECT_NE(ServerLog().find("Password check failed in the security store: "), std::string::npos);
  // The public directory is still served.
  EXPECT_EQ(Get(Request("GET /notes.txt"), "127.0.0.7"), Ok("text/plain", "public\n"));
}

TEST_F(AuthTest, RuleStoreErrorIsA401AndIsLogged) {
  Start();
  Sql("ACCESS", "DROP TABLE ACCESS;");
  EXPECT_EQ(Get(Request("GET /notes.txt")), Error(401, "Unauthorized"));
  EXPECT_NE(ServerLog().find("Access check failed in the security store: "), std::string::npos);
}

}  // namespace
}  // namespace e2e
