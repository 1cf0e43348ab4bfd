#include "platform/ui/timer.h"

namespace platform::ui {

Timer::Timer(Component* owner, std::string name) : Component(owner, std::move(name)) {}

void Timer::SetOnTimer(NotifyEvent handler) {
  on_timer_ = handler;
  if (!handler) {
    timer_.SetOnTimer(nullptr);
    return;
  }
  timer_.SetOnTimer([this, handler = std::move(handler)] { handler(*this); });
}

void Timer::Fire() {
  if (on_timer_) on_timer_(*this);
}

}  // namespace platform::ui
