#include "platform/ui/headless.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/stdlines.h"
#include "platform/ui/application.h"
#include "platform/ui/canvas.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/input.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"
#include "platform/ui/windows.h"

namespace platform::ui {
namespace {

// A queued command, taken by the console's own window. It is operator
// input like the actions a command posts, so it shares their range: a pump
// that takes input before other messages (the server's, after a socket
// event) still takes a step after the actions of the command before it.
// Outside the range that socket handlers hold back, so commands also run
// inside them.
constexpr UINT WM_CONSOLE_COMMAND = kUiScriptStep;
// The next block of an input the loop cannot wait for (a regular file).
constexpr UINT WM_CONSOLE_READ = WM_USER + 101;

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

Form* FindForm(const std::string& name) {
  Form* found = nullptr;
  for (Form* f : AllForms()) {
    if (!SameText(f->Name(), name)) continue;
    if (f->Visible()) return f;  // of two forms of one name, the one on screen
    if (!found) found = f;
  }
  return found;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Splits "word rest" at the first blank.
std::pair<std::string, std::string> Split(const std::string& text) {
  size_t space = text.find(' ');
  if (space == std::string::npos) return {text, {}};
  return {text.substr(0, space), Trim(text.substr(space + 1))};
}

// The control of that name on a control, wherever it sits (pages included).
Control* FindChild(const Control& root, const std::string& name) {
  for (Control* c : root.Controls()) {
    if (SameText(c->Name(), name)) return c;
    if (Control* found = FindChild(*c, name)) return found;
  }
  return nullptr;
}

// "Form.Control" to the control; "Form" alone to the form when whole_form.
Control* FindControl(const std::string& path, bool whole_form = false) {
  size_t dot = path.find('.');
  if (dot == std::string::npos) return whole_form ? FindForm(path) : nullptr;
  Form* form = FindForm(path.substr(0, dot));
  if (!form) return nullptr;
  std::string name = path.substr(dot + 1);
  if (auto* owned = form->Find<Control>(name)) return owned;
  return FindChild(*form, name);
}

// Why a command failed, as its report says it.
constexpr const char* kUnknown = "unknown command";
constexpr const char* kNoForm = "no such form";
constexpr const char* kNoControl = "no such control";
constexpr const char* kNoMenuItem = "no such menu item";
constexpr const char* kNoItem = "no such item";
constexpr const char* kNoDirectory = "no such directory";
constexpr const char* kNotNow = "not possible now (hidden, disabled or behind a dialog)";
constexpr const char* kErrorReported = "it raised an error";

// Why "Form.Control" (or "Form") names nothing.
const char* Missing(const std::string& path) {
  size_t dot = path.find('.');
  return FindForm(path.substr(0, dot)) ? kNoControl : kNoForm;
}

// The modal form that waits for an answer (the innermost), or nullptr.
Form* WaitingForm() {
  for (Form* f : AllForms())
    if (f->Modal() && !f->DisabledByModal()) return f;
  return nullptr;
}

// Whole numbers only, each within -1..32767; false for anything else.
bool Numbers(const std::string& text, std::vector<int>& out) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    char* stop = nullptr;
    long n = std::strtol(word.c_str(), &stop, 10);
    if (*stop != '\0' || n < -1 || n > 32767) return false;
    out.push_back(static_cast<int>(n));
  }
  return true;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
  return out;
}

std::string ColorText(Color color) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(ColorToRGB(color)));
  return buf;
}

std::string PointText(Point p) { return std::to_string(p.x) + "," + std::to_string(p.y); }

std::string RectText(const Rect& r) { return PointText({r.left, r.top}) + " " + PointText({r.right, r.bottom}); }

// One drawing call as text: the operation, its coordinates, then the brush
// colour where it fills and the text where it writes.
std::string DrawText(const DrawCall& call) {
  std::string line = OpName(call.op);
  switch (call.op) {
    case DrawCall::Op::FillRect:
    case DrawCall::Op::Rectangle:
      return line + " " + RectText(call.rect) + " #" + ColorText(call.brush.color);
    case DrawCall::Op::Polygon: {
      std::vector<std::string> points;
      for (const Point& p : call.points) points.push_back(PointText(p));
      return line + " #" + ColorText(call.brush.color) + " " + Join(points, " ");
    }
    case DrawCall::Op::MoveTo:
    case DrawCall::Op::LineTo:
      return line + " " + PointText(call.points.size() > 1 ? call.points[1] : Point{});
    case DrawCall::Op::TextOut:
      return line + " " + PointText({call.rect.left, call.rect.top}) + " " + call.text;
  }
  return line;
}

