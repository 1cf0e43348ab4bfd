#include "platform/ui/headless.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/ui/controls.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/form.h"
#include "platform/ui/pages.h"
#include "ui_fixture.h"

namespace platform::ui {
namespace {

using Strings = std::vector<std::string>;

class HeadlessTest : public testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    form.Show();
  }
  // Feeds the commands to a console reading them from a pipe and runs the
  // loop until each has run.
  void Run(const std::string& commands, HeadlessConsole& console) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
    ::close(fds[1]);
    console.ReadCommands(fds[0]);
    automation::PumpUntil([&] { return done; });
    ::close(fds[0]);
  }
  Form form{nullptr, "Form"};
  bool done = false;
};

TEST_F(HeadlessTest, EachCommandFindsWhatTheActionsBeforeItLeft) {
  testing::CwdGuard cwd;
  testing::TempDir dir;
  auto* list = new ListBox(&form, &form, "List");
  list->SetMultiSelect(true);
  auto* fill = new Button(&form, &form, "Fill");
  auto* edit = new Edit(&form, &form, "Edit");
  auto* tabs = new TabbedNotebook(&form, &form, "Tabs");
  tabs->AddPage("One");
  tabs->AddPage("Two Words");
  auto* tree = new DirectoryTree(&form, &form, "Tree");
  auto* end = new Button(&form, &form, "End");
  auto* snap = new Button(&form, &form, "Snap");
  snap->OnClick = [&](Component&) {
    std::string selected;
    for (int i = 0; i < list->Count(); ++i)
      if (list->Selected(i)) selected += " " + list->Item(i);
    log.push_back("selected" + selected);
  };
  // The items exist only once Fill's click has been dispatched.
  fill->OnClick = [&](Component&) {
    for (const char* item : {"alpha", "beta", "gamma"}) list->Add(item);
  };
  list->OnDblClick = [&](Component&) { log.push_back("dblclick " + list->Item(list->ItemIndex())); };
  end->OnClick = [&](Component&) { done = true; };

  std::FILE* out = std::tmpfile();
  HeadlessConsole console("test", out);
  ::testing::internal::CaptureStderr();
  Run("click Form.Fill\n"
      "choose Form.List beta\n"
      "toggle Form.List GAMMA\n"
      "click Form.Snap\n"
      "type Form.Edit two words\n"
      "choose Form.Tabs two words\n"
      "dir Form.Tree " + dir.path() + "\n"
      "dblclick Form.List 0\n"
      "click Form.End",  // the last line needs no line end
      console);
  std::string errors = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(done);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(log, (Strings{"selected beta gamma", "dblclick alpha"}));
  EXPECT_EQ(edit->Text(), "two words");
  EXPECT_EQ(tabs->PageIndex(), 1);
  EXPECT_EQ(tree->Directory(), dir.path());
  std::fclose(out);
}

// "show" writes the state of every control that holds one.
TEST_F(HeadlessTest, ShowWritesWhatEachControlHolds) {
  testing::CwdGuard cwd;
  testing::TempDir dir;
  auto* list = new ListBox(&form, &form, "List");
  for (const char* item : {"alpha", "beta two"}) list->Add(item);
  list->SetItemIndex(1);
  (new CheckBox(&form, &form, "Check"))->SetChecked(true);
  new RadioButton(&form, &form, "Radio");
  auto* group = new RadioGroup(&form, &form, "Group");
  group->SetItems({"Read", "Write"});
  group->SetItemIndex(0);
  auto* tabs = new TabbedNotebook(&form, &form, "Tabs");
  tabs->AddPage("One");
  tabs->AddPage("Two Words");
  tabs->SetPageIndex(1);
  auto* tabset = new TabSet(&form, &form, "TabSet");
  tabset->SetTabs({"Log", "Stats"});
  tabset->SetTabIndex(1);
  (new DirectoryTree(&form, &form, "Tree"))->SetDirectory(dir.path());
  std::FILE* out = std::tmpfile();
  HeadlessConsole("test", out).Show(form);
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_EQ(text,
            "@ item Form.List 0 0 alpha\n@ item Form.List 1 1 beta two\n@ check Form.Check 1\n@ check Form.Radio 0\n"
            "@ item Form.Group 0 1 Read\n@ item Form.Group 1 0 Write\n@ page Form.Tabs 1 Two Words\n"
            "@ page Form.TabSet 1 Stats\n@ dir Form.Tree " + dir.path() + "\n");
}

