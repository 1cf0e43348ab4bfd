#include "platform/msgloop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

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

#include "platform/stdlines.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kHeldFirst = WM_USER;      // socket and completion messages
constexpr UINT kHeldLast = WM_USER + 9;   // are held back by nested loops
constexpr uint32_t kMinTimerMs = 10;
constexpr uint32_t kMaxTimerMs = 0x7FFFFFFF;
constexpr uint32_t kHandlesPerPid = 1024;
// A taker collects ready descriptors only when the queue holds nothing for
// it, or after this many takes since the last collection, so that a stream
// of posts never keeps the descriptors waiting.
constexpr uint32_t kTakesPerCollection = 32;
constexpr auto kPumpCollectionAge = std::chrono::milliseconds(1);

bool Held(UINT m) { return m >= kHeldFirst && m <= kHeldLast; }

// What a taker wants: a window (0 any), an identifier range (0..0 any), and
// whether the held-back range stays queued.
struct Filter {
  HWND hwnd = 0;
  UINT min = 0;
  UINT max = 0;
  bool hold_back = false;

  // Whether only messages outside the held-back range can match.
  bool OnlyUnheld() const {
    return hold_back || ((min != 0 || max != 0) && (max < kHeldFirst || min > kHeldLast));
  }
  bool Matches(HWND h, UINT m) const {
    if (hwnd != 0 && h != hwnd) return false;
    if ((min != 0 || max != 0) && (m < min || m > max)) return false;
    if (hold_back && Held(m)) return false;
    return true;
  }
  // The quit request belongs to no window and passes any window filter.
  bool MatchesQuit() const { return Matches(hwnd, WM_QUIT); }
};

struct LastLook {
  HWND hwnd = 0;
  UINT min = 0;
  UINT max = 0;
};

struct TimerEntry {
  uint32_t interval_ms = 0;
  Clock::time_point due;
  uint64_t order = 0;  // ties between equally due timers go by age
};

// One descriptor number: its watch, if any, and what the epoll set holds
// for it. Interest changes are handed to the kernel just before the next
// wait, so a watch switched off and on between two waits costs nothing.
struct Watch {
  bool active = false;
  short events = 0;
  uint64_t serial = 0;
  std::shared_ptr<std::function<void(short)>> callback;
  uint32_t in_set = 0;   // events registered in the epoll set (0: not there)
  uint64_t forks = 0;    // children forked before it was watched
  bool recheck = false;  // watched afresh: the set may hold a closed namesake
  bool queued = false;   // listed in Loop::changed
  bool stray = false;    // listed in Loop::strays
};

struct Loop {
  // Guarded by mu: the window table and the queue (posters run on any thread).
  std::mutex mu;
  std::unordered_map<HWND, std::shared_ptr<WindowProc>> windows;
  std::deque<MSG> queue;
  size_t queued_unheld = 0;  // queued messages outside the held-back range
  HWND next_handle = 0;
  pid_t handle_pid = 0;  // the process the numbering belongs to (a forked child starts its own)

  // Loop thread only.
  bool quit = false;
  int quit_code = 0;
  std::map<std::pair<HWND, uintptr_t>, TimerEntry> timers;
  uint64_t timer_order = 0;
  std::vector<Watch> watches;  // indexed by descriptor
  std::vector<int> changed;    // descriptors whose interest moved since the last wait
  std::vector<int> strays;     // paused watches still in the set that reported meanwhile
  uint64_t watch_serial = 0;
  std::vector<std::function<void(HWND)>> destroy_hooks;
  std::function<void(int)> waiter;
  LastLook last_look;  // PeekMessage's last call
  uint32_t takes = 0;  // messages taken since the last collection
  Clock::time_point collected{};  // when the last collection began
  std::vector<std::pair<int, std::function<void()>>> before_wait;
  int before_wait_ids = 0;

