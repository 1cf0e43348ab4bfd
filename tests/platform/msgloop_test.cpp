#include "platform/msgloop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/loop_helpers.h"

namespace platform {
namespace {

using testing::DrainQueue;
using testing::PumpFor;
using testing::PumpUntil;
using testing::Recorder;

class MsgLoop : public ::testing::Test {
 protected:
  void SetUp() override { DrainQueue(); }
  void TearDown() override {
    DrainQueue();
    SetErrorReportHandler(nullptr);
  }
};

std::vector<UINT> Ids(const std::vector<MSG>& msgs) {
  std::vector<UINT> ids;
  for (const MSG& m : msgs) ids.push_back(m.message);
  return ids;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Watches fd: each report reads one byte and posts message with it as wParam.
void WatchAndPost(int fd, HWND hwnd, UINT message) {
  WatchFd(fd, POLLIN, [fd, hwnd, message](short) {
    char c;
    ASSERT_EQ(read(fd, &c, 1), 1);
    PostMessage(hwnd, message, static_cast<WPARAM>(c), 0);
  });
}

// ---------------------------------------------------------------------------
// Windows

TEST_F(MsgLoop, HandlesAreNonZeroUniqueAndForgottenWhenDestroyed) {
  std::set<HWND> handles;
  std::vector<HWND> made;
  for (int i = 0; i < 50; ++i) {
    HWND h = CreateWindowHandle([](const MSG&) {});
    EXPECT_NE(h, 0u);
    EXPECT_TRUE(handles.insert(h).second) << h;
    EXPECT_TRUE(IsWindowHandle(h));
    made.push_back(h);
  }
  for (HWND h : made) EXPECT_TRUE(DestroyWindowHandle(h));
  for (HWND h : made) EXPECT_FALSE(IsWindowHandle(h));
  EXPECT_FALSE(DestroyWindowHandle(made[0]));
  EXPECT_FALSE(IsWindowHandle(0));
}

TEST_F(MsgLoop, HandlesDifferBetweenProcesses) {
  Recorder mine;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HWND h = CreateWindowHandle([](const MSG&) {});
    ssize_t n = write(fds[1], &h, sizeof h);
    _exit(n == sizeof h ? 0 : 1);
  }
  HWND theirs = 0;
  ASSERT_EQ(read(fds[0], &theirs, sizeof theirs), static_cast<ssize_t>(sizeof theirs));
  int status = 0;
  waitpid(child, &status, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_NE(theirs, 0u);
  EXPECT_NE(theirs, mine.hwnd);
  // Each process numbers from its own base.
  EXPECT_EQ(theirs / 1024, static_cast<HWND>(child) * 1024u / 1024u);
}

TEST_F(MsgLoop, PostToUnknownWindowFails) {
  EXPECT_FALSE(PostMessage(0, WM_USER, 0, 0));
  HWND h = CreateWindowHandle([](const MSG&) {});
  DestroyWindowHandle(h);
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
  EXPECT_EQ(HalvPostMessage(h, WM_USER, 0, 0), 0);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, DestroyDropsQueuedMessagesOfThatWindowOnly) {
  Recorder a, b;
  PostMessage(a.hwnd, WM_USER + 1, 1, 0);
  PostMessage(b.hwnd, WM_USER + 1, 2, 0);
  PostMessage(a.hwnd, WM_USER + 2, 3, 0);
  HWND gone = a.hwnd;
  DestroyWindowHandle(gone);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, b.hwnd);
  EXPECT_EQ(m.wParam, 2u);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  a.hwnd = 0;
}

// ---------------------------------------------------------------------------
// Queue order and filters

TEST_F(MsgLoop, PostedMessagesComeInOrderWithTheirParameters) {
  Recorder r;
  EXPECT_TRUE(PostMessage(r.hwnd, WM_USER + 3, 7, -9));
  EXPECT_EQ(HalvPostMessage(r.hwnd, WM_USER + 4, 8, 10), 1);
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.hwnd, r.hwnd);
  EXPECT_EQ(m.message, WM_USER + 3);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_EQ(m.lParam, -9);
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_USER + 4);
  EXPECT_EQ(m.wParam, 8u);
  EXPECT_EQ(m.lParam, 10);
}