int IndexIn(const std::vector<std::string>& texts, const std::string& item) {
  for (size_t i = 0; i < texts.size(); ++i)
    if (SameText(texts[i], item)) return static_cast<int>(i);
  return -1;
}

// The index of an item of a control that offers a choice: by its text, or
// else by its number; -1 when there is none.
int ItemIndex(const Control& control, const std::string& item) {
  int index = -1;
  int count = 0;
  if (auto* list = dynamic_cast<const ListBox*>(&control)) {
    index = list->IndexOf(item);
    count = list->Count();
  } else if (auto* combo = dynamic_cast<const ComboBox*>(&control)) {
    index = combo->IndexOf(item);
    count = static_cast<int>(combo->Items().size());
  } else if (auto* group = dynamic_cast<const RadioGroup*>(&control)) {
    index = IndexIn(group->Items(), item);
    count = static_cast<int>(group->Items().size());
  } else if (auto* pages = dynamic_cast<const PageList*>(&control)) {
    index = IndexIn(pages->PageNames(), item);
    count = pages->PageCount();
  } else if (auto* tabs = dynamic_cast<const TabSet*>(&control)) {
    index = IndexIn(tabs->Tabs(), item);
    count = static_cast<int>(tabs->Tabs().size());
  } else if (auto* drives = dynamic_cast<const DriveBox*>(&control)) {
    index = IndexIn(drives->Drives(), item);
    count = static_cast<int>(drives->Drives().size());
  } else {
    return -1;
  }
  if (index >= 0 || item.empty() || item.find_first_not_of("0123456789") != std::string::npos) return index;
  int number = std::atoi(item.c_str());
  return number < count ? number : -1;
}

// The user's action that gives a control the value: a text field's text,
// a check box's state (1 or 0), a drop-down list's item, a page by its
// caption, a grid's row by its number. False for a value it cannot take.
bool SetControl(Control& control, const std::string& value) {
  if (auto* edit = dynamic_cast<Edit*>(&control)) {
    PostReplaceText(*edit, value);
    return true;
  }
  if (auto* check = dynamic_cast<CheckBox*>(&control)) {
    if (value != "1" && value != "0") return false;
    if (check->Checked() != (value == "1")) PostClick(*check);
    return true;
  }
  if (auto* combo = dynamic_cast<ComboBox*>(&control)) {
    int index = combo->IndexOf(value);
    if (index < 0) return false;
    PostChoose(*combo, index);
    return true;
  }
  if (auto* pages = dynamic_cast<PageList*>(&control)) {
    int index = IndexIn(pages->PageNames(), value);
    if (index < 0) return false;
    PostChoose(*pages, index);
    return true;
  }
  if (auto* grid = dynamic_cast<StringGrid*>(&control)) {
    std::vector<int> row;
    if (!Numbers(value, row) || row.size() != 1 || row[0] < 0 || row[0] >= grid->RowCount()) return false;
    PostSelectCell(*grid, grid->FixedCols(), row[0]);
    return true;
  }
  return false;
}

}  // namespace

bool NoDisplay() { return !Set("DISPLAY") && !Set("WAYLAND_DISPLAY"); }

bool ReadHeadlessOptions(int argc, char** argv, const char* program, bool& commands) {
  bool headless = false;
  commands = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) {
      headless = true;
    } else if (std::strcmp(argv[i], "--commands") == 0) {
      commands = true;
    } else {
      WriteLine(stderr, std::string("usage: ") + program + " [--headless] [--commands]");
      return false;
    }
  }
  if (!headless && !NoDisplay()) StartWindows(argc, argv, program);
  return true;
}

