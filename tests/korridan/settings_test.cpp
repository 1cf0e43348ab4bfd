// The settings dialog and its entry dialog in this process: every handler
// and message box, what lands in KORRIDAN.INI and MIME.INI byte for byte,
// and the start's question for an address with a display and without.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "console/about.h"
#include "console/app.h"
#include "console/includeform.h"
#include "console/settingsform.h"
#include "console/stopserver.h"
#include "foundation/serverconfig.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/msgloop.h"
#include "platform/profile.h"
#include "platform/ui/application.h"
#include "platform/ui/automation.h"
#include "platform/ui/dialogs.h"
#include "server/wsock.h"
#include "tests/ui/layout_check.h"

namespace {

namespace fs = std::filesystem;
namespace ui = platform::ui;
namespace automation = platform::ui::automation;
using Rows = std::vector<std::vector<std::string>>;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

Rows GridRows(const ui::StringGrid& grid) {
  Rows rows;
  for (int r = 0; r < grid.RowCount(); ++r) rows.push_back(grid.RowTexts(r));
  return rows;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    setenv("HALVORINE_REGISTRY", (dir_ + "/registry").c_str(), 1);
    ini_ = dir_ + "/KORRIDAN.INI";
    mime_ = dir_ + "/MIME.INI";
  }

