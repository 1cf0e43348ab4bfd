// korridan with its windows on a real X display, driven by X input.
#include <sys/wait.h>

#include <cstdio>
#include <regex>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <set>

#include "platform/ui/automation.h"
#include "platform/ui/canvas.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/form.h"
#include "platform/ui/windows.h"
#include "tests/display/widgets.h"
#include "tests/display/xdisplay.h"
#include "tests/korridan/korridan_site.h"
#include "tests/support/sample_bbs.h"

namespace korridan_test {
namespace {

using namespace displaytest;

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

  // Opens the Server menu and chooses the item of that key. A key that comes
  // while the program is still taking its window in may be lost: the menu
  // is asked for again until its pop-up shows.
  bool ServerMenu(const std::string& main, const std::string& item) {
    for (int i = 0; i < 5; ++i) {
      Keys("alt+s");
      if (!WaitOtherWindow(main, {}, 3s).empty()) {
        Keys(item);
        return true;
      }
      Keys("Escape");
    }
    return false;
  }

  // The main window once it is drawn and has the focus: keys sent before
  // the program has taken its window in may be lost.
  std::string MainWindow() {
    Start();
    std::string main = WaitWindow("^Halvorine \\(0\\)$");
    if (main.empty()) return main;
    auto until = std::chrono::steady_clock::now() + 20s;
    while (ShotColours(main, "drawn") <= 16 && std::chrono::steady_clock::now() < until) Idle();
    Focus(main);
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

  ASSERT_TRUE(ServerMenu(main, "Return"));  // Server, then its first item: Stop
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
  ASSERT_TRUE(ServerMenu(main, "a"));  // Server, About...
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
  ASSERT_TRUE(ServerMenu(main, "p"));  // Server, Properties...
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
  // Left of where the plot would be: the log's white margin, then the
  // graph's face beside its white plot. A window just mapped may not be
  // drawn yet: the first look waits for the margin.
  const std::string shot = root_ + "/stats.png";
  auto drawn = std::chrono::steady_clock::now() + 20s;
  XDisplay::ShotColours(main, shot);
  while (std::chrono::steady_clock::now() < drawn && Pixel(shot, 6, 150) != "255,255,255") {
    Idle();
    XDisplay::ShotColours(main, shot);
  }
  ASSERT_EQ(Pixel(shot, 6, 150), "255,255,255");
  Size size = WindowSize(main);
  ClickAt(main, 247, size.height - 10);  // the fourth tab of the bar below: Stats
  auto until = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < until && Pixel(shot, 6, 150) == "255,255,255") {
    Idle();
    XDisplay::ShotColours(main, shot);
  }
  EXPECT_EQ(Pixel(shot, 6, 150), "192,192,192");
  EXPECT_EQ(Pixel(shot, 200, 150), "255,255,255");
  EXPECT_GT(XDisplay::ShotColours(main, shot), 16);  // the choices and the date labels
  EXPECT_TRUE(WaitName(main, "Halvorine (0)"));
}

TEST_F(DisplaySite, ExitMenuEndsTheProgramAndSavesItsState) {
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  ASSERT_TRUE(ServerMenu(main, "x"));  // Server, Exit
  EXPECT_EQ(WaitExit(30s), 0);
  EXPECT_TRUE(fs::exists(cwd_ + "STATS.DAT"));
  EXPECT_NE(ReadFile(prog_ + "KORRIDAN.INI").find("WindowWidth=435"), std::string::npos);
}

TEST_F(DisplaySite, AnErrorBoxWaitsForItsButtonAndTheExitGoesOnAfterIt) {
  // A directory where the statistics file should go: the save at exit fails.
  fs::create_directories(cwd_ + "STATS.DAT");
  std::string main = MainWindow();
  ASSERT_FALSE(main.empty()) << Stderr();
  ASSERT_TRUE(ServerMenu(main, "x"));  // Server, Exit
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


// A widget as it draws itself, and the rows in which two drawings differ.
QImage Drawn(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }
std::set<int> DifferingRows(const QImage& a, const QImage& b) {
  std::set<int> rows;
  for (int y = 0; y < std::min(a.height(), b.height()); ++y)
    for (int x = 0; x < std::min(a.width(), b.width()); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) rows.insert(y);
  return rows;
}

using displaytest::WidgetOf;

// "&Name" shows as "Name" with its N underlined: beside the same control
// captioned "Name" it differs in one or two rows (the underline), where a
// literal "&" would move the whole word.
TEST_F(FrontEnd, AMnemonicMarkShowsAsAnUnderlinedLetterInEveryKindOfCaption) {
  namespace ui = platform::ui;
  ui::Form form(nullptr, "Marks");
  form.SetCaption("Marks Form");
  form.SetBorderStyle(ui::BorderStyle::Dialog);
  form.SetClientSize(400, 260);
  form.SetFont(ui::Font{"MS Sans Serif", 8});
  std::vector<std::pair<ui::Control*, ui::Control*>> pairs;
  auto pair = [&](auto make, int top) {
    for (int i = 0; i < 2; ++i) {
      ui::Control* c = make(i);
      c->SetBounds(10 + 190 * i, top, 150, 40);
      c->SetCaption(i == 0 ? "&Directories:" : "Directories:");
      (i == 0 ? pairs.emplace_back().first : pairs.back().second) = c;
    }
  };
  pair([&](int) { return new ui::Label(&form, &form); }, 10);
  pair([&](int) { return new ui::CheckBox(&form, &form); }, 60);
  pair([&](int) { return new ui::Button(&form, &form); }, 110);
  pair([&](int) { return new ui::GroupBox(&form, &form); }, 160);
  pair([&](int) { return new ui::SpeedButton(&form, &form); }, 210);
  form.FinishCreate();
  form.Show();
  ASSERT_FALSE(WaitWindow("^Marks Form$", Pump).empty());
  for (int i = 0; i < 5; ++i) Pump();
  for (auto [marked, plain] : pairs) {
    QWidget* a = WidgetOf(*marked);
    QWidget* b = WidgetOf(*plain);
    ASSERT_TRUE(a && b);
    std::set<int> rows = DifferingRows(Drawn(a), Drawn(b));
    EXPECT_GE(rows.size(), 1u) << a->metaObject()->className() << ": no underline";
    EXPECT_LE(rows.size(), 2u) << a->metaObject()->className() << ": the caption moved";
  }
  form.Hide();
  Pump();
}

// The directory chooser has the class library's labels, each leading to
// its field, and answers the directory typed in its name field.
TEST_F(FrontEnd, TheDirectoryChooserHasItsLabelsAndAnswersTheNameTyped) {
  std::string root = ::testing::TempDir() + "chooser-" + std::to_string(::getpid());
  std::filesystem::create_directories(root + "/one");
  std::filesystem::create_directories(root + "/two");
  QStringList labels, buddies, listed;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (!top->isVisible() || top->windowTitle() != "Select Directory") continue;
      user.stop();
      for (QLabel* l : top->findChildren<QLabel*>()) {
        labels << l->text();
        buddies << (l->buddy() ? l->buddy()->objectName() : QString());
      }
      auto* list = top->findChild<QListWidget*>("directories");
      for (int i = 0; list && i < list->count(); ++i) listed << list->item(i)->text().trimmed();
      top->findChild<QLineEdit*>("name")->setText(QString::fromStdString(root + "/two"));
      for (QPushButton* b : top->findChildren<QPushButton*>())
        if (b->text() == "OK") b->click();
    }
  });
  user.start(50);
  std::string chosen = root;
  EXPECT_TRUE(platform::ui::SelectDirectory(chosen));
  EXPECT_EQ(chosen, root + "/two");
  EXPECT_EQ(labels, QStringList({"Directory &Name:", "&Directories:"}));
  EXPECT_EQ(buddies, QStringList({"name", "directories"}));
  EXPECT_TRUE(listed.contains("one") && listed.contains("two")) << listed.join(",").toStdString();
  // Cancel answers no directory and leaves the one given as it was.
  QTimer cancel;
  QObject::connect(&cancel, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (!top->isVisible() || top->windowTitle() != "Select Directory") continue;
      cancel.stop();
      for (QPushButton* b : top->findChildren<QPushButton*>())
        if (b->text() == "Cancel") b->click();
    }
  });
  cancel.start(50);
  chosen = root + "/one";
  EXPECT_FALSE(platform::ui::SelectDirectory(chosen));
  EXPECT_EQ(chosen, root + "/one");
  std::filesystem::remove_all(root);
}

// The find dialog's label leads to its text field, so its mark underlines.
TEST_F(FrontEnd, TheFindDialogsLabelLeadsToItsField) {
  platform::ui::FindDialog find(nullptr, "Find");
  find.Execute();
  QLabel* label = nullptr;
  auto until = std::chrono::steady_clock::now() + 10s;
  while (!label && std::chrono::steady_clock::now() < until) {
    Pump();
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top->windowTitle() == "Find") label = top->findChild<QLabel*>();
  }
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), "Fi&nd what:");
  EXPECT_NE(qobject_cast<QLineEdit*>(label->buddy()), nullptr);
  find.CloseDialog();
  Pump();
}

}  // namespace
}  // namespace korridan_test
