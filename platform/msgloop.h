// Window messages on Linux: one message loop per process, built on epoll.
//
// A "window" is a 32-bit handle with a handler. Messages are posted to a
// handle and taken from one process-wide queue by GetMessage or PeekMessage,
// then handed to the handler by DispatchMessage. The loop also watches file
// descriptors (sockets, the cross-process channel, the signal pipe) and runs
// timers, so that every event of the program reaches it as a message.
//
// Threads: everything here belongs to the loop's thread (the thread that
// creates the windows and pumps), except PostMessage and HalvPostMessage,
// which any thread may call; a post wakes a loop blocked in GetMessage.
//
// Order in which messages are taken: posted messages first, oldest first;
// then the quit request of PostQuitMessage, once nothing posted matches;
// then WM_TIMER for a due timer, at most one pending per timer however many
// intervals went by. A GetMessage or PeekMessage that finds nothing for
// itself in the queue collects the ready watched descriptors without
// waiting and looks again, so a loop that only peeks still sees sockets (so
// does every 32nd take, so that posts never keep descriptors waiting); a
// GetMessage that still finds nothing then blocks until a descriptor, a post
// or the next timer is due, and collects again. A descriptor's events are
// posted in the order they happened.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/export.h"

HALV_EXPORT_BEGIN
namespace platform {

using HWND = uint32_t;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

// ---------------------------------------------------------------------------
// Windows

using WindowProc = std::function<void(const MSG&)>;

// Registers a window and returns its handle: never 0, unique within the
// process, and in practice unique among the live processes of the machine
// (the numbering starts at a base taken from the process id, 1024 handles
// per process id), since a handle also names its cross-process channel.
HWND CreateWindowHandle(WindowProc handler);

// Unregisters the window: its queued messages are dropped, its timers killed
// and its cross-process channel closed. A handler running at the time runs
// to its end. False for an unknown handle.
bool DestroyWindowHandle(HWND hwnd);

bool IsWindowHandle(HWND hwnd);

// ---------------------------------------------------------------------------
// Queue

// Appends a message to the queue; any thread. False when hwnd is not a
// window (0 included).
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Waits for the next message. False when it is WM_QUIT (msg then holds it,
// wParam being the exit code), true otherwise.
bool GetMessage(MSG& msg);

// Takes the first message for hwnd (0: any window) whose identifier lies in
// min..max (both 0: any identifier), without waiting. With PM_REMOVE it is
// taken out of the queue; with PM_NOREMOVE it stays. The quit request counts
// as a message of any window. False when nothing matches.
bool PeekMessage(MSG& msg, HWND hwnd, UINT min, UINT max, UINT removeFlag);

// Keyboard translation; nothing to do here.
void TranslateMessage(const MSG& msg);

// Calls the handler of msg.hwnd (nothing for an unknown handle). An
// exception leaving the handler is caught and its text goes to the error
// report; the loop carries on. No lock is held meanwhile: handlers may pump.
void DispatchMessage(const MSG& msg);

// A number that stays the same while one handler runs on this thread and
// changes whenever a dispatch begins or ends (so a nested loop inside the
// handler changes it too); 0 outside any handler. Lets a handler look at a
// file once however often it asks.
uint64_t DispatchPass();

// Asks the loop to end: WM_QUIT with the exit code comes once the queue holds
// nothing else the taker wants.
void PostQuitMessage(int exitCode);

// Removes the queued messages for hwnd with identifier message and this
// wParam (a closed socket's notifications). Returns how many went.
size_t PurgePostedMessages(HWND hwnd, UINT message, WPARAM wParam);

// The standard error report: receives the text of an exception caught by
// DispatchMessage. The default writes it to standard error; an empty
// function restores the default.
void SetErrorReportHandler(std::function<void(const std::string&)> handler);
void ReportError(const std::string& text);
// How many error reports the process has made so far.
uint64_t ErrorReportCount();

// ---------------------------------------------------------------------------
// Modal loops

// Dispatches messages until done() returns true, checking it before each
// wait and after each message; returns true then. When WM_QUIT arrives it is
// posted again for the outer loop and the result is false.
// Opened while a message WM_USER..WM_USER+9 (a socket or completion
// message) is being dispatched, the loop leaves those identifiers queued, in
// order, so that such handlers never nest; otherwise it dispatches all.
bool RunModalLoop(const std::function<bool()>& done);

// True while DispatchMessage is inside the handler of a message
// WM_USER..WM_USER+9, at whatever depth.
bool InSocketOrCompletionHandler();

// ---------------------------------------------------------------------------
// Timers

// Starts (or, for an existing id of the window, restarts with the new
// interval) a timer that makes WM_TIMER with wParam = id for hwnd. Intervals
// below 10 ms count as 10 ms. False for an unknown window.
bool SetTimer(HWND hwnd, uintptr_t id, uint32_t milliseconds);

// Stops the timer; a tick not yet taken goes with it. False when there was
// no such timer.
bool KillTimer(HWND hwnd, uintptr_t id);

// The timer component of the class library. It ticks only while Enabled,
// with an Interval above 0 and an OnTimer handler. Setting Enabled to the
// value it has changes nothing; switching it off and on again, changing the
// interval or the handler starts the interval anew. At most one tick is
// pending. New timers are enabled, with an interval of 1000 ms.
class Timer {
 public:
  Timer();
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t milliseconds);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  void SetOnTimer(std::function<void()> handler);

 private:
  void Update();
  void Tick();

  HWND hwnd_ = 0;
  uint32_t interval_ = 1000;
  bool enabled_ = true;
  std::function<void()> on_timer_;
};

// ---------------------------------------------------------------------------
// Descriptors watched by the loop (loop thread only)

// The callback gets the ready events for fd (POLLIN, POLLOUT, POLLRDHUP,
// POLLERR, POLLHUP: the poll() bits), whenever one of events or an error or
// hang-up is reported. Callbacks run inside GetMessage and PeekMessage, in
// descriptor order, and should only post messages. Watching an fd again
// replaces its events and callback; events 0 pauses it (no error or hang-up
// reports either). Unwatch an fd before closing it.
void WatchFd(int fd, short events, std::function<void(short revents)> callback);
// Whether the loop can wait for fd. A regular file (and a device such as
// /dev/null) cannot be waited for: poll() would call it always ready, and
// its reader reads it without waiting.
bool CanWatchFd(int fd);
void SetFdEvents(int fd, short events);
void UnwatchFd(int fd);
// UnwatchFd for a descriptor the caller closes next, before the loop runs
// again: when no child was forked since it was watched, the close itself
// takes it out of the epoll set.
void UnwatchFdToClose(int fd);

// Called on the loop's thread each time the loop is about to block, or a
// PeekMessage for any window and message found nothing (its caller then
// waits its own way), e.g. to write out what was buffered meanwhile. A hook
// must not post messages.
// Returns an id for RemoveBeforeWaitHook.
int AddBeforeWaitHook(std::function<void()> hook);
void RemoveBeforeWaitHook(int id);

// ---------------------------------------------------------------------------
// Front ends with a loop of their own (loop thread only)

// One descriptor (the epoll fd) that is readable whenever any watched
// descriptor or the cross-thread wake-up is ready.
int LoopWaitDescriptor();

// When set, the loop calls waiter(timeout) to block (timeout in
// milliseconds until the next timer is due; -1 = no limit) instead of
// blocking in epoll_wait itself, then collects the ready descriptors with a
// zero timeout. The waiter may return early; the loop then looks again. An
// empty function restores the built-in wait.
void SetLoopWaiter(std::function<void(int timeoutMs)> waiter);

// Called with the handle of each window as it is destroyed (after its
// messages are gone), on the loop's thread. For the layers that key state by
// window.
void AddWindowDestroyHook(std::function<void(HWND)> hook);

}  // namespace platform

// For outside libraries (extension libraries, the page engine), from any
// thread: posts a message into the program's queue. Nonzero when posted.
extern "C" int HalvPostMessage(uint32_t hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
HALV_EXPORT_END
