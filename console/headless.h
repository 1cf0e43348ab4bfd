// korridan without a display: the generic headless console of the control
// layer (platform/ui/headless.h: caption, title, menu, modal and pop-up lines
// on standard output, the operator's commands from standard input, "show"),
// plus the main window's log on standard output.
//
// Standard output, one line per event:
//   <text>                  a line that entered the log window, as it stands
//   @ caption <text>        the main window's caption changed
//   @ title <text>          the application title changed
//   @ menu <item> <text>    a menu item's caption changed, e.g.
//                           "@ menu ServerStatusMenu Stop"
//   @ modal <form>          a form began a modal showing, e.g.
//                           "@ modal StopServerForm"
//   @ modal-end <form>      that showing ended
//   @ shown Header          a header viewer opened (its rows follow, as
//   @ hidden Header         "show" writes them) and closed
//   @ popup <menu> <x>,<y> <item> | <item> ...
//                           a pop-up menu opened at that screen point
//
// Commands as platform/ui/headless.h lists them, e.g. "menu ServerStatusMenu",
// "click StopServerForm.RadioButton1", "close About", "select App.TabSet 3",
// "dblclick App.ConnectionList 1 2" (the header viewer of the connection in
// row 2), "popup App.DLLList" then "menu App.UnloadDLL", "show App.Resources".
// Forms and items go by their component names (StopServerForm, About,
// ServerStatusMenu, ExitMenu, YesButton, RadioButton1, ...).
//
// For tests only, and only in a process whose date-time clock was frozen
// by HALVORINE_CLOCK (an operator's server never is):
//   advance <seconds>       move the frozen clock forward by that many
//                           seconds (0 to 864000), then tick each running
//                           timer of the main window once (the minute
//                           timer included, however few the seconds);
//                           answered "@ advanced <date> <time>" when done
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

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
  void Changed(platform::ui::Component& c, std::string_view what) override;
  bool RunOwn(const std::string& verb, const std::string& arg) override;

 private:
  bool Advance(const std::string& seconds_text);

  static constexpr long kMaxAdvanceSeconds = 864000;

  TApp* app_ = nullptr;
};
