#include "platform/ui/headless.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/ui/application.h"
#include "platform/ui/controls.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/form.h"
#include "platform/ui/input.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"
#include "platform/ui/windows.h"

namespace platform::ui {
namespace {

// A queued command, taken by the console's own window. Outside the range
// that socket handlers hold back, so commands also run inside them.
constexpr UINT WM_CONSOLE_COMMAND = WM_USER + 100;

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

// "Form.Control" to the control.
Control* FindControl(const std::string& path) {
  size_t dot = path.find('.');
  if (dot == std::string::npos) return nullptr;
  Form* form = FindForm(path.substr(0, dot));
  return form ? form->Find<Control>(path.substr(dot + 1)) : nullptr;
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
      std::fprintf(stderr, "usage: %s [--headless] [--commands]\n", program);
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
      if (auto* item = dynamic_cast<MenuItem*>(&c)) {
        Print("@ menu " + item->Name() + " " + item->Caption());
      } else if (auto* form = dynamic_cast<Form*>(&c); form && form == MainForm()) {
        Print("@ caption " + form->Caption());
      }
    } else if (what == "Title") {
      if (auto* app = dynamic_cast<Application*>(&c)) Print("@ title " + app->Title());
    } else if (what == "ModalBegin" || what == "ModalEnd") {
      if (auto* form = dynamic_cast<Form*>(&c))
        Print(std::string(what == "ModalBegin" ? "@ modal " : "@ modal-end ") + form->Name());
    }
  });
  window_ = CreateWindowHandle([this](const MSG& msg) {
    if (msg.message != WM_CONSOLE_COMMAND) return;
    posted_ = false;
    RunNext();
  });
}

HeadlessConsole::~HeadlessConsole() {
  RemoveChangeObserver(observer_);
  if (fd_ >= 0) UnwatchFd(fd_);
  DestroyWindowHandle(window_);
}

void HeadlessConsole::SetMainForm(Form* form) { main_form_id_ = form ? form->Id() : 0; }

Form* HeadlessConsole::MainForm() const {
  if (main_form_id_) return dynamic_cast<Form*>(Component::FromId(main_form_id_));
  Application* app = Application::Current();
  return app ? app->MainForm() : nullptr;
}

void HeadlessConsole::Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void HeadlessConsole::ReadCommands(int fd) {
  fd_ = fd;
  WatchFd(fd, POLLIN, [this](short) { OnReadable(); });
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
    if (!last.empty()) Queue(std::move(last));
    return;
  }
  pending_.append(buf, static_cast<size_t>(n));
  size_t eol;
  while ((eol = pending_.find('\n')) != std::string::npos) {
    std::string line = Trim(pending_.substr(0, eol));
    pending_.erase(0, eol + 1);
    if (!line.empty()) Queue(std::move(line));
  }
}

void HeadlessConsole::Queue(std::string command) {
  commands_.push_back(std::move(command));
  if (!posted_) posted_ = PostMessage(window_, WM_CONSOLE_COMMAND, 0, 0);
}

// Runs one command and queues the next behind the actions it posted.
void HeadlessConsole::RunNext() {
  if (commands_.empty()) return;
  std::string command = std::move(commands_.front());
  commands_.pop_front();
  if (!Run(command)) std::fprintf(stderr, "%s: unknown command: %s\n", program_.c_str(), command.c_str());
  if (!commands_.empty() && !posted_) posted_ = PostMessage(window_, WM_CONSOLE_COMMAND, 0, 0);
}

bool HeadlessConsole::Run(const std::string& command) {
  auto [verb, arg] = Split(command);
  if (verb == "menu") {
    Form* main = MainForm();
    auto* item = main ? main->Find<MenuItem>(arg) : nullptr;
    if (item) PostMenu(*item);
    return item != nullptr;
  }
  if (verb == "close") {
    Form* form = FindForm(arg);
    if (form) PostCloseBox(*form);
    return form != nullptr;
  }
  auto [target, rest] = Split(arg);
  Control* control = FindControl(target);
  if (!control) return false;
  if (verb == "click" && rest.empty()) {
    PostClick(*control);
    return true;
  }
  if (verb == "type") {
    PostReplaceText(*control, rest);
    return true;
  }
  if (verb == "dir") {
    auto* tree = dynamic_cast<DirectoryTree*>(control);
    if (tree) PostChooseDirectory(*tree, rest);
    return tree != nullptr;
  }
  int index = ItemIndex(*control, rest);
  if (index < 0) return false;
  if (verb == "choose") {
    PostChoose(*control, index);
    return true;
  }
  auto* list = dynamic_cast<ListBox*>(control);
  if (!list) return false;
  if (verb == "toggle") {
    PostToggleSelect(*list, index);
    return true;
  }
  if (verb == "dblclick") {
    PostDblClickItem(*list, index);
    return true;
  }
  return false;
}

}  // namespace platform::ui
