#include "console/headless.h"

#include "console/app.h"

THeadlessConsole::THeadlessConsole(std::FILE* out) : platform::ui::HeadlessConsole("korridan", out) {}

THeadlessConsole::~THeadlessConsole() {
  if (app_) app_->OnLogLine = nullptr;
}

void THeadlessConsole::Created(platform::ui::Component& c) {
  if (auto* app = dynamic_cast<TApp*>(&c)) Attach(*app);
}

void THeadlessConsole::Attach(TApp& app) {
  app_ = &app;
  SetMainForm(&app);
  app.OnLogLine = [this](const std::string& line) { Print(line); };
}
