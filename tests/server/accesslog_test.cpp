#include "server/accesslog.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

// ---- Small routines ----

TEST(LogRoutines, ZeroPadAndTwoDigits) {
  EXPECT_EQ(ZeroPad("5", '0', 4), "0005");
  EXPECT_EQ(ZeroPad("12345", '0', 4), "12345");
  EXPECT_EQ(ZeroPad("", '*', 2), "**");
  EXPECT_EQ(TwoDigits(0), "00");
  EXPECT_EQ(TwoDigits(9), "09");
  EXPECT_EQ(TwoDigits(10), "10");
  EXPECT_EQ(TwoDigits(59), "59");
}

TEST(LogRoutines, MonthAbbreviations) {
  const char* expected[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(MonthAbbrev(m), expected[m - 1]);
  EXPECT_EQ(MonthAbbrev(0), "");
  EXPECT_EQ(MonthAbbrev(13), "");
}

TEST(LogRoutines, Timestamp) {
  EXPECT_EQ(LogTimestamp(platform::EncodeDateTime(1997, 12, 7, 14, 3, 9)), "[07/Dec/1997:14:03:09]");
  EXPECT_EQ(LogTimestamp(platform::EncodeDateTime(2005, 1, 31, 0, 0, 0)), "[31/Jan/2005:00:00:00]");
  EXPECT_EQ(LogTimestamp(platform::EncodeDateTime(2024, 6, 1, 23, 59, 59, 999)), "[01/Jun/2024:23:59:59]");
}

TEST(LogRoutines, DatedNameStamp) {
  EXPECT_EQ(LogNameStamp(platform::EncodeDateTime(1997, 12, 7, 14, 3, 9)), "971207-140309");
  EXPECT_EQ(LogNameStamp(platform::EncodeDateTime(2005, 6, 7, 8, 9, 10)), "50607-080910");
  EXPECT_EQ(LogNameStamp(platform::EncodeDateTime(2000, 1, 2, 0, 0, 0)), "00102-000000");
}

TEST(LogRoutines, ControlCharactersAreEscaped) {
  EXPECT_EQ(EscapeControlChars("plain text, 100% ~"), "plain text, 100% ~");
  EXPECT_EQ(EscapeControlChars("a\r\nb"), "a%0D%0Ab");
  EXPECT_EQ(EscapeControlChars(std::string("\0\x1f\x7f\x80\xff", 5)), "%00%1F%7F\x80\xff");
  EXPECT_EQ(EscapeControlChars("\t"), "%09");
  EXPECT_EQ(EscapeControlChars(""), "");
}

TEST(LogRoutines, OnlyA200ShowsItsContentLength) {
  EXPECT_EQ(LoggedContentLength(200, 1234), 1234);
  EXPECT_EQ(LoggedContentLength(404, 1234), 0);
  EXPECT_EQ(LoggedContentLength(401, 77), 0);
  EXPECT_EQ(LoggedContentLength(501, 5), 0);
}

// ---- The logs ----

class Logs : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/accesslog-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root = tmpl;
    dir = root / "logs";
    fs::create_directory(dir);
    plugin_record = root / "plugin.txt";
    ::setenv("HALVLOG_FILE", plugin_record.c_str(), 1);
    platform::SetNow(platform::EncodeDateTime(1997, 12, 7, 14, 3, 9));
    log.OnError = [this](const std::string& m) { reports.push_back(m); };
  }
  void TearDown() override {
    CloseLogs(log);
    platform::ResetClock();
    ::unsetenv("HALVLOG_FILE");
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, ec);
    fs::remove_all(root, ec);
  }

  std::string Dir() const { return dir.string() + "/"; }
  bool Open(bool access, bool referer, bool browser, bool combined) {
    return OpenLogs(log, Dir(), access, referer, browser, combined);
  }
  static TLogEntry Entry(int32_t cid = 3) {
    TLogEntry e;
    e.cid = cid;
    e.client = "10.0.0.1";
    e.user = "ALICE";
    e.method = "GET";
    e.url = "index.html";
    e.protocol = "HTTP/1.0";
    e.status = 200;
    e.content_length = 1234;
    e.referer = "http://r/";
    e.user_agent = "Agent/1.0 (X)";
    return e;
  }
  std::vector<std::string> PluginCalls() const {
    std::vector<std::string> out;
    std::istringstream s(ReadFile(plugin_record));
    for (std::string line; std::getline(s, line);) out.push_back(line);
    return out;
  }

  fs::path root, dir, plugin_record;
  TAccessLog log;
  std::vector<std::string> reports;
};