HeadlessConsole::HeadlessConsole(std::string program, std::FILE* out) : program_(std::move(program)), out_(out) {
  observer_ = AddChangeObserver([this](Component& c, std::string_view what) {
    if (what == "Created") {
      Created(c);
    } else if (what == "Caption") {
      // The main form first, by address: its caption changes most.
      if (Form* main = MainForm(); main && static_cast<Component*>(main) == &c) {
        Print("@ caption " + main->Caption());
      } else if (auto* item = dynamic_cast<MenuItem*>(&c)) {
        Print("@ menu " + item->Name() + " " + item->Caption());
      }
    } else if (what == "Title") {
      Application* app = Application::Current();
      if (!app || static_cast<Component*>(app) != &c) app = dynamic_cast<Application*>(&c);
      if (app) Print("@ title " + app->Title());
    } else if (what == "ModalBegin" || what == "ModalEnd") {
      if (auto* form = dynamic_cast<Form*>(&c))
        Print(std::string(what == "ModalBegin" ? "@ modal " : "@ modal-end ") + form->Name());
    } else if (what == "Popup") {
      if (auto* menu = dynamic_cast<PopupMenu*>(&c)) {
        std::vector<std::string> items;
        for (MenuItem* item : menu->Items().Items()) items.push_back(item->Caption());
        Print("@ popup " + menu->Name() + " " + PointText(menu->PopupPoint()) + " " + Join(items, " | "));
      }
    }
    if (what != "Created") Changed(c, what);
  });
  // Lines go out together when the loop next waits.
  flush_hook_ = AddBeforeWaitHook([this] { std::fflush(out_); });
  window_ = CreateWindowHandle([this](const MSG& msg) {
    if (msg.message == WM_CONSOLE_READ) {
      OnReadable();
      if (fd_ >= 0) PostMessage(window_, WM_CONSOLE_READ, 0, 0);
      return;
    }
    if (msg.message != WM_CONSOLE_COMMAND) return;
    posted_ = false;
    RunNext();
  });
}

HeadlessConsole::~HeadlessConsole() {
  RemoveChangeObserver(observer_);
  RemoveBeforeWaitHook(flush_hook_);
  std::fflush(out_);
  if (fd_ >= 0) UnwatchFd(fd_);
  DestroyWindowHandle(window_);
}

void HeadlessConsole::SetMainForm(Form* form) { main_form_id_ = form ? form->Id() : 0; }

Form* HeadlessConsole::MainForm() const {
  // The id was a form's, and ids are never given out again.
  if (main_form_id_) return static_cast<Form*>(Component::FromId(main_form_id_));
  Application* app = Application::Current();
  return app ? app->MainForm() : nullptr;
}

void HeadlessConsole::Print(const std::string& line) { WriteLine(out_, line); }

void HeadlessConsole::ReadCommands(int fd) {
  fd_ = fd;
  if (CanWatchFd(fd)) {
    WatchFd(fd, POLLIN, [this](short) { OnReadable(); });
  } else {
    // Always ready: read a block at a time from posted messages, so that
    // the loop goes on between them.
    PostMessage(window_, WM_CONSOLE_READ, 0, 0);
  }
}

void HeadlessConsole::OnReadable() {
  char buf[4096];
  ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    UnwatchFd(fd_);
    fd_ = -1;
    std::string last = Trim(pending_);
    pending_.clear();
    if (!last.empty()) Queue(++lines_, std::move(last));
    input_ended_ = true;
    PostStep();
    return;
  }
  pending_.append(buf, static_cast<size_t>(n));
  size_t eol;
  while ((eol = pending_.find('\n')) != std::string::npos) {
    std::string line = Trim(pending_.substr(0, eol));
    pending_.erase(0, eol + 1);
    ++lines_;
    if (!line.empty()) Queue(lines_, std::move(line));
  }
}

void HeadlessConsole::Queue(int line, std::string command) {
  commands_.push_back({line, std::move(command)});
  PostStep();
}

void HeadlessConsole::PostStep() {
  if (!posted_ && !failed_) posted_ = PostMessage(window_, WM_CONSOLE_COMMAND, 0, 0);
}

