#include "console/headless.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "console/app.h"
#include "console/hdrform.h"
#include "platform/datetime.h"
#include "platform/ui/application.h"
#include "platform/ui/canvas.h"
#include "platform/ui/controls.h"
#include "platform/ui/grid.h"
#include "platform/ui/form.h"
#include "platform/ui/input.h"
#include "platform/ui/menus.h"
#include "platform/ui/timer.h"

namespace ui = platform::ui;

namespace {

// A queued command, taken by the console's own window. Outside the range
// that socket handlers hold back, so commands also run inside them.
constexpr platform::UINT WM_CONSOLE_COMMAND = platform::WM_USER + 100;

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

ui::Form* FindForm(const std::string& name) {
  ui::Form* found = nullptr;
  for (ui::Form* f : ui::AllForms()) {
    if (!ui::SameText(f->Name(), name)) continue;
    if (f->Visible()) return f;  // of two forms of one name, the one on screen
    if (!found) found = f;
  }
  return found;
}

// The control of that name on the form, wherever it sits (pages included).
ui::Control* FindControl(ui::Control& root, const std::string& name) {
  for (ui::Control* c : root.Controls()) {
    if (ui::SameText(c->Name(), name)) return c;
    if (ui::Control* found = FindControl(*c, name)) return found;
  }
  return nullptr;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
  return out;
}

std::string ColorText(ui::Color color) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(ui::ColorToRGB(color)));
  return buf;
}

std::string PointText(ui::Point p) { return std::to_string(p.x) + "," + std::to_string(p.y); }

std::string RectText(const ui::Rect& r) {
  return PointText({r.left, r.top}) + " " + PointText({r.right, r.bottom});
}

// One drawing call as text: the operation, its coordinates, then the brush
// colour where it fills and the text where it writes.
std::string DrawText(const ui::DrawCall& call) {
  std::string line = ui::OpName(call.op);
  switch (call.op) {
    case ui::DrawCall::Op::FillRect:
    case ui::DrawCall::Op::Rectangle:
      return line + " " + RectText(call.rect) + " #" + ColorText(call.brush.color);
    case ui::DrawCall::Op::Polygon: {
      std::vector<std::string> points;
      for (const ui::Point& p : call.points) points.push_back(PointText(p));
      return line + " #" + ColorText(call.brush.color) + " " + Join(points, " ");
    }
    case ui::DrawCall::Op::MoveTo:
    case ui::DrawCall::Op::LineTo:
      return line + " " + PointText(call.points.size() > 1 ? call.points[1] : ui::Point{});
    case ui::DrawCall::Op::TextOut:
      return line + " " + PointText({call.rect.left, call.rect.top}) + " " + call.text;
  }
  return line;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

bool NoDisplay() { return !Set("DISPLAY") && !Set("WAYLAND_DISPLAY"); }

THeadlessConsole::THeadlessConsole(std::FILE* out) : out_(out) {
  observer_ = ui::AddChangeObserver([this](ui::Component& c, std::string_view what) {
    if (what == "Created") {
      if (auto* app = dynamic_cast<TApp*>(&c)) Attach(*app);
    } else if (what == "Caption") {
      if (auto* item = dynamic_cast<ui::MenuItem*>(&c)) {
        Print("@ menu " + item->Name() + " " + item->Caption());
      } else if (auto* form = dynamic_cast<ui::Form*>(&c); form && form == app_) {
        Print("@ caption " + form->Caption());
      }
    } else if (what == "Title") {
      if (auto* app = dynamic_cast<ui::Application*>(&c)) Print("@ title " + app->Title());
    } else if (what == "ModalBegin" || what == "ModalEnd") {
      if (auto* form = dynamic_cast<ui::Form*>(&c))
        Print(std::string(what == "ModalBegin" ? "@ modal " : "@ modal-end ") + form->Name());
    } else if (what == "Shown" || what == "Hidden") {
      // A header viewer shows its table as it opens.
      if (auto* viewer = dynamic_cast<THeaderForm*>(&c)) {
        Print(std::string(what == "Shown" ? "@ shown " : "@ hidden ") + viewer->Name());
        if (what == "Shown") Show(*viewer);
      }
    } else if (what == "Popup") {
      if (auto* menu = dynamic_cast<ui::PopupMenu*>(&c)) {
        std::vector<std::string> items;
        for (ui::MenuItem* item : menu->Items().Items()) items.push_back(item->Caption());
        Print("@ popup " + menu->Name() + " " + PointText(menu->PopupPoint()) + " " + Join(items, " | "));
      }
    }
  });
  window_ = platform::CreateWindowHandle([this](const platform::MSG& msg) {
    if (msg.message != WM_CONSOLE_COMMAND) return;
    command_posted_ = false;
    if (commands_.empty()) return;
    std::string command = std::move(commands_.front());
    commands_.pop_front();
    Run(command);
    // The next command queues up behind the input this one posted, so the
    // two take effect in order.
    PostNextCommand();
  });
}

THeadlessConsole::~THeadlessConsole() {
  ui::RemoveChangeObserver(observer_);
  if (fd_ >= 0) platform::UnwatchFd(fd_);
  platform::DestroyWindowHandle(window_);
  if (app_) app_->OnLogLine = nullptr;
}

void THeadlessConsole::Attach(TApp& app) {
  app_ = &app;
  app.OnLogLine = [this](const std::string& line) { Print(line); };
}

void THeadlessConsole::Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void THeadlessConsole::ReadCommands(int fd) {
  fd_ = fd;
  platform::WatchFd(fd, POLLIN, [this](short) { OnReadable(); });
}

void THeadlessConsole::PostNextCommand() {
  if (!command_posted_ && !commands_.empty())
    command_posted_ = platform::PostMessage(window_, WM_CONSOLE_COMMAND, 0, 0);
}

void THeadlessConsole::OnReadable() {
  char buf[4096];
  ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    platform::UnwatchFd(fd_);
    fd_ = -1;
    if (!pending_.empty()) {
      commands_.push_back(std::move(pending_));
      pending_.clear();
      PostNextCommand();
    }
    return;
  }
  pending_.append(buf, static_cast<size_t>(n));
  size_t eol;
  while ((eol = pending_.find('\n')) != std::string::npos) {
    std::string line = Trim(pending_.substr(0, eol));
    pending_.erase(0, eol + 1);
    if (line.empty()) continue;
    commands_.push_back(std::move(line));
    PostNextCommand();
  }
}

