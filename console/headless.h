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
//
// Commands, one per line (blank lines are skipped). Each becomes the user's
// action in the message queue, so it takes effect in order with the rest,
// and is dropped when a user could not do it now (a main-menu item while a
// dialog is open, a disabled button):
//   menu <item>             choose the main window's menu item of that name
//   click <form>.<control>  click a control of a form
//   close <form>            the close box of a form
// Forms and items go by their component names (StopServerForm, About,
// ServerStatusMenu, ExitMenu, YesButton, RadioButton1, ...), ASCII case
// ignored. An unknown command is reported on standard error.
#pragma once

#include <cstdio>
#include <deque>
#include <string>

#include "platform/msgloop.h"

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

  std::FILE* out_;
  int observer_ = 0;
  int flush_hook_ = 0;
  TApp* app_ = nullptr;
  int fd_ = -1;
  std::string pending_;
  std::deque<std::string> commands_;
  platform::HWND window_ = 0;
};
