// Small helpers shared by the message-loop tests.
#pragma once

#include <functional>
#include <vector>

#include "platform/msgloop.h"

namespace platform::testing {

// A window that records every message dispatched to it.
class Recorder {
 public:
  explicit Recorder(std::function<void(const MSG&)> also = nullptr) : also_(std::move(also)) {
    hwnd = CreateWindowHandle([this](const MSG& m) {
      seen.push_back(m);
      if (also_) also_(m);
    });
  }
  ~Recorder() { DestroyWindowHandle(hwnd); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  size_t Count(UINT message) const {
    size_t n = 0;
    for (const MSG& m : seen) n += m.message == message;
    return n;
  }

  HWND hwnd = 0;
  std::vector<MSG> seen;

 private:
  std::function<void(const MSG&)> also_;
};

// Dispatches messages until done() holds or ms milliseconds have passed;
// returns done(). A quit request ends it and is posted again.
inline bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
  bool expired = false;
  HWND deadline = CreateWindowHandle([&](const MSG& m) {
    if (m.message == WM_TIMER) expired = true;
  });
  SetTimer(deadline, 1, ms);
  while (!done() && !expired) {
    MSG m;
    if (!GetMessage(m)) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    TranslateMessage(m);
    DispatchMessage(m);
  }
  DestroyWindowHandle(deadline);
  return done();
}

// Dispatches whatever comes for ms milliseconds.
inline void PumpFor(uint32_t ms) {
  PumpUntil([] { return false; }, ms);
}

// Empties the queue (the quit request included) without dispatching.
inline void DrainQueue() {
  MSG m;
  while (PeekMessage(m, 0, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace platform::testing