// select, dblclick, popup and show on <form>[.<control>] [numbers].
bool THeadlessConsole::Act(const std::string& verb, const std::string& arg) {
  // Page captions may hold blanks; show and popup take no numbers.
  size_t space = verb == "show" || verb == "popup" ? std::string::npos : arg.find(' ');
  std::string target = arg.substr(0, space);
  std::vector<int> numbers;
  if (space != std::string::npos) {
    std::istringstream in(arg.substr(space + 1));
    std::string word;
    while (in >> word) {
      char* end = nullptr;
      long n = std::strtol(word.c_str(), &end, 10);
      if (*end != '\0' || n < -1 || n > 32767) return false;
      numbers.push_back(static_cast<int>(n));
    }
  }
  size_t dot = target.find('.');
  ui::Form* form = FindForm(target.substr(0, dot));
  if (!form) return false;
  ui::Control* control = dot == std::string::npos ? form : FindControl(*form, target.substr(dot + 1));
  if (!control) return false;
  auto* grid = dynamic_cast<ui::StringGrid*>(control);
  if (verb == "show") {
    if (!numbers.empty()) return false;
    Show(*control);
  } else if (verb == "popup") {
    if (!numbers.empty()) return false;
    ui::PostContextMenu(*control);
  } else if (verb == "select") {
    if (grid && numbers.size() == 2)
      ui::PostSelectCell(*grid, numbers[0], numbers[1]);
    else if (!grid && numbers.size() == 1)
      ui::PostChoose(*control, numbers[0]);
    else
      return false;
  } else {  // dblclick
    if (grid && numbers.size() == 2)
      ui::PostDblClickCell(*grid, numbers[0], numbers[1]);
    else if (numbers.empty())
      ui::PostDblClick(*control);
    else
      return false;
  }
  return true;
}

void THeadlessConsole::Show(ui::Control& control) {
  std::string name = (control.ParentForm() && control.ParentForm() != &control ? control.ParentForm()->Name() + "." : "") +
                     control.Name();
  if (auto* grid = dynamic_cast<ui::StringGrid*>(&control)) {
    for (int r = 0; r < grid->RowCount(); ++r) {
      std::vector<std::string> cells = grid->RowTexts(r);
      bool filled = r < grid->FixedRows();
      for (int c = grid->FixedCols(); c < static_cast<int>(cells.size()); ++c) filled = filled || !cells[c].empty();
      if (filled) Print("@ row " + name + " " + std::to_string(r) + " " + Join(cells, " | "));
    }
  } else if (auto* label = dynamic_cast<ui::Label*>(&control)) {
    Print("@ label " + name + " " + label->Caption());
  } else if (auto* combo = dynamic_cast<ui::ComboBox*>(&control)) {
    Print("@ combo " + name + " " + combo->Text());
  } else if (auto* box = dynamic_cast<ui::PaintBox*>(&control)) {
    for (const ui::DrawCall& call : box->GetCanvas().Calls()) Print("@ draw " + name + " " + DrawText(call));
  }
  for (ui::Control* child : control.Controls()) Show(*child);
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
    if (auto* timer = dynamic_cast<ui::Timer*>(c); timer && timer->Enabled())
      due.push_back(timer);
  for (ui::Timer* timer : due) timer->Fire();
  Print("@ advanced " + platform::FormatDateTime(platform::Now()));
  return true;
}

void THeadlessConsole::Run(const std::string& command) {
  size_t space = command.find(' ');
  std::string verb = command.substr(0, space);
  std::string arg = space == std::string::npos ? std::string() : Trim(command.substr(space + 1));
  if (verb == "menu" && app_) {
    // A main-window item, or <form>.<item> for the item of another form.
    size_t dot = arg.find('.');
    ui::Form* form = dot == std::string::npos ? app_ : FindForm(arg.substr(0, dot));
    std::string name = dot == std::string::npos ? arg : arg.substr(dot + 1);
    if (auto* item = form ? form->Find<ui::MenuItem>(name) : nullptr) {
      ui::PostMenu(*item);
      return;
    }
  } else if (verb == "select" || verb == "dblclick" || verb == "popup" || verb == "show") {
    if (Act(verb, arg)) return;
  } else if (verb == "click") {
    size_t dot = arg.find('.');
    if (dot != std::string::npos) {
      if (ui::Form* form = FindForm(arg.substr(0, dot))) {
        if (auto* control = form->Find<ui::Control>(arg.substr(dot + 1))) {
          ui::PostClick(*control);
          return;
        }
      }
    }
  } else if (verb == "advance" && app_ && platform::ClockIsFrozen()) {
    if (Advance(arg)) return;
  } else if (verb == "close") {
    if (ui::Form* form = FindForm(arg)) {
      ui::PostCloseBox(*form);
      return;
    }
  }
  std::fprintf(stderr, "korridan: unknown command: %s\n", command.c_str());
}
