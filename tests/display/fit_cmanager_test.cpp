// The library or conference manager's forms (this program is built once for
// each) in this process over a copy of the sample BBS, shown by the window
// front end at their own sizes: the main window with every page, the
// new-entry dialog, the preferences with every page, the address dialog and
// the progress window.
#include "tests/cman/cman_window.h"
#include "tests/display/caption_fit.h"

namespace cmantest {
namespace {

class ManagerFit : public ManagerWindow, public captionfit::FitCheck {
 protected:
  void SetUp() override {
    OpenWindows();
    ManagerWindow::SetUp();
  }
  void TearDown() override {
    ManagerWindow::TearDown();
    CloseWindows();
  }
};

TEST_F(ManagerFit, EveryCaptionFitsItsControl) {
  Start();
  ASSERT_TRUE(WaitShown(*main));
  EXPECT_TRUE(boxes.Shown().empty()) << boxes.Shown().front().text;
  EXPECT_EQ(Face(*main, "ConfList"), "Liberation Mono");
  EXPECT_EQ(Face(*main, "EnforceSecurity"), "Liberation Sans");
  CheckShown(*main, kLib ? "Main (libmanager)" : "Main (confmanager)");
  main->Hide();
  Check(*NewConfFrm);
  Check(*PrefForm);
  Check(*NewIPForm);
  Check(*ProgressForm);
  ExpectAllFit();
}

}  // namespace
}  // namespace cmantest