// The first command that fails is reported with its line and ends the
// script: the commands after it never run, and the program's own ending
// (OnScriptFailed) is called once.
TEST_F(HeadlessTest, TheFirstCommandThatFailsEndsTheScript) {
  testing::CwdGuard cwd;
  auto* mark = new Button(&form, &form, "Mark");
  mark->OnClick = [&](Component&) { log.push_back("mark"); };
  auto* go = new Button(&form, &form, "Go");
  go->OnClick = [&](Component&) { log.push_back("go"); };
  auto* off = new Button(&form, &form, "Off");
  off->SetEnabled(false);
  auto* thrower = new Button(&form, &form, "Throw");
  thrower->OnClick = [](Component&) { throw std::runtime_error("Directory not found: /nowhere"); };
  auto* list = new ListBox(&form, &form, "List");
  list->Add("alpha");
  auto* tabs = new TabbedNotebook(&form, &form, "Tabs");
  tabs->AddPage("One");
  new Edit(&form, tabs->AddPage("Two"), "Hidden");
  new DirectoryTree(&form, &form, "Tree");
  Form dialog{nullptr, "Dialog"};
  auto* open = new Button(&form, &form, "Open");
  open->OnClick = [&](Component&) { dialog.ShowModal(); };

  const std::string not_now = "not possible now (hidden, disabled or behind a dialog)";
  struct Case {
    std::string command, why;
  } cases[] = {
      {"frobnicate Form.Go", "unknown command"},
      {"click Form.Go now", "unknown command"},
      {"click Nowhere.Go", "no such form"},
      {"close Nowhere", "no such form"},
      {"click Form.Nothing", "no such control"},
      {"menu Form.NoItem", "no such menu item"},
      {"choose Form.List delta", "no such item"},
      {"choose Form.Tabs Three", "no such item"},
      {"set Form.Tabs Three", "no such item"},
      {"dir Form.Tree /no/such/directory", "no such directory"},
      {"click Form.Off", not_now},
      {"type Form.Hidden text", not_now},
      {"click Form.Throw", "it raised an error"},
  };
  auto script = [](const std::string& failing) { return "click Form.Mark\n\n" + failing + "\nclick Form.Go\n"; };
  auto run = [&](const std::string& commands, int& endings) {
    log.clear();
    done = false;
    endings = 0;
    std::FILE* out = std::tmpfile();
    {
      HeadlessConsole console("test", out);
      console.OnScriptFailed = [&] {
        ++endings;
        done = true;
        if (dialog.Modal()) dialog.Close();
      };
      ::testing::internal::CaptureStderr();
      Run(commands, console);
    }
    std::fclose(out);
    return ::testing::internal::GetCapturedStderr();
  };
  for (const Case& c : cases) {
    int endings = 0;
    std::string errors = run(script(c.command), endings);
    EXPECT_EQ(errors.substr(errors.find("test: line")), "test: line 3: " + c.why + ": " + c.command + "\n")
        << errors;
    EXPECT_EQ(endings, 1) << c.command;
    EXPECT_EQ(log, Strings{"mark"}) << c.command;
  }

  // A main-form control while a dialog is open; the end of the input while
  // one waits (the last command's line).
  int endings = 0;
  EXPECT_EQ(run("click Form.Open\nclick Form.Go\n", endings), "test: line 2: " + not_now + ": click Form.Go\n");
  EXPECT_EQ(endings, 1);
  EXPECT_EQ(run("click Form.Mark\nclick Form.Open\n\n", endings),
            "test: line 2: the commands ended while Dialog waits for an answer: click Form.Open\n");
  EXPECT_EQ(endings, 1);
  EXPECT_EQ(log, Strings{"mark"});
  EXPECT_FALSE(dialog.Modal());
}

// The server's nested pump takes every input message first and then the
// others; a command that opens a dialog must still be settled before the
// next command runs, whichever pump takes the console's steps.
TEST_F(HeadlessTest, ACommandWaitsForTheDialogTheOneBeforeOpenedUnderTheServersPump) {
  Form dialog{nullptr, "Dialog"};
  auto* field = new Edit(&dialog, &dialog, "Field");
  auto* ok = new Button(&dialog, &dialog, "OK");
  ok->OnClick = [&](Component&) { dialog.SetModalResult(mrOk); };
  auto* open = new Button(&form, &form, "Open");
  open->OnClick = [&](Component&) {
    if (dialog.ShowModal() == mrOk) log.push_back("ok " + field->Text());
    done = true;
  };
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string commands = "click Form.Open\nset Dialog.Field typed\nclick Dialog.OK\n";
  ASSERT_EQ(::write(fds[1], commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
  ::close(fds[1]);
  std::FILE* out = std::tmpfile();
  HeadlessConsole console("test", out);
  console.OnScriptFailed = [&] {
    done = true;
    if (dialog.Modal()) dialog.Close();
  };
  ::testing::internal::CaptureStderr();
  console.ReadCommands(fds[0]);
  // Messages below WM_USER first, then those above WM_USER+9, as the
  // server's pump after a socket event takes them.
  auto server_pump = [] {
    MSG msg;
    while (PeekMessage(msg, 0, 0, WM_USER - 1, PM_REMOVE)) DispatchMessage(msg);
    while (PeekMessage(msg, 0, WM_USER + 10, 0x7FFFFFFF, PM_REMOVE)) DispatchMessage(msg);
  };
  for (int i = 0; i < 1000 && !done; ++i) {
    server_pump();
    ::usleep(1000);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(log, Strings{"ok typed"});
  ::close(fds[0]);
  std::fclose(out);
}

}  // namespace
}  // namespace platform::ui