  std::atomic<int> held_depth{0};
  int wake_fd = -1;
  std::atomic<bool> wake_pending{false};  // the wake-up counter may be nonzero
  int epoll_fd = -1;
  // The thread that last took messages. Its own posts need no wake-up: it
  // is running, and it looks at the queue before it waits again.
  std::atomic<std::thread::id> pumper{};

  std::mutex report_mu;
  std::function<void(const std::string&)> report;
  std::atomic<uint64_t> reports{0};

  Loop() { OpenDescriptors(); }

  // The wake-up counter and the epoll set; a forked child makes its own, so
  // that its watches and wake-ups stay out of its parent's.
  void OpenDescriptors() {
    wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (wake_fd < 0 || epoll_fd < 0) {
      std::perror("eventfd/epoll_create1");
      std::abort();
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wake_fd;
    if (::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &ev) != 0) {
      std::perror("epoll_ctl");
      std::abort();
    }
  }
};

// Counts a message out of the queue (mu held); true, for use in a removal's
// predicate once the message is known to go.
bool Dequeued(Loop& l, const MSG& m) {
  if (!Held(m.message)) --l.queued_unheld;
  return true;
}

std::atomic<bool> forked{false};
// Children forked by this process: a child may hold copies of the watched
// descriptors.
std::atomic<uint64_t> forks{0};

Loop* MakeLoop() {
  auto* loop = new Loop;
  ::pthread_atfork(
      nullptr, [] { forks.fetch_add(1, std::memory_order_relaxed); },
      [] { forked.store(true, std::memory_order_relaxed); });
  return loop;
}

// Never destroyed: other threads may still post while the program exits.
Loop& L() {
  static Loop* loop = MakeLoop();
  if (forked.load(std::memory_order_relaxed)) [[unlikely]] {
    forked.store(false, std::memory_order_relaxed);
    ::close(loop->epoll_fd);
    ::close(loop->wake_fd);
    loop->OpenDescriptors();
    loop->changed.clear();
    for (size_t fd = 0; fd < loop->watches.size(); ++fd) {
      Watch& w = loop->watches[fd];
      w.in_set = 0;
      w.recheck = false;
      w.queued = w.active && w.events != 0;
      if (w.queued) loop->changed.push_back(static_cast<int>(fd));
    }
  }
  return *loop;
}

void Wake(Loop& l) {
  l.wake_pending.store(true, std::memory_order_release);
  uint64_t one = 1;
  ssize_t r;
  do {
    r = ::write(l.wake_fd, &one, sizeof one);
  } while (r < 0 && errno == EINTR);
  // EAGAIN means the counter is saturated, so the loop is awake anyway.
}

void DrainWake(Loop& l) {
  l.wake_pending.store(false, std::memory_order_relaxed);
  uint64_t count;
  while (::read(l.wake_fd, &count, sizeof count) > 0) {
  }
}

Watch* FindWatch(Loop& l, int fd) {
  if (fd < 0 || static_cast<size_t>(fd) >= l.watches.size()) return nullptr;
  return &l.watches[static_cast<size_t>(fd)];
}

void MarkChanged(Loop& l, int fd, Watch& w) {
  if (w.queued) return;
  w.queued = true;
  l.changed.push_back(fd);
}

bool Control(Loop& l, int op, int fd, uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  return ::epoll_ctl(l.epoll_fd, op, fd, &ev) == 0;
}

void RemoveFromSet(Loop& l, int fd, Watch& w) {
  if (w.in_set != 0) Control(l, EPOLL_CTL_DEL, fd, 0);  // fails harmlessly when already closed
  w.in_set = 0;
}

