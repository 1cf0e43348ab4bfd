// The preferences of both builds and the reopening of the BBS.
#include <gtest/gtest.h>

#include "tests/cman/cman_window.h"

namespace {

using namespace cmantest;

TEST(AddBackslash, AppendsOneSeparatorToAPathThatIsNotEmpty) {
  EXPECT_EQ(AddBackslash(""), "");
  EXPECT_EQ(AddBackslash("/srv/bbs"), "/srv/bbs/");
  EXPECT_EQ(AddBackslash("/srv/bbs/"), "/srv/bbs/");
}

TEST_F(ManagerWindow, PreferencesOfTheBuildWriteOnlyTheirKeys) {
  ConfigIni->WriteString("QXBBS", "DefaultConfDir", "/conf/");
  ConfigIni->WriteString("QXBBS", "DefaultUploadDir", "DOCS");
  ConfigIni->WriteBool("QXBBS", "AllowUploads", true);
  Start();
  automation::ModalResponder prefs("PrefForm", [&](ui::Form&) {
    std::vector<std::string> pages = {"General", "Uploads"};
    if (!kLib) pages.pop_back();
    EXPECT_EQ(PrefForm->Notebook->PageNames(), pages);
    EXPECT_EQ(PrefForm->ConfDir->Visible(), !kLib);
    EXPECT_EQ(PrefForm->Label10->Visible(), !kLib);
    if (kLib) {
      EXPECT_EQ(PrefForm->UploadDirList->Items(), (std::vector<std::string>{"UPLOADS", "DOCS", "GAMES"}));
      EXPECT_EQ(PrefForm->UploadDirList->Text(), "DOCS");
      EXPECT_TRUE(PrefForm->UploadDirList->Enabled());
      ui::PostChoose(*PrefForm->Notebook, 1);
      ui::PostChoose(*PrefForm->UploadDirList, 2);
      ui::PostClick(*PrefForm->AllowUploads);
      ui::PostChoose(*PrefForm->Notebook, 0);
    } else {
      EXPECT_EQ(PrefForm->ConfDir->Text(), "/conf/");
      ui::PostReplaceText(*PrefForm->ConfDir, "/srv/conf");
    }
    ui::PostClick(*PrefForm->OKButton);
  });
  automation::ChooseMenu(*main->PrefMenu);
  ASSERT_EQ(prefs.Count(), 1);
  // The path did not change: the BBS is not opened again, the same handle serves.
  EXPECT_EQ(BbsHandle(), 1);
  EXPECT_EQ(ConfigIni->ReadString("QXBBS", "CONFIG.QX2", ""), bbs.home + "/");
  EXPECT_EQ(ConfigIni->ReadString("QXBBS", "DefaultConfDir", ""), kLib ? "/conf/" : "/srv/conf");
  EXPECT_EQ(ConfigIni->ReadString("QXBBS", "DefaultUploadDir", ""), kLib ? "GAMES" : "DOCS");
  EXPECT_EQ(ConfigIni->ReadBool("QXBBS", "AllowUploads", true), !kLib);
}

TEST_F(ManagerWindow, AChangedPathOpensTheOtherBbsAndIsStoredAsTyped) {
  std::string other = bbs.dir / "other";
  std::filesystem::copy(bbs.home, other);
  std::filesystem::remove(other + (kLib ? "/FILEDIR.DAT" : "/SUBBOARD.DAT"));
  Start();
  automation::ReplaceText(*main->ConfDesc, "Stored before the BBS is closed");
  automation::ModalResponder prefs("PrefForm", [&](ui::Form&) {
    ui::PostReplaceText(*PrefForm->ConfigFile, other);
    ui::PostClick(*PrefForm->OKButton);
  });
  automation::ChooseMenu(*main->PrefMenu);
  EXPECT_EQ(ConfigIni->ReadString("QXBBS", "CONFIG.QX2", ""), other);
  EXPECT_EQ(main->ConfList->Count(), 0);
  EXPECT_EQ(BbsHandle(), 2);
  // The pending edit went to the first BBS, before it was closed.
  BbsItems items;
  ASSERT_TRUE(BbsOpen(bbs.home));
  BbsFillList(main->ListKind, 2, items);
  EXPECT_EQ(items[0].first, "Stored before the BBS is closed");
}

#ifdef HALV_LIBMANAGER
TEST_F(ManagerWindow, AnUploadLibraryThatIsGoneLeavesNoChoice) {
  ConfigIni->WriteString("QXBBS", "DefaultUploadDir", "VANISHED");
  Start();
  automation::ModalResponder prefs("PrefForm", [&](ui::Form&) {
    EXPECT_EQ(PrefForm->UploadDirList->ItemIndex(), -1);
    ui::PostClick(*PrefForm->OKButton);
  });
  automation::ChooseMenu(*main->PrefMenu);
  EXPECT_EQ(ConfigIni->ReadString("QXBBS", "DefaultUploadDir", "x"), "");
}
#endif

TEST_F(ManagerWindow, ThePromptLeadsToThePreferencesUntilAWorkingPathIsGiven) {
  ConfigIni->WriteString("QXBBS", "CONFIG.QX2", "");
  boxes.Answer(platform::IDOK);
  boxes.Answer(platform::IDOK);
  int shows = 0;
  automation::ModalResponder prefs("PrefForm", [&](ui::Form&) {
    // Left empty first, which brings the prompt back; then the BBS.
    if (++shows == 2) ui::PostReplaceText(*PrefForm->ConfigFile, bbs.home);
    ui::PostClick(*PrefForm->OKButton);
  });
  Start();
  EXPECT_EQ(shows, 2);
  EXPECT_EQ(boxes.Shown().size(), 2u);
  EXPECT_FALSE(main->GaveUp);
  EXPECT_EQ(main->ConfList->Count(), 3);
  EXPECT_TRUE(main->AdminRuleLoaded);
}

}  // namespace

// The close box of each dialog cancels it: what was typed there is not
// taken (an OK posted after it reaches a dialog that is gone).
TEST_F(ManagerWindow, TheCloseBoxOfEachDialogCancelsIt) {
  ConfigIni->WriteString("QXBBS", "DefaultConfDir", "/conf/");
  Start();
  struct Case {
    const char* form;
    ui::MenuItem* menu;
    std::function<ui::Button*()> type;  // types into the dialog; its OK button
  };
  const Case cases[] = {
      {"PrefForm", main->PrefMenu,
       [] {
         ui::PostReplaceText(*PrefForm->ConfDir, "/x");
         return PrefForm->OKButton;
       }},
      {"NewConfFrm", main->NewConf,
       [] {
         ui::PostReplaceText(*NewConfFrm->NewConfName, "CLOSED");
         return NewConfFrm->OKButton;
       }},
  };
  for (const Case& c : cases) {
    automation::ModalResponder dialog(c.form, [&](ui::Form& form) {
      ui::Button* ok = c.type();
      ui::PostCloseBox(form);
      ui::PostClick(*ok);
    });
    automation::ChooseMenu(*c.menu);
    EXPECT_EQ(dialog.Count(), 1) << c.form;
  }
  EXPECT_EQ(ConfigIni->ReadString("QXBBS", "DefaultConfDir", ""), "/conf/");
  EXPECT_EQ(main->ConfList->Count(), 3);
  EXPECT_EQ(main->FindConfByName("CLOSED", 0), -1);
}
