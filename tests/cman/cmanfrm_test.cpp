// The manager window in the test's own process, compiled once per build.
#include "tools/cmanfrm.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/cman/cman_window.h"
#include "tests/ui/layout_check.h"

namespace {

using namespace cmantest;

TEST_F(ManagerWindow, TheBuildSwitchSetsCaptionsModuleKindAndPages) {
  Start();
  EXPECT_EQ(main->Caption(), kLib ? "File Library Manager" : "Conference Manager");
  EXPECT_EQ(app->Title(), kLib ? "File Library Manager" : "Conference Manager");
  EXPECT_EQ(main->Module, kLib ? "WEBFILE" : "WEBMSG");
  EXPECT_EQ(main->ListKind, kLib ? 1 : 0);
  EXPECT_EQ(main->Pages->PageIndex(), kLib ? 1 : 0);
  EXPECT_EQ(main->ConferenceMenu->Caption(), kLib ? "&Library" : "&Conference");
  EXPECT_EQ(main->NewConf->Caption(), kLib ? "&New Library..." : "&New Conference...");
  EXPECT_EQ(main->DelConf->Caption(), kLib ? "&Delete Library..." : "&Delete Conference...");
  EXPECT_EQ(main->RepConf->Caption(), kLib ? "&Repair Library" : "&Repair Conference");
  std::vector<std::string> actions = {"Read", "Write", "Moderate"};
  if (kLib) actions.pop_back();
  EXPECT_EQ(main->ActionGroup->Items(), actions);
  EXPECT_EQ(main->ActionGroup->Height(), kLib ? 60 - 25 : 60);
}

TEST_F(ManagerWindow, EveryControlLiesWithinItsParent) {
  Start();
  for (const ui::Component* owned : app->Components())
    if (const auto* form = dynamic_cast<const ui::Form*>(owned)) {
      EXPECT_EQ(ui::testing::ControlsOutsideTheirParents(*form), std::vector<std::string>{}) << form->Name();
    }
}

TEST_F(ManagerWindow, ShowsTheBbsListAndLoadsTheFirstEntry) {
  Start();
  if (kLib) {
    EXPECT_EQ(main->ConfList->Texts(), (std::vector<std::string>{"UPLOADS  - New uploads",
                                                                 "DOCS     - Documents and manuals",
                                                                 "GAMES    - Games on the CD-ROM"}));
  } else {
    EXPECT_EQ(main->ConfList->Texts(), (std::vector<std::string>{"GENERAL  - General discussion",
                                                                 "ANNOUNCE - Announcements from the sysop",
                                                                 "TECHNICAL - Technical help and questions"}));
  }
  EXPECT_EQ(main->ConfList->ItemIndex(), 0);
  EXPECT_EQ(main->Resource, kLib ? "UPLOADS" : "GENERAL");
  EXPECT_EQ(main->Action, "READ");
  EXPECT_EQ(main->ConfName->Text(), kLib ? "UPLOADS" : "GENERAL");
  automation::Choose(*main->ConfList, 2);
  if (kLib) {
    EXPECT_EQ(main->PathToFiles->Text(), "/mnt/cdrom/games/");
    EXPECT_TRUE(main->CopyBox->Checked());
  } else {
    EXPECT_EQ(main->MaxMsgs->Text(), "5000");
    EXPECT_EQ(main->MaxLength->Text(), "1200");
    EXPECT_FALSE(main->AllowAnon->Checked());
    EXPECT_TRUE(main->AutoPurge->Checked());
    EXPECT_FALSE(main->Compress->Checked());
  }
  EXPECT_FALSE(main->PropertiesChanged);
}

TEST_F(ManagerWindow, EditsAreStoredWhenAnotherEntryIsChosenAndTouchNothingElse) {
  Start();
  auto before = ReadBytes(ListFile());
  automation::ReplaceText(*main->ConfDesc, "A description longer than the forty characters of its field");
  if (kLib) {
    automation::ReplaceText(*main->PathToFiles, "/srv/New");
    automation::Click(*main->CopyBox);
  } else {
    automation::ReplaceText(*main->MaxMsgs, "2147483647");  // the largest each field holds
    automation::ReplaceText(*main->MaxLength, "32767");
    automation::Click(*main->AllowAnon);
    automation::Click(*main->Compress);
  }
  EXPECT_TRUE(main->PropertiesChanged);
  EXPECT_EQ(main->ConfList->Item(0), kLib ? "UPLOADS  - New uploads" : "GENERAL  - General discussion");
  automation::Choose(*main->ConfList, 1);
  // Stored, but the list text changes only at the next fill from the BBS.
  EXPECT_EQ(main->ConfList->Item(0), kLib ? "UPLOADS  - New uploads" : "GENERAL  - General discussion");
  auto after = ReadBytes(ListFile());
  EXPECT_EQ(cmantest::ForeignChanges(before, after, kLib), std::vector<size_t>{});
  automation::Choose(*main->ConfList, 0);
  EXPECT_EQ(main->ConfDesc->Text(), "A description longer than the forty char");
  if (kLib) {
    EXPECT_EQ(main->PathToFiles->Text(), "/srv/New/");  // its case kept
    EXPECT_TRUE(main->CopyBox->Checked());
  } else {
    EXPECT_EQ(main->MaxMsgs->Text(), "2147483647");
    EXPECT_EQ(main->MaxLength->Text(), "32767");
    EXPECT_TRUE(main->AllowAnon->Checked());
    EXPECT_FALSE(main->Compress->Checked());
  }
}

#ifdef HALV_LIBMANAGER
TEST_F(ManagerWindow, APathKeepsItsCaseWithOneTrailingSlashInItsFortyFiveCharacters) {
  Start();
  struct {
    std::string typed, stored;
  } cases[] = {{"", "/"},
               {"/a/B/", "/a/B/"},
               {"/srv/Bbs/Docs", "/srv/Bbs/Docs/"},
               {std::string(45, 'x'), std::string(45, 'x')},
               {std::string(44, 'z'), std::string(44, 'z') + "/"},
               {"/srv/Bbs/Manuals", "/srv/Bbs/Manuals/"}};
  for (const auto& c : cases) {
    automation::ReplaceText(*main->PathToFiles, c.typed);
    automation::ChooseMenu(*main->SaveAll);
    EXPECT_EQ(FieldText(main->Directory->Path), c.stored) << c.typed;
  }
  automation::Choose(*main->ConfList, 1);
  automation::Choose(*main->ConfList, 0);
  EXPECT_EQ(main->PathToFiles->Text(), "/srv/Bbs/Manuals/");  // shown back as stored
}
#else
// Either number field holding no number: one message quoting the text, nothing
// stored, and the list and the action stay on the entry whose page is shown,
// so a corrected edit goes to that entry.
TEST_F(ManagerWindow, ANumberFieldWithoutANumberStopsTheSaveOnTheEntryShown) {
  struct {
    ui::Edit* TMain::*field;
    size_t offset;
    int fixed;
  } cases[] = {{&TMain::MaxMsgs, 73, 12}, {&TMain::MaxLength, 77, 34}};
  for (const auto& c : cases) {
    Start();
    ui::Edit& field = *(main->*c.field);
    const std::string message = "'abc' is not a valid integer value";
    auto before = ReadBytes(ListFile());
    automation::ReplaceText(*main->ConfDesc, "Changed");
    automation::ReplaceText(field, "abc");
    for (int step = 0; step < 3; ++step) {
      size_t shown = boxes.Shown().size();
      if (step == 0) automation::Choose(*main->ConfList, 1);
      if (step == 1) {
        automation::Choose(*main->Notebook, 1);
        automation::Choose(*main->ActionGroup, 1);
        automation::Choose(*main->Notebook, 0);
      }
      if (step == 2) automation::ChooseMenu(*main->SaveAll);
      ASSERT_EQ(boxes.Shown().size(), shown + 1) << field.Name() << " step " << step;
      EXPECT_EQ(boxes.Shown().back().text, message) << field.Name();
      EXPECT_EQ(ReadBytes(ListFile()), before) << field.Name();  // nothing stored
      EXPECT_EQ(main->ConfList->ItemIndex(), 0) << field.Name() << " step " << step;
      EXPECT_EQ(main->ConfName->Text(), "GENERAL");
      EXPECT_EQ(main->ActionGroup->ItemIndex(), 0) << field.Name() << " step " << step;
      EXPECT_EQ(main->Action, "READ");
      EXPECT_EQ(field.Text(), "abc");  // kept, to be put right
      EXPECT_TRUE(main->PropertiesChanged);
    }
    size_t shown = boxes.Shown().size();
    automation::ReplaceText(field, std::to_string(c.fixed));
    automation::Choose(*main->ConfList, 1);
    EXPECT_EQ(boxes.Shown().size(), shown);
    EXPECT_EQ(main->ConfName->Text(), "ANNOUNCE");
    auto after = ReadBytes(ListFile());
    EXPECT_EQ(after[160 + c.offset], c.fixed) << field.Name();  // into the entry it was made on
    EXPECT_EQ(FieldText(after.data() + 160 + 6, 41), "Changed");
    app.reset();
  }
}
#endif

// A value that its record field cannot hold is refused with a message that
// names the limit, at a save and again when the window goes, and nothing of
// the entry is stored; the field keeps the text to be put right.
TEST_F(ManagerWindow, AValueItsRecordFieldCannotHoldIsRefusedWithItsLimit) {
  struct Case {
    ui::Edit* TMain::*field;
    std::string text, message;
  };
  const std::string path = "/srv/bbs/Manuals/Reference/Hardware/Controllers/";
  const std::string length = " is out of range for Maximum Length (0 to 32767)";
  const std::string messages = " is out of range for Maximum Messages (0 to 2147483647)";
  std::vector<Case> cases = {{&TMain::MaxLength, "70000", "'70000'" + length},
                             {&TMain::MaxLength, "-1", "'-1'" + length},
                             {&TMain::MaxMsgs, "-5", "'-5'" + messages},
                             {&TMain::MaxMsgs, "99999999999", "'99999999999'" + messages}};
  if (kLib) cases = {{&TMain::PathToFiles, path, "The path to the files is longer than 45 characters: " + path}};
  for (const Case& c : cases) {
    Start();
    size_t shown = boxes.Shown().size();
    auto before = ReadBytes(ListFile());
    automation::ReplaceText(*main->ConfDesc, "Changed");
    automation::ReplaceText(*(main->*c.field), c.text);
    automation::ChooseMenu(*main->SaveAll);
    ASSERT_EQ(boxes.Shown().size(), shown + 1) << c.text;
    EXPECT_EQ(boxes.Shown().back().text, c.message);
    EXPECT_EQ((main->*c.field)->Text(), c.text);
    app.reset();
    EXPECT_EQ(boxes.Shown().size(), shown + 2) << c.text;
    EXPECT_EQ(ReadBytes(ListFile()), before) << c.text;
  }
}

TEST_F(ManagerWindow, NamingModesSortTheListAndAFillFromTheBbsRestoresItsOrder) {
  Start();
  automation::Choose(*main->ConfList, 2);
  automation::ChooseMenu(*main->ShortNames);
  EXPECT_TRUE(main->ShortNames->Checked());
  EXPECT_FALSE(main->BothNames->Checked());
  std::vector<std::string> sorted = {"DOCS", "GAMES", "UPLOADS"};
  if (!kLib) sorted = {"ANNOUNCE", "GENERAL", "TECHNICAL"};
  EXPECT_EQ(main->ConfList->Texts(), sorted);
  EXPECT_EQ(main->ConfList->ItemIndex(), 0);
  EXPECT_EQ(main->Resource, kLib ? "DOCS" : "ANNOUNCE");
  automation::Choose(*main->ConfList, 2);
  automation::ChooseMenu(*main->ShortNames);  // already checked: same list, first item again
  EXPECT_EQ(main->ConfList->ItemIndex(), 0);
  automation::ChooseMenu(*main->LongNames);
  EXPECT_EQ(main->ConfList->Item(0), kLib ? "Documents and manuals" : "Announcements from the sysop");
  main->RefillConfList(true);
  EXPECT_EQ(main->ConfList->Item(0), kLib ? "New uploads" : "General discussion");
}

TEST_F(ManagerWindow, FindSearchesDownFromTheSelectionWithoutWrapping) {
  Start();
  automation::ChooseMenu(*main->FindMenu);
  ASSERT_TRUE(main->Find->Visible());
  ui::PostFindText(*main->Find, kLib ? "cd-rom" : "help");
  ui::PostFindNext(*main->Find);
  automation::Pump();
  EXPECT_EQ(main->ConfList->ItemIndex(), 2);
  EXPECT_EQ(main->Resource, kLib ? "GAMES" : "TECHNICAL");
  ui::PostFindText(*main->Find, kLib ? "uploads" : "general");
  ui::PostFindNext(*main->Find);
  automation::Pump();
  EXPECT_EQ(Boxes(), std::vector<std::string>{kLib ? "Search string 'uploads' not found."
                                                   : "Search string 'general' not found."});
  EXPECT_FALSE(main->Find->Visible());
  EXPECT_EQ(main->ConfList->ItemIndex(), 2);
}

TEST_F(ManagerWindow, TheAdministratorPageLocksTheList) {
  Start();
  automation::Choose(*main->Notebook, 2);
  EXPECT_FALSE(main->ConfList->Enabled());
  automation::Choose(*main->Notebook, 1);
  EXPECT_TRUE(main->ConfList->Enabled());
}

TEST_F(ManagerWindow, TheWindowKeepsTheNotebooksSizeAtLeast) {
  Start();
  ui::PostResize(*main, 200, 100);
  automation::Pump();
  EXPECT_EQ(main->ClientWidth(), 416 + 50);
  EXPECT_EQ(main->ClientHeight(), 329);
  EXPECT_EQ(main->ConfList->BoundsRect(), (ui::Rect{0, 0, 50, 329}));
  EXPECT_EQ(main->Notebook->Left(), 50);
}

TEST_F(ManagerWindow, WithoutAWorkingBbsThePromptComesBackUntilCancel) {
  struct {
    const char* library;
    bool set_path;
  } cases[] = {{QX_PATH, false}, {QX_PATH, true}, {"NOSUCHQX.DLL", true}};
  for (const auto& c : cases) {
    LoadBbsLibrary(c.library);
    ConfigIni->WriteString("QXBBS", "CONFIG.QX2", c.set_path ? bbs.dir.path() : "");  // no BBS there
    boxes.Answer(platform::IDOK);
    boxes.Answer(platform::IDCANCEL);
    size_t shown = boxes.Shown().size();
    automation::ModalResponder prefs("PrefForm", [](ui::Form& f) { ui::PostClick(*PrefForm->OKButton); });
    Start();
    EXPECT_EQ(prefs.Count(), 1);
    EXPECT_EQ(boxes.Shown().size(), shown + 2) << c.library;
    EXPECT_EQ(boxes.Shown().back().text, cman::kPathPrompt);
    EXPECT_TRUE(main->GaveUp);
    app->ProcessMessages();
    EXPECT_TRUE(app->Terminated());  // the main window closed
    EXPECT_EQ(main->ConfList->Count(), 0);
    app.reset();
  }
}

TEST_F(ManagerWindow, HeadlessThePromptIsAnsweredOnceAsCancel) {
  ConfigIni->WriteString("QXBBS", "CONFIG.QX2", "");
  app = std::make_unique<ui::Application>();
  main = app->CreateForm<TMain>();
  main->Headless = true;
  main->Show();
  automation::Pump();
  EXPECT_TRUE(main->GaveUp);
  app->ProcessMessages();
  EXPECT_TRUE(app->Terminated());
}

TEST_F(ManagerWindow, AnEntryGoneFromUnderTheListIsReportedAndTheListReadAgain) {
  Start();
  auto before = ReadBytes(ListFile());
  std::filesystem::resize_file(ListFile(), kLib ? bbstest::kDirectoryEntry : bbstest::kSubboardEntry);
  automation::Choose(*main->ConfList, 2);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_NE(boxes.Shown()[0].text.find(kLib ? "GAMES" : "TECHNICAL"), std::string::npos);
  EXPECT_EQ(main->ConfList->Count(), 1);
  EXPECT_EQ(main->ConfList->ItemIndex(), -1);
  automation::ReplaceText(*main->ConfDesc, "Goes nowhere");
  automation::ChooseMenu(*main->SaveAll);
  EXPECT_EQ(ReadBytes(ListFile()), std::vector<unsigned char>(before.begin(), before.begin() + (kLib ? 416 : 288)));
}

}  // namespace