// Hands the interest changes to the epoll set. A watch switched to no
// events stays in the set until it reports something (it is removed then):
// most such pauses end before the next wait.
void SyncInterest(Loop& l) {
  for (int fd : l.changed) {
    Watch* w = FindWatch(l, fd);
    if (w == nullptr || !w->queued) continue;
    w->queued = false;
    const uint32_t want = w->active ? static_cast<uint16_t>(w->events) : 0;
    if (want == 0 || (want == w->in_set && !w->recheck)) continue;
    bool ok;
    if (w->in_set != 0 || w->recheck) {
      ok = Control(l, EPOLL_CTL_MOD, fd, want) || (errno == ENOENT && Control(l, EPOLL_CTL_ADD, fd, want));
    } else {
      ok = Control(l, EPOLL_CTL_ADD, fd, want) || (errno == EEXIST && Control(l, EPOLL_CTL_MOD, fd, want));
    }
    w->recheck = false;
    if (ok) {
      w->in_set = want;
    } else {
      // Closed behind the watcher's back (or never pollable): it would
      // never be reported, so it goes.
      w->in_set = 0;
      w->active = false;
      w->callback.reset();
    }
  }
  l.changed.clear();
}

// One collection of ready descriptors, waiting up to timeout_ms (-1: no
// limit, 0: not at all). Callbacks run in descriptor order once the wait
// returns, each checked against the watch table first, since a callback may
// close and reuse another descriptor.
void Collect(Loop& l, int timeout_ms) {
  SyncInterest(l);
  l.takes = 0;
  l.collected = Clock::now();
  constexpr int kBatch = 256;
  epoll_event events[kBatch];
  std::vector<epoll_event> ready;
  int n = ::epoll_wait(l.epoll_fd, events, kBatch, timeout_ms);
  if (n <= 0) return;  // timeout, or EINTR (a signal: its pipe is read next time)
  ready.assign(events, events + n);
  while (n == kBatch) {  // more may be ready than one batch holds
    n = ::epoll_wait(l.epoll_fd, events, kBatch, 0);
    if (n > 0) ready.insert(ready.end(), events, events + n);
  }
  std::sort(ready.begin(), ready.end(), [](const epoll_event& a, const epoll_event& b) { return a.data.fd < b.data.fd; });
  ready.erase(std::unique(ready.begin(), ready.end(),
                          [](const epoll_event& a, const epoll_event& b) { return a.data.fd == b.data.fd; }),
              ready.end());
  struct Due {
    int fd;
    short revents;
    uint64_t serial;
  };
  std::vector<Due> due;
  due.reserve(ready.size());
  for (const epoll_event& ev : ready) {
    const int fd = ev.data.fd;
    if (fd == l.wake_fd) {
      DrainWake(l);
      continue;
    }
    Watch* w = FindWatch(l, fd);
    if (w == nullptr) continue;
    if (!w->active || w->events == 0) {
      // A paused watch left in the set. Most pauses end before the loop
      // blocks (a read answers its notification), so it stays until then.
      if (timeout_ms == 0 && w->active) {
        if (!w->stray) l.strays.push_back(fd);
        w->stray = true;
      } else {
        RemoveFromSet(l, fd, *w);
      }
      continue;
    }
    due.push_back({fd, static_cast<short>(ev.events), w->serial});
  }
  for (const Due& d : due) {
    Watch* w = FindWatch(l, d.fd);
    if (w == nullptr || !w->active || w->serial != d.serial || w->events == 0) continue;
    auto callback = w->callback;  // keeps it alive if the callback unwatches itself
    (*callback)(d.revents);
  }
}

// Runs the hooks for the moment the loop is about to block.
void BeforeWait(Loop& l) {
  if (l.before_wait.empty()) return;
  auto hooks = l.before_wait;  // a hook may remove itself
  for (auto& [id, hook] : hooks) hook();
}

// Takes the paused watches that reported out of the set, so that they do
// not end the wait at once.
void DropStrays(Loop& l) {
  for (int fd : l.strays) {
    Watch* w = FindWatch(l, fd);
    if (w == nullptr) continue;
    w->stray = false;
    if (!w->active || w->events == 0) RemoveFromSet(l, fd, *w);
  }
  l.strays.clear();
}