constexpr const char* kStamp = "[07/Dec/1997:14:03:09]";

#ifdef HALVLOG_PATH
TEST_F(Logs, PluginStandInIsBuiltBesideTheTests) {
  EXPECT_TRUE(fs::exists(HALVLOG_PATH)) << HALVLOG_PATH;
  EXPECT_EQ(fs::path(HALVLOG_PATH).filename(), "HALVLOG.DLL");
  EXPECT_EQ(fs::path(HALVLOG_PATH).parent_path(), fs::read_symlink("/proc/self/exe").parent_path());
}
#endif

TEST_F(Logs, SeparateModeLinesByteForByte) {
  ASSERT_TRUE(Open(true, true, true, false));
  EXPECT_TRUE(log.Opened);
  EXPECT_EQ(log.AccessPath.str(), Dir() + "ACCESS.LOG");
  EXPECT_EQ(log.RefererPath.str(), Dir() + "REFERER.LOG");
  EXPECT_EQ(log.BrowserPath.str(), Dir() + "BROWSER.LOG");
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"),
            std::string("10.0.0.1 - ALICE ") + kStamp + " \"GET /index.html HTTP/1.0\" 200 1234\r\n");
  EXPECT_EQ(ReadFile(dir / "REFERER.LOG"), std::string(kStamp) + " http://r/ -> index.html\r\n");
  EXPECT_EQ(ReadFile(dir / "BROWSER.LOG"), std::string(kStamp) + " Agent/1.0 (X)\r\n");
  EXPECT_TRUE(reports.empty());
}

TEST_F(Logs, CombinedModeEndsTheAccessLineWithRefererAndAgent) {
  ASSERT_TRUE(Open(true, true, true, true));
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"), std::string("10.0.0.1 - ALICE ") + kStamp +
                                              " \"GET /index.html HTTP/1.0\" 200 1234 http://r/ Agent/1.0 (X)\r\n");
  EXPECT_FALSE(fs::exists(dir / "REFERER.LOG"));
  EXPECT_FALSE(fs::exists(dir / "BROWSER.LOG"));
}

TEST_F(Logs, CombinedModeWithEmptyRefererAndAgentKeepsTheBlanks) {
  ASSERT_TRUE(Open(true, false, false, true));
  TLogEntry e = Entry();
  e.referer = "";
  e.user_agent = "";
  EXPECT_TRUE(WriteLogEntry(log, e));
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"),
            std::string("10.0.0.1 - ALICE ") + kStamp + " \"GET /index.html HTTP/1.0\" 200 1234  \r\n");
}

TEST_F(Logs, CombinedModeWithoutAccessWritesNothing) {
  ASSERT_TRUE(Open(false, true, true, true));
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Logs, AllFlagsOffOpensNoFileButThePluginHearsEveryRequest) {
  ASSERT_TRUE(Open(false, false, false, false));
  EXPECT_TRUE(WriteLogEntry(log, Entry(3)));
  EXPECT_TRUE(WriteLogEntry(log, Entry(4)));
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_EQ(PluginCalls(), (std::vector<std::string>{"StartLog", "LogWrite 3", "LogWrite 4"}));
}

