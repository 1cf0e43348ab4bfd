// The minute timer on the running program, its clock moved on by the test
// hook: realm clients expire after 15 idle minutes, idle connections close
// after 300 seconds, and the realm store gives its memory back.
#include <gtest/gtest.h>

#include "korridan_site.h"
#include "platform/registry.h"
#include "tests/support/open_files.h"

namespace korridan_test {
namespace {

using Timers = KorridanSite;

std::string Status(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

// The body after the header.
std::string Body(const std::string& answer) {
  size_t at = answer.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

TEST_F(Timers, LoggedInAddressIsAskedAgainOnlyAfterFifteenIdleMinutes) {
  clock_ = "2026-03-02 10:50:00";
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  const char* ann = "127.0.0.5";
  EXPECT_EQ(Status(Get("/private/", "ann:secret", ann)), "HTTP/1.0 200 OK");
  // The address is known: a request without credentials is refused, even
  // for a public page, and does not count as activity.
  EXPECT_EQ(Status(Get("/", "", ann)), "HTTP/1.0 401 Unauthorized");
  ASSERT_GE(Advance(15 * 60), 0);
  EXPECT_EQ(Status(Get("/", "", ann)), "HTTP/1.0 401 Unauthorized") << "kept at 11:05";
  ASSERT_GE(Advance(60), 0);
  EXPECT_EQ(Status(Get("/", "", ann)), "HTTP/1.0 200 OK") << "dropped at 11:06";
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Timers, ExpiryCountsAndGivesTheRealmMemoryBack) {
  clock_ = "2026-03-02 23:55:00";
  WriteFile(home_ + "figures.html", "{{$RESOURCE 9}}|{{$RESOURCE -2}}");
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  auto figures = [&] {
    std::string body = Body(Get("/figures.html", "", "127.0.0.2"));
    size_t bar = body.find('|');
    EXPECT_NE(bar, std::string::npos) << body;
    return std::pair{std::stol(body.substr(0, bar)), std::stol(body.substr(bar + 1))};
  };
  auto [expired0, memory0] = figures();
  EXPECT_EQ(expired0, 0);
  constexpr int kClients = 40;
  for (int i = 0; i < kClients; ++i) {
    std::string from = "127.0.1." + std::to_string(10 + i);
    ASSERT_EQ(Status(Get("/", "", from.c_str())), "HTTP/1.0 200 OK");
  }
  auto [expired1, memory1] = figures();
  EXPECT_EQ(expired1, 0);
  EXPECT_GT(memory1, memory0 + kClients * 256) << "every client holds an item of its own";

  // Across midnight: 23:55 to 0:11 is 16 minutes.
  ASSERT_GE(Advance(16 * 60), 0);
  auto [expired2, memory2] = figures();
  EXPECT_EQ(expired2, kClients + 1);
  EXPECT_LE(memory2, memory0);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Timers, ConnectionIdleFor300SecondsIsClosed) {
  clock_ = "2026-03-02 12:00:00";
  Start();
  int running = WaitRunning();
  ASSERT_GE(running, 0) << Stderr();
  Client c(port_);
  ASSERT_TRUE(c.Connected());
  // A request begun and left: once its line is read, every socket event
  // of the connection so far has been handled.
  c.Send("GET / HTTP/1.0\r\n");
  ASSERT_GE(WaitForEnding("] GET / HTTP/1.0", running), 0);
  int at = Advance(300);
  ASSERT_GE(at, 0);
  bool timed_out = false;
  EXPECT_EQ(c.ReadAll(200, &timed_out), "");
  EXPECT_TRUE(timed_out) << "still open after 300 seconds";
  ASSERT_GE(Advance(1), 0);
  EXPECT_GE(WaitForEnding("] TimeOut", static_cast<size_t>(at)), 0);
  EXPECT_EQ(c.ReadAll(10000, &timed_out), "");
  EXPECT_FALSE(timed_out) << "closed after 301 seconds";
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Timers, AdvanceIsRefusedOnTheRealClock) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Command("advance 60");
  // An unknown command, which ends the commands and the program.
  EXPECT_EQ(WaitExit(), 1);
  EXPECT_TRUE(WaitStderr("korridan: line 1: unknown command: advance 60\n"));
  // The start made the realm list's key.
  setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
  EXPECT_TRUE(platform::RegistryKey::Open("\\Software\\Ortelune Software\\Halvorine\\Realms", false));
}

// A file served and then deleted: its space comes back within a minute
// however quiet the server stays, through the minute timer.
TEST_F(Timers, ADeletedServedFileIsLetGoByTheMinuteTimer) {
  clock_ = "2026-03-02 12:00:00";
  const std::string path = home_ + "big.txt";
  WriteFile(path, std::string(200000, 'x'));
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  ASSERT_EQ(Status(Get("/big.txt")), "HTTP/1.0 200 OK");
  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_TRUE(testsupport::HoldsFile(pid_, path)) << "kept open for the next request";
  // Past the idle limit of a kept descriptor (real time), then the tick.
  std::this_thread::sleep_for(std::chrono::milliseconds(5500));
  EXPECT_TRUE(testsupport::HoldsFile(pid_, path)) << "nothing but the timer lets it go";
  ASSERT_GE(Advance(60), 0);
  EXPECT_FALSE(testsupport::HoldsFile(pid_, path));
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

}  // namespace
}  // namespace korridan_test