// Blocks until a descriptor is ready, the wake-up comes or timeout_ms
// passes, then collects: through the front end's waiter when one is set.
void Block(Loop& l, int timeout_ms) {
  if (timeout_ms != 0) {
    BeforeWait(l);
    DropStrays(l);
  }
  if (l.waiter) {
    SyncInterest(l);
    auto waiter = l.waiter;  // may be replaced while it runs
    waiter(timeout_ms);
    Collect(l, 0);
  } else {
    Collect(l, timeout_ms);
  }
}

bool Take(MSG& msg, const Filter& f, bool remove) {
  Loop& l = L();
  {
    std::lock_guard lock(l.mu);
    // A pump of the other messages skips a queue of socket messages at once.
    const bool none = f.OnlyUnheld() && l.queued_unheld == 0;
    for (auto it = none ? l.queue.end() : l.queue.begin(); it != l.queue.end(); ++it) {
      if (!f.Matches(it->hwnd, it->message)) continue;
      msg = *it;
      if (remove) {
        Dequeued(l, *it);
        l.queue.erase(it);
        ++l.takes;
      }
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

// A post from another thread taken without a collection leaves the wake-up
// counter set; it is cleared so that the wait descriptor tells only of what
// is still to come.
void TakenWithoutCollecting(Loop& l) {
  if (l.wake_pending.load(std::memory_order_acquire)) DrainWake(l);
}

// Blocks until a message the filter takes is there, and removes it.
void Wait(MSG& msg, const Filter& f) {
  Loop& l = L();
  l.pumper.store(std::this_thread::get_id(), std::memory_order_relaxed);
  if (l.takes >= kTakesPerCollection) Collect(l, 0);
  if (Take(msg, f, true)) {
    TakenWithoutCollecting(l);
    return;
  }
  Collect(l, 0);
  while (!Take(msg, f, true)) Block(l, MsUntilNextTimer(f));
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
    std::erase_if(l.queue, [&l, hwnd](const MSG& m) { return m.hwnd == hwnd && Dequeued(l, m); });
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
    if (!Held(message)) ++l.queued_unheld;
  }
  if (l.pumper.load(std::memory_order_relaxed) != std::this_thread::get_id()) Wake(l);
  return true;
}

namespace {
thread_local uint64_t dispatch_pass = 0;
std::atomic<uint64_t> dispatch_passes{0};
}  // namespace

uint64_t DispatchPass() { return dispatch_pass; }

bool GetMessage(MSG& msg) {
  Wait(msg, Filter{});
  return msg.message != WM_QUIT;
}

bool PeekMessage(MSG& msg, HWND hwnd, UINT min, UINT max, UINT removeFlag) {
  Loop& l = L();
  l.pumper.store(std::this_thread::get_id(), std::memory_order_relaxed);
  const Filter f{hwnd, min, max, false};
  const uint64_t pass = DispatchPass();
  const LastLook& last = l.last_look;
  const bool remove = (removeFlag & PM_REMOVE) != 0;
  if (l.takes >= kTakesPerCollection) Collect(l, 0);
  bool found = Take(msg, f, remove);
  if (found) TakenWithoutCollecting(l);
  // Inside a handler, a look that finds nothing collects only when the last
  // collection is a while old or the same look is asked again (a loop that
  // peeks and sleeps): the handler's own pumps then cost nothing.
  if (!found && (pass == 0 || (last.hwnd == hwnd && last.min == min && last.max == max) ||
                 Clock::now() - l.collected > kPumpCollectionAge)) {
    Collect(l, 0);
    found = Take(msg, f, remove);
  }
  l.last_look = LastLook{hwnd, min, max};
  if (found) return true;
  // Nothing at all to do: the caller waits its own way next.
  if (hwnd == 0 && min == 0 && max == 0) BeforeWait(l);
  return false;
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
  const bool held = Held(msg.message);
  struct DepthGuard {
    std::atomic<int>* depth;
    ~DepthGuard() {
      if (depth) depth->fetch_sub(1);
    }
  } guard{held ? &l.held_depth : nullptr};
  if (held) l.held_depth.fetch_add(1);
  struct PassGuard {
    uint64_t outer = dispatch_pass;
    PassGuard() { dispatch_pass = ++dispatch_passes; }
    ~PassGuard() { dispatch_pass = outer != 0 ? ++dispatch_passes : 0; }
  } pass;
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
    return m.hwnd == hwnd && m.message == message && m.wParam == wParam && Dequeued(l, m);
  });
}