TEST_F(Logs, RequestWithoutRefererOrAgentWritesNoSuchLine) {
  ASSERT_TRUE(Open(true, true, true, false));
  TLogEntry e = Entry();
  e.referer = "";
  EXPECT_TRUE(WriteLogEntry(log, e));
  e = Entry();
  e.user_agent = "";
  EXPECT_TRUE(WriteLogEntry(log, e));
  EXPECT_EQ(ReadFile(dir / "REFERER.LOG"), std::string(kStamp) + " http://r/ -> index.html\r\n");
  EXPECT_EQ(ReadFile(dir / "BROWSER.LOG"), std::string(kStamp) + " Agent/1.0 (X)\r\n");
}

TEST_F(Logs, EmptyIdentityAndUserShowDashes) {
  ASSERT_TRUE(Open(true, false, false, false));
  TLogEntry e = Entry();
  e.user = "";
  e.method = "";
  e.protocol = "";
  e.status = 501;
  e.content_length = 0;
  EXPECT_TRUE(WriteLogEntry(log, e));
  e = Entry();
  e.identity = "ident";
  EXPECT_TRUE(WriteLogEntry(log, e));
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"),
            std::string("10.0.0.1 - - ") + kStamp + " \" /index.html \" 501 0\r\n" + "10.0.0.1 ident ALICE " + kStamp +
                " \"GET /index.html HTTP/1.0\" 200 1234\r\n");
}

TEST_F(Logs, OneTimestampPerEntryTakenFromTheClock) {
  ASSERT_TRUE(Open(true, true, false, false));
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  platform::SetNow(platform::EncodeDateTime(2005, 1, 2, 3, 4, 5));
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_EQ(ReadFile(dir / "REFERER.LOG"), std::string(kStamp) + " http://r/ -> index.html\r\n" +
                                               "[02/Jan/2005:03:04:05] http://r/ -> index.html\r\n");
}

TEST_F(Logs, ExistingLogIsAppendedTo) {
  WriteFile(dir / "ACCESS.LOG", "old line\r\n");
  ASSERT_TRUE(Open(true, false, false, false));
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"),
            std::string("old line\r\n10.0.0.1 - ALICE ") + kStamp + " \"GET /index.html HTTP/1.0\" 200 1234\r\n");
}

TEST_F(Logs, MissingSeparatorAfterTheDirectoryIsPutIn) {
  ASSERT_TRUE(OpenLogs(log, dir.string(), true, false, false, false));
  EXPECT_EQ(log.LogsDir.str(), dir.string());
  EXPECT_EQ(log.AccessPath.str(), Dir() + "ACCESS.LOG");
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_TRUE(fs::exists(dir / "ACCESS.LOG"));
  EXPECT_FALSE(fs::exists(root / "logsACCESS.LOG"));
}

TEST_F(Logs, EmptyDirectoryMeansTheCurrentDirectory) {
  std::string cwd = fs::current_path();
  fs::current_path(dir);
  bool ok = OpenLogs(log, "", true, false, false, false);
  WriteLogEntry(log, Entry());
  CloseLogs(log);
  fs::current_path(cwd);
  EXPECT_TRUE(ok);
  EXPECT_EQ(log.AccessPath.str(), "ACCESS.LOG");
  EXPECT_TRUE(fs::exists(dir / "ACCESS.LOG"));
}

TEST_F(Logs, ControlCharactersInFieldsCannotForgeALine) {
  ASSERT_TRUE(Open(true, true, true, false));
  TLogEntry e = Entry();
  std::string url = "x\r\n10.0.0.1 - ADMIN [01/Jan/2000:00:00:00] \"GET /secret HTTP/1.0\" 200 1";
  std::string referer = "http://r/\r\nforged";
  std::string agent = std::string("A\x1b[2J\x7f", 6);
  e.url = url;
  e.referer = referer;
  e.user_agent = agent;
  e.user = "BO\tB";
  EXPECT_TRUE(WriteLogEntry(log, e));
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"),
            std::string("10.0.0.1 - BO%09B ") + kStamp +
                " \"GET /x%0D%0A10.0.0.1 - ADMIN [01/Jan/2000:00:00:00] %22GET /secret HTTP/1.0%22 200 1 HTTP/1.0\" 200 "
                "1234\r\n");
  EXPECT_EQ(ReadFile(dir / "REFERER.LOG"), std::string(kStamp) + " http://r/%0D%0Aforged -> x%0D%0A10.0.0.1 - ADMIN " +
                                               "[01/Jan/2000:00:00:00] %22GET /secret HTTP/1.0%22 200 1\r\n");
  EXPECT_EQ(ReadFile(dir / "BROWSER.LOG"), std::string(kStamp) + " A%1B[2J%7F\r\n");
}

