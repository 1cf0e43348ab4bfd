// korridan with its windows on a real X display, driven by X input.
#include <sys/wait.h>

#include <cstdio>
#include <regex>

#include "platform/ui/automation.h"
#include "platform/ui/canvas.h"
#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/windows.h"
#include "tests/korridan/korridan_site.h"
#include "tests/support/sample_bbs.h"

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

 private:
  pid_t xvfb_ = -1;
};

class DisplaySite : public KorridanSite, public XDisplay {
 protected:
  void SetUp() override {
    KorridanSite::SetUp();
    fs::path bin = fs::path(KORRIDAN_PATH).parent_path();
    fs::copy_file(bin / "libhalvqt.so.1", prog_ + "libhalvqt.so.1", fs::copy_options::overwrite_existing);
    window_ = true;
    Open();
  }

  void TearDown() override {
    KorridanSite::TearDown();
    Close();
  }

  int ShotColours(const std::string& id, const std::string& name) {
    return XDisplay::ShotColours(id, root_ + "/" + name + ".png");
  }

  std::string MainWindow() {
    Start();
    std::string main = WaitWindow("^Halvorine \\(0\\)$");
    if (!main.empty()) Focus(main);
    return main;
  }
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
  std::string about = WaitOtherWindow(main, {418, 326});
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

TEST_F(DisplaySite, SettingsDialogOpensFromTheMenuAndClosesWithItsButton) {
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  Keys("alt+s p");  // Server, Properties...
  std::string settings = WaitWindow("^Settings$");
  ASSERT_FALSE(settings.empty());
  Size size = WindowSize(settings);
  EXPECT_EQ(size.width, 418);
  EXPECT_EQ(size.height, 294);
  EXPECT_GT(ShotColours(settings, "settings"), 16);
  ClickAt(settings, 326 + 37, 258 + 12);  // OK
  EXPECT_TRUE(WaitGone(settings));
  EXPECT_TRUE(WaitName(main, "Halvorine (0)"));
  EXPECT_NE(Get("/index.html").find(" 200 "), std::string::npos);
}

TEST_F(DisplaySite, StatsTabShowsTheGraphInPlaceOfTheLog) {
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  EXPECT_NE(Get("/index.html").find(" 200 "), std::string::npos);
  // Left of where the plot would be: the log's white memo, then the
  // graph's face beside its white plot.
  // A window just mapped may not be drawn yet: wait for the memo.
  const std::string shot = root_ + "/stats.png";
  auto drawn = std::chrono::steady_clock::now() + 20s;
  XDisplay::ShotColours(main, shot);
  while (std::chrono::steady_clock::now() < drawn && Pixel(shot, 10, 150) != "255,255,255") {
    Idle();
    XDisplay::ShotColours(main, shot);
  }
  ASSERT_EQ(Pixel(shot, 10, 150), "255,255,255");
  Size size = WindowSize(main);
  ClickAt(main, 272, size.height - 10);  // the fourth tab of the bar below: Stats
  auto until = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < until && Pixel(shot, 10, 150) == "255,255,255") {
    Idle();
    XDisplay::ShotColours(main, shot);
  }
  EXPECT_EQ(Pixel(shot, 10, 150), "192,192,192");
  EXPECT_EQ(Pixel(shot, 200, 150), "255,255,255");
  EXPECT_GT(XDisplay::ShotColours(main, shot), 16);  // the choices and the date labels
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

TEST_F(DisplaySite, AnErrorBoxWaitsForItsButtonAndTheExitGoesOnAfterIt) {
  // A directory where the statistics file should go: the save at exit fails.
  fs::create_directories(cwd_ + "STATS.DAT");
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  Keys("alt+s x");  // Server, Exit
  std::string box = WaitOtherWindow(main);
  ASSERT_FALSE(box.empty());
  EXPECT_GT(ShotColours(box, "errorbox"), 16);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0) << "the exit went on before the box was answered";
  Focus(box);
  Keys("Return");  // OK
  EXPECT_EQ(WaitExit(30s), 0);
  EXPECT_EQ(Stderr().find("message box"), std::string::npos) << "the box went to standard error";
}

TEST_F(DisplaySite, ADisplayThatCannotBeOpenedLeavesTheProgramHeadless) {
  setenv("DISPLAY", ":32001", 1);  // no server there
  Start();
  EXPECT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_NE(Stderr().find("running headless"), std::string::npos) << Stderr();
  EXPECT_NE(Get("/index.html").find(" 200 "), std::string::npos);
}