// One step of the script, behind the actions the command before posted
// (and inside the modal loop one of them may have opened): that command is
// settled, then the next one runs; once the input has ended, no dialog may
// still wait for an answer.
void HeadlessConsole::RunNext() {
  if (failed_) return;
  if (settling_) {
    settling_ = false;
    if (ErrorReportCount() != reports_before_) return Fail(last_, kErrorReported);
  }
  if (!commands_.empty()) {
    last_ = std::move(commands_.front());
    commands_.pop_front();
    reports_before_ = ErrorReportCount();
    std::string why;
    try {
      why = Run(last_.text);
    } catch (const std::exception& e) {
      ReportError(e.what());
    }
    if (!why.empty()) return Fail(last_, why);
    settling_ = true;
    PostStep();
    return;
  }
  if (input_ended_) {
    if (Form* waiting = WaitingForm())
      Fail(last_.line ? last_ : ScriptLine{lines_, {}},
           "the commands ended while " + waiting->Name() + " waits for an answer");
  }
}

void HeadlessConsole::Fail(const ScriptLine& command, const std::string& why) {
  failed_ = true;
  commands_.clear();
  if (fd_ >= 0) {
    UnwatchFd(fd_);
    fd_ = -1;
  }
  std::fflush(out_);
  std::string line = program_ + ": line " + std::to_string(command.line) + ": " + why;
  if (!command.text.empty()) line += ": " + command.text;
  WriteLine(stderr, line);
  if (OnScriptFailed)
    OnScriptFailed();
  else
    EndAtOnce(1);
}

void EndAtOnce(int status) {
  std::fflush(nullptr);
  ::_exit(status);
}

void HeadlessConsole::Show(Control& control) {
  Form* form = control.ParentForm();
  std::string name = (form && form != &control ? form->Name() + "." : "") + control.Name();
  if (auto* grid = dynamic_cast<StringGrid*>(&control)) {
    for (int r = 0; r < grid->RowCount(); ++r) {
      std::vector<std::string> cells = grid->RowTexts(r);
      bool filled = r < grid->FixedRows();
      for (int c = grid->FixedCols(); c < static_cast<int>(cells.size()); ++c) filled = filled || !cells[c].empty();
      if (filled) Print("@ row " + name + " " + std::to_string(r) + " " + Join(cells, " | "));
    }
  } else if (auto* label = dynamic_cast<Label*>(&control)) {
    Print("@ label " + name + " " + label->Caption());
  } else if (auto* combo = dynamic_cast<ComboBox*>(&control)) {
    Print("@ combo " + name + " " + combo->Text());
  } else if (auto* edit = dynamic_cast<Edit*>(&control)) {
    Print("@ edit " + name + " " + edit->Text());
  } else if (auto* box = dynamic_cast<PaintBox*>(&control)) {
    for (const DrawCall& call : box->GetCanvas().Calls()) Print("@ draw " + name + " " + DrawText(call));
  } else if (auto* list = dynamic_cast<ListBox*>(&control)) {
    for (int i = 0; i < list->Count(); ++i)
      Print("@ item " + name + " " + std::to_string(i) + (list->Selected(i) ? " 1 " : " 0 ") + list->Item(i));
  } else if (auto* group = dynamic_cast<RadioGroup*>(&control)) {
    const std::vector<std::string>& items = group->Items();
    for (int i = 0; i < static_cast<int>(items.size()); ++i)
      Print("@ item " + name + " " + std::to_string(i) + (group->ItemIndex() == i ? " 1 " : " 0 ") + items[i]);
  } else if (auto* check = dynamic_cast<CheckBox*>(&control)) {
    Print("@ check " + name + (check->Checked() ? " 1" : " 0"));
  } else if (auto* radio = dynamic_cast<RadioButton*>(&control)) {
    Print("@ check " + name + (radio->Checked() ? " 1" : " 0"));
  } else if (auto* pages = dynamic_cast<PageList*>(&control)) {
    if (Page* page = pages->ActivePage())
      Print("@ page " + name + " " + std::to_string(pages->PageIndex()) + " " + page->Caption());
  } else if (auto* tabs = dynamic_cast<TabSet*>(&control)) {
    int index = tabs->TabIndex();
    if (index >= 0 && index < static_cast<int>(tabs->Tabs().size()))
      Print("@ page " + name + " " + std::to_string(index) + " " + tabs->Tabs()[index]);
  } else if (auto* tree = dynamic_cast<DirectoryTree*>(&control)) {
    Print("@ dir " + name + " " + tree->Directory());
  } else if (auto* drives = dynamic_cast<DriveBox*>(&control)) {
    Print("@ combo " + name + " " + drives->Drive());
  }
  for (Control* child : control.Controls()) Show(*child);
}