namespace {

using namespace cmantest;

const std::string kModule = kLib ? "WEBFILE" : "WEBMSG";

TEST_F(ManagerWindow, ARuleIsSavedUnderItsEntryAndActionBeforeTheNextIsLoaded) {
  Start();
  EXPECT_EQ(Rules(), std::vector<std::string>{});  // visiting writes nothing
  automation::Choose(*main->Notebook, 1);
  automation::Choose(*main->SecurityPage->NotGroupsList, 0);
  automation::Click(*main->SecurityPage->AddAccessGroup);
  EXPECT_TRUE(main->RuleChanged);
  automation::Choose(*main->ActionGroup, 1);  // Write: Read's rule is saved first
  EXPECT_EQ(main->Action, "WRITE");
  EXPECT_EQ(main->SecurityPage->AllowGroupsList->Count(), 0);
  const std::string first = kLib ? "UPLOADS" : "GENERAL";
  EXPECT_EQ(Rules(), std::vector<std::string>{kModule + " " + first + " READ Y Staff| "});
  automation::Choose(*main->ActionGroup, 0);
  EXPECT_EQ(main->SecurityPage->AllowGroupsList->Texts(), std::vector<std::string>{"Staff"});
  if (!kLib) {
    automation::Choose(*main->ActionGroup, 2);
    EXPECT_EQ(main->Action, "MODERATE");
    automation::Click(*main->SecurityPage->EnforceSecurity);
    automation::Choose(*main->ConfList, 1);
    EXPECT_EQ(Rules().front(), "WEBMSG GENERAL MODERATE N  ");
  }
}

TEST_F(ManagerWindow, TheAdministratorRuleIsSavedByTheMenuAndAtExitOnly) {
  Start();
  automation::Choose(*main->Notebook, 2);
  EXPECT_EQ(main->AdminPage->NotUsersList->Texts(), std::vector<std::string>{"Ann"});  // always loaded
  automation::Choose(*main->AdminPage->AccessNotebook, 1);
  automation::Choose(*main->AdminPage->NotUsersList, 0);
  automation::Click(*main->AdminPage->AddAccessUser);
  automation::Choose(*main->Notebook, 0);

  automation::Choose(*main->ConfList, 1);  // a list click does not save it
  ASSERT_EQ(Rules().size(), 1u);  // the entry's rule, marked by the administrator edit
  EXPECT_EQ(Rules()[0].find(kModule + " ADMINISTRATOR"), std::string::npos);
  automation::ChooseMenu(*main->SaveAll);
  ASSERT_EQ(Rules().size(), 2u);
  EXPECT_EQ(Rules().front(), kModule + " ADMINISTRATOR  Y  Ann|");
  automation::Choose(*main->Notebook, 2);
  automation::Click(*main->AllowAdmin);
  app.reset();  // the window goes: the administrator rule is saved
  EXPECT_EQ(Rules().front(), kModule + " ADMINISTRATOR  N  Ann|");
}

TEST_F(ManagerWindow, NewEntriesGetTheBuildsDefaultsAndDuplicatesAreRefused) {
  ConfigIni->WriteString("QXBBS", "DefaultConfDir", "/srv/conf/");
  Start();
  int shows = 0;
  automation::ModalResponder dialog("NewConfFrm", [&](ui::Form&) {
    if (++shows == 1) {
      EXPECT_EQ(NewConfFrm->NewConfPath->Text(), kLib ? "" : "/srv/conf/");
    }
    // An empty name, then an existing short name in another case, then a
    // new one (in libmanager first with a path its record cannot hold).
    const char* names[] = {"", kLib ? "docs" : "announce", "Fresh", "Fresh"};
    ui::PostReplaceText(*NewConfFrm->NewConfName, names[shows - 1]);
    if (shows == 3) ui::PostReplaceText(*NewConfFrm->NewConfPath, kLib ? "/" + std::string(45, 'z') : "/srv/Fresh");
    if (shows == 4) ui::PostReplaceText(*NewConfFrm->NewConfPath, "/srv/Fresh");
    ui::PostClick(*NewConfFrm->OKButton);
  });
  automation::ChooseMenu(*main->NewConf);
  EXPECT_EQ(shows, kLib ? 4 : 3);
  EXPECT_EQ(Boxes(), kLib ? std::vector<std::string>{"The path to the files is longer than 45 characters: /" +
                                                     std::string(45, 'z')}
                          : std::vector<std::string>{});
  EXPECT_EQ(NewConfFrm->Caption(), kLib ? "New File Library" : "New Conference");
  EXPECT_EQ(main->ConfList->Count(), 4);
  EXPECT_EQ(main->ConfList->ItemIndex(), 0);
  EXPECT_EQ(main->FindConfByName("FRESH", 1), 3);
  EXPECT_EQ(main->ConfList->ObjectAs<TConfItem>(3)->Name.str(), "FRESH");  // a name is upper case
  auto bytes = ReadBytes(ListFile());
  const size_t entry = kLib ? bbstest::kDirectoryEntry : bbstest::kSubboardEntry;
  ASSERT_EQ(bytes.size(), 4 * entry);
  const unsigned char* record = bytes.data() + 3 * entry + 160;
  std::vector<unsigned char> expected(entry - 160, 0);
  if (kLib) {
    std::string path = "/srv/Fresh/";  // with its one trailing "/"
    expected[85] = static_cast<unsigned char>(path.size());
    std::copy(path.begin(), path.end(), expected.begin() + 86);
  } else {
    expected[73] = 1000 & 0xFF, expected[74] = 1000 >> 8;
    expected[77] = 400 & 0xFF, expected[78] = 400 >> 8;
    expected[81] = expected[82] = expected[107] = expected[112] = 1;
  }
  EXPECT_EQ(std::vector<unsigned char>(record, record + entry - 160), expected);
}

TEST_F(ManagerWindow, DeleteAsksFirstAndSelectsTheItemThatTookItsPlace) {
  Start();
  automation::Choose(*main->ConfList, 2);
  boxes.Answer(platform::IDNO);
  automation::ChooseMenu(*main->DelConf);
  EXPECT_EQ(main->ConfList->Count(), 3);
  boxes.Answer(platform::IDYES);
  automation::ChooseMenu(*main->DelConf);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{kLib ? "Delete Library GAMES?" : "Delete Conference TECHNICAL?",
                                               kLib ? "Delete Library GAMES?" : "Delete Conference TECHNICAL?"}));
  EXPECT_EQ(main->ConfList->Count(), 2);
  EXPECT_EQ(main->ConfList->ItemIndex(), 1);  // the new last item
  EXPECT_EQ(BbsListCount(main->ListKind), 2);
  automation::ChooseMenu(*main->DelConf);
  automation::ChooseMenu(*main->DelConf);
  EXPECT_EQ(main->ConfList->Count(), 0);
  EXPECT_EQ(main->ConfList->ItemIndex(), -1);
}