TEST_F(MsgLoop, PumpRangesLeaveTheHeldBackIdentifiersQueuedInOrder) {
  Recorder r;
  const std::vector<UINT> posted = {0x401, 0x100, 0x403, 0x409, 0x40A, 0x3FF, 0x400, 0x7E8, 0x404, 0x12345};
  for (UINT id : posted) PostMessage(r.hwnd, id, 0, 0);
  MSG m;
  std::vector<UINT> pumped;
  while (PeekMessage(m, 0, 0, 0x3FF, PM_REMOVE)) pumped.push_back(m.message);
  while (PeekMessage(m, 0, 0x40A, 0x7FFFFFFF, PM_REMOVE)) pumped.push_back(m.message);
  EXPECT_EQ(pumped, (std::vector<UINT>{0x100, 0x3FF, 0x40A, 0x7E8, 0x12345}));
  std::vector<UINT> left;
  while (PeekMessage(m, 0, 0, 0, PM_REMOVE)) left.push_back(m.message);
  EXPECT_EQ(left, (std::vector<UINT>{0x401, 0x403, 0x409, 0x400, 0x404}));
  // Counted right after a purge from the middle of the queue.
  for (UINT id : {0x401u, 0x100u, 0x402u}) PostMessage(r.hwnd, id, 7, 0);
  EXPECT_EQ(PurgePostedMessages(r.hwnd, 0x402, 7), 1u);
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0x3FF, PM_REMOVE));
  EXPECT_EQ(m.message, 0x100u);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0x3FF, PM_REMOVE));
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, 0x401u);
}

TEST_F(MsgLoop, PeekWithoutRemoveLeavesTheMessage) {
  Recorder r;
  PostMessage(r.hwnd, WM_USER + 5, 1, 0);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 5);
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, WindowFilterTakesOnlyThatWindowsMessages) {
  Recorder a, b;
  PostMessage(a.hwnd, WM_USER, 1, 0);
  PostMessage(b.hwnd, WM_USER, 2, 0);
  PostMessage(a.hwnd, WM_USER, 3, 0);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, b.hwnd, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);
  EXPECT_FALSE(PeekMessage(m, b.hwnd, 0, 0, PM_REMOVE));
  ASSERT_TRUE(PeekMessage(m, a.hwnd, WM_USER, WM_USER, PM_REMOVE));
  EXPECT_EQ(m.wParam, 1u);
}

TEST_F(MsgLoop, QuitComesAfterPostedMessagesAndOnlyOnce) {
  Recorder r;
  PostMessage(r.hwnd, WM_USER + 1, 0, 0);
  PostQuitMessage(3);
  PostMessage(r.hwnd, WM_USER + 2, 0, 0);
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_USER + 1);
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_USER + 2);
  EXPECT_FALSE(GetMessage(m));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(m.hwnd, 0u);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, PumpRangeTakesTheQuitRequestWhileSocketMessagesWait) {
  Recorder r;
  PostMessage(r.hwnd, WM_USER + 1, 0, 0);
  PostQuitMessage(0);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0x3FF, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0x3FF, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0x3FF, PM_REMOVE));
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
}

TEST_F(MsgLoop, PurgeRemovesOneSocketsNotifications) {
  Recorder r;
  PostMessage(r.hwnd, WM_USER + 1, 5, 1);
  PostMessage(r.hwnd, WM_USER + 1, 6, 1);
  PostMessage(r.hwnd, WM_USER + 3, 5, 0);
  PostMessage(r.hwnd, WM_USER + 1, 5, 32);
  EXPECT_EQ(PurgePostedMessages(r.hwnd, WM_USER + 1, 5), 2u);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 6u);
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 3);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

// ---------------------------------------------------------------------------
// Dispatch

TEST_F(MsgLoop, DispatchCallsTheWindowsHandler) {
  Recorder r;
  PostMessage(r.hwnd, WM_USER + 7, 1, 2);
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  DispatchMessage(m);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].message, WM_USER + 7);
  EXPECT_EQ(r.seen[0].lParam, 2);
  DispatchMessage(MSG{0, WM_USER, 0, 0});  // no window: nothing happens
  DispatchMessage(MSG{r.hwnd + 100000, WM_USER, 0, 0});
  EXPECT_EQ(r.seen.size(), 1u);
}

