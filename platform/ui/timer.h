// The timer component: platform::Timer with an owner, a name and an OnTimer
// event with the sender. Ticks come through the message loop (WM_TIMER),
// so a handler's error goes to the standard error report.
#pragma once

#include <string>

#include "platform/export.h"
#include "platform/msgloop.h"
#include "platform/ui/component.h"

namespace platform::ui {

class HALV_EXPORT Timer : public Component {
 public:
  // New timers are enabled, with an interval of 1000 ms.
  explicit Timer(Component* owner, std::string name = {});
  uint32_t Interval() const { return timer_.Interval(); }
  void SetInterval(uint32_t ms) { timer_.SetInterval(ms); }
  bool Enabled() const { return timer_.Enabled(); }
  // Enabling an enabled timer changes nothing; off and on again restarts
  // the interval.
  void SetEnabled(bool on) { timer_.SetEnabled(on); }
  void SetOnTimer(NotifyEvent handler);
  // Runs the handler now, as a tick would (enabled or not); the interval
  // runs on undisturbed.
  void Fire();

 private:
  platform::Timer timer_;
  NotifyEvent on_timer_;
};

}  // namespace platform::ui
