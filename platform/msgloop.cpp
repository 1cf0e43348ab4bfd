#include "platform/msgloop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kHeldFirst = WM_USER;      // socket and completion messages
constexpr UINT kHeldLast = WM_USER + 9;   // are held back by nested loops
constexpr uint32_t kMinTimerMs = 10;
constexpr uint32_t kMaxTimerMs = 0x7FFFFFFF;
constexpr uint32_t kHandlesPerPid = 1024;

// What a taker wants: a window (0 any), an identifier range (0..0 any), and
// whether the held-back range stays queued.
struct Filter {
  HWND hwnd = 0;
  UINT min = 0;
  UINT max = 0;
  bool hold_back = false;

  bool Matches(HWND h, UINT m) const {
    if (hwnd != 0 && h != hwnd) return false;
    if ((min != 0 || max != 0) && (m < min || m > max)) return false;
    if (hold_back && m >= kHeldFirst && m <= kHeldLast) return false;
    return true;
  }
  // The quit request belongs to no window and passes any window filter.
  bool MatchesQuit() const { return Matches(hwnd, WM_QUIT); }
};

struct TimerEntry {
  uint32_t interval_ms = 0;
  Clock::time_point due;
  uint64_t order = 0;  // ties between equally due timers go by age
};

struct Watch {
  short events = 0;
  uint64_t serial = 0;
  std::shared_ptr<std::function<void(short)>> callback;
};

struct Loop {
  // Guarded by mu: the window table and the queue (posters run on any thread).
  std::mutex mu;
  std::unordered_map<HWND, std::shared_ptr<WindowProc>> windows;
  std::deque<MSG> queue;
  HWND next_handle = 0;
  pid_t handle_pid = 0;  // the process the numbering belongs to (a forked child starts its own)

  // Loop thread only.
  bool quit = false;
  int quit_code = 0;
  std::map<std::pair<HWND, uintptr_t>, TimerEntry> timers;
  uint64_t timer_order = 0;
  std::map<int, Watch> watches;
  uint64_t watch_serial = 0;
  std::vector<std::function<void(HWND)>> destroy_hooks;

  std::atomic<int> held_depth{0};
  int wake_fd = -1;
  // The thread that last took messages. Its own posts need no wake-up: it
  // is running, and it looks at the queue before it waits again.
  std::atomic<std::thread::id> pumper{};

  std::mutex report_mu;
  std::function<void(const std::string&)> report;

  Loop() {
    wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd < 0) {
      std::perror("eventfd");
      std::abort();
    }
  }
};

// Never destroyed: other threads may still post while the program exits.
Loop& L() {
  static Loop* loop = new Loop;
  return *loop;
}

void Wake(Loop& l) {
  uint64_t one = 1;
  ssize_t r;
  do {
    r = ::write(l.wake_fd, &one, sizeof one);
  } while (r < 0 && errno == EINTR);
  // EAGAIN means the counter is saturated, so the loop is awake anyway.
}

void DrainWake(Loop& l) {
  uint64_t count;
  while (::read(l.wake_fd, &count, sizeof count) > 0) {
  }
}

// One pass over the watched descriptors, waiting up to timeout_ms (-1: no
// limit, 0: not at all). Callbacks run after poll() returns, each checked
// against the watch table first, since a callback may close and reuse
// another descriptor.
void PollOnce(int timeout_ms) {
  Loop& l = L();
  std::vector<pollfd> fds;
  std::vector<uint64_t> serials;
  fds.reserve(l.watches.size() + 1);
  serials.reserve(l.watches.size() + 1);
  fds.push_back({l.wake_fd, POLLIN, 0});
  serials.push_back(0);
  for (const auto& [fd, w] : l.watches) {
    if (w.events == 0) continue;
    fds.push_back({fd, w.events, 0});
    serials.push_back(w.serial);
  }
  int n = ::poll(fds.data(), fds.size(), timeout_ms);
  if (n <= 0) return;  // timeout, or EINTR (a signal: its pipe is read next time)
  if (fds[0].revents != 0) DrainWake(l);
  for (size_t i = 1; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    auto it = l.watches.find(fds[i].fd);
    if (it == l.watches.end() || it->second.serial != serials[i] || it->second.events == 0) continue;
    if (fds[i].revents & POLLNVAL) {
      l.watches.erase(it);  // closed behind the watcher's back; it would be reported forever
      continue;
    }
    auto callback = it->second.callback;  // keeps it alive if the callback unwatches itself
    (*callback)(fds[i].revents);
  }
}