TEST_F(MsgLoop, AnExceptionGoesToTheErrorReportAndTheLoopCarriesOn) {
  std::vector<std::string> reports;
  SetErrorReportHandler([&](const std::string& text) { reports.push_back(text); });
  bool after_throw = false;
  Recorder r([&](const MSG& m) {
    if (m.message == WM_USER + 1) throw std::runtime_error("Disk full");
    if (m.message == WM_USER + 2) throw 42;
  });
  Recorder other;
  PostMessage(r.hwnd, WM_USER + 1, 0, 0);
  PostMessage(r.hwnd, WM_USER + 2, 0, 0);
  PostMessage(other.hwnd, WM_USER + 3, 0, 0);
  int dispatched = 0;
  MSG m;
  while (PeekMessage(m, 0, 0, 0, PM_REMOVE)) {
    DispatchMessage(m);
    ++dispatched;
  }
  after_throw = other.Count(WM_USER + 3) == 1;
  EXPECT_EQ(dispatched, 3);
  EXPECT_TRUE(after_throw);
  EXPECT_EQ(reports, (std::vector<std::string>{"Disk full", "Unknown exception."}));
  EXPECT_FALSE(InSocketOrCompletionHandler());  // the depth is restored after a throw
}

TEST_F(MsgLoop, DefaultErrorReportWritesToStandardError) {
  Recorder r([](const MSG&) { throw std::runtime_error("Read beyond end of file"); });
  ::testing::internal::CaptureStderr();
  DispatchMessage(MSG{r.hwnd, WM_USER, 0, 0});
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Read beyond end of file\n");
}

TEST_F(MsgLoop, HandlersMayPumpAndDestroyTheirOwnWindow) {
  std::vector<std::string> order;
  Recorder inner;
  HWND outer = 0;
  outer = CreateWindowHandle([&](const MSG& m) {
    order.push_back("outer-begin");
    MSG n;
    while (PeekMessage(n, 0, 0, 0, PM_REMOVE)) DispatchMessage(n);  // pump one level deeper
    DestroyWindowHandle(outer);
    order.push_back("outer-end");
  });
  PostMessage(outer, WM_USER, 0, 0);
  PostMessage(inner.hwnd, WM_USER + 20, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  DispatchMessage(m);
  EXPECT_EQ(order, (std::vector<std::string>{"outer-begin", "outer-end"}));
  EXPECT_EQ(inner.Count(WM_USER + 20), 1u);
  EXPECT_FALSE(IsWindowHandle(outer));
}

// ---------------------------------------------------------------------------
// Threads

TEST_F(MsgLoop, PostsFromSeveralThreadsWakeABlockedGetMessage) {
  Recorder r;
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) {
        ASSERT_TRUE(PostMessage(r.hwnd, WM_USER + 3, static_cast<WPARAM>(t), i));
      }
    });
  }
  // The first post arrives while GetMessage is blocked.
  std::thread starter([&] {
    Sleep(50);
    go.store(true);
  });
  std::vector<int> next(kThreads, 0);
  int total = 0;
  while (total < kThreads * kEach) {
    MSG m;
    ASSERT_TRUE(GetMessage(m));
    ASSERT_EQ(m.message, WM_USER + 3);
    ASSERT_LT(m.wParam, static_cast<WPARAM>(kThreads));
    EXPECT_EQ(m.lParam, next[m.wParam]) << "thread " << m.wParam << " out of order";
    next[m.wParam] = static_cast<int>(m.lParam) + 1;
    ++total;
  }
  starter.join();
  for (auto& t : threads) t.join();
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

// ---------------------------------------------------------------------------
// Timers

TEST_F(MsgLoop, ATimerTicksOnceHoweverManyIntervalsPassed) {
  Recorder r;
  ASSERT_TRUE(SetTimer(r.hwnd, 7, 250));
  Sleep(800);
  MSG m;
  int ticks = 0;
  while (PeekMessage(m, 0, 0, 0, PM_REMOVE)) {
    EXPECT_EQ(m.message, WM_TIMER);
    EXPECT_EQ(m.hwnd, r.hwnd);
    EXPECT_EQ(m.wParam, 7u);
    ++ticks;
  }
  EXPECT_EQ(ticks, 1);
  EXPECT_TRUE(KillTimer(r.hwnd, 7));
  EXPECT_FALSE(KillTimer(r.hwnd, 7));
}