std::string HeadlessConsole::Run(const std::string& command) {
  auto [verb, arg] = Split(command);
  if (RunOwn(verb, arg)) return {};
  if (verb == "menu") {
    // A main-form item, or <form>.<item> for the item of another form.
    size_t dot = arg.find('.');
    Form* form = dot == std::string::npos ? MainForm() : FindForm(arg.substr(0, dot));
    if (!form) return kNoForm;
    auto* item = form->Find<MenuItem>(dot == std::string::npos ? arg : arg.substr(dot + 1));
    if (!item) return kNoMenuItem;
    // A submenu's own item and a separator do nothing when chosen.
    if (!item->AcceptsInput() || item->IsSeparator() || item->Count() > 0) return kNotNow;
    PostMenu(*item);
    return {};
  }
  if (verb == "close") {
    Form* form = FindForm(arg);
    if (!form) return kNoForm;
    if (!form->AcceptsInput() || !form->CloseBox() || form->GetBorderStyle() == BorderStyle::None) return kNotNow;
    PostCloseBox(*form);
    return {};
  }
  if (verb == "find") {
    // The open find dialog's text typed and "Find Next" pressed.
    auto [path, text] = Split(arg);
    size_t dot = path.find('.');
    Form* form = dot == std::string::npos ? nullptr : FindForm(path.substr(0, dot));
    if (!form) return kNoForm;
    auto* dialog = form->Find<FindDialog>(path.substr(dot + 1));
    if (!dialog) return kNoControl;
    if (!dialog->Visible()) return kNotNow;
    PostFindText(*dialog, text);
    PostFindNext(*dialog);
    return {};
  }
  if (verb == "show") {  // page names may hold blanks
    Control* control = FindControl(arg, true);
    if (!control) return Missing(arg);
    Show(*control);
    return {};
  }
  static const char* const kControlVerbs[] = {"click",    "popup",  "type",   "set",   "dir",
                                              "dblclick", "select", "choose", "toggle"};
  if (std::find(std::begin(kControlVerbs), std::end(kControlVerbs), verb) == std::end(kControlVerbs)) return kUnknown;
  auto [target, rest] = Split(arg);
  Control* control = FindControl(target);
  if (!control) return Missing(target);
  if (!control->AcceptsInput()) return kNotNow;
  if ((verb == "click" || verb == "popup") && rest.empty()) {
    if (verb == "click")
      PostClick(*control);
    else
      PostContextMenu(*control);
    return {};
  }
  if (verb == "type") {
    PostReplaceText(*control, rest);
    return {};
  }
  if (verb == "set") return SetControl(*control, rest) ? std::string() : kNoItem;
  if (verb == "dir") {
    auto* tree = dynamic_cast<DirectoryTree*>(control);
    if (!tree) return kUnknown;
    std::error_code ec;
    if (rest.empty() || !std::filesystem::is_directory(rest, ec)) return kNoDirectory;
    PostChooseDirectory(*tree, rest);
    return {};
  }
  auto* grid = dynamic_cast<StringGrid*>(control);
  if (verb == "dblclick" && rest.empty()) {
    PostDblClick(*control);
    return {};
  }
  if (grid && (verb == "select" || verb == "dblclick")) {
    std::vector<int> cell;
    if (!Numbers(rest, cell) || cell.size() != 2) return kUnknown;
    if (cell[0] < 0 || cell[0] >= grid->ColCount() || cell[1] < 0 || cell[1] >= grid->RowCount()) return kNoItem;
    if (verb == "select")
      PostSelectCell(*grid, cell[0], cell[1]);
    else
      PostDblClickCell(*grid, cell[0], cell[1]);
    return {};
  }
  auto* list = dynamic_cast<ListBox*>(control);
  if ((verb == "toggle" || verb == "dblclick") && !list) return kUnknown;
  if (verb == "click" || verb == "popup") return kUnknown;
  int index = ItemIndex(*control, rest);
  if (index < 0) return kNoItem;
  if (verb == "choose" || verb == "select") {
    PostChoose(*control, index);
  } else if (verb == "toggle") {
    PostToggleSelect(*list, index);
  } else {
    PostDblClickItem(*list, index);
  }
  return {};
}

}  // namespace platform::ui