TEST_F(Logs, PluginIsStartedToldEachRequestAndStopped) {
  ASSERT_TRUE(Open(true, false, false, false));
  EXPECT_NE(log.Plugin, nullptr);
  EXPECT_NE(log.StartLog, nullptr);
  EXPECT_NE(log.StopLog, nullptr);
  EXPECT_NE(log.LogWrite, nullptr);
  EXPECT_NE(log.LogIsStarted, nullptr);
  EXPECT_TRUE(WriteLogEntry(log, Entry(7)));
  EXPECT_TRUE(WriteLogEntry(log, Entry(255)));
  EXPECT_TRUE(CloseLogs(log));
  EXPECT_FALSE(log.Opened);
  EXPECT_EQ(log.Plugin, nullptr);
  EXPECT_EQ(log.LogWrite, nullptr);
  EXPECT_EQ(log.StopLog, nullptr);
  EXPECT_EQ(PluginCalls(), (std::vector<std::string>{"StartLog", "LogWrite 7", "LogWrite 255", "StopLog"}));
}

TEST_F(Logs, MissingPluginIsNoError) {
  log.PluginName = "NOSUCHLOG.DLL";
  ASSERT_TRUE(Open(true, false, false, false));
  EXPECT_EQ(log.Plugin, nullptr);
  EXPECT_EQ(log.LogWrite, nullptr);
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_TRUE(CloseLogs(log));
  EXPECT_TRUE(reports.empty());
  EXPECT_FALSE(fs::exists(plugin_record));
  EXPECT_FALSE(ReadFile(dir / "ACCESS.LOG").empty());
}

TEST_F(Logs, OpeningAnOpenStateClosesItFirst) {
  ASSERT_TRUE(Open(true, false, false, false));
  ASSERT_TRUE(Open(true, false, false, false));
  EXPECT_TRUE(WriteLogEntry(log, Entry(2)));
  EXPECT_EQ(PluginCalls(), (std::vector<std::string>{"StartLog", "StopLog", "StartLog", "LogWrite 2"}));
}

TEST_F(Logs, WriteWithoutOpenDoesNothing) {
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_TRUE(CloseLogs(log));
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_FALSE(fs::exists(plugin_record));
}

// ---- Cycling ----

TEST_F(Logs, CycleRenamesToDatedNamesAndOpensFreshFiles) {
  ASSERT_TRUE(Open(true, true, true, false));
  EXPECT_TRUE(WriteLogEntry(log, Entry(1)));
  std::string old_access = ReadFile(dir / "ACCESS.LOG");
  ASSERT_TRUE(CycleLogs(log));
  EXPECT_TRUE(log.Opened);
  EXPECT_EQ(ReadFile(dir / "Access-971207-140309.log"), old_access);
  EXPECT_EQ(ReadFile(dir / "Referer-971207-140309.log"), std::string(kStamp) + " http://r/ -> index.html\r\n");
  EXPECT_EQ(ReadFile(dir / "Browser-971207-140309.log"), std::string(kStamp) + " Agent/1.0 (X)\r\n");
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"), "");
  EXPECT_EQ(ReadFile(dir / "REFERER.LOG"), "");
  EXPECT_EQ(ReadFile(dir / "BROWSER.LOG"), "");
  TLogEntry e = Entry(2);
  e.url = "after";
  EXPECT_TRUE(WriteLogEntry(log, e));
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"),
            std::string("10.0.0.1 - ALICE ") + kStamp + " \"GET /after HTTP/1.0\" 200 1234\r\n");
  EXPECT_EQ(ReadFile(dir / "Access-971207-140309.log"), old_access);
  EXPECT_EQ(PluginCalls(), (std::vector<std::string>{"StartLog", "LogWrite 1", "StopLog", "StartLog", "LogWrite 2"}));
  EXPECT_TRUE(reports.empty());
}

