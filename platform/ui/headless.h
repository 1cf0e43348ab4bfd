// A program without a display: its main form's caption, the application
// title, menu captions and modal showings on standard output, and (when
// asked for) the operator's actions from standard input. Message boxes need
// nothing here: without a handler of their own they go to standard error
// and take their default button.
//
// Standard output, one line per event, flushed at once:
//   @ caption <text>        the main form's caption changed
//   @ title <text>          the application title changed
//   @ menu <item> <text>    a menu item's caption changed
//   @ modal <form>          a form began a modal showing
//   @ modal-end <form>      that showing ended
//
// Commands, one per line (blank lines are skipped). Each becomes the user's
// action in the message queue. A command runs only once the actions of the
// one before it have been dispatched (inside the modal loop that one may
// have opened), so it finds the forms and lists as that action left them.
// An action a user could not do now (a main-menu item while a dialog is
// open, a disabled button) is dropped:
//   menu <item>                      choose the main form's menu item
//   click <form>.<control>           click a control of a form
//   close <form>                     the close box of a form
//   choose <form>.<control> <item>   choose an item of a list, combo box,
//                                    radio group or drive box, or a page or
//                                    tab, by its text (ASCII case ignored)
//                                    or else by its index
//   toggle <form>.<control> <item>   Ctrl+click an item of a list
//   dblclick <form>.<control> <item> double-click an item of a list
//   type <form>.<control> <text>     replace the text of an edit
//   dir <form>.<control> <path>      choose a directory in a directory tree
// Forms, controls and items go by their component names, ASCII case
// ignored. An unknown command, form, control or item is reported on
// standard error.
#pragma once

#include <cstdio>
#include <deque>
#include <string>

#include "platform/msgloop.h"

namespace platform::ui {

class Component;
class Form;

// Whether there is no display to show windows on (neither DISPLAY nor
// WAYLAND_DISPLAY set).
bool NoDisplay();

// The options of a program: [--headless] [--commands]. Any other argument:
// the usage line on standard error, and false. With a display and without
// --headless, the window front end starts (windows.h; WindowsStarted() then
// says whether it did).
bool ReadHeadlessOptions(int argc, char** argv, const char* program, bool& commands);

class HeadlessConsole {
 public:
  // Mirrors from now on. program: the name that opens its error lines.
  explicit HeadlessConsole(std::string program, std::FILE* out = stdout);
  virtual ~HeadlessConsole();
  HeadlessConsole(const HeadlessConsole&) = delete;
  HeadlessConsole& operator=(const HeadlessConsole&) = delete;

  // The form whose caption is mirrored and whose menu the commands choose
  // from; unless set, the application's main form.
  void SetMainForm(Form* form);
  Form* MainForm() const;

  // Reads commands from fd until its end.
  void ReadCommands(int fd);

  void Print(const std::string& line);

 protected:
  // A component was created (before its OnCreate).
  virtual void Created(Component&) {}

 private:
  void OnReadable();
  void Queue(std::string command);
  void RunNext();
  bool Run(const std::string& command);

  std::string program_;
  std::FILE* out_;
  int observer_ = 0;
  uint64_t main_form_id_ = 0;
  int fd_ = -1;
  std::string pending_;
  std::deque<std::string> commands_;
  bool posted_ = false;  // a command message is queued
  HWND window_ = 0;
};

}  // namespace platform::ui
