#include "platform/crossproc.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "tests/platform/loop_helpers.h"

namespace platform {
namespace {

using testing::DrainQueue;
using testing::PumpFor;
using testing::PumpUntil;
using testing::Recorder;

class CrossProcess : public ::testing::Test {
 protected:
  void SetUp() override { DrainQueue(); }
  void TearDown() override { DrainQueue(); }
};

// Sends raw bytes to the channel of hwnd, as a foreign program might.
bool SendRaw(HWND hwnd, const void* data, size_t size) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string name = "halvorine-" + std::to_string(getuid()) + "-" + std::to_string(hwnd);
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ssize_t n = sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&addr), len);
  close(fd);
  return n == static_cast<ssize_t>(size);
}

TEST_F(CrossProcess, AnotherProcessPostsToTheStoredHandle) {
  Recorder main_window;
  ASSERT_TRUE(EnableExternalMessages(main_window.hwnd));
  const HWND target = main_window.hwnd;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool sent = PostMessageToHandle(target, kCycleLogsMessage, 7, -9);
    _exit(sent ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child could not deliver";
  ASSERT_TRUE(PumpUntil([&] { return main_window.Count(kCycleLogsMessage) == 1; }));
  const MSG& m = main_window.seen.back();
  EXPECT_EQ(m.hwnd, main_window.hwnd);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_EQ(m.lParam, -9);
}

TEST_F(CrossProcess, PostingToItselfGoesThroughTheChannelToo) {
  Recorder w;
  ASSERT_TRUE(EnableExternalMessages(w.hwnd));
  EXPECT_TRUE(EnableExternalMessages(w.hwnd));  // already open
  ASSERT_TRUE(PostMessageToHandle(w.hwnd, WM_USER + 1000, 0, 0));
  ASSERT_TRUE(PostMessageToHandle(w.hwnd, WM_USER + 5, 1, 2));
  ASSERT_TRUE(PumpUntil([&] { return w.seen.size() == 2; }));
  EXPECT_EQ(w.seen[0].message, WM_USER + 1000u);
  EXPECT_EQ(w.seen[1].message, WM_USER + 5u);
}

TEST_F(CrossProcess, NoChannelNoDelivery) {
  Recorder w;
  EXPECT_FALSE(PostMessageToHandle(w.hwnd, WM_USER + 1000, 0, 0));  // not enabled
  EXPECT_FALSE(EnableExternalMessages(w.hwnd + 100000));            // not a window
  ASSERT_TRUE(EnableExternalMessages(w.hwnd));
  DisableExternalMessages(w.hwnd);
  EXPECT_FALSE(PostMessageToHandle(w.hwnd, WM_USER + 1000, 0, 0));
}

TEST_F(CrossProcess, DestroyingTheWindowClosesItsChannel) {
  HWND h;
  {
    Recorder w;
    h = w.hwnd;
    ASSERT_TRUE(EnableExternalMessages(h));
    EXPECT_TRUE(PostMessageToHandle(h, WM_USER + 1000, 0, 0));
  }
  EXPECT_FALSE(PostMessageToHandle(h, WM_USER + 1000, 0, 0));
  PumpFor(30);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(CrossProcess, MalformedDatagramsAreDropped) {
  Recorder w;
  ASSERT_TRUE(EnableExternalMessages(w.hwnd));
  const char junk[] = "cycle the logs, please";
  ASSERT_TRUE(SendRaw(w.hwnd, junk, sizeof junk));
  uint32_t wrong_magic[6] = {0x12345678, WM_USER + 1000, 0, 0, 0, 0};
  ASSERT_TRUE(SendRaw(w.hwnd, wrong_magic, sizeof wrong_magic));
  ASSERT_TRUE(SendRaw(w.hwnd, "", 0));
  ASSERT_TRUE(PostMessageToHandle(w.hwnd, WM_USER + 2, 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return w.Count(WM_USER + 2) == 1; }));
  PumpFor(30);
  EXPECT_EQ(w.seen.size(), 1u);
}

TEST_F(CrossProcess, SignalsBecomeMessagesForTheMainWindow) {
  Recorder main_window;
  RouteSignalsTo(main_window.hwnd);
  ASSERT_EQ(raise(SIGHUP), 0);
  ASSERT_TRUE(PumpUntil([&] { return main_window.Count(kCycleLogsMessage) == 1; }));
  ASSERT_EQ(raise(SIGTERM), 0);
  ASSERT_TRUE(PumpUntil([&] { return main_window.Count(WM_CLOSE) == 1; }));
  ASSERT_EQ(raise(SIGINT), 0);
  ASSERT_TRUE(PumpUntil([&] { return main_window.Count(WM_CLOSE) == 2; }));
  EXPECT_EQ(main_window.seen.size(), 3u);
  // SIGPIPE is ignored.
  struct sigaction sa {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &sa), 0);
  EXPECT_EQ(sa.sa_handler, SIG_IGN);
  // Routing to 0 gives the signals back their former handling.
  RouteSignalsTo(0);
  ASSERT_EQ(sigaction(SIGHUP, nullptr, &sa), 0);
  EXPECT_EQ(sa.sa_handler, SIG_DFL);
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &sa), 0);
  EXPECT_EQ(sa.sa_handler, SIG_DFL);
}

TEST_F(CrossProcess, ASignalWakesABlockedLoop) {
  Recorder main_window;
  RouteSignalsTo(main_window.hwnd);
  pid_t self = getpid();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    usleep(30000);
    kill(self, SIGHUP);
    _exit(0);
  }
  SetTimer(main_window.hwnd, 1, 3000);  // ends the wait should the signal get lost
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  KillTimer(main_window.hwnd, 1);
  EXPECT_EQ(m.message, kCycleLogsMessage);
  EXPECT_EQ(m.hwnd, main_window.hwnd);
  waitpid(child, nullptr, 0);
  RouteSignalsTo(0);
}

}  // namespace
}  // namespace platform
