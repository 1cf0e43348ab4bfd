// A program without a display: its main form's caption, the application
// title, menu captions and modal showings on standard output, and (when
// asked for) the operator's actions from standard input. Message boxes need
// nothing here: without a handler of their own they go to standard error
// and take their default button.
//
// Standard output, one line per event, flushed whenever the loop is about
// to wait:
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
//
// The commands:
//   menu <item>                      choose the main form's menu item
//   menu <form>.<item>               choose an item of another form's menus
//                                    (a pop-up menu's only while it is open)
//   click <form>.<control>           click a control of a form
//   close <form>                     the close box of a form
//   choose <form>.<control> <item>   choose an item of a list, combo box,
//                                    radio group or drive box, or a page or
//                                    tab, by its text (ASCII case ignored)
//                                    or else by its index
//   select <form>.<grid> <col> <row> click a cell of a grid (a row-select
//                                    grid selects the row)
//   select <form>.<control> <index>  choose item, tab or page <index>
//   toggle <form>.<control> <item>   Ctrl+click an item of a list
//   dblclick <form>.<control> <item> double-click an item of a list
//   dblclick <form>.<grid> <col> <row>  double-click a cell of a grid
//   dblclick <form>.<control>        double-click a control
//   popup <form>.<control>           the right mouse button over a control:
//                                    opens its pop-up menu
//   type <form>.<control> <text>     replace the text of an edit
//   set <form>.<control> <value>     give a control a value as a user would:
//                                    a text field its text, a check box 1
//                                    or 0, a drop-down list the item of that
//                                    text, a page control the page of that
//                                    caption, a grid the row of that number
//                                    (a control on a page takes input only
//                                    while its page is the one shown)
//   dir <form>.<control> <path>      choose a directory in a directory tree
//   find <form>.<dialog> <text>      type the text into an open find dialog
//                                    and press "Find Next"
//   show <form>[.<control>]          write what a form, a page (by its
//                                    name) or a control shows, as below
// Forms, controls and items go by their component names, ASCII case
// ignored.
//
// The first command that fails ends the script: a form, control, menu item,
// item, page or directory that is not there; an action a user could not do
// now (a hidden or disabled control, a control on a page not shown, a
// main-menu item while a dialog is open); an error raised by its actions;
// and an end of input while a modal form still waits for an answer. It is
// reported on standard error as
//   <program>: line <n>: <why>: <command>
// (n counts every line of the input, blank ones too), the rest of the input
// is not read, and OnScriptFailed ends the program: by default at once, with
// exit status 1, without any exit step that would save what the commands
// changed. An end of input with no dialog waiting ends nothing: the program
// goes on, as its window would.
//
// What "show" writes, a line for each control that shows something:
//   @ row <form>.<grid> <n> <cell> | <cell> ...
//                           row n of a grid (the title rows, and the rows
//                           with something beyond their number)
//   @ label <form>.<label> <caption>
//   @ combo <form>.<box> <chosen item>   (a drop-down list or drive box)
//   @ edit <form>.<edit> <text>
//   @ item <form>.<list> <index> <0|1> <text>
//                           each item of a list box or radio group, 1 when
//                           it is selected (chosen)
//   @ check <form>.<box> <0|1>
//                           a check box or radio button, 1 when checked
//   @ page <form>.<notebook> <index> <caption>
//                           the page a notebook or tab set shows
//   @ dir <form>.<tree> <path>
//                           the directory chosen in a directory tree
//   @ draw <form>.<box> <call>
//                           one drawing call of a paint box, in the
//                           control's pixels: "FillRect l,t r,b #RRGGBB",
//                           "Rectangle l,t r,b #RRGGBB" (the brush),
//                           "Polygon #RRGGBB x,y x,y ...", "MoveTo x,y",
//                           "LineTo x,y" (end point not drawn),
//                           "TextOut x,y <text>"
// and a pop-up menu as it opens:
//   @ popup <menu> <x>,<y> <item> | <item> ...
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/msgloop.h"

namespace platform::ui {

class Component;
class Control;
class Form;

// Whether there is no display to show windows on (neither DISPLAY nor
// WAYLAND_DISPLAY set).
bool NoDisplay();

// The options of a program: [--headless] [--commands]. Any other argument:
// the usage line on standard error, and false. With a display and without
// --headless, the window front end starts (windows.h; WindowsStarted() then
// says whether it did).
HALV_EXPORT bool ReadHeadlessOptions(int argc, char** argv, const char* program, bool& commands);

// Ends the process now with that exit status, after flushing standard
// output and error: no window is destroyed, no exit handler runs.
[[noreturn]] HALV_EXPORT void EndAtOnce(int status);

class HALV_EXPORT HeadlessConsole {
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

  // Reads commands from fd until its end: a pipe, a terminal or a regular
  // file (/dev/null included).
  void ReadCommands(int fd);

  // What the program does when a command failed, once that was reported:
  // it ends the program without the saving steps of its normal exit.
  // Unset: EndAtOnce(1).
  std::function<void()> OnScriptFailed;

  void Print(const std::string& line);
  // Writes what a control and the controls on it show ("show").
  void Show(Control& control);

 protected:
  // A component was created (before its OnCreate).
  virtual void Created(Component&) {}
  // Any other change the control layer reports, after the console's own.
  virtual void Changed(Component&, std::string_view /*what*/) {}
  // A program's own commands, tried before the common ones; true when the
  // command was the program's and taken.
  virtual bool RunOwn(const std::string& /*verb*/, const std::string& /*arg*/) { return false; }

 private:
  struct ScriptLine {
    int line = 0;
    std::string text;
  };
  void OnReadable();
  void Queue(int line, std::string command);
  void PostStep();
  void RunNext();
  // Posts the command's actions; why it cannot, or empty.
  std::string Run(const std::string& command);
  void Fail(const ScriptLine& command, const std::string& why);

  std::string program_;
  std::FILE* out_;
  int observer_ = 0;
  int flush_hook_ = 0;
  uint64_t main_form_id_ = 0;
  int fd_ = -1;
  std::string pending_;
  int lines_ = 0;  // lines read so far
  bool input_ended_ = false;
  std::deque<ScriptLine> commands_;
  ScriptLine last_;                // the command that ran last
  bool settling_ = false;          // its actions may still be running
  uint64_t reports_before_ = 0;    // error reports before it ran
  bool failed_ = false;
  bool posted_ = false;  // a step message is queued
  HWND window_ = 0;
};

}  // namespace platform::ui
