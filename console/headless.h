// korridan without a display: the generic headless console of the control
// layer (platform/ui/headless.h: caption, title, menu and modal lines on
// standard output, the operator's commands from standard input), plus the
// main window's log on standard output.
//
// Standard output, one line per event, flushed at once:
//   <text>                  a line that entered the log window, as it stands
//   @ caption <text>        the main window's caption changed
//   @ title <text>          the application title changed
//   @ menu <item> <text>    a menu item's caption changed, e.g.
//                           "@ menu ServerStatusMenu Stop"
//   @ modal <form>          a form began a modal showing, e.g.
//                           "@ modal StopServerForm"
//   @ modal-end <form>      that showing ended
//
// Commands as platform/ui/headless.h lists them, e.g. "menu ServerStatusMenu",
// "click StopServerForm.RadioButton1", "close About". Forms and items go by
// their component names (StopServerForm, About, ServerStatusMenu, ExitMenu,
// YesButton, RadioButton1, ...).
#pragma once

#include <cstdio>
#include <string>

#include "platform/ui/headless.h"

class TApp;

// Whether korridan runs without a window: asked for, or no display to show
// one on (neither DISPLAY nor WAYLAND_DISPLAY set).
using platform::ui::NoDisplay;

class THeadlessConsole : public platform::ui::HeadlessConsole {
 public:
  // Mirrors from now on. Made before the main window, it takes that window
  // as it is created, so the start-up lines show.
  explicit THeadlessConsole(std::FILE* out = stdout);
  ~THeadlessConsole() override;

  // The main window whose log lines are mirrored and whose menu the
  // commands choose from.
  void Attach(TApp& app);

 protected:
  void Created(platform::ui::Component& c) override;

 private:
  TApp* app_ = nullptr;
};
