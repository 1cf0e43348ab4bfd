#include "console/headless.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "console/app.h"
#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/input.h"
#include "platform/ui/menus.h"

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
    }
  });
  // Lines go out together when the loop next waits.
  flush_hook_ = platform::AddBeforeWaitHook([this] { std::fflush(out_); });
  window_ = platform::CreateWindowHandle([this](const platform::MSG& msg) {
    if (msg.message != WM_CONSOLE_COMMAND || commands_.empty()) return;
    std::string command = std::move(commands_.front());
    commands_.pop_front();
    Run(command);
  });
}

THeadlessConsole::~THeadlessConsole() {
  ui::RemoveChangeObserver(observer_);
  platform::RemoveBeforeWaitHook(flush_hook_);
  std::fflush(out_);
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
}

void THeadlessConsole::ReadCommands(int fd) {
  fd_ = fd;
  platform::WatchFd(fd, POLLIN, [this](short) { OnReadable(); });
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
      platform::PostMessage(window_, WM_CONSOLE_COMMAND, 0, 0);
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
    platform::PostMessage(window_, WM_CONSOLE_COMMAND, 0, 0);
  }
}

void THeadlessConsole::Run(const std::string& command) {
  size_t space = command.find(' ');
  std::string verb = command.substr(0, space);
  std::string arg = space == std::string::npos ? std::string() : Trim(command.substr(space + 1));
  if (verb == "menu" && app_) {
    if (auto* item = app_->Find<ui::MenuItem>(arg)) {
      ui::PostMenu(*item);
      return;
    }
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
  } else if (verb == "close") {
    if (ui::Form* form = FindForm(arg)) {
      ui::PostCloseBox(*form);
      return;
    }
  }
  std::fprintf(stderr, "korridan: unknown command: %s\n", command.c_str());
}
