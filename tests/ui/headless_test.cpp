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
      "choose Form.List delta\n"
      "click Form.End",  // the last line needs no line end
      console);
  std::string errors = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(done);
  EXPECT_EQ(errors, "test: unknown command: choose Form.List delta\n");
  EXPECT_EQ(log, (Strings{"selected beta gamma", "dblclick alpha"}));
  EXPECT_EQ(edit->Text(), "two words");
  EXPECT_EQ(tabs->PageIndex(), 1);
  EXPECT_EQ(tree->Directory(), dir.path());
  std::fclose(out);
}

}  // namespace
}  // namespace platform::ui
