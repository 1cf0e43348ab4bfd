// The console without a display: the main window's log, caption and menu
// on standard output, and (when asked for) the operator's commands from
// standard input. Message boxes need nothing here: without a handler of
// their own they go to standard error and take their default button.
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
//   @ shown Header          a header viewer opened (its rows follow) and
//   @ hidden Header         closed
//   @ popup <menu> <x>,<y> <item> | <item> ...
//                           a pop-up menu opened at that screen point
// and, for a header viewer as it opens and for the show command below, what
// a control shows:
//   @ row <form>.<grid> <n> <cell> | <cell> ...
//                           row n of a grid (the title rows, and the rows
//                           with something beyond their number)
//   @ label <form>.<label> <caption>
//   @ combo <form>.<box> <chosen item>
//   @ draw <form>.<box> <call>
//                           one drawing call of a painted control (the
//                           statistics graph), in the control's pixels:
//                           "FillRect l,t r,b #RRGGBB", "Rectangle l,t r,b
//                           #RRGGBB" (the brush), "Polygon #RRGGBB x,y x,y
//                           ...", "MoveTo x,y", "LineTo x,y" (end point
//                           not drawn), "TextOut x,y <text>"
//
// Commands, one per line (blank lines are skipped). Each becomes the user's
// action in the message queue, so it takes effect in order with the rest
// (a command is taken only once what the one before it posted has run),
// and is dropped when a user could not do it now (a main-menu item while a
// dialog is open, a disabled button):
//   menu <item>             choose the main window's menu item of that name
//   click <form>.<control>  click a control of a form
//   close <form>            the close box of a form
//   menu <form>.<item>      choose an item of another form's menus (a
//                           pop-up menu's items only while it is open)
//   select <form>.<grid> <col> <row>
//                           click a cell of a grid (a row-select grid
//                           selects the row)
//   select <form>.<control> <index>
//                           choose item, tab or page <index> (combo box,
//                           tab set, ...), e.g. "select App.TabSet 3"
//   dblclick <form>.<grid> <col> <row>   double-click a cell
//   dblclick <form>.<control>            double-click a control
//   popup <form>.<control>  the right mouse button over a control: opens
//                           its pop-up menu (e.g. "popup App.DLLList", then
//                           "menu UnloadDLL")
//   show <form>[.<control>] write what a form, a page (by its caption:
//                           "show App.Resources", "show App.Stats") or a
//                           control shows, as the lines above
// Forms and items go by their component names (StopServerForm, About,
// ServerStatusMenu, ExitMenu, YesButton, RadioButton1, ...), ASCII case
// ignored. An unknown command is reported on standard error.
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
#include <deque>
#include <string>
#include <vector>

#include "platform/msgloop.h"

namespace platform::ui {
class Control;
}

class TApp;

// Whether korridan runs without a window: asked for, or no display to show
// one on (neither DISPLAY nor WAYLAND_DISPLAY set).
bool NoDisplay();

class THeadlessConsole {
 public:
  // Mirrors from now on. Made before the main window, it takes that window
  // as it is created, so the start-up lines show.
  explicit THeadlessConsole(std::FILE* out = stdout);
  ~THeadlessConsole();
  THeadlessConsole(const THeadlessConsole&) = delete;
  THeadlessConsole& operator=(const THeadlessConsole&) = delete;

  // The main window whose log lines are mirrored and whose menu the
  // commands choose from.
  void Attach(TApp& app);
  // Reads commands from fd until its end.
  void ReadCommands(int fd);

  void Print(const std::string& line);

 private:
  void OnReadable();
  void Run(const std::string& command);
  void PostNextCommand();
  bool Advance(const std::string& seconds_text);
  bool Act(const std::string& verb, const std::string& arg);
  void Show(platform::ui::Control& control);

  static constexpr long kMaxAdvanceSeconds = 864000;

  std::FILE* out_;
  int observer_ = 0;
  TApp* app_ = nullptr;
  int fd_ = -1;
  std::string pending_;
  std::deque<std::string> commands_;
  platform::HWND window_ = 0;
  bool command_posted_ = false;
};