  void TearDown() override {
    app_.reset();
    delete ConfigIni;
    delete MimeIni;
    ConfigIni = MimeIni = nullptr;
    WinsockCleanup();
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // The forms as the program block makes them, on these files (nullptr:
  // no file).
  void Create(const char* ini = nullptr, const char* mime = nullptr) {
    if (ini) std::ofstream(ini_, std::ios::binary) << ini;
    if (mime) std::ofstream(mime_, std::ios::binary) << mime;
    ConfigIni = new platform::IniFile(ini_);
    MimeIni = new platform::IniFile(mime_);
    app_ = std::make_unique<ui::Application>();
    App = app_->CreateForm<TApp>();
    SettingsForm = app_->CreateForm<TSettingsForm>();
    App->SettingsForm = SettingsForm;
    IncludeForm = app_->CreateForm<TIncludeForm>();
    StopServerForm = app_->CreateForm<TStopServerForm>(App->HTTP);
  }

  // Shows the settings dialog modally: act runs once it shows and acts as
  // the user (each action taken before the next); then OK is pressed. The entry dialog is answered
  // by the queued answers in turn (none left: Cancel).
  void Show(const std::function<void(TSettingsForm&)>& act = {}) {
    automation::ModalResponder settings("SettingsForm", [&](ui::Form&) {
      if (act) act(*SettingsForm);
      ui::PostClick(*SettingsForm->Button1);
    });
    automation::ModalResponder entry("IncludeForm", [this](ui::Form&) {
      seen_.push_back({IncludeForm->Caption(), IncludeForm->Label1->Caption(), IncludeForm->Label2->Caption(),
                       IncludeForm->TokenEdit->Text(),
                       IncludeForm->MimeBox->Visible() ? "box:" + IncludeForm->MimeBox->Text()
                                                       : IncludeForm->ReplaceEdit->Text()});
      if (answers_.empty()) {
        automation::Click(*IncludeForm->CancelButton);
        return;
      }
      auto answer = std::move(answers_.front());
      answers_.pop_front();
      answer(*IncludeForm);
    });
    SettingsForm->ShowModal();
  }

  // An entry dialog answer: the fields typed, then OK.
  void Answer(std::string token, std::string second) {
    answers_.push_back([token, second](TIncludeForm& f) {
      automation::ReplaceText(*f.TokenEdit, token);
      if (f.MimeBox->Visible())
        automation::Choose(*f.MimeBox, f.MimeBox->IndexOf(second));
      else
        automation::ReplaceText(*f.ReplaceEdit, second);
      automation::Click(*f.OKButton);
    });
  }

  std::string dir_, ini_, mime_;
  fs::path old_cwd_;
  platform::MessageBoxScript boxes_;
  std::unique_ptr<ui::Application> app_;
  std::deque<std::function<void(TIncludeForm&)>> answers_;
  // What each showing of the entry dialog showed: caption, labels, the
  // first field and the second (or "box:" and the type chosen).
  std::vector<std::vector<std::string>> seen_;
};

// The dialogs' sizes are fixed; the main window's is the operator's.
TEST_F(SettingsTest, EveryControlOfTheDialogsLiesWithinItsParent) {
  Create();
  AboutBox = app_->CreateForm<TAbout>();
  for (const ui::Component* owned : app_->Components())
    if (const auto* form = dynamic_cast<const ui::Form*>(owned); form && form != App) {
      EXPECT_EQ(ui::testing::ControlsOutsideTheirParents(*form), std::vector<std::string>{}) << form->Name();
    }
}

// ---------------------------------------------------------------------------
// The entry dialog

TEST_F(SettingsTest, EntryDialogResultsAndTypedCase) {
  Create();
  struct Case {
    bool type_form;
    std::function<void(TIncludeForm&)> act;
    int result;
    const char* token;
  } cases[] = {
      {false, [](TIncludeForm& f) { automation::Click(*f.OKButton); }, 1, "ABC"},
      {false, [](TIncludeForm& f) { automation::Key(*f.ReplaceEdit, ui::kKeyReturn); }, 1, "ABC"},
      {false, [](TIncludeForm& f) { automation::Key(*f.TokenEdit, ui::kKeyEscape); }, 2, "ABC"},
      {false, [](TIncludeForm& f) { automation::Click(*f.CancelButton); }, 2, "ABC"},
      {true, [](TIncludeForm& f) { automation::CloseBox(f); }, 2, "abC"},
  };
  for (const Case& c : cases) {
    IncludeForm->TokenEdit->SetText("");
    IncludeForm->SetTypeForm(c.type_form);
    automation::ModalResponder r("IncludeForm", [&](ui::Form&) {
      EXPECT_EQ(IncludeForm->ActiveControl(), IncludeForm->TokenEdit);
      automation::Type(*IncludeForm->TokenEdit, "abC");
      c.act(*IncludeForm);
    });
    EXPECT_EQ(IncludeForm->ShowModal(), c.result);
    EXPECT_EQ(IncludeForm->TokenEdit->Text(), c.token);
    EXPECT_EQ(IncludeForm->ReplaceEdit->Visible(), !c.type_form);
    EXPECT_EQ(IncludeForm->MimeBox->Visible(), c.type_form);
  }
  IncludeForm->SetTypeForm(false);
  EXPECT_EQ(IncludeForm->MimeBox->Text(), "");
}

// ---------------------------------------------------------------------------
// What the dialog shows and saves

TEST_F(SettingsTest, FirstShowingWithoutFilesShowsTheDialogDefaultsAndSavesThem) {
  Create();
  Show([](TSettingsForm& f) {
    EXPECT_EQ(f.Notebook->ActivePage()->Caption(), "Network");
    EXPECT_EQ(f.AddressEdit->Text(), "");
    EXPECT_EQ(f.PortEdit->Text(), "80");
    EXPECT_EQ(f.SocketsEdit->Text(), "16");
    EXPECT_EQ(f.BacklogEdit->Text(), "25");
    EXPECT_FALSE(f.IgnoreClose->Visible());
    EXPECT_EQ(f.HomeDir->Text(), ProgramDir() + "HTDocs");
    EXPECT_FALSE(f.DefaultDoc->Enabled());
    EXPECT_FALSE(f.BrowseDefaultDoc->Enabled());
    EXPECT_TRUE(f.DoScreen->Checked());
    EXPECT_EQ(GridRows(*f.IncludeList), (Rows{{"Token", "Replace"}}));
    EXPECT_EQ(GridRows(*f.AliasList), (Rows{{"Alias", "Replace"}}));
    EXPECT_EQ(GridRows(*f.MimeList), (Rows{{"Mime Type", "Extension"}}));
    EXPECT_EQ(f.IncludeList->ColWidth(0) + f.IncludeList->ColWidth(1) + 2, f.IncludeList->ClientWidth());
    automation::ReplaceText(*f.AddressEdit, "127.0.0.1");
  });
  const std::string p = ProgramDir();
  EXPECT_EQ(Read(ini_), "[Network]\r\nAddress=127.0.0.1\r\nPort=80\r\nMaxSockets=16\r\nBacklog=25\r\nIgnoreClose=0\r\n"
                        "\r\n[Directories]\r\nHomeDir=" + p + "HTDocs/\r\nTempDir=" + p + "Temp/\r\nMapsDir=" + p +
                        "Maps/\r\nLogsDir=" + p + "Logs/\r\nUseDefaultDoc=0\r\nDefaultDoc=\r\n"
                        "\r\n[Log]\r\nDoAccess=0\r\nDoReferer=0\r\nDoBrowser=0\r\nLocal=1\r\n");
  EXPECT_FALSE(fs::exists(mime_));  // no MIME entries: nothing to write
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(SettingsTest, EntriesAreSortedAndSavedWholeByteForByte) {
  Create("[General]\r\nTab=2\r\n[Network]\r\nAddress=10.0.0.1\r\nPort=8080\r\nMaxSockets=300\r\nBacklog=2\r\n"
         "IgnoreClose=1\r\n[Directories]\r\nHomeDir=/srv/web\r\nTempDir=/t/\r\nMapsDir=\\m\\\r\nLogsDir=\r\n"
         "UseDefaultDoc=1\r\nDefaultDoc=/srv/web/404.html\r\n[Log]\r\nDoAccess=1\r\nLocal=0\r\n"
         "[Includes]\r\nfoot=<hr>\r\nHEAD=<h1>\r\nempty=\r\n; a comment\r\nFOOT=dropped duplicate\r\n"
         "[Aliases]\r\nPICS=/p/\r\nDOCS=/d/\r\n[QXBBS]\r\nPath=/bbs\r\n",
         "[MimeTypes]\nhtml=text/html\ngif=image/gif\nnone=\n[DefaultTypes]\ntext/html=1\n");
  Show([](TSettingsForm& f) {
    EXPECT_EQ(f.SocketsEdit->Text(), "255");
    EXPECT_EQ(f.BacklogEdit->Text(), "5");
    EXPECT_TRUE(f.IgnoreClose->Checked());
    EXPECT_TRUE(f.DefaultDoc->Enabled());
    EXPECT_EQ(GridRows(*f.IncludeList), (Rows{{"Token", "Replace"}, {"foot", "<hr>"}, {"HEAD", "<h1>"}}));
    EXPECT_EQ(GridRows(*f.AliasList), (Rows{{"Alias", "Replace"}, {"DOCS", "/d/"}, {"PICS", "/p/"}}));
    EXPECT_EQ(GridRows(*f.MimeList), (Rows{{"Mime Type", "Extension"}, {"image/gif", "gif"}, {"text/html", "html"}}));
  });
  EXPECT_EQ(SettingsForm->HomeDir->Text(), "/srv/web/");  // the field shows the added separator
  EXPECT_EQ(Read(ini_),
            "[General]\r\nTab=2\r\n[Network]\r\nAddress=10.0.0.1\r\nPort=8080\r\nMaxSockets=255\r\nBacklog=5\r\n"
            "IgnoreClose=1\r\n[Directories]\r\nHomeDir=/srv/web/\r\nTempDir=/t/\r\nMapsDir=\\m\\\r\nLogsDir=\r\n"
            "UseDefaultDoc=1\r\nDefaultDoc=/srv/web/404.html\r\n[Log]\r\nDoAccess=1\r\nLocal=0\r\n"
            "DoReferer=0\r\nDoBrowser=0\r\n"
            "[Includes]\r\nfoot=<hr>\r\nHEAD=<h1>\r\n[Aliases]\r\nDOCS=/d/\r\nPICS=/p/\r\n[QXBBS]\r\nPath=/bbs\r\n");
  EXPECT_EQ(Read(mime_), "[MimeTypes]\r\ngif=image/gif\r\nhtml=text/html\r\n[DefaultTypes]\r\ntext/html=1\r\n");
}

TEST_F(SettingsTest, ListsKeepTheirEntriesAcrossShowingsAndCutLongTexts) {
  Create("[Includes]\r\nA=1\r\n");
  Show();
  // Another program removes the entry; the dialog still holds it.
  std::ofstream(ini_, std::ios::binary) << "[Includes]\r\nB=" + std::string(300, 'x') + "\r\n";
  Show([](TSettingsForm& f) {
    ASSERT_EQ(f.IncludeList->RowCount(), 3);
    EXPECT_EQ(f.IncludeList->Cell(0, 1), "A");
    EXPECT_EQ(f.IncludeList->Cell(1, 2).size(), 253u);  // "B=" and 253 of 300
  });
  EXPECT_EQ(platform::IniFile(ini_).ReadSectionValues("Includes"),
            (std::vector<std::pair<std::string, std::string>>{{"A", "1"}, {"B", std::string(253, 'x')}}));
}

// ---------------------------------------------------------------------------
// Adding, editing and deleting entries

TEST_F(SettingsTest, EntryHandlersOfTheThreeLists) {
  struct Case {
    const char* page;
    ui::Button* TSettingsForm::*add;
    ui::Button* TSettingsForm::*edit;
    ui::Button* TSettingsForm::*del;
    ui::StringGrid* TSettingsForm::*grid;
    std::vector<std::string> first_add;  // caption, labels, fields as shown
    // Two adds, an edit of row 1 cancelled, the same by double click with
    // OK, then row 2 deleted: No, then Yes.
    std::vector<std::string> answers;  // first and second field of each
    Rows after_add;
    const char* question;
    Rows after_delete;
  } cases[] = {
      {"Includes", &TSettingsForm::IncludeAdd, &TSettingsForm::IncludeEdit, &TSettingsForm::IncludeDelete,
       &TSettingsForm::IncludeList, {"Add Include", "Token", "Include File", "", ""},
       {"zed", "<z>", "top", "<t>", "alpha", "<a>"},
       {{"Token", "Replace"}, {"TOP", "<t>"}, {"ZED", "<z>"}},
       "Delete ZED?", {{"Token", "Replace"}, {"ALPHA", "<a>"}}},
      {"Aliases", &TSettingsForm::AliasAdd, &TSettingsForm::AliasEdit, &TSettingsForm::AliasDelete,
       &TSettingsForm::AliasList, {"Add Alias", "Alias", "Directory", "", ""},
       {"zed", "/z/", "top", "/t/", "alpha", "/a/"},
       {{"Alias", "Replace"}, {"TOP", "/t/"}, {"ZED", "/z/"}},
       "Delete ZED?", {{"Alias", "Replace"}, {"ALPHA", "/a/"}}},
      {"Mime Types", &TSettingsForm::MimeAdd, &TSettingsForm::MimeEdit, &TSettingsForm::MimeDelete,
       &TSettingsForm::MimeList, {"Add Mime Type", "File Extension", "MIME Type", "", "box:image/gif"},
       {"Htm", "text/html", "gif", "image/gif", "alpha", "text/plain"},
       {{"Mime Type", "Extension"}, {"image/gif", "gif"}, {"text/html", "Htm"}},
       "Delete Mime Type for extension alpha?", {{"Mime Type", "Extension"}, {"text/html", "Htm"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    Create(nullptr, "[DefaultTypes]\r\nimage/gif=1\r\ntext/plain=1\r\ntext/html=1\r\n");
    platform::MessageBoxScript boxes;
    answers_.clear();
    seen_.clear();
    Answer(c.answers[0], c.answers[1]);
    Answer(c.answers[2], c.answers[3]);
    answers_.push_back([](TIncludeForm& f) {
      automation::ReplaceText(*f.TokenEdit, "nothing");
      automation::Click(*f.CancelButton);
    });
    Answer(c.answers[4], c.answers[5]);
    boxes.Answer(platform::IDNO);
    boxes.Answer(platform::IDYES);
    Rows added;
    Show([&](TSettingsForm& f) {
      for (int i = 0; i < f.Notebook->PageCount(); ++i)
        if (f.Notebook->GetPage(i)->Caption() == c.page) automation::Choose(*f.Notebook, i);
      // Empty: Edit and Delete do nothing.
      automation::Click(*(f.*c.edit));
      automation::Click(*(f.*c.del));
      automation::Click(*(f.*c.add));
      automation::Click(*(f.*c.add));
      ui::PostSelectCell(*(f.*c.grid), 0, 1);
      automation::Pump();
      automation::Click(*(f.*c.edit));
      ui::PostDblClickCell(*(f.*c.grid), 0, 1);
      automation::Pump();
      ui::PostSelectCell(*(f.*c.grid), 0, 2);
      automation::Pump();
      automation::Click(*(f.*c.del));
      automation::Click(*(f.*c.del));
    });
    ASSERT_EQ(seen_.size(), 4u);
    EXPECT_EQ(seen_[0], c.first_add);
    // The edit shows the row's entry; the cancelled one changed nothing.
    bool mime = c.first_add[4].starts_with("box:");
    const std::vector<std::string>& row1 = c.after_add[1];
    EXPECT_EQ(seen_[2][0], "Edit" + c.first_add[0].substr(3));
    EXPECT_EQ(seen_[2][3], row1[mime ? 1 : 0]);
    EXPECT_EQ(seen_[2][4], mime ? "box:" + row1[0] : row1[1]);
    EXPECT_EQ(seen_[3], seen_[2]);
    EXPECT_EQ(GridRows(*(SettingsForm->*c.grid)), c.after_delete);
    EXPECT_EQ((SettingsForm->*c.grid)->FixedRows(), 1);  // the header row stays fixed
    auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& box : shown) {
      EXPECT_EQ(box.text, c.question);
      EXPECT_EQ(box.kind, platform::MsgKind::Confirmation);
      EXPECT_EQ(box.buttons, platform::MsgButtons::YesNo);
    }
    // The entry dialog is back in its text form.
    EXPECT_FALSE(IncludeForm->MimeBox->Visible());
    EXPECT_TRUE(IncludeForm->ReplaceEdit->Visible());
    EXPECT_EQ(IncludeForm->TokenEdit->GetCharCase(), ui::CharCase::Upper);
    app_.reset();
    delete ConfigIni;
    delete MimeIni;
    ConfigIni = MimeIni = nullptr;
    fs::remove(ini_);
    fs::remove(mime_);
  }
}

TEST_F(SettingsTest, DuplicatesAndKeysOfTwoRows) {
  Create("[Includes]\r\nTOK=one\r\n");
  Answer("tok", "ONE");  // equal without regard to case: nothing added
  Answer("tok", "two");  // the same token, another text: a second row
  Show([](TSettingsForm& f) {
    automation::Choose(*f.Notebook, 2);
    automation::Click(*f.IncludeAdd);
    automation::Click(*f.IncludeAdd);
  });
  EXPECT_EQ(GridRows(*SettingsForm->IncludeList), (Rows{{"Token", "Replace"}, {"TOK", "one"}, {"TOK", "two"}}));
  EXPECT_TRUE(Read(ini_).starts_with("[Includes]\r\nTOK=two\r\n\r\n[Network]\r\n")) << Read(ini_);
}

TEST_F(SettingsTest, OfferedTypesAndAnEntryWhoseTypeIsNotOffered) {
  Create(nullptr, "[MimeTypes]\r\nxyz=app/x\r\n[DefaultTypes]\r\nb/b=10\r\na/a=1\r\nc/c=0\r\na/a=1\r\n");
  Show();
  answers_.push_back([](TIncludeForm& f) { automation::Click(*f.OKButton); });
  Show([](TSettingsForm& f) {
    automation::Choose(*f.Notebook, 4);
    automation::Click(*f.MimeEdit);
  });
  // Each offered type once, after two showings; app/x is not offered, so
  // OK changes nothing.
  EXPECT_EQ(IncludeForm->MimeBox->Items(), (std::vector<std::string>{"a/a", "b/b"}));
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0][4], "box:");
  EXPECT_EQ(GridRows(*SettingsForm->MimeList), (Rows{{"Mime Type", "Extension"}, {"app/x", "xyz"}}));
  // With nothing offered no entry can be added.
  std::ofstream(mime_, std::ios::binary) << "[DefaultTypes]\r\na/a=0\r\n";
  Answer("new", "");
  Show([](TSettingsForm& f) { automation::Click(*f.MimeAdd); });
  EXPECT_EQ(GridRows(*SettingsForm->MimeList), (Rows{{"Mime Type", "Extension"}, {"app/x", "xyz"}}));
  EXPECT_EQ(Read(mime_), "[DefaultTypes]\r\na/a=0\r\n\r\n[MimeTypes]\r\nxyz=app/x\r\n");
}

// ---------------------------------------------------------------------------
// Failures while saving

// A number field without a number keeps the dialog open, closed by OK or by
// its close box, on the field's page with the field focused, and writes
// nothing; put right, OK saves all, the alias added before it too.
TEST_F(SettingsTest, ABadNumberKeepsTheDialogOpenOnItsFieldAndWritesNothing) {
  const std::string ini = "[Network]\r\nAddress=1.1.1.1\r\nPort=80\r\nBacklog=9\r\n[Aliases]\r\nA=/a/\r\n";
  const std::string mime = "[MimeTypes]\r\nhtm=text/html\r\n";
  struct {
    int field;  // Port, Max Sockets, Backlog
    const char* text;
  } cases[] = {{0, "8O81"}, {0, "99999999999"}, {0, ""}, {1, "x"}, {2, "12x"}};
  for (const auto& c : cases) {
    Create(ini.c_str(), mime.c_str());
    platform::MessageBoxScript boxes;
    ui::Edit* field = std::vector<ui::Edit*>{SettingsForm->PortEdit, SettingsForm->SocketsEdit,
                                             SettingsForm->BacklogEdit}[c.field];
    // Steps run in the dialog's modal loop, each after the actions before it.
    std::deque<std::function<void()>> steps;
    platform::HWND stepper = platform::CreateWindowHandle([&](const platform::MSG&) {
      steps.front()();
      steps.pop_front();
    });
    auto then = [&](std::function<void()> step) {
      steps.push_back(std::move(step));
      platform::PostMessage(stepper, platform::WM_USER, 0, 0);
    };
    auto still_open = [&](size_t messages) {
      EXPECT_TRUE(SettingsForm->Modal()) << c.text;
      EXPECT_EQ(SettingsForm->Notebook->PageIndex(), 0) << c.text;
      EXPECT_EQ(SettingsForm->ActiveControl(), field) << c.text;
      ASSERT_EQ(boxes.Shown().size(), messages) << c.text;
      EXPECT_EQ(boxes.Shown().back().text, "'" + std::string(c.text) + "' is not a valid integer value");
      EXPECT_EQ(Read(ini_), ini) << c.text;  // byte for byte
      EXPECT_EQ(Read(mime_), mime) << c.text;
    };
    Answer("B", "/b/");
    Show([&](TSettingsForm& f) {
      automation::ReplaceText(*field, c.text);
      automation::Choose(*f.Notebook, 3);
      automation::Click(*f.AliasAdd);
      then([&] {
        then([&] {  // behind the OK click that Show posts
          still_open(1);
          ui::PostCloseBox(*SettingsForm);
          then([&] {
            still_open(2);
            ui::PostReplaceText(*field, "81");
            ui::PostClick(*SettingsForm->Button1);
          });
        });
      });
    });
    platform::DestroyWindowHandle(stepper);
    EXPECT_TRUE(steps.empty()) << c.text;
    EXPECT_EQ(boxes.Shown().size(), 2u) << c.text;
    platform::IniFile file(ini_);
    EXPECT_EQ(file.ReadString("Network", "Address", ""), "1.1.1.1");
    EXPECT_EQ(file.ReadString("Aliases", "B", ""), "/b/") << c.text;
    EXPECT_EQ(field->Text(), "81");
    app_.reset();
    delete ConfigIni;
    delete MimeIni;
    ConfigIni = MimeIni = nullptr;
  }
}

TEST_F(SettingsTest, RefusedWriteSaysUnableToWriteAndLosesNothing) {
  Create("[Includes]\r\nA=1\r\n[Aliases]\r\nB=/b/\r\n", "[MimeTypes]\r\nhtm=text/html\r\n");
  Answer(";bad", "text");  // a token the file cannot hold
  fs::path mime_dir = mime_ + ".d";
  Show([](TSettingsForm& f) {
    automation::Choose(*f.Notebook, 2);
    automation::Click(*f.IncludeAdd);
  });
  auto shown = boxes_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to write to " + ini_);
  // The scalar keys went in; Includes kept its old entries whole, and the
  // keys after it were not written.
  std::string text = Read(ini_);
  EXPECT_NE(text.find("[Log]\r\n"), std::string::npos);
  EXPECT_NE(text.find("[Includes]\r\nA=1\r\n[Aliases]\r\nB=/b/\r\n"), std::string::npos) << text;
  EXPECT_EQ(Read(mime_), "[MimeTypes]\r\nhtm=text/html\r\n");
  // A settings file that cannot be replaced at all.
  fs::remove(mime_);
  fs::create_directory(mime_);
  Show([](TSettingsForm& f) {
    automation::Choose(*f.Notebook, 2);
    ui::PostSelectCell(*f.IncludeList, 0, 1);
      automation::Pump();
    automation::Click(*f.IncludeDelete);  // ";BAD", answered Yes by default
  });
  shown = boxes_.Shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[1].text, "Delete ;BAD?");
  EXPECT_EQ(shown[2].text, "Unable to write to " + mime_);
  EXPECT_TRUE(fs::is_directory(mime_));
  EXPECT_EQ(platform::IniFile(ini_).ReadSectionValues("Includes"),
            (std::vector<std::pair<std::string, std::string>>{{"A", "1"}}));
}

// ---------------------------------------------------------------------------
// Fields, browsing and closing

TEST_F(SettingsTest, CloseBoxSavesAsOkAndNumberFieldsAreClamped) {
  Create();
  automation::ModalResponder settings("SettingsForm", [](ui::Form& form) {
    auto& f = static_cast<TSettingsForm&>(form);
    automation::ReplaceText(*f.SocketsEdit, "300");
    automation::ReplaceText(*f.BacklogEdit, "2");  // the focus stays here
    automation::CloseBox(f);
  });
  SettingsForm->ShowModal();
  EXPECT_EQ(SettingsForm->SocketsEdit->Text(), "255");
  EXPECT_EQ(SettingsForm->BacklogEdit->Text(), "5");
  platform::IniFile file(ini_);
  EXPECT_EQ(file.ReadInteger("Network", "MaxSockets", 0), 255);
  EXPECT_EQ(file.ReadInteger("Network", "Backlog", 0), 5);
}

TEST_F(SettingsTest, DefaultDocumentAndDirectoryBrowsing) {
  Create("[Directories]\r\nHomeDir=/home/web/\r\nDefaultDoc=/old.html\r\n");
  ui::DialogScript dialogs;
  dialogs.CancelOpenFile();
  dialogs.AnswerOpenFile("/home/web/404.html");
  dialogs.AnswerDirectory(dir_ + "/new/home");  // does not exist: asked, No keeps the dialog open
  dialogs.AnswerDirectory(dir_ + "/new/home");  // asked again, Yes: made
  dialogs.CancelDirectory();                    // Browse4: cancelled
  boxes_.Answer(platform::IDNO);
  boxes_.Answer(platform::IDYES);
  std::string cwd = platform::GetCurrentDir();
  Show([](TSettingsForm& f) {
    automation::Choose(*f.Notebook, 1);
    automation::Click(*f.BrowseDefaultDoc);  // disabled: dropped
    automation::Click(*f.DefaultDocCheckbox);
    automation::Click(*f.BrowseDefaultDoc);
    automation::Click(*f.BrowseDefaultDoc);
    automation::Click(*f.Browse1);
    automation::Click(*f.Browse4);
  });
  ASSERT_EQ(dialogs.OpenFileRequests().size(), 2u);
  EXPECT_EQ(dialogs.OpenFileRequests()[0].title, "Browse");
  EXPECT_EQ(dialogs.OpenFileRequests()[0].initial_dir, "/home/web/");
  EXPECT_EQ(dialogs.OpenFileRequests()[0].filter, "HTML Documents|*.htm;*.html|Images|*.gif;*.jpg|All Documents|*.*");
  ASSERT_EQ(dialogs.DirectoryRequests().size(), 3u);
  EXPECT_EQ(dialogs.DirectoryRequests()[0].directory, "/home/web");
  EXPECT_EQ(dialogs.DirectoryRequests()[2].directory, ProgramDir() + "Logs");
  auto shown = boxes_.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "The specified directory does not exist. Create it?");
  EXPECT_TRUE(fs::is_directory(dir_ + "/new/home"));
  EXPECT_EQ(platform::GetCurrentDir(), cwd);
  platform::IniFile file(ini_);
  EXPECT_EQ(file.ReadString("Directories", "DefaultDoc", ""), "/home/web/404.html");
  EXPECT_EQ(file.ReadString("Directories", "UseDefaultDoc", ""), "1");
  EXPECT_EQ(file.ReadString("Directories", "HomeDir", ""), dir_ + "/new/home/");
  EXPECT_EQ(file.ReadString("Directories", "LogsDir", ""), ProgramDir() + "Logs/");
}

