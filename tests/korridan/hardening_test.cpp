// The server program against what an operator's machine can do to it: its
// state files replaced by something else, its logs directory taken away,
// its tables locked by another program, and SIGTERM in the middle of
// serving.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "console/statshistory.h"
#include "korridan_site.h"
#include "tests/support/lock_holder.h"

namespace korridan_test {
namespace {

constexpr char kOkStart[] = "HTTP/1.0 200 OK\r\n";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using Hardening = KorridanSite;

// Every line of a log is whole: an access line as the server writes it.
void ExpectWholeAccessLines(const std::string& log) {
  // Anonymous requests from the address ann logged in from are refused, and
  // logged as HEAD.
  static const std::regex kLine(R"(127\.0\.0\.1 - (-|ANN) \[[^\]]+\] "(GET|HEAD) /[^"]* HTTP/1\.0" (200|401) \d+)");
  ASSERT_TRUE(log.empty() || log.ends_with("\r\n")) << "the last line is cut";
  std::size_t start = 0;
  int lines = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    std::string line = log.substr(start, end - start);
    EXPECT_TRUE(std::regex_match(line, kLine)) << line;
    start = end + 2;
    ++lines;
  }
  EXPECT_GT(lines, 0);
}

TEST_F(Hardening, AStatisticsFileThatIsNoFileDoesNotHoldTheStartAndIsKept) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    const char* logged;     // the start's log line about it; none for a directory
    bool replaced_at_exit;  // by a whole statistics file
  };
  const Case cases[] = {
      {"directory", [](const std::string& f) { fs::create_directory(f); }, nullptr, false},
      // A FIFO would hold a blocking open until a writer came.
      {"FIFO", [](const std::string& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0666), 0); },
       "STATS.DAT: Not a regular file", false},
      {"garbage", [](const std::string& f) { WriteFile(f, std::string(1000, '\xA5')); }, "STATS.DAT: ", true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string file = prog_ + "STATS.DAT";
    fs::remove_all(file);
    k.make(file);
    Start();
    ASSERT_GE(WaitRunning(), 0) << Stderr();
    if (k.logged) {
      EXPECT_GE(WaitFor([&](const std::string& l) { return l.starts_with(k.logged); }, 0, 1s), 0);
    }
    EXPECT_TRUE(Get("/").starts_with(kOkStart));
    Signal(SIGTERM);
    ASSERT_EQ(WaitExit(), 0) << Stderr();
    if (k.replaced_at_exit) {
      EXPECT_EQ(fs::file_size(file), kStatFileSize);
    } else {
      EXPECT_FALSE(fs::is_regular_file(file)) << "left as it was";
      EXPECT_TRUE(Has(Stderr(), "message box [error]")) << Stderr();
    }
  }
}

TEST_F(Hardening, SigtermUnderLoadLeavesWholeStatisticsAndWholeLogLines) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  std::atomic<bool> go{true};
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 6; ++i) {
    clients.emplace_back([&, i] {
      while (go) {
        if (Get(i % 2 ? "/private/" : "/", i % 2 ? "ann:secret" : "").starts_with(kOkStart)) ++answered;
      }
    });
  }
  while (answered < 50) std::this_thread::sleep_for(5ms);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0) << Stderr();
  go = false;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(fs::file_size(prog_ + "STATS.DAT"), kStatFileSize);
  ExpectWholeAccessLines(ReadFile(prog_ + "Logs/ACCESS.LOG"));
}

TEST_F(Hardening, ALogsDirectoryThatGoesAwayIsMadeAgainByTheNextCycle) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  fs::remove_all(prog_ + "Logs");
  EXPECT_TRUE(Get("/").starts_with(kOkStart)) << "serving goes on";
  Signal(SIGHUP);
  auto until = std::chrono::steady_clock::now() + 10s;
  while (!fs::exists(prog_ + "Logs/ACCESS.LOG") && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(Get("/private/", "ann:secret").starts_with(kOkStart));
  EXPECT_TRUE(Has(ReadFile(prog_ + "Logs/ACCESS.LOG"), "\"GET /private/ HTTP/1.0\" 200")) << Stderr();
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

// A logs directory the server may not write to: a file in its place (which
// stops root as well), and for other users a directory without write
// permission. The failure is reported once; serving goes on.
TEST_F(Hardening, ALogsDirectoryThatCannotBeWrittenIsReportedOnceAndServingGoesOn) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  fs::remove_all(prog_ + "Logs");
  WriteFile(prog_ + "Logs", "not a directory\n");
  auto report = [](const std::string& l) { return Has(l, "ACCESS.LOG") && Has(l, "further log errors"); };
  Signal(SIGHUP);
  EXPECT_GE(WaitFor(report, 0, 10s), 0);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Get("/").starts_with(kOkStart));
  EXPECT_EQ(Count(report), 1);
  if (::geteuid() != 0) {
    // Made again, the logs reopen (the cycle reports the log it could not
    // keep); then a directory without write permission is reported once.
    fs::remove(prog_ + "Logs");
    fs::create_directory(prog_ + "Logs");
    Signal(SIGHUP);
    auto until = std::chrono::steady_clock::now() + 10s;
    while (!fs::exists(prog_ + "Logs/ACCESS.LOG") && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(10ms);
    const int before = Count(report);
    const size_t from = LineCount();
    ::chmod((prog_ + "Logs").c_str(), 0555);
    Signal(SIGHUP);
    EXPECT_GE(WaitFor([](const std::string& l) { return Has(l, "Permission denied"); }, from, 10s), 0);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Get("/").starts_with(kOkStart));
    EXPECT_EQ(Count(report), before + 1);
    ::chmod((prog_ + "Logs").c_str(), 0755);
  }
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0) << Stderr();
}