TEST_F(ManagerWindow, RepairShowsItsProgressAndReportsABusyEntry) {
  Start();
  std::vector<std::string> seen;
  int observer = ui::AddChangeObserver([&](ui::Component& c, std::string_view what) {
    if (&c == ProgressForm && (what == "Caption" || what == "Shown" || what == "Hidden"))
      seen.push_back(what == "Caption" ? ProgressForm->Caption() : std::string(what));
    if (&c == ProgressForm->Gauge && what == "Progress" && !seen.empty())
      seen.push_back(std::to_string(ProgressForm->Gauge->Progress()));
  });
  automation::ChooseMenu(*main->RepConf);
  const std::string name = kLib ? "UPLOADS" : "GENERAL";
  EXPECT_EQ(seen, (std::vector<std::string>{"Shown", "Checking " + name + "...", "0", "Rebuilding " + name + "...",
                                            "50", name + " repaired.", "100", "Hidden"}));
  EXPECT_EQ(ProgressForm->Gauge->MaxValue(), 100);
  EXPECT_EQ(Boxes(), std::vector<std::string>{});
  std::ofstream(bbs.home + "/" + name + ".BSY") << "";
  automation::ChooseMenu(*main->RepConf);
  EXPECT_EQ(Boxes(), std::vector<std::string>{kLib ? "Library is busy." : "Conference is busy."});
  ui::RemoveChangeObserver(observer);
}

}  // namespace