TEST_F(SettingsTest, LostCurrentDirectoryAfterBrowsingIsAnIoError) {
  Create();
  fs::create_directories(dir_ + "/gone");
  fs::current_path(dir_ + "/gone");
  auto previous = ui::SetDirectoryHandler([this](const ui::DirectoryRequest&) -> std::optional<std::string> {
    fs::remove(dir_ + "/gone");
    return dir_;
  });
  Show([](TSettingsForm& f) {
    automation::Choose(*f.Notebook, 1);
    automation::Click(*f.Browse2);
  });
  ui::SetDirectoryHandler(previous);
  fs::current_path(dir_);
  auto shown = boxes_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.starts_with("I/O error")) << shown[0].text;
  EXPECT_EQ(platform::IniFile(ini_).ReadString("Directories", "TempDir", ""), dir_ + "/");
}

// ---------------------------------------------------------------------------
// Where the program opens the dialog

TEST_F(SettingsTest, PropertiesOpensTheDialog) {
  Create();
  automation::ModalResponder settings("SettingsForm", [](ui::Form& f) { automation::CloseBox(f); });
  automation::ChooseMenu(*App->Preferences1);
  automation::Click(*App->SettingsButton);
  EXPECT_EQ(settings.Count(), 0);  // the main window is not on screen
  App->SettingsButtonClick(*App);
  EXPECT_EQ(settings.Count(), 1);
  EXPECT_TRUE(fs::exists(ini_));
}