TEST_F(Logs, CycleStampUsesTheYearModulo100WithoutLeadingZero) {
  platform::SetNow(platform::EncodeDateTime(2005, 6, 7, 8, 9, 10));
  ASSERT_TRUE(Open(true, false, false, false));
  ASSERT_TRUE(CycleLogs(log));
  EXPECT_TRUE(fs::exists(dir / "Access-50607-080910.log"));
}

TEST_F(Logs, SecondCycleInTheSameSecondDoesNotOverwrite) {
  ASSERT_TRUE(Open(true, true, false, false));
  TLogEntry e = Entry();
  e.url = "first";
  WriteLogEntry(log, e);
  ASSERT_TRUE(CycleLogs(log));
  e.url = "second";
  WriteLogEntry(log, e);
  ASSERT_TRUE(CycleLogs(log));
  e.url = "third";
  WriteLogEntry(log, e);
  ASSERT_TRUE(CycleLogs(log));
  EXPECT_NE(ReadFile(dir / "Access-971207-140309.log").find("/first "), std::string::npos);
  EXPECT_NE(ReadFile(dir / "Access-971207-140309-1.log").find("/second "), std::string::npos);
  EXPECT_NE(ReadFile(dir / "Access-971207-140309-2.log").find("/third "), std::string::npos);
  EXPECT_NE(ReadFile(dir / "Referer-971207-140309-1.log").find("-> second"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG"), "");
  EXPECT_TRUE(reports.empty());
}

TEST_F(Logs, CombinedCycleLeavesRefererAndBrowserFilesAlone) {
  WriteFile(dir / "REFERER.LOG", "kept\r\n");
  ASSERT_TRUE(Open(true, true, true, true));
  WriteLogEntry(log, Entry());
  ASSERT_TRUE(CycleLogs(log));
  EXPECT_TRUE(fs::exists(dir / "Access-971207-140309.log"));
  EXPECT_FALSE(fs::exists(dir / "Referer-971207-140309.log"));
  EXPECT_FALSE(fs::exists(dir / "BROWSER.LOG"));
  EXPECT_EQ(ReadFile(dir / "REFERER.LOG"), "kept\r\n");
}

TEST_F(Logs, CycleOfAClosedStateReopensIt) {
  ASSERT_TRUE(Open(true, false, false, false));
  WriteLogEntry(log, Entry());
  ASSERT_TRUE(CloseLogs(log));
  ASSERT_TRUE(CycleLogs(log));
  EXPECT_TRUE(log.Opened);
  EXPECT_TRUE(fs::exists(dir / "Access-971207-140309.log"));
  EXPECT_TRUE(fs::exists(dir / "ACCESS.LOG"));
  EXPECT_NE(log.Plugin, nullptr);
}

// ---- Errors: reported once, serving goes on ----

// Writes to files at or beyond a size fail with EFBIG while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit{bytes, saved_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t old_handler_;
};

constexpr rlim_t kFullLog = 64 * 1024;

TEST_F(Logs, WriteErrorIsReportedOnceAndTheOtherLinesGoOn) {
  std::ofstream(dir / "ACCESS.LOG") << std::string(kFullLog, 'x');
  FileSizeLimit limit(kFullLog);
  ASSERT_TRUE(Open(true, true, false, false));
  EXPECT_FALSE(WriteLogEntry(log, Entry(1)));
  EXPECT_FALSE(WriteLogEntry(log, Entry(2)));
  EXPECT_FALSE(WriteLogEntry(log, Entry(3)));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("ACCESS.LOG"), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("File too large"), std::string::npos) << reports[0];
  EXPECT_EQ(log.ErrorCount, 3);
  // The referer log and the plug-in carry on.
  std::string one = std::string(kStamp) + " http://r/ -> index.html\r\n";
  EXPECT_EQ(ReadFile(dir / "REFERER.LOG"), one + one + one);
  EXPECT_EQ(PluginCalls(), (std::vector<std::string>{"StartLog", "LogWrite 1", "LogWrite 2", "LogWrite 3"}));
}

