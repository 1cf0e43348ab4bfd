// An X display for the window tests, and the X tools that read and drive
// it (xdotool, xwininfo, ImageMagick's import and convert).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

namespace displaytest {

using namespace std::chrono_literals;

// Standard output of a shell command, without the last line break.
std::string Sh(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

struct Size {
  int width = 0;
  int height = 0;
};

Size WindowSize(const std::string& id) {
  std::string info = Sh("xwininfo -id " + id);
  std::smatch w, h;
  Size s;
  if (std::regex_search(info, w, std::regex("Width: (\\d+)"))) s.width = std::stoi(w[1]);
  if (std::regex_search(info, h, std::regex("Height: (\\d+)"))) s.height = std::stoi(h[1]);
  return s;
}

// An X display for the test: DISPLAY as given, else an Xvfb of its own on
// the first free number; and the X tools that read and drive it.
class XDisplay {
 public:
  void Open() {
    const char* display = std::getenv("DISPLAY");
    if (display && *display) return;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    xvfb_ = fork();
    if (xvfb_ == 0) {
      ::close(fds[0]);
      std::string fd = std::to_string(fds[1]);
      int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-noreset", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char ch;
    while (::read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
    ::close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start (Debian package xvfb)";
    setenv("DISPLAY", (":" + number).c_str(), 1);
  }
  void Close() {
    if (xvfb_ <= 0) return;
    ::kill(xvfb_, SIGTERM);
    ::waitpid(xvfb_, nullptr, 0);
    xvfb_ = -1;
    unsetenv("DISPLAY");
  }

  // Each waits up to `wait`, running `between` (a pump of the test's own
  // loop, for windows of this process) between looks.
  using Between = std::function<void()>;
  static void Idle() { std::this_thread::sleep_for(100ms); }

  // The visible window whose name matches; "" when none came in time.
  static std::string WaitWindow(const std::string& name, const Between& between = Idle,
                                std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      std::string id = Sh("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null | head -1");
      if (!id.empty()) return id;
      between();
    }
    return "";
  }
  // A visible window of korridan other than `except` (a box's caption
  // may be the main window's; the About box has none) with that size, or
  // any size when width is 0.
  static std::string WaitOtherWindow(const std::string& except, Size size = {}, std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      std::istringstream ids(Sh("xdotool search --onlyvisible --class korridan 2>/dev/null"));
      for (std::string id; std::getline(ids, id);) {
        if (id == except) continue;
        Size s = WindowSize(id);
        if (size.width == 0 || (s.width == size.width && s.height == size.height)) return id;
      }
      Idle();
    }
    return "";
  }
  static bool WaitName(const std::string& id, const std::string& name, std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (Sh("xdotool getwindowname " + id) == name) return true;
      Idle();
    }
    return false;
  }
  static bool WaitGone(const std::string& id, std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (Sh("xwininfo -id " + id + " 2>/dev/null | grep -c IsViewable") == "0") return true;
      Idle();
    }
    return false;
  }

  // A screenshot of the window; the number of its colours (a blank or
  // unpainted window has one or two).
  static int ShotColours(const std::string& id, const std::string& path) {
    Sh("import -window " + id + " " + path);
    std::string count = Sh("convert " + path + " -format %k info: 2>/dev/null");
    return count.empty() ? 0 : std::stoi(count);
  }
  // "r,g,b" of a pixel of a screenshot.
  static std::string Pixel(const std::string& path, int x, int y) {
    std::string p = "p{" + std::to_string(x) + "," + std::to_string(y) + "}";
    return Sh("convert " + path + " -format '%[fx:int(255*" + p + ".r+0.5)],%[fx:int(255*" + p +
              ".g+0.5)],%[fx:int(255*" + p + ".b+0.5)]' info:");
  }

  static void Keys(const std::string& keys) { Sh("xdotool key --delay 50 " + keys); }
  static void Type(const std::string& text) { Sh("xdotool type --delay 50 '" + text + "'"); }
  // A left click at a point of the window's client area.
  static void ClickAt(const std::string& id, int x, int y) {
    Sh("xdotool mousemove --sync --window " + id + " " + std::to_string(x) + " " + std::to_string(y) + " click 1");
  }
  static void Focus(const std::string& id) { Sh("xdotool windowfocus --sync " + id + " 2>/dev/null"); }
  // The close box of a window manager: WM_DELETE_WINDOW sent to the window.
  static void CloseBox(const std::string& id) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    auto atom = [c](const char* name) {
      xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
      xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
      std::free(r);
      return a;
    };
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = static_cast<xcb_window_t>(std::stoul(id));
    e.type = atom("WM_PROTOCOLS");
    e.data.data32[0] = atom("WM_DELETE_WINDOW");
    xcb_send_event(c, 0, e.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
    xcb_flush(c);
    xcb_disconnect(c);
  }

 private:
  pid_t xvfb_ = -1;
};

}  // namespace displaytest
