// korridan with its windows on a real X display, driven by X input.
#include <sys/wait.h>

#include <cstdio>
#include <regex>

#include "tests/korridan/korridan_site.h"

namespace korridan_test {
namespace {

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

class DisplaySite : public KorridanSite {
 protected:
  void SetUp() override {
    KorridanSite::SetUp();
    fs::path bin = fs::path(KORRIDAN_PATH).parent_path();
    fs::copy_file(bin / "libhalvqt.so", prog_ + "libhalvqt.so", fs::copy_options::overwrite_existing);
    window_ = true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) StartXvfb();
  }

  void TearDown() override {
    KorridanSite::TearDown();
    if (xvfb_ > 0) {
      ::kill(xvfb_, SIGTERM);
      ::waitpid(xvfb_, nullptr, 0);
      unsetenv("DISPLAY");
    }
  }

  // A display of the test's own, on the first free number.
  void StartXvfb() {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    xvfb_ = fork();
    if (xvfb_ == 0) {
      ::close(fds[0]);
      std::string fd = std::to_string(fds[1]);
      int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
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

  // The visible window whose name matches, waiting for it; "" when none
  // came in time.
  std::string WaitWindow(const std::string& name, std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      std::string id = Sh("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null | head -1");
      if (!id.empty()) return id;
      std::this_thread::sleep_for(100ms);
    }
    return "";
  }
  // The visible window of korridan with that size (the About box has no
  // caption).
  std::string WaitWindowOfSize(Size size, std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      std::istringstream ids(Sh("xdotool search --onlyvisible --class korridan 2>/dev/null"));
      for (std::string id; std::getline(ids, id);) {
        Size s = WindowSize(id);
        if (s.width == size.width && s.height == size.height) return id;
      }
      std::this_thread::sleep_for(100ms);
    }
    return "";
  }
  bool WaitName(const std::string& id, const std::string& name, std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (Sh("xdotool getwindowname " + id) == name) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  bool WaitGone(const std::string& id, std::chrono::seconds wait = 20s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (Sh("xwininfo -id " + id + " 2>/dev/null | grep -c IsViewable") == "0") return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

  // The number of colours of a screenshot of the window: a blank or
  // unpainted window has one or two.
  int ShotColours(const std::string& id, const std::string& name) {
    std::string path = root_ + "/" + name + ".png";
    Sh("import -window " + id + " " + path);
    std::string count = Sh("convert " + path + " -format %k info: 2>/dev/null");
    return count.empty() ? 0 : std::stoi(count);
  }

  void Keys(const std::string& keys) { Sh("xdotool key --delay 50 " + keys); }
  // A left click at a point of the window's client area.
  void ClickAt(const std::string& id, int x, int y) {
    Sh("xdotool mousemove --sync --window " + id + " " + std::to_string(x) + " " + std::to_string(y) + " click 1");
  }

  std::string MainWindow() {
    Start();
    std::string main = WaitWindow("^Halvorine \\(0\\)$");
    if (!main.empty()) Sh("xdotool windowactivate --sync " + main + " 2>/dev/null; xdotool windowfocus --sync " + main);
    return main;
  }

  pid_t xvfb_ = -1;
};

TEST_F(DisplaySite, MainWindowShowsTheRunningServerWithItsCaptionAndSize) {
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  // The placement the settings give: 435 x 300 outside, so a client area of
  // 427 x 254, with the menu bar above it.
  Size size = WindowSize(main);
  EXPECT_EQ(size.width, 427);
  EXPECT_GT(size.height, 254);
  EXPECT_LT(size.height, 254 + 40);
  EXPECT_NE(Get("/index.html").find(" 200 "), std::string::npos);
  EXPECT_GT(ShotColours(main, "main"), 16);
}

TEST_F(DisplaySite, StopMenuWithAGracefulStopFinishesTheActiveConnectionOnly) {
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  // A request under way when the stop is chosen.
  Client active(port_);
  ASSERT_TRUE(active.Connected());
  active.Send("GET /index.html HTTP/1.0\r\n");
  ASSERT_TRUE(WaitName(main, "Halvorine (1)"));

  Keys("alt+s Return");  // Server, then its first item: Stop
  std::string dialog = WaitWindow("^Stop Server$");
  ASSERT_FALSE(dialog.empty());
  Size size = WindowSize(dialog);
  EXPECT_EQ(size.width, 311);
  EXPECT_EQ(size.height, 193);
  EXPECT_GT(ShotColours(dialog, "stopserver"), 16);
  // The dialog's design positions: the second choice (stop accepting, go on
  // with the active connections), then Yes.
  ClickAt(dialog, 16 + 8, 76 + 8);
  ClickAt(dialog, 16 + 40, 152 + 13);
  ASSERT_TRUE(WaitGone(dialog));

  // No new connections; the active one is answered in full.
  auto until = std::chrono::steady_clock::now() + 20s;
  while (Client(port_).Connected() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(Client(port_).Connected());
  active.Send("\r\n");
  std::string answer = active.ReadAll(10000);
  EXPECT_NE(answer.find(" 200 "), std::string::npos) << answer;
  EXPECT_NE(answer.find("index"), std::string::npos);
  EXPECT_TRUE(WaitName(main, "Halvorine (Stopped)"));
}

TEST_F(DisplaySite, AboutBoxOpensFromTheMenuAndClosesWithItsButton) {
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  Keys("alt+s a");  // Server, About...
  std::string about = WaitWindowOfSize({418, 326});
  ASSERT_FALSE(about.empty());
  EXPECT_GT(ShotColours(about, "about"), 16);
  // While it is open the main window takes no input: the About box is modal.
  Keys("alt+s x");
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
  ClickAt(about, 5 + 408 - 86 + 5 + 37, 284 + 12);  // OK
  EXPECT_TRUE(WaitGone(about));
  EXPECT_TRUE(WaitName(main, "Halvorine (0)"));
}

TEST_F(DisplaySite, ExitMenuEndsTheProgramAndSavesItsState) {
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  Keys("alt+s x");  // Server, Exit
  EXPECT_EQ(WaitExit(30s), 0);
  EXPECT_TRUE(fs::exists(cwd_ + "STATS.DAT"));
  EXPECT_NE(ReadFile(prog_ + "KORRIDAN.INI").find("WindowWidth=435"), std::string::npos);
}

}  // namespace
}  // namespace korridan_test