TEST_F(SettingsTest, AddressLoopWithADisplayAsksUntilAnAddressIsEntered) {
  Create();
  App->Headless = false;
  int showing = 0;
  automation::ModalResponder settings("SettingsForm", [&](ui::Form& form) {
    auto& f = static_cast<TSettingsForm&>(form);
    // The first time the operator leaves the address empty.
    if (++showing == 2) automation::ReplaceText(*f.AddressEdit, "127.0.0.1");
    automation::ReplaceText(*f.PortEdit, "0");
    automation::Click(*f.Button1);
  });
  App->StartButtonClick(*App);
  EXPECT_EQ(showing, 2);
  auto shown = boxes_.Shown();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "You must enter a network address.");
  EXPECT_EQ(shown[0].kind, platform::MsgKind::Plain);
  EXPECT_EQ(shown[1].text, "You must enter a network address.");
  // The start went on with the address entered.
  EXPECT_EQ(App->HTTP->Address.str(), "127.0.0.1");
  if (ServerListening) App->HTTP->Stop(1);
}

TEST_F(SettingsTest, AddressLoopHeadlessAsksOnceAndFails) {
  Create();
  App->Headless = true;
  automation::ModalResponder settings("SettingsForm", [](ui::Form& f) { automation::CloseBox(f); });
  App->StartButtonClick(*App);
  EXPECT_EQ(settings.Count(), 0);
  auto shown = boxes_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "You must enter a network address.");
  EXPECT_FALSE(ServerListening);
}

}  // namespace
