// secmanager's forms in this process, shown by the window front end at their
// own sizes: the main window with the access-rule page (every page of it),
// the address dialog and the progress window.
#include <memory>

#include "foundation/serverconfig.h"
#include "platform/ui/application.h"
#include "tests/display/caption_fit.h"
#include "tests/tools/tools_fixture.h"
#include "tools/secfrm.h"

namespace {

class SecManagerFit : public tools_test::ToolsTest, public captionfit::FitCheck {
 protected:
  void SetUp() override {
    OpenWindows();
    ToolsTest::SetUp();
  }
  void TearDown() override {
    if (Main) platform::ui::Free(Main);
    Main = nullptr;
    app_.reset();
    ToolsTest::TearDown();
    CloseWindows();
  }
  std::unique_ptr<platform::ui::Application> app_;
};

TEST_F(SecManagerFit, EveryCaptionFitsItsControl) {
  OpenConfigFiles();
  app_ = std::make_unique<platform::ui::Application>();
  Main = new TMain(nullptr);
  Main->FinishCreate();
  Main->Show();
  ASSERT_TRUE(WaitShown(*Main));
  EXPECT_EQ(Face(*Main, "EnforceSecurity"), "Liberation Sans");
  CheckShown(*Main);
  Main->Hide();
  Check(*NewIPForm);
  Check(*ProgressForm);
  ExpectAllFit();
}

}  // namespace