TEST_F(MsgLoop, TimerTicksComeAfterPostedMessages) {
  Recorder r;
  ASSERT_TRUE(SetTimer(r.hwnd, 1, 10));
  Sleep(40);
  PostMessage(r.hwnd, WM_USER + 1, 0, 0);
  PostMessage(r.hwnd, WM_USER + 1000, 0, 0);
  MSG m;
  std::vector<UINT> ids;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
    ids.push_back(m.message);
  }
  EXPECT_EQ(ids, (std::vector<UINT>{WM_USER + 1, WM_USER + 1000, WM_TIMER}));
  KillTimer(r.hwnd, 1);
}

TEST_F(MsgLoop, PumpRangeTakesADueTickWhileSocketMessagesWait) {
  Recorder r;
  ASSERT_TRUE(SetTimer(r.hwnd, 1, 10));
  Sleep(40);
  PostMessage(r.hwnd, WM_USER + 1, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0x3FF, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  // A tick peeked without removing stays due.
  KillTimer(r.hwnd, 1);
  DrainQueue();
  ASSERT_TRUE(SetTimer(r.hwnd, 2, 10));
  Sleep(40);
  ASSERT_TRUE(PeekMessage(m, 0, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessage(m, 0, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);
  KillTimer(r.hwnd, 2);
}

TEST_F(MsgLoop, KillTimerTakesAPendingTickWithIt) {
  Recorder r;
  ASSERT_TRUE(SetTimer(r.hwnd, 1, 10));
  Sleep(40);
  KillTimer(r.hwnd, 1);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, SetTimerAgainRestartsTheInterval) {
  Recorder r;
  ASSERT_TRUE(SetTimer(r.hwnd, 1, 10));
  Sleep(40);
  ASSERT_TRUE(SetTimer(r.hwnd, 1, 60000));
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  KillTimer(r.hwnd, 1);
}

TEST_F(MsgLoop, TimersOfADestroyedWindowStop) {
  HWND h = CreateWindowHandle([](const MSG&) {});
  EXPECT_FALSE(SetTimer(h + 100000, 1, 10));
  ASSERT_TRUE(SetTimer(h, 1, 10));
  DestroyWindowHandle(h);
  EXPECT_FALSE(KillTimer(h, 1));
  EXPECT_FALSE(SetTimer(h, 1, 10));
  Sleep(30);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, GetMessageWaitsForTheNextTick) {
  Recorder r;
  ASSERT_TRUE(SetTimer(r.hwnd, 3, 30));
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.wParam, 3u);
  KillTimer(r.hwnd, 3);
}

TEST_F(MsgLoop, TimerComponentDefaultsAndTicks) {
  Timer t;
  EXPECT_TRUE(t.Enabled());
  EXPECT_EQ(t.Interval(), 1000u);
  int ticks = 0;
  t.SetInterval(20);
  t.SetOnTimer([&] { ++ticks; });
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
  t.SetEnabled(false);
  int before = ticks;
  PumpFor(80);
  EXPECT_EQ(ticks, before);
}

TEST_F(MsgLoop, TimerComponentWithoutHandlerOrIntervalDoesNotTick) {
  Timer t;
  t.SetInterval(10);
  Sleep(30);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  int ticks = 0;
  t.SetOnTimer([&] { ++ticks; });
  t.SetInterval(0);
  Sleep(30);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, EnablingAnEnabledTimerDoesNotRestartIt) {
  Timer t;
  int ticks = 0;
  t.SetInterval(300);
  t.SetOnTimer([&] { ++ticks; });
  Sleep(450);
  t.SetEnabled(true);  // already on: the due tick stays due
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  DispatchMessage(m);
  EXPECT_EQ(ticks, 1);
  // At most one tick was pending.
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, DisablingAndEnablingRestartsTheInterval) {
  Timer t;
  t.SetOnTimer([] {});
  t.SetInterval(300);
  Sleep(450);
  t.SetEnabled(false);
  t.SetEnabled(true);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, ChangingTheIntervalRestartsItAndTheSameIntervalDoesNot) {
  Timer t;
  t.SetOnTimer([] {});
  t.SetInterval(300);
  Sleep(450);
  t.SetInterval(300);
  MSG m;
  EXPECT_TRUE(PeekMessage(m, 0, 0, 0, PM_NOREMOVE));
  t.SetInterval(1000);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(MsgLoop, ATickTakenBeforeDisablingIsIgnored) {
  Timer t;
  int ticks = 0;
  t.SetInterval(10);
  t.SetOnTimer([&] { ++ticks; });
  Sleep(30);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  t.SetEnabled(false);
  DispatchMessage(m);
  EXPECT_EQ(ticks, 0);
}

TEST_F(MsgLoop, ATimerMayBeDestroyedInItsOwnHandler) {
  auto* t = new Timer;
  bool ran = false;
  t->SetInterval(10);
  t->SetOnTimer([&] {
    ran = true;
    delete t;
  });
  EXPECT_TRUE(PumpUntil([&] { return ran; }));
}

// ---------------------------------------------------------------------------
// Modal loops

TEST_F(MsgLoop, ModalLoopOutsideAHandlerDispatchesEverything) {
  bool done = false;
  Recorder r([&](const MSG& m) {
    if (m.message == WM_USER + 50) done = true;
  });
  for (UINT id : {WM_USER + 1, WM_USER + 3, WM_USER + 1000, WM_USER + 50}) PostMessage(r.hwnd, id, 0, 0);
  EXPECT_FALSE(InSocketOrCompletionHandler());
  EXPECT_TRUE(RunModalLoop([&] { return done; }));
  EXPECT_EQ(Ids(r.seen), (std::vector<UINT>{WM_USER + 1, WM_USER + 3, WM_USER + 1000, WM_USER + 50}));
}

TEST_F(MsgLoop, ModalLoopInsideASocketHandlerHoldsBackSocketAndCompletionMessages) {
  Recorder other;
  bool cycled = false, ticked = false, inside = false, modal_result = false;
  Timer timer;
  timer.SetInterval(20);
  timer.SetOnTimer([&] { ticked = true; });
  Recorder r([&](const MSG& m) {
    if (m.message == WM_USER + 1000) cycled = true;
    if (m.message != WM_USER + 1 || m.wParam != 1) return;
    inside = InSocketOrCompletionHandler();
    PostMessage(other.hwnd, WM_USER + 1, 2, 0);
    PostMessage(other.hwnd, WM_USER + 3, 3, 0);
    PostMessage(r.hwnd, WM_USER + 1000, 0, 0);
    modal_result = RunModalLoop([&] { return cycled && ticked; });
  });
  PostMessage(r.hwnd, WM_USER + 1, 1, 0);
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  DispatchMessage(m);
  EXPECT_TRUE(inside);
  EXPECT_TRUE(modal_result);
  EXPECT_TRUE(cycled);
  EXPECT_TRUE(ticked);
  EXPECT_TRUE(other.seen.empty());
  EXPECT_FALSE(InSocketOrCompletionHandler());
  timer.SetEnabled(false);
  std::vector<std::pair<UINT, WPARAM>> left;
  while (PeekMessage(m, 0, 0, 0, PM_REMOVE)) left.push_back({m.message, m.wParam});
  EXPECT_EQ(left, (std::vector<std::pair<UINT, WPARAM>>{{WM_USER + 1, 2}, {WM_USER + 3, 3}}));
}

TEST_F(MsgLoop, ModalLoopInsideAnOrdinaryHandlerDispatchesSocketMessages) {
  bool got_socket = false;
  Recorder r([&](const MSG& m) {
    if (m.message == WM_USER + 1) got_socket = true;
    if (m.message != WM_USER + 10) return;
    PostMessage(r.hwnd, WM_USER + 1, 0, 0);
    RunModalLoop([&] { return got_socket; });
  });
  PostMessage(r.hwnd, WM_USER + 10, 0, 0);
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  DispatchMessage(m);
  EXPECT_TRUE(got_socket);
}

TEST_F(MsgLoop, ModalLoopEndsOnQuitAndPostsItAgain) {
  Recorder r;
  PostMessage(r.hwnd, WM_USER + 1, 0, 0);
  PostQuitMessage(5);
  EXPECT_FALSE(RunModalLoop([] { return false; }));
  EXPECT_EQ(r.Count(WM_USER + 1), 1u);
  MSG m;
  EXPECT_FALSE(GetMessage(m));
  EXPECT_EQ(m.wParam, 5u);
}

TEST_F(MsgLoop, ModalLoopAlreadyDoneReturnsAtOnce) {
  Recorder r;
  PostMessage(r.hwnd, WM_USER, 0, 0);
  EXPECT_TRUE(RunModalLoop([] { return true; }));
  EXPECT_TRUE(r.seen.empty());
}

// ---------------------------------------------------------------------------
// Watched descriptors

TEST_F(MsgLoop, WatchedDescriptorsAreReportedInsidePeekMessage) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Recorder r;
  int calls = 0;
  WatchFd(fds[0], POLLIN, [&](short revents) {
    ++calls;
    EXPECT_TRUE(revents & POLLIN);
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    PostMessage(r.hwnd, WM_USER + 30, static_cast<WPARAM>(c), 0);
  });
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 30);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('x'));
  // Events 0: left out, even though readable.
  SetFdEvents(fds[0], 0);
  ASSERT_EQ(write(fds[1], "y", 1), 1);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  SetFdEvents(fds[0], POLLIN);
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('y'));
  UnwatchFd(fds[0]);
  ASSERT_EQ(write(fds[1], "z", 1), 1);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(calls, 2);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(MsgLoop, GetMessageWakesForAWatchedDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Recorder r;
  WatchFd(fds[0], POLLIN, [&](short) {
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    PostMessage(r.hwnd, WM_USER + 31, 0, 0);
  });
  std::thread writer([&] {
    Sleep(30);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
  });
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_USER + 31);
  writer.join();
  UnwatchFd(fds[0]);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(MsgLoop, AWatchedDescriptorClosedBehindTheLoopIsDropped) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int calls = 0;
  WatchFd(fds[0], POLLIN, [&](short) { ++calls; });
  close(fds[0]);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(calls, 0);
  close(fds[1]);
}

