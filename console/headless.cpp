#include "console/headless.h"

#include <cstdlib>
#include <vector>

#include "console/app.h"
#include "console/hdrform.h"
#include "platform/datetime.h"
#include "platform/ui/timer.h"

namespace ui = platform::ui;

THeadlessConsole::THeadlessConsole(std::FILE* out) : ui::HeadlessConsole("korridan", out) {}

THeadlessConsole::~THeadlessConsole() {
  if (app_) app_->OnLogLine = nullptr;
}

void THeadlessConsole::Created(ui::Component& c) {
  if (auto* app = dynamic_cast<TApp*>(&c)) Attach(*app);
}

void THeadlessConsole::Attach(TApp& app) {
  app_ = &app;
  SetMainForm(&app);
  app.OnLogLine = [this](const std::string& line) { Print(line); };
}

// A header viewer shows its table as it opens.
void THeadlessConsole::Changed(ui::Component& c, std::string_view what) {
  if (what != "Shown" && what != "Hidden") return;
  if (auto* viewer = dynamic_cast<THeaderForm*>(&c)) {
    Print(std::string(what == "Shown" ? "@ shown " : "@ hidden ") + viewer->Name());
    if (what == "Shown") Show(*viewer);
  }
}

bool THeadlessConsole::RunOwn(const std::string& verb, const std::string& arg) {
  return verb == "advance" && app_ && platform::ClockIsFrozen() && Advance(arg);
}

// The test clock moves on, then each running timer of the main window
// ticks once.
bool THeadlessConsole::Advance(const std::string& seconds_text) {
  char* end = nullptr;
  long seconds = std::strtol(seconds_text.c_str(), &end, 10);
  if (seconds_text.empty() || *end != '\0' || seconds < 0 || seconds > kMaxAdvanceSeconds) return false;
  platform::AdvanceNow(static_cast<double>(seconds));
  std::vector<ui::Timer*> due;
  for (ui::Component* c : app_->Components())
    if (auto* timer = dynamic_cast<ui::Timer*>(c); timer && timer->Enabled()) due.push_back(timer);
  for (ui::Timer* timer : due) timer->Fire();
  Print("@ advanced " + platform::FormatDateTime(platform::Now()));
  return true;
}