// A save cut short by kill -9 leaves its temporary file behind. A start
// removes those of processes that no longer run, where the program writes
// them (the statistics in the current directory, the settings beside the
// program), and nothing else.
TEST_F(Hardening, AStartRemovesTheSaveFilesOfEndedProcesses) {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  const std::string ended = std::to_string(pid), running = std::to_string(::getpid());
  cwd_ = root_ + "/cwd/";
  fs::create_directories(cwd_);
  struct Case {
    std::string file;
    bool removed;
  };
  const Case cases[] = {
      {cwd_ + "STATS.DAT." + ended + ".tmp", true},
      {prog_ + ".KORRIDAN.INI.tmp-" + ended + "-0", true},
      {prog_ + ".MIME.INI.tmp-" + ended + "-4", true},
      {cwd_ + "STATS.DAT." + running + ".tmp", false},
      {prog_ + ".KORRIDAN.INI.tmp-" + running + "-0", false},
      {prog_ + "STATS.DAT." + ended + ".tmp", false},
      {cwd_ + ".KORRIDAN.INI.tmp-" + ended + "-0", false},
      {prog_ + ".KORRIDAN.INI.tmp-" + ended, false},
  };
  for (const Case& k : cases) WriteFile(k.file, "left\n");
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  for (const Case& k : cases) EXPECT_EQ(fs::exists(k.file), !k.removed) << k.file;
  Signal(SIGTERM);
  ASSERT_EQ(WaitExit(), 0) << Stderr();
  EXPECT_EQ(fs::file_size(cwd_ + "STATS.DAT"), kStatFileSize);
}

// Another program holds the reader marks of a table's write-ahead log, so
// no lookup in it can be made. A request that needs one is refused at once
// (401, the store's error logged); one that needs none, from another
// client meanwhile, is not held up; once the locks are gone the table is
// read again.
TEST_F(Hardening, ATableLockedByAnotherProgramRefusesTheLookupAndHoldsUpNobody) {
  struct Case {
    const char* table;
    const char* logged;  // the line of the refused lookup
  };
  const Case cases[] = {
      {"ACCESS", "Access check failed in the security store: ACCESS: no answer within 100 ms"},
      {"USERS", "Password check failed in the security store: USERS: no answer within 100 ms"},
  };
  fs::copy_file(fs::path(KORRIDAN_PATH).parent_path() / "HELLO.DLL", prog_ + "HELLO.DLL");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.table);
    Start();
    ASSERT_GE(WaitRunning(), 0) << Stderr();
    ASSERT_TRUE(Get("/").starts_with(kOkStart));
    testsupport::LockHolder other(prog_ + "Data/" + k.table + ".db-shm", testsupport::kShmReaderMarks, 5);
    ASSERT_TRUE(other.Held());
    auto refused = [&](const std::string& l) { return Has(l, k.logged); };
    constexpr int kRounds = 3;
    for (int i = 0; i < kRounds; ++i) {
      std::string answer, hello;
      std::chrono::steady_clock::duration took{}, hello_took{};
      std::thread with_credentials([&] {
        auto start = std::chrono::steady_clock::now();
        answer = Get("/private/", "ann:secret");
        took = std::chrono::steady_clock::now() - start;
      });
      std::this_thread::sleep_for(20ms);
      auto start = std::chrono::steady_clock::now();
      hello = Get("/$hello", "", "127.0.0.2");
      hello_took = std::chrono::steady_clock::now() - start;
      with_credentials.join();
      EXPECT_TRUE(answer.starts_with("HTTP/1.0 401 ")) << answer;
      EXPECT_LT(took, 1s);
      EXPECT_TRUE(hello.starts_with(kOkStart)) << hello;
      EXPECT_LT(hello_took, 1s);
    }
    // The lines were written before the answers; the reader may lag behind.
    auto until = std::chrono::steady_clock::now() + 5s;
    while (Count(refused) < kRounds && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(Count(refused), kRounds) << "one line per refused lookup";
    other.Release();
    EXPECT_TRUE(Get("/private/", "ann:secret").starts_with(kOkStart));
    EXPECT_EQ(Count(refused), kRounds);
    Signal(SIGTERM);
    EXPECT_EQ(WaitExit(), 0) << Stderr();
  }
}

}  // namespace
}  // namespace korridan_test
