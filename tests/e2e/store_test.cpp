// The security tables changed under the running server by other programs:
// a writer in the middle of its transaction, a damaged file, a file deleted.
// Every request is answered at once, a store that cannot answer refuses
// (401, logged), and the server serves again once the table is sound.
#include <sqlite3.h>

#include "tests/e2e/site.h"

namespace e2e {
namespace {

class StoreTest : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    AddRule(home_, "N");
    WriteFile(home_ + "notes.txt", "public\n");
  }
  // The answer to a public page, and how long it took.
  std::string TimedGet(std::chrono::milliseconds& took) {
    auto start = std::chrono::steady_clock::now();
    std::string answer = Get("GET /notes.txt HTTP/1.0\r\n\r\n");
    took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return answer;
  }
};

TEST_F(StoreTest, AWriterHoldingItsTransactionDoesNotHoldUpTheServer) {
  Start();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((prog_ + "Data/ACCESS.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; UPDATE ACCESS SET ENFORCE = 'Y';", nullptr, nullptr, nullptr),
            SQLITE_OK);
  for (int i = 0; i < 3; ++i) {
    std::chrono::milliseconds took{};
    EXPECT_EQ(TimedGet(took), Ok("text/plain", "public\n")) << "the last committed rule holds";
    EXPECT_LT(took.count(), 500);
  }
  sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(other);
}

// The server keeps the table open: a damaged file gives the store's error
// (or, while its pages are still cached, the last answer), a deleted one
// the last state. Either way every request is answered at once, a refusal
// is logged with the store's error, and the server stops cleanly.
TEST_F(StoreTest, ADamagedOrDeletedTableNeverHoldsUpOrBreaksTheServer) {
  const std::string table = prog_ + "Data/ACCESS.db";
  struct Case {
    const char* what;
    std::function<void()> spoil;
  };
  const Case cases[] = {
      {"damaged", [&] {
         // Garbage over every page, in place, as a failing disk or a stray
         // write would leave it.
         std::string size = ReadFile(table);
         std::fstream f(table, std::ios::in | std::ios::out | std::ios::binary);
         f << std::string(size.size(), '\x5A');
       }},
      {"deleted", [&] {
         for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(table + suffix);
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Start();
    std::chrono::milliseconds took{};
    ASSERT_EQ(TimedGet(took), Ok("text/plain", "public\n"));
    k.spoil();
    bool refused = false;
    for (int i = 0; i < 3; ++i) {
      std::string answer = TimedGet(took);
      refused = refused || answer == Error(401, "Unauthorized");
      EXPECT_TRUE(answer == Ok("text/plain", "public\n") || answer == Error(401, "Unauthorized")) << answer;
      EXPECT_LT(took.count(), 1000);
    }
    if (refused) {
      EXPECT_NE(ServerLog().find("Access check failed in the security store: "), std::string::npos);
    }
    Stop();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(table + suffix);
    CreateSecurityTables(prog_ + "Data");
    AddRule(home_, "N");
  }
}

}  // namespace
}  // namespace e2e