bool Take(MSG& msg, const Filter& f, bool remove) {
  Loop& l = L();
  {
    std::lock_guard lock(l.mu);
    for (auto it = l.queue.begin(); it != l.queue.end(); ++it) {
      if (!f.Matches(it->hwnd, it->message)) continue;
      msg = *it;
      if (remove) l.queue.erase(it);
      return true;
    }
  }
  if (l.quit && f.MatchesQuit()) {
    msg = MSG{0, WM_QUIT, static_cast<WPARAM>(l.quit_code), 0};
    if (remove) l.quit = false;
    return true;
  }
  if (!l.timers.empty() && f.Matches(f.hwnd, WM_TIMER)) {
    Clock::time_point now = Clock::now();
    std::map<std::pair<HWND, uintptr_t>, TimerEntry>::iterator best = l.timers.end();
    for (auto it = l.timers.begin(); it != l.timers.end(); ++it) {
      if (it->second.due > now || !f.Matches(it->first.first, WM_TIMER)) continue;
      if (best == l.timers.end() || it->second.due < best->second.due ||
          (it->second.due == best->second.due && it->second.order < best->second.order))
        best = it;
    }
    if (best != l.timers.end()) {
      msg = MSG{best->first.first, WM_TIMER, best->first.second, 0};
      // Several intervals gone by still make one tick; the next is one
      // interval after this one is taken.
      if (remove) best->second.due = now + std::chrono::milliseconds(best->second.interval_ms);
      return true;
    }
  }
  return false;
}

// Milliseconds until the first timer the filter would take is due; -1 when
// there is none.
int MsUntilNextTimer(const Filter& f) {
  Loop& l = L();
  if (!f.Matches(f.hwnd, WM_TIMER)) return -1;
  bool any = false;
  Clock::time_point first{};
  for (const auto& [key, t] : l.timers) {
    if (!f.Matches(key.first, WM_TIMER)) continue;
    if (!any || t.due < first) first = t.due;
    any = true;
  }
  if (!any) return -1;
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count();
  if (wait < 0) return 0;
  if (wait > INT_MAX) return INT_MAX;
  return static_cast<int>(wait);
}

// Blocks until a message the filter takes is there, and removes it.
void Wait(MSG& msg, const Filter& f) {
  L().pumper.store(std::this_thread::get_id(), std::memory_order_relaxed);
  for (;;) {
    PollOnce(0);
    if (Take(msg, f, true)) return;
    PollOnce(MsUntilNextTimer(f));
  }
}

}  // namespace

// ---------------------------------------------------------------------------

HWND CreateWindowHandle(WindowProc handler) {
  Loop& l = L();
  auto proc = std::make_shared<WindowProc>(std::move(handler));
  std::lock_guard lock(l.mu);
  if (pid_t pid = ::getpid(); pid != l.handle_pid) {
    l.handle_pid = pid;
    l.next_handle = static_cast<HWND>(static_cast<uint32_t>(pid) * kHandlesPerPid);
  }
  HWND h;
  do {
    h = ++l.next_handle;
  } while (h == 0 || l.windows.count(h) != 0);
  l.windows.emplace(h, std::move(proc));
  return h;
}

