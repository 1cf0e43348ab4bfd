// The Security Manager's window in the test's own process: which rule a
// directory has, when rules are saved, and what a failure leaves.
#include "tools/secfrm.h"

#include <gtest/gtest.h>

#include "foundation/serverconfig.h"
#include "platform/files.h"
#include "platform/ui/application.h"
#include "platform/ui/automation.h"
#include "tests/tools/tools_fixture.h"
#include "tests/ui/ui_fixture.h"
#include "tests/ui/layout_check.h"
#include "tools/nipfrm.h"
#include "tools/progress.h"

namespace tools_test {
namespace {

namespace ui = platform::ui;
namespace au = platform::ui::automation;
namespace fs = std::filesystem;

TEST(DirectoryResource, UpperCasedWithExactlyOneTrailingSlash) {
  EXPECT_EQ(DirectoryResource("/srv/web/docs"), "/SRV/WEB/DOCS/");
  EXPECT_EQ(DirectoryResource("/srv/web/docs//"), "/SRV/WEB/DOCS/");
  EXPECT_EQ(DirectoryResource("/"), "/");
}

class SecFrmTest : public ToolsTest {
 protected:
  void SetUp() override {
    ToolsTest::SetUp();
    OpenConfigFiles();
    app_ = std::make_unique<ui::Application>();  // errors in handlers become error boxes
    for (const char* d : {"web/a", "web/b"}) fs::create_directories(root_ + "/" + d);
    main_ = new TMain(nullptr);
    main_->FinishCreate();
    main_->Show();
    au::Pump();
  }
  void TearDown() override {
    if (main_) ui::Free(main_);
    app_.reset();
    ToolsTest::TearDown();
  }
  void ChooseDir(const std::string& dir) {
    ui::PostChooseDirectory(*main_->DirOutline, dir);
    au::Pump();
  }
  void AllowGroup(const std::string& group) {
    ui::ListBox& list = *main_->Access->NotGroupsList;
    ui::PostToggleSelect(list, list.IndexOf(group));
    au::Pump();
    au::Click(*main_->Access->AddAccessGroup);
  }
  std::string Resource(const std::string& dir) { return DirectoryResource(root_ + "/" + dir); }

  std::unique_ptr<ui::Application> app_;
  TMain* main_ = nullptr;

 private:
  ui::testing::CwdGuard cwd_;
};

TEST_F(SecFrmTest, ARuleChangedThenLeftIsSavedUnderItsOwnDirectoryBeforeTheNextLoads) {
  ChooseDir(root_ + "/web/a");
  EXPECT_EQ(main_->Access->Resource, Resource("web/a"));
  AllowGroup("Staff");
  EXPECT_TRUE(main_->RuleChanged);
  ChooseDir(root_ + "/web/b");
  EXPECT_EQ(Stored("SERVER", Resource("web/a"), "GET").groups, "Staff\r");
  EXPECT_FALSE(Stored("SERVER", Resource("web/b"), "GET").found);  // visiting writes nothing
  EXPECT_EQ(main_->Access->AllowGroupsList->Count(), 0);
  EXPECT_FALSE(main_->RuleChanged);
  // Save All with nothing changed writes nothing.
  au::ChooseMenu(*main_->SaveAll);
  EXPECT_FALSE(Stored("SERVER", Resource("web/b"), "GET").found);
  ChooseDir(root_ + "/web/a");
  EXPECT_EQ(main_->Access->AllowGroupsList->Texts(), TNameList{"Staff"});
}

TEST_F(SecFrmTest, ADirectoryThatVanishedKeepsItsRuleAndCannotBeChosenAgain) {
  ChooseDir(root_ + "/web/a");
  AllowGroup("Admins");
  fs::remove_all(root_ + "/web/a");  // gone from disk while shown
  au::ChooseMenu(*main_->SaveAll);
  EXPECT_EQ(Stored("SERVER", Resource("web/a"), "GET").groups, "Admins\r");
  ChooseDir(root_ + "/web/b");
  ChooseDir(root_ + "/web/a");
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_NE(boxes_.Shown()[0].text.find("Directory not found: " + root_ + "/web/a"), std::string::npos);
  EXPECT_EQ(main_->DirOutline->Directory(), root_ + "/web/b");
  EXPECT_EQ(main_->Access->Resource, Resource("web/b"));
}

TEST_F(SecFrmTest, AFailedSaveKeepsTheTreeOnTheRulesDirectoryAndTheChange) {
  ChooseDir(root_ + "/web/a");
  AllowGroup("Guests");
  CloseSecurityTables();
  ChooseDir(root_ + "/web/b");
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_NE(boxes_.Shown()[0].text.find("was not saved"), std::string::npos) << boxes_.Shown()[0].text;
  EXPECT_EQ(main_->DirOutline->Directory(), root_ + "/web/a");
  EXPECT_EQ(main_->Access->Resource, Resource("web/a"));
  EXPECT_TRUE(main_->RuleChanged);
  OpenSecurityStore("", data_);
  ChooseDir(root_ + "/web/b");
  EXPECT_EQ(Stored("SERVER", Resource("web/a"), "GET").groups, "Guests\r");
}

TEST_F(SecFrmTest, ClosingSavesAndAFailedSaveAsksBeforeItIsGivenUp) {
  ChooseDir(root_ + "/web/a");
  AllowGroup("Staff");
  CloseSecurityTables();
  boxes_.Answer(platform::IDNO);  // keep the window
  au::CloseBox(*main_);
  EXPECT_TRUE(main_->Visible());
  EXPECT_TRUE(main_->RuleChanged);
  OpenSecurityStore("", data_);
  au::CloseBox(*main_);
  EXPECT_FALSE(main_->Visible());
  EXPECT_EQ(Stored("SERVER", Resource("web/a"), "GET").groups, "Staff\r");
}

TEST_F(SecFrmTest, EveryControlLiesWithinItsParent) {
  TNewIPForm address(nullptr);
  TProgressForm progress(nullptr);
  for (const ui::Form* form : {static_cast<ui::Form*>(main_), static_cast<ui::Form*>(&address),
                               static_cast<ui::Form*>(&progress)})
    EXPECT_EQ(ui::testing::ControlsOutsideTheirParents(*form), std::vector<std::string>{}) << form->Name();
}

TEST_F(SecFrmTest, TheWindowKeepsRoomForTheNotebook) {
  main_->SetClientSize(100, 100);
  EXPECT_EQ(main_->ClientHeight(), 301);
  EXPECT_EQ(main_->ClientWidth(), 416 + 50);
  EXPECT_EQ(main_->Notebook->BoundsRect(), (ui::Rect{50, 0, 466, 301}));
  EXPECT_EQ(main_->DirOutline->BoundsRect(), (ui::Rect{0, 25, 50, 301 - 2}));
  main_->SetClientSize(700, 400);
  EXPECT_EQ(main_->Notebook->Left(), 700 - 416);
  EXPECT_EQ(main_->DirOutline->Height(), 400 - 27);
}

}  // namespace
}  // namespace tools_test
