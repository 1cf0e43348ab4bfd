#include "platform/ui/dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "platform/ui/application.h"
#include "platform/ui/automation.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/form.h"
#include "ui_fixture.h"

namespace platform::ui {
namespace {

using namespace automation;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

class DialogsTest : public testing::UiTest {};

// ---------------------------------------------------------------------------
// Message boxes

TEST_F(DialogsTest, MessageDlgIsCaptionedByItsKindAndReturnsTheScriptedAnswer) {
  Application app;
  app.SetTitle("Conference Manager");
  boxes.Answer(IDNO);
  EXPECT_EQ(MessageDlg("Remove IP Address 10.0.0.1", MsgKind::Confirmation, MsgButtons::YesNo), IDNO);
  EXPECT_EQ(MessageDlg("Library is busy.", MsgKind::Error, MsgButtons::Ok), IDOK);
  ShowMessage("You must enter a network address.");
  auto shown = boxes.Shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].caption, "Confirm");
  EXPECT_EQ(shown[0].kind, MsgKind::Confirmation);
  EXPECT_EQ(shown[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(shown[1].caption, "Error");
  EXPECT_EQ(shown[2].caption, "Conference Manager");
  EXPECT_EQ(shown[2].kind, MsgKind::Plain);
  EXPECT_EQ(shown[2].text, "You must enter a network address.");
}

TEST_F(DialogsTest, AnAnswerThatIsNotOneOfTheButtonsCountsAsTheDefault) {
  boxes.Answer(IDCANCEL);
  EXPECT_EQ(MessageDlg("Unload TEST.DLL?", MsgKind::Confirmation, MsgButtons::YesNo), IDYES);
}

// ---------------------------------------------------------------------------
// Open-file dialog

TEST_F(DialogsTest, OpenDialogReturnsTheChosenFileAsAFullPath) {
  testing::TempDir dir;
  DialogScript script;
  OpenDialog open(nullptr, "OpenDialog1");
  open.SetTitle("Browse");
  open.SetFilter("HTML Documents|*.htm;*.html|Images|*.gif;*.jpg|All Documents|*.*");
  open.SetInitialDir(dir.path());
  script.AnswerOpenFile("docs//index.html");
  ASSERT_TRUE(open.Execute());
  EXPECT_EQ(open.FileName(), dir.path() + "/docs/index.html");
  ASSERT_EQ(script.OpenFileRequests().size(), 1u);
  EXPECT_EQ(script.OpenFileRequests()[0].title, "Browse");
  EXPECT_EQ(script.OpenFileRequests()[0].initial_dir, dir.path());
  EXPECT_EQ(script.OpenFileRequests()[0].filter, open.Filter());

  script.CancelOpenFile();
  EXPECT_FALSE(open.Execute());
  EXPECT_EQ(open.FileName(), dir.path() + "/docs/index.html");  // cancel leaves it
  script.AnswerOpenFile("/etc/../srv/a.htm");
  ASSERT_TRUE(open.Execute());
  EXPECT_EQ(open.FileName(), "/srv/a.htm");
}

TEST_F(DialogsTest, WithoutAHandlerTheDialogIsWrittenToStandardErrorAndCancelled) {
  OpenDialog open(nullptr, "OpenDialog1");
  open.SetTitle("Browse");
  open.SetInitialDir("/srv/www");
  ::testing::internal::CaptureStderr();
  bool chosen = open.Execute();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(chosen);
  EXPECT_EQ(err, "open-file dialog [Browse] in /srv/www -> cancelled\n");
  std::string d = "/srv";
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(SelectDirectory(d));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(d, "/srv");
}

// ---------------------------------------------------------------------------
// Directory dialog

TEST_F(DialogsTest, SelectDirectoryOpensOnTheGivenDirectoryAndReturnsTheChoice) {
  testing::TempDir dir;
  fs::create_directory(dir / "logs");
  DialogScript script;
  script.AnswerDirectory("logs/");
  std::string d = dir.path();
  ASSERT_TRUE(SelectDirectory(d));
  EXPECT_EQ(d, dir / "logs");
  ASSERT_EQ(script.DirectoryRequests().size(), 1u);
  EXPECT_EQ(script.DirectoryRequests()[0].caption, "Select Directory");
  EXPECT_EQ(script.DirectoryRequests()[0].directory, dir.path());
  script.CancelDirectory();
  EXPECT_FALSE(SelectDirectory(d));
  EXPECT_EQ(d, dir / "logs");
}

TEST_F(DialogsTest, AMissingDirectoryIsCreatedWithItsParentsAfterYes) {
  testing::TempDir dir;
  DialogScript script;
  SelectDirOptions create{true, true, true};
  script.AnswerDirectory(dir / "a/b");  // refused with No: the dialog stays open
  script.AnswerDirectory(dir / "c/d");  // Yes
  boxes.Answer(IDNO);
  boxes.Answer(IDYES);
  std::string d = dir.path();
  ASSERT_TRUE(SelectDirectory(d, create));
  EXPECT_EQ(d, dir / "c/d");
  EXPECT_TRUE(IsDirectory(dir / "c/d"));
  EXPECT_FALSE(IsDirectory(dir / "a"));
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[0].text, "The specified directory does not exist. Create it?");
  EXPECT_EQ(boxes.Shown()[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(script.DirectoryRequests().size(), 2u);
}

TEST_F(DialogsTest, WithoutAllowCreateAMissingDirectoryIsNotAccepted) {
  testing::TempDir dir;
  DialogScript script;
  script.AnswerDirectory(dir / "missing");
  script.AnswerDirectory(dir.path());
  std::string d = "/";
  ASSERT_TRUE(SelectDirectory(d));
  EXPECT_EQ(d, dir.path());
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(DialogsTest, ACreationThatFailsIsAnError) {
  testing::TempDir dir;
  testing::WriteFile(dir / "file", "x");
  DialogScript script;
  script.AnswerDirectory(dir / "file/sub");
  std::string d = dir.path();
  EXPECT_THROW(SelectDirectory(d, {true, true, false}), std::runtime_error);
  EXPECT_EQ(d, dir.path());
}

// ---------------------------------------------------------------------------
// Find dialog

TEST_F(DialogsTest, FindDialogFiresOnFindForEachFindNextUntilClosed) {
  FindDialog find(nullptr, "Find");
  find.SetOptions(frDown | frHideMatchCase | frHideWholeWord | frHideUpDown);
  find.OnFind = [&](Component&) { log.push_back("find " + find.FindText()); };
  find.OnClose = [&](Component&) { log.push_back("close"); };
  PostFindNext(find);  // not open yet
  Pump();
  EXPECT_TRUE(find.Execute());
  EXPECT_TRUE(find.Visible());
  PostFindText(find, "GENERAL");
  PostFindNext(find);
  PostFindNext(find);
  PostCloseBox(find);
  PostFindNext(find);
  Pump();
  EXPECT_FALSE(find.Visible());
  EXPECT_EQ(log, (Strings{"find GENERAL", "find GENERAL", "close"}));
  find.Execute();
  find.CloseDialog();
  EXPECT_EQ(log.back(), "close");
}

// ---------------------------------------------------------------------------
// Directory tree and drive box

class FileControlsTest : public testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    fs::create_directory(dir / "beta");
    fs::create_directory(dir / "Alpha");
    fs::create_directory(dir / "Alpha/inner");
    fs::create_directory(dir / ".hidden");
    testing::WriteFile(dir / "file.txt", "x");
    form.Show();
  }
  testing::CwdGuard cwd;
  testing::TempDir dir;
  Form form{nullptr, "SecMain"};
};

TEST_F(FileControlsTest, TreeListsTheSubdirectoriesOfATemporaryDirectory) {
  EXPECT_EQ(DirectoryTree::SubDirectories(dir.path()), (Strings{"Alpha", "beta"}));
  EXPECT_TRUE(DirectoryTree::SubDirectories(dir / "missing").empty());

  DirectoryTree* tree = new DirectoryTree(&form, &form, "DirOutline");
  tree->OnChange = [&](Component&) { log.push_back(tree->Directory()); };
  tree->SetDirectory(dir / "Alpha");
  EXPECT_EQ(tree->Directory(), dir / "Alpha");
  EXPECT_EQ(GetCurrentDir(), dir / "Alpha");  // the tree's directory is the current one
  EXPECT_EQ(log, Strings{dir / "Alpha"});

  // The path from the root down, the siblings at each level, and the
  // directory's own subdirectories below it.
  auto nodes = tree->VisibleNodes();
  ASSERT_FALSE(nodes.empty());
  EXPECT_EQ(nodes.front(), (DirectoryTree::Node{0, "/", "/", true}));
  int depth = static_cast<int>(std::count(dir.path().begin(), dir.path().end(), '/'));
  std::vector<DirectoryTree::Node> tail;
  for (const auto& n : nodes)
    if (n.path.rfind(dir.path() + "/", 0) == 0) tail.push_back(n);
  EXPECT_EQ(tail, (std::vector<DirectoryTree::Node>{{depth + 1, "Alpha", dir / "Alpha", true},
                                                    {depth + 2, "inner", dir / "Alpha/inner", false},
                                                    {depth + 1, "beta", dir / "beta", false}}));
}

TEST_F(FileControlsTest, SettingTheTreeToAMissingDirectoryIsAnErrorThatChangesNothing) {
  DirectoryTree* tree = new DirectoryTree(&form, &form, "DirOutline");
  tree->SetDirectory(dir.path());
  EXPECT_THROW(tree->SetDirectory(dir / "missing"), std::runtime_error);
  EXPECT_THROW(tree->SetDirectory(dir / "file.txt"), std::runtime_error);
  EXPECT_EQ(tree->Directory(), dir.path());
  EXPECT_EQ(GetCurrentDir(), dir.path());
}

TEST_F(FileControlsTest, ChoosingADirectoryInTheTreeIsUserInputAndItsErrorIsReported) {
  Application app;
  app.SetTitle("Security Manager");
  DirectoryTree* tree = new DirectoryTree(&form, &form, "DirOutline");
  tree->OnChange = [&](Component&) { log.push_back("change"); };
  tree->SetDirectory(dir.path());
  PostChooseDirectory(*tree, "beta");  // relative to the current directory
  PostChooseDirectory(*tree, dir / "gone");
  Pump();
  EXPECT_EQ(tree->Directory(), dir / "beta");
  EXPECT_EQ(log, (Strings{"change", "change"}));
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].kind, MsgKind::Error);
  EXPECT_EQ(boxes.Shown()[0].caption, "Security Manager");
  EXPECT_NE(boxes.Shown()[0].text.find(dir / "gone"), std::string::npos);
}

TEST_F(FileControlsTest, DriveBoxOffersTheRootOnly) {
  DriveBox* drives = new DriveBox(&form, &form, "DriveBox");
  int changes = 0;
  drives->OnChange = [&](Component&) { ++changes; };
  EXPECT_EQ(drives->Drives(), Strings{"/"});
  EXPECT_EQ(drives->Drive(), "/");
  Choose(*drives, 0);
  Choose(*drives, 1);
  EXPECT_EQ(changes, 0);
  DirectoryTree* tree = new DirectoryTree(&form, &form, "DirOutline");
  tree->SetDrive(drives->Drive());
  EXPECT_EQ(tree->Directory(), "/");
}

}  // namespace
}  // namespace platform::ui