TEST_F(MsgLoop, WatchedDescriptorsAreReportedInDescriptorOrder) {
  int a[2], b[2];
  ASSERT_EQ(pipe(a), 0);
  ASSERT_EQ(pipe(b), 0);
  Recorder r;
  const int low = std::min(a[0], b[0]), high = std::max(a[0], b[0]);
  WatchAndPost(low, r.hwnd, WM_USER + 40);
  WatchAndPost(high, r.hwnd, WM_USER + 40);
  // The higher one becomes ready first; the report still goes by number.
  ASSERT_EQ(write(high == a[0] ? a[1] : b[1], "x", 1), 1);
  ASSERT_EQ(write(low == a[0] ? a[1] : b[1], "y", 1), 1);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('y'));
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('x'));
  for (int fd : {low, high}) UnwatchFd(fd);
  for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
}

TEST_F(MsgLoop, AStreamOfPostsDoesNotKeepAReadyDescriptorWaiting) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Recorder r;
  WatchAndPost(fds[0], r.hwnd, WM_USER + 45);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  // Each message posts the next, so the queue never runs empty.
  PostMessage(r.hwnd, WM_USER + 46, 0, 0);
  int taken = 0;
  for (; taken < 200; ++taken) {
    ASSERT_TRUE(GetMessage(m));
    if (m.message == WM_USER + 45) break;
    PostMessage(r.hwnd, WM_USER + 46, 0, 0);
  }
  EXPECT_LT(taken, 40);
  UnwatchFd(fds[0]);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(MsgLoop, WaitDescriptorIsReadableForAWatchedDescriptorOrAPost) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Recorder r;
  WatchFd(fds[0], POLLIN, [](short) {});
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));  // hands the watch to the set
  auto readable = [] {
    pollfd p{LoopWaitDescriptor(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  };
  EXPECT_FALSE(readable());
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(readable());
  UnwatchFd(fds[0]);
  EXPECT_FALSE(readable());
  std::thread([&] { PostMessage(r.hwnd, WM_USER + 41, 0, 0); }).join();
  EXPECT_TRUE(readable());
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 41);
  EXPECT_FALSE(readable());
  close(fds[0]);
  close(fds[1]);
}