void SetErrorReportHandler(std::function<void(const std::string&)> handler) {
  Loop& l = L();
  std::lock_guard lock(l.report_mu);
  l.report = std::move(handler);
}

void ReportError(const std::string& text) {
  Loop& l = L();
  l.reports.fetch_add(1);
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
  WriteLine(stderr, text);
}

uint64_t ErrorReportCount() { return L().reports.load(); }

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
  if (fd < 0) return;
  Loop& l = L();
  if (static_cast<size_t>(fd) >= l.watches.size()) l.watches.resize(static_cast<size_t>(fd) + 1);
  Watch& w = l.watches[static_cast<size_t>(fd)];
  if (w.active && w.in_set != 0) w.recheck = true;  // the old one may have been closed meanwhile
  w.active = true;
  w.events = events;
  w.serial = ++l.watch_serial;
  w.forks = forks.load(std::memory_order_relaxed);
  w.callback = std::make_shared<std::function<void(short)>>(std::move(callback));
  MarkChanged(l, fd, w);
}

bool CanWatchFd(int fd) {
  int probe = ::epoll_create1(EPOLL_CLOEXEC);
  if (probe < 0) return true;
  epoll_event ev{};
  ev.events = EPOLLIN;
  const bool refused = ::epoll_ctl(probe, EPOLL_CTL_ADD, fd, &ev) != 0 && errno == EPERM;
  ::close(probe);
  return !refused;
}

void SetFdEvents(int fd, short events) {
  Loop& l = L();
  Watch* w = FindWatch(l, fd);
  if (w == nullptr || !w->active || w->events == events) return;
  w->events = events;
  MarkChanged(l, fd, *w);
}

void UnwatchFd(int fd) {
  Loop& l = L();
  Watch* w = FindWatch(l, fd);
  if (w == nullptr || !w->active) return;
  // Taken out of the set now, while the descriptor is still open: once it
  // is closed the set could hold it on for a copy in another process.
  RemoveFromSet(l, fd, *w);
  w->active = false;
  w->events = 0;
  w->callback.reset();
}

void UnwatchFdToClose(int fd) {
  Loop& l = L();
  Watch* w = FindWatch(l, fd);
  if (w == nullptr || !w->active) return;
  // With no copy in a child, the close takes it out of the set.
  if (w->forks == forks.load(std::memory_order_relaxed)) w->in_set = 0;
  UnwatchFd(fd);
}

int AddBeforeWaitHook(std::function<void()> hook) {
  Loop& l = L();
  l.before_wait.emplace_back(++l.before_wait_ids, std::move(hook));
  return l.before_wait_ids;
}

void RemoveBeforeWaitHook(int id) {
  std::erase_if(L().before_wait, [id](const auto& entry) { return entry.first == id; });
}

int LoopWaitDescriptor() { return L().epoll_fd; }

void SetLoopWaiter(std::function<void(int timeoutMs)> waiter) { L().waiter = std::move(waiter); }

void AddWindowDestroyHook(std::function<void(HWND)> hook) { L().destroy_hooks.push_back(std::move(hook)); }

}  // namespace platform

extern "C" int HalvPostMessage(uint32_t hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  try {
    return platform::PostMessage(hwnd, msg, wParam, lParam) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