bool DestroyWindowHandle(HWND hwnd) {
  Loop& l = L();
  std::shared_ptr<WindowProc> proc;  // released after the lock
  {
    std::lock_guard lock(l.mu);
    auto it = l.windows.find(hwnd);
    if (it == l.windows.end()) return false;
    proc = std::move(it->second);
    l.windows.erase(it);
    std::erase_if(l.queue, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
  }
  std::erase_if(l.timers, [hwnd](const auto& entry) { return entry.first.first == hwnd; });
  auto hooks = l.destroy_hooks;
  for (auto& hook : hooks) hook(hwnd);
  return true;
}

bool IsWindowHandle(HWND hwnd) {
  Loop& l = L();
  std::lock_guard lock(l.mu);
  return l.windows.count(hwnd) != 0;
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Loop& l = L();
  {
    std::lock_guard lock(l.mu);
    if (hwnd == 0 || l.windows.count(hwnd) == 0) return false;
    l.queue.push_back(MSG{hwnd, message, wParam, lParam});
  }
  if (l.pumper.load(std::memory_order_relaxed) != std::this_thread::get_id()) Wake(l);
  return true;
}

bool GetMessage(MSG& msg) {
  Wait(msg, Filter{});
  return msg.message != WM_QUIT;
}

bool PeekMessage(MSG& msg, HWND hwnd, UINT min, UINT max, UINT removeFlag) {
  L().pumper.store(std::this_thread::get_id(), std::memory_order_relaxed);
  PollOnce(0);
  return Take(msg, Filter{hwnd, min, max, false}, (removeFlag & PM_REMOVE) != 0);
}

void TranslateMessage(const MSG&) {}

void DispatchMessage(const MSG& msg) {
  Loop& l = L();
  std::shared_ptr<WindowProc> proc;
  {
    std::lock_guard lock(l.mu);
    auto it = l.windows.find(msg.hwnd);
    if (it == l.windows.end()) return;
    proc = it->second;
  }
  if (!proc || !*proc) return;
  const bool held = msg.message >= kHeldFirst && msg.message <= kHeldLast;
  struct DepthGuard {
    std::atomic<int>* depth;
    ~DepthGuard() {
      if (depth) depth->fetch_sub(1);
    }
  } guard{held ? &l.held_depth : nullptr};
  if (held) l.held_depth.fetch_add(1);
  try {
    (*proc)(msg);
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("Unknown exception.");
  }
}

void PostQuitMessage(int exitCode) {
  Loop& l = L();
  l.quit = true;
  l.quit_code = exitCode;
}

size_t PurgePostedMessages(HWND hwnd, UINT message, WPARAM wParam) {
  Loop& l = L();
  std::lock_guard lock(l.mu);
  return std::erase_if(l.queue, [&](const MSG& m) {
    return m.hwnd == hwnd && m.message == message && m.wParam == wParam;
  });
}

void SetErrorReportHandler(std::function<void(const std::string&)> handler) {
  Loop& l = L();
  std::lock_guard lock(l.report_mu);
  l.report = std::move(handler);
}

void ReportError(const std::string& text) {
  Loop& l = L();
  std::function<void(const std::string&)> report;
  {
    std::lock_guard lock(l.report_mu);
    report = l.report;
  }
  if (report) {
    try {
      report(text);
      return;
    } catch (...) {
      // A failing report falls back to standard error.
    }
  }
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

bool RunModalLoop(const std::function<bool()>& done) {
  const Filter f{0, 0, 0, InSocketOrCompletionHandler()};
  while (!done()) {
    MSG msg;
    Wait(msg, f);
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
  }
  return true;
}

bool InSocketOrCompletionHandler() { return L().held_depth.load() > 0; }

// ---------------------------------------------------------------------------

bool SetTimer(HWND hwnd, uintptr_t id, uint32_t milliseconds) {
  if (!IsWindowHandle(hwnd)) return false;
  Loop& l = L();
  uint32_t ms = milliseconds < kMinTimerMs ? kMinTimerMs : milliseconds;
  if (ms > kMaxTimerMs) ms = kMaxTimerMs;
  auto [it, fresh] = l.timers.try_emplace({hwnd, id});
  it->second.interval_ms = ms;
  it->second.due = Clock::now() + std::chrono::milliseconds(ms);
  if (fresh) it->second.order = ++l.timer_order;
  return true;
}

bool KillTimer(HWND hwnd, uintptr_t id) { return L().timers.erase({hwnd, id}) != 0; }

Timer::Timer() {
  hwnd_ = CreateWindowHandle([this](const MSG& msg) {
    if (msg.message == WM_TIMER) Tick();
  });
}

Timer::~Timer() { DestroyWindowHandle(hwnd_); }

void Timer::SetInterval(uint32_t milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  Update();
}

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Update();
}

void Timer::SetOnTimer(std::function<void()> handler) {
  on_timer_ = std::move(handler);
  Update();
}

void Timer::Update() {
  KillTimer(hwnd_, 1);
  if (enabled_ && interval_ > 0 && on_timer_) SetTimer(hwnd_, 1, interval_);
}

void Timer::Tick() {
  if (!enabled_ || !on_timer_) return;
  auto handler = on_timer_;  // the handler may replace itself or free the timer
  handler();
}

// ---------------------------------------------------------------------------

void WatchFd(int fd, short events, std::function<void(short revents)> callback) {
  Loop& l = L();
  Watch& w = l.watches[fd];
  w.events = events;
  w.serial = ++l.watch_serial;
  w.callback = std::make_shared<std::function<void(short)>>(std::move(callback));
}

void SetFdEvents(int fd, short events) {
  Loop& l = L();
  auto it = l.watches.find(fd);
  if (it != l.watches.end()) it->second.events = events;
}

void UnwatchFd(int fd) { L().watches.erase(fd); }

void AddWindowDestroyHook(std::function<void(HWND)> hook) { L().destroy_hooks.push_back(std::move(hook)); }

}  // namespace platform

extern "C" int HalvPostMessage(uint32_t hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  try {
    return platform::PostMessage(hwnd, msg, wParam, lParam) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