TEST_F(DisplaySite, TheSecurityManagerShowsItsFormsAsWindowsToo) {
  // Another program on the same front end, from the same program directory.
  fs::path bin = fs::path(KORRIDAN_PATH).parent_path();
  fs::copy_file(bin / "secmanager", prog_ + "secmanager", fs::copy_options::overwrite_existing);
  WriteIni();
  pid_t pid = fork();
  if (pid == 0) {
    setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
    if (::chdir(prog_.c_str()) != 0) _exit(126);
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl((prog_ + "secmanager").c_str(), "secmanager", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  std::string main = WaitWindow("^Security Manager$");
  EXPECT_FALSE(main.empty());
  if (!main.empty()) {
    EXPECT_EQ(WindowSize(main).width, 641 - 2 * 4);  // its outer width less the frame
    EXPECT_GT(ShotColours(main, "secmanager"), 16);
  }
  ::kill(pid, SIGTERM);  // closes the main window as its close box does
  int status = -1;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// libmanager with its windows: without a BBS path the prompt is a real
// message box, OK leads to the preferences and the path loop runs until a
// BBS opens or Cancel ends the program.
class ManagerOnDisplay : public ::testing::Test, public XDisplay {
 protected:
  void SetUp() override {
    Open();
    root_ = bbs_.dir.path();
    prog_ = root_ + "/prog/";
    // The preferences' path field takes 40 characters.
    ASSERT_LE(bbs_.home.size(), 40u) << bbs_.home;
    fs::create_directories(prog_);
    fs::path bin = fs::path(LIBMANAGER_PATH).parent_path();
    for (const char* f : {"libmanager", "libhalvplatform.so.1", "libhalvui.so.1", "libhalvqt.so.1"})
      fs::copy_file(bin / f, prog_ + f);
    fs::copy_file(QX_PATH, prog_ + "QX.DLL");
    CreateSecurityTables(prog_ + "Data");
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (HasFailure()) std::fprintf(stderr, "standard error:\n%s\n", Stderr().c_str());
    Close();
  }

  // Starts libmanager with its windows (no KORRIDAN.INI: no BBS path).
  void Start() {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
      if (::chdir(prog_.c_str()) != 0) _exit(126);
      int null = ::open("/dev/null", O_WRONLY);
      int err = ::open((root_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(null, 1);
      dup2(err, 2);
      execl((prog_ + "libmanager").c_str(), "libmanager", static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
  }
  int WaitExit(std::chrono::seconds wait = 30s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      Idle();
    }
    return -1;
  }
  std::string Stderr() { return ReadFile(root_ + "/stderr.txt"); }

  // Answers the path prompt with a key; false when no prompt came or it
  // stayed.
  static bool AnswerPrompt(const std::string& key) {
    std::string box = WaitWindow("^Error$");
    if (box.empty()) return false;
    Focus(box);
    Keys(key);
    return WaitGone(box);
  }

  testsupport::SampleBbs bbs_;
  std::string root_, prog_;
  pid_t pid_ = -1;
};

TEST_F(ManagerOnDisplay, OkOnThePathPromptShowsThePreferencesUntilABbsOpens) {
  Start();
  // OK, then the preferences left without a path: the prompt comes back.
  ASSERT_TRUE(AnswerPrompt("Return")) << Stderr();
  std::string prefs = WaitWindow("^Preferences$");
  ASSERT_FALSE(prefs.empty());
  Focus(prefs);
  Keys("Return");  // OK, the default button
  ASSERT_TRUE(WaitGone(prefs));
  ASSERT_TRUE(AnswerPrompt("Return")) << Stderr();
  prefs = WaitWindow("^Preferences$");
  ASSERT_FALSE(prefs.empty());
  // The home directory field: in the notebook's page, in its group box.
  ClickAt(prefs, 4 + 4 + 8 + 100, 24 + 4 + 24 + 12);
  Type(bbs_.home);
  Keys("Return");
  ASSERT_TRUE(WaitGone(prefs));
  // The BBS is open: the prompt does not come back and the program goes on.
  EXPECT_EQ(WaitWindow("^Error$", Idle, 2s), "");
  EXPECT_NE(ReadFile(prog_ + "KORRIDAN.INI").find("CONFIG.QX2=" + bbs_.home + "/\r\n"), std::string::npos);
  std::string main = WaitWindow("^File Library Manager$");
  ASSERT_FALSE(main.empty());
  EXPECT_GT(ShotColours(main, root_ + "/libmanager.png"), 16);
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(WaitExit(), 0) << Stderr();
  EXPECT_EQ(Stderr().find("message box"), std::string::npos) << "a box went to standard error";
}

TEST_F(ManagerOnDisplay, CancelOnThePathPromptEndsTheProgramWithOneAndItsReason) {
  Start();
  ASSERT_TRUE(AnswerPrompt("Escape")) << Stderr();
  EXPECT_EQ(WaitExit(), 1);
  EXPECT_NE(Stderr().find("libmanager: ended without a BBS to work on: no BBS home directory is set"),
            std::string::npos)
      << Stderr();
  EXPECT_EQ(Stderr().find("message box"), std::string::npos) << "the box went to standard error";
}

// Forms the front end knows nothing of, made in this process: each control
// shows where the model puts it, the canvas is painted in the form's pixels,
// and X input reaches the model through the queue.
class FrontEnd : public ::testing::Test, public XDisplay {
 protected:
  void SetUp() override {
    Open();
    static char name[] = "korridan";
    static char* argv[] = {name, nullptr};
    ASSERT_TRUE(platform::ui::StartWindows(1, argv, "display_tests"));
  }
  void TearDown() override {
    platform::ui::StopWindows();
    Close();
  }
  static void Pump() { platform::ui::automation::PumpUntil([] { return false; }, 100); }
};

TEST_F(FrontEnd, AFormOfItsOwnShowsItsControlsAndDrawingAndTakesInput) {
  namespace ui = platform::ui;
  ui::Form form(nullptr, "Probe");
  form.SetCaption("Probe Form");
  form.SetBorderStyle(ui::BorderStyle::Dialog);
  form.SetClientSize(300, 200);
  auto* edit = new ui::Edit(&form, &form, "Edit");
  edit->SetBounds(10, 10, 120, 24);
  auto* check = new ui::CheckBox(&form, &form, "Check");
  check->SetBounds(10, 40, 120, 20);
  check->SetCaption("Check");
  auto* gauge = new ui::Gauge(&form, &form, "Gauge");
  gauge->SetBounds(10, 70, 120, 20);
  gauge->SetProgress(40);
  auto* box = new ui::PaintBox(&form, &form, "Box");
  box->SetBounds(150, 10, 140, 180);
  box->OnPaint = [](ui::Component& sender) {
    ui::Canvas& c = static_cast<ui::PaintBox&>(sender).GetCanvas();
    c.brush.color = ui::clRed;
    c.FillRect({0, 0, 70, 90});
    c.pen.color = ui::clBlue;
    c.brush.color = ui::clBlue;
    c.Polygon({{70, 90}, {139, 90}, {139, 179}});
  };
  form.FinishCreate();
  form.Show();

  std::string id = WaitWindow("^Probe Form$", Pump);
  ASSERT_FALSE(id.empty());
  Size size = WindowSize(id);
  EXPECT_EQ(size.width, 300);
  EXPECT_EQ(size.height, 200);
  for (int i = 0; i < 5; ++i) Pump();  // the paint request goes through the queue
  std::string shot = ::testing::TempDir() + "probe.png";
  EXPECT_GT(ShotColours(id, shot), 16);
  EXPECT_EQ(Pixel(shot, 150 + 20, 10 + 20), "255,0,0");     // inside the rectangle
  EXPECT_EQ(Pixel(shot, 150 + 130, 10 + 100), "0,0,255");   // inside the triangle
  EXPECT_EQ(Pixel(shot, 150 + 80, 10 + 170), "192,192,192");  // the box's own colour

  Focus(id);
  ClickAt(id, 10 + 8, 40 + 10);
  ClickAt(id, 10 + 60, 10 + 12);
  Type("abc");
  EXPECT_TRUE(platform::ui::automation::PumpUntil([&] { return check->Checked() && edit->Text() == "abc"; }, 10000));
  EXPECT_TRUE(check->Checked());
  EXPECT_EQ(edit->Text(), "abc");
  form.Hide();
  Pump();
  EXPECT_TRUE(WaitGone(id));
}

// A paint box filling its form, made after an edit, lies beneath the edit.
TEST_F(FrontEnd, APaintBoxMadeLastStaysBeneathTheWindowedControls) {
  namespace ui = platform::ui;
  ui::Form form(nullptr, "Stack");
  form.SetCaption("Stack Form");
  form.SetBorderStyle(ui::BorderStyle::Dialog);
  form.SetClientSize(200, 100);
  auto* edit = new ui::Edit(&form, &form, "Edit");
  edit->SetBounds(10, 10, 120, 24);
  auto* box = new ui::PaintBox(&form, &form, "Box");
  box->SetAlign(ui::Align::Client);
  box->OnPaint = [](ui::Component& sender) {
    ui::Canvas& c = static_cast<ui::PaintBox&>(sender).GetCanvas();
    c.brush.color = ui::clRed;
    c.FillRect({0, 0, 200, 100});
  };
  form.FinishCreate();
  form.Show();

  std::string id = WaitWindow("^Stack Form$", Pump);
  ASSERT_FALSE(id.empty());
  for (int i = 0; i < 5; ++i) Pump();
  std::string shot = ::testing::TempDir() + "stack.png";
  ShotColours(id, shot);
  EXPECT_EQ(Pixel(shot, 150, 70), "255,0,0");   // the box beside the edit
  EXPECT_NE(Pixel(shot, 10 + 60, 10 + 12), "255,0,0");  // the edit over it
  form.Hide();
  Pump();
  EXPECT_TRUE(WaitGone(id));
}

}  // namespace
}  // namespace korridan_test