TEST_F(Logs, CycleAfterAWriteErrorStartsAFreshLogAndMayReportAgain) {
  std::ofstream(dir / "ACCESS.LOG") << std::string(kFullLog, 'x');
  FileSizeLimit limit(kFullLog);
  ASSERT_TRUE(Open(true, false, false, false));
  EXPECT_FALSE(WriteLogEntry(log, Entry()));
  ASSERT_TRUE(CycleLogs(log));  // the full log moves to the dated name
  EXPECT_EQ(fs::file_size(dir / "Access-971207-140309.log"), kFullLog);
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_FALSE(ReadFile(dir / "ACCESS.LOG").empty());
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_EQ(log.ErrorCount, 0);
}

TEST_F(Logs, FileReplacedByADirectoryIsReportedOnceAndLoggingGoesOn) {
  fs::create_directory(dir / "REFERER.LOG");
  EXPECT_FALSE(Open(true, true, true, false));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("REFERER.LOG"), std::string::npos) << reports[0];
  EXPECT_TRUE(log.Opened);
  EXPECT_TRUE(WriteLogEntry(log, Entry(5)));
  EXPECT_TRUE(WriteLogEntry(log, Entry(6)));
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_FALSE(ReadFile(dir / "ACCESS.LOG").empty());
  EXPECT_FALSE(ReadFile(dir / "BROWSER.LOG").empty());
  // A cycle leaves the directory where it is, reports once, and rotates the rest.
  EXPECT_FALSE(CycleLogs(log));
  EXPECT_EQ(reports.size(), 2u);
  EXPECT_TRUE(fs::is_directory(dir / "REFERER.LOG"));
  EXPECT_FALSE(fs::exists(dir / "Referer-971207-140309.log"));
  EXPECT_TRUE(fs::exists(dir / "Access-971207-140309.log"));
  EXPECT_TRUE(fs::exists(dir / "Browser-971207-140309.log"));
  EXPECT_TRUE(WriteLogEntry(log, Entry(7)));
  EXPECT_FALSE(ReadFile(dir / "ACCESS.LOG").empty());
  EXPECT_EQ(PluginCalls().back(), "LogWrite 7");
}

TEST_F(Logs, ACycleMakesARemovedLogsDirectoryAgain) {
  ASSERT_TRUE(Open(true, false, false, false));
  EXPECT_TRUE(WriteLogEntry(log, Entry(1)));
  fs::remove_all(dir);
  EXPECT_FALSE(CycleLogs(log));  // the log to rename is gone: one report
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(log.Opened);
  EXPECT_TRUE(WriteLogEntry(log, Entry(2)));
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_EQ(ReadFile(dir / "ACCESS.LOG").find("10.0.0.1"), 0u);
  EXPECT_EQ(PluginCalls().back(), "LogWrite 2");
}

TEST_F(Logs, AFifoOrADeviceIsNoLogAndItsOpenDoesNotWait) {
  fs::create_symlink("/dev/null", dir / "ACCESS.LOG");
  ASSERT_EQ(mkfifo((dir / "REFERER.LOG").c_str(), 0666), 0);
  EXPECT_FALSE(Open(true, true, true, false));
  ASSERT_EQ(reports.size(), 1u) << "reported once";
  EXPECT_NE(reports[0].find("not a regular file"), std::string::npos) << reports[0];
  EXPECT_TRUE(WriteLogEntry(log, Entry(5)));
  EXPECT_FALSE(ReadFile(dir / "BROWSER.LOG").empty());
}

TEST_F(Logs, OverlongPathIsRefusedNotCut) {
  std::string long_dir = Dir() + std::string(250, 'd');
  EXPECT_FALSE(OpenLogs(log, long_dir, true, false, false, false));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(log.AccessPath.str(), "");
  EXPECT_TRUE(WriteLogEntry(log, Entry()));
  EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