TEST_F(MsgLoop, AWaiterBlocksInsteadOfTheLoop) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Recorder r;
  WatchAndPost(fds[0], r.hwnd, WM_USER + 42);
  std::vector<int> timeouts;
  SetLoopWaiter([&](int timeout) {
    timeouts.push_back(timeout);
    if (timeouts.size() == 1) return;  // an early return: the loop asks again
    pollfd p{LoopWaitDescriptor(), POLLIN, 0};
    ::poll(&p, 1, timeout);
  });
  std::thread writer([&] {
    Sleep(30);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
  });
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  writer.join();
  EXPECT_EQ(m.message, WM_USER + 42);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('x'));
  ASSERT_EQ(timeouts.size(), 2u);
  EXPECT_EQ(timeouts[0], -1);
  // A timer bounds the wait it is given.
  SetTimer(r.hwnd, 7, 50);
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_TIMER);
  ASSERT_GE(timeouts.size(), 3u);
  EXPECT_GE(timeouts[2], 0);
  EXPECT_LE(timeouts[2], 50);
  KillTimer(r.hwnd, 7);
  // An empty waiter restores the loop's own wait.
  SetLoopWaiter(nullptr);
  const size_t seen = timeouts.size();
  std::thread([&] { PostMessage(r.hwnd, WM_USER + 43, 0, 0); }).detach();
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_USER + 43);
  EXPECT_EQ(timeouts.size(), seen);
  UnwatchFd(fds[0]);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(MsgLoop, BeforeWaitHooksRunOnlyWhenTheLoopIsIdle) {
  Recorder r;
  int calls = 0;
  int id = AddBeforeWaitHook([&] { ++calls; });
  MSG m;
  PostMessage(r.hwnd, WM_USER + 50, 0, 0);
  ASSERT_TRUE(GetMessage(m));  // there at once: no wait
  EXPECT_FALSE(PeekMessage(m, r.hwnd, 0, 0, PM_REMOVE));  // a filtered look is no idle loop
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(calls, 1);
  std::thread poster([&] {
    Sleep(20);
    PostMessage(r.hwnd, WM_USER + 51, 0, 0);
  });
  ASSERT_TRUE(GetMessage(m));
  poster.join();
  EXPECT_EQ(m.message, WM_USER + 51);
  EXPECT_GE(calls, 2);
  RemoveBeforeWaitHook(id);
  const int before = calls;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(calls, before);
}

TEST_F(MsgLoop, AHandlerLookingAgainSeesADescriptorThatBecameReady) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Recorder r;
  WatchAndPost(fds[0], r.hwnd, WM_USER + 60);
  bool first = true, second = false;
  HWND h = CreateWindowHandle([&](const MSG&) {
    MSG m;
    first = PeekMessage(m, 0, 0, 0, PM_REMOVE);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    second = PeekMessage(m, 0, 0, 0, PM_REMOVE) && m.message == WM_USER + 60;
  });
  DispatchMessage(MSG{h, WM_USER + 61, 0, 0});
  EXPECT_FALSE(first);
  EXPECT_TRUE(second);
  DestroyWindowHandle(h);
  UnwatchFd(fds[0]);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(MsgLoop, DestroyHooksSeeEachDestroyedWindow) {
  std::vector<HWND> destroyed;
  static std::vector<HWND>* sink = nullptr;
  sink = &destroyed;
  static bool added = false;
  if (!added) {
    AddWindowDestroyHook([](HWND h) {
      if (sink) sink->push_back(h);
    });
    added = true;
  }
  HWND h = CreateWindowHandle([](const MSG&) {});
  DestroyWindowHandle(h);
  DestroyWindowHandle(h);  // unknown by now: no second call
  sink = nullptr;
  EXPECT_EQ(destroyed, std::vector<HWND>{h});
}

}  // namespace
}  // namespace platform
