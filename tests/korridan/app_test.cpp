// The main window and its dialogs in this process: what FormCreate sets
// up from the settings, the log window, the connection rows the engine
// fills, the Stop Server dialog's choices, the About box and the splash.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "console/about.h"
#include "console/app.h"
#include "console/stopserver.h"
#include "console/wgraph.h"
#include "foundation/serverconfig.h"
#include "platform/datetime.h"
#include "platform/msgbox.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/automation.h"
#include "platform/ui/timer.h"
#include "server/eventcounters.h"
#include "server/wsock.h"

namespace {

namespace fs = std::filesystem;
namespace ui = platform::ui;
namespace automation = platform::ui::automation;

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-app-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    setenv("HALVORINE_REGISTRY", (dir_ + "/registry").c_str(), 1);
  }

  void TearDown() override {
    app_.reset();
    delete ConfigIni;
    ConfigIni = nullptr;
    WinsockCleanup();
    platform::ResetClock();
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Makes the forms as the program block does, on these settings.
  void Create(const std::string& ini = "") {
    std::ofstream(dir_ + "/KORRIDAN.INI") << ini;
    ConfigIni = new platform::IniFile(dir_ + "/KORRIDAN.INI");
    app_ = std::make_unique<ui::Application>();
    App = app_->CreateForm<TApp>();
    StopServerForm = app_->CreateForm<TStopServerForm>(App->HTTP);
    AboutBox = app_->CreateForm<TAbout>();
  }

  // Slot objects for the engine without a listener (the failed listen is
  // answered by the script).
  void MakeSlots(int32_t slots) {
    App->HTTP->Init([](int32_t, int32_t, std::string_view) {}, slots, 5, "");
  }

  std::string dir_;
  fs::path old_cwd_;
  platform::MessageBoxScript boxes_;
  std::unique_ptr<ui::Application> app_;
};

// ---------------------------------------------------------------------------
// Creation from the settings

TEST_F(AppTest, CreationSetsCaptionMenuGridsAndStartUpLines) {
  Create();
  EXPECT_EQ(App->Caption(), "Halvorine (Stopped)");
  EXPECT_EQ(App->ServerStatusMenu->Caption(), "Start");
  EXPECT_EQ(App->TabSet->Tabs(), (std::vector<std::string>{"Log", "Connection List", "Applications", "Stats",
                                                           "Resources"}));
  EXPECT_EQ(App->Notebook->PageIndex(), 0);
  EXPECT_EQ(App->TabSet->TabIndex(), 0);
  EXPECT_EQ(App->StatBox->ItemIndex(), 0);
  EXPECT_EQ(App->TimeBox->ItemIndex(), 0);
  // MaxSockets 16 by default: 17 rows, numbered below the titles.
  EXPECT_EQ(App->ConnectionList->RowCount(), 17);
  EXPECT_EQ(App->ConnectionList->RowTexts(0), (std::vector<std::string>{"", "From", "Command", "Request", "Completed"}));
  EXPECT_EQ(App->ConnectionList->Cell(0, 16), "16");
  EXPECT_EQ(App->ConnectionList->ColWidth(3), 300);
  EXPECT_EQ(App->DLLList->RowCount(), 17);
  EXPECT_EQ(App->DLLList->RowTexts(0), (std::vector<std::string>{"", "Name", "Usage", "Hits", "Threads"}));
  ASSERT_GE(App->Memo->Count(), 3);
  EXPECT_EQ(App->Memo->Lines()[0], "Starting Winsock.");
  EXPECT_EQ(App->Memo->Lines()[1], WinsockDescription());
  EXPECT_EQ(App->Memo->Lines()[2], WinsockSystemStatus());
  EXPECT_TRUE(App->Timer->Enabled());
  EXPECT_TRUE(App->SaveStatTimer->Enabled());
  EXPECT_FALSE(App->StatTimer->Enabled());
  EXPECT_EQ(App->MinAllocated, 2147483647);
  EXPECT_TRUE(App->FirstShow);

  auto key = platform::RegistryKey::Open("\\Software\\Ortelune Software\\Halvorine", false);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadString("MessageHandle"), std::to_string(App->Handle()));
}

TEST_F(AppTest, MenuItemsComeInTheirOrder) {
  Create();
  std::vector<std::string> names;
  for (const ui::MenuItem* item : App->ServerMenu->Items()) names.push_back(item->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"ServerStatusMenu", "N1", "ClearLog1", "CycleLogFile", "Preferences1",
                                             "AboutMenu", "N2", "ExitMenu"}));
}

TEST_F(AppTest, ConnectionListFollowsMaxSocketsWithinItsLimit) {
  Create("[Network]\r\nMaxSockets=255\r\n");
  EXPECT_EQ(App->ConnectionList->RowCount(), 256);
  EXPECT_EQ(App->ConnectionList->Cell(0, 255), "255");
  app_.reset();
  delete ConfigIni;
  Create("[Network]\r\nMaxSockets=300\r\n");
  EXPECT_EQ(App->ConnectionList->RowCount(), 256);
  app_.reset();
  delete ConfigIni;
  Create("[Network]\r\nMaxSockets=-4\r\n");
  EXPECT_EQ(App->ConnectionList->RowCount(), 1);
}

TEST_F(AppTest, WindowPlacementAndStateComeFromGeneral) {
  Create("[General]\r\nWindowX=10\r\nWindowY=20\r\nWindowWidth=500\r\nWindowHeight=350\r\nWindowState=1\r\nTab=3\r\n");
  EXPECT_EQ(App->GetWindowState(), ui::WindowState::Maximized);
  EXPECT_EQ(App->NormalBounds(), (ui::Rect{10, 20, 510, 370}));
  EXPECT_EQ(App->Notebook->PageIndex(), 3);
  EXPECT_EQ(App->TabSet->TabIndex(), 3);
}

TEST_F(AppTest, WindowStateUsesItsLowByte) {
  Create("[General]\r\nWindowState=258\r\n");  // 0x102
  EXPECT_EQ(App->GetWindowState(), ui::WindowState::Minimized);
  app_.reset();
  delete ConfigIni;
  Create("[General]\r\nWindowState=7\r\nTab=9\r\n");
  EXPECT_EQ(App->GetWindowState(), ui::WindowState::Normal);
  EXPECT_EQ(App->BoundsRect(), (ui::Rect{5, 5, 440, 305}));
  EXPECT_EQ(App->Notebook->PageIndex(), 0);
}

TEST_F(AppTest, BrokenStatisticsFileIsReportedAndTheRestStarts) {
  std::ofstream(dir_ + "/STATS.DAT") << std::string(100, 'x');
  Create();
  bool reported = false;
  for (const std::string& l : App->Memo->Lines()) reported = reported || l.starts_with("STATS.DAT: ");
  EXPECT_TRUE(reported);
  EXPECT_EQ(App->ServerStatusMenu->Caption(), "Start");
  EXPECT_TRUE(App->FirstShow);
}

// ---------------------------------------------------------------------------
// Log window and caption

TEST_F(AppTest, LogWindowKeepsTheLatest96Lines) {
  Create();
  std::vector<std::string> mirrored;
  App->OnLogLine = [&](const std::string& l) { mirrored.push_back(l); };
  App->ClearLog1Click(*App);
  EXPECT_EQ(App->Memo->Count(), 0);
  for (int i = 1; i <= 97; ++i) App->AddLogLine("line " + std::to_string(i));
  EXPECT_EQ(App->Memo->Count(), 96);
  EXPECT_EQ(App->Memo->Lines().front(), "line 2");
  EXPECT_EQ(App->Memo->Lines().back(), "line 97");
  EXPECT_EQ(mirrored.size(), 97u);
  App->AddLogLine(std::string("with nul\0", 9));
  EXPECT_EQ(App->Memo->Lines().back(), "with nul");
  EXPECT_EQ(App->Memo->Count(), 96);
}

TEST_F(AppTest, LogEventLineAndCaptionCount) {
  Create();
  platform::SetNow(platform::EncodeDateTime(2026, 12, 9, 14, 5, 9, 0));
  int32_t saved = OpenConnections;
  OpenConnections = 0;
  App->LogEvent(0, 7, "Done");
  EXPECT_EQ(App->Memo->Lines().back(), "[0,,14:05:09] Done");
  EXPECT_EQ(App->Caption(), "Halvorine (0)");
  EXPECT_EQ(app_->Title(), "Halvorine (0)");
  // A slot that is not connected has no address in its lines.
  App->LogEvent(3, 7, "FD_READ");
  EXPECT_EQ(App->Memo->Lines().back(), "[3,,14:05:09] FD_READ");

  // Local off: no lines, but the caption still follows the count.
  App->SocketState.LogToWindow = false;
  int before = App->Memo->Count();
  OpenConnections = 12345;
  App->LogEvent(1, 7, "Accept");
  EXPECT_EQ(App->Memo->Count(), before);
  EXPECT_EQ(App->Caption(), "Halvorine (12345)");
  App->AddLogLine("Starting Server");
  EXPECT_EQ(App->Memo->Lines().back(), "Starting Server");
  // The longest count still fits the 24 characters.
  OpenConnections = -2147483647 - 1;
  App->LogEvent(1, 7, "Accept");
  EXPECT_EQ(App->Caption(), "Halvorine (-2147483648)");
  EXPECT_LE(App->Caption().size(), 24u);
  OpenConnections = saved;
}

TEST_F(AppTest, LogEventCutsTheClientAddressTo16Characters) {
  Create();
  MakeSlots(2);
  TSock* c = App->HTTP->Connections[1];
  c->Connected = true;
  c->PeerAddress = "123.123.123.123:4567";
  App->LogEvent(1, 0, "Accept");
  std::string line = App->Memo->Lines().back();
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\[1,123\.123\.123\.123:,\d\d:\d\d:\d\d\] Accept)"))) << line;
  c->Connected = false;
}

// ---------------------------------------------------------------------------
// Connection rows

TEST_F(AppTest, ShowRequestFillsTheRowAndShowProgressPads) {
  Create();
  MakeSlots(2);
  App->HTTP->Connections[1]->Percent = 5;
  App->ShowRequest(1, "127.0.0.1", 1, "/index.html");
  EXPECT_EQ(App->ConnectionList->RowTexts(1), (std::vector<std::string>{"1", "127.0.0.1", "GET", "/index.html", "  5%"}));
  // Another method leaves the command; a user stands for the address.
  App->HTTP->Requests[1].User = "ann";
  App->ShowRequest(1, "127.0.0.1", 9, "/b");
  EXPECT_EQ(App->ConnectionList->RowTexts(1), (std::vector<std::string>{"1", "ann", "GET", "/b", "  5%"}));
  App->ShowRequest(1, "127.0.0.1", 3, "/$post");
  EXPECT_EQ(App->ConnectionList->Cell(2, 1), "POST");
  // An unchanged percentage leaves the cell as it is.
  App->ConnectionList->SetCell(4, 1, " 05%");
  App->ShowProgress(1);
  EXPECT_EQ(App->ConnectionList->Cell(4, 1), " 05%");
  App->HTTP->Connections[1]->Percent = 100;
  App->ShowProgress(1);
  EXPECT_EQ(App->ConnectionList->Cell(4, 1), "100%");
  // Rows beyond the slots are left alone.
  App->ShowRequest(5, "127.0.0.1", 1, "/x");
  EXPECT_EQ(App->ConnectionList->Cell(1, 5), "");
}

TEST_F(AppTest, ClearConnectionRowKeepsTheNumber) {
  Create();
  for (int c = 1; c <= 4; ++c) App->ConnectionList->SetCell(c, 2, "x");
  App->ClearConnectionRow(0);
  App->ClearConnectionRow(2);
  EXPECT_EQ(App->ConnectionList->RowTexts(2), (std::vector<std::string>{"2", "", "", "", ""}));
  EXPECT_EQ(App->ConnectionList->RowTexts(0), (std::vector<std::string>{"", "From", "Command", "Request", "Completed"}));
}

TEST_F(AppTest, EmptyCacheEntryEmptiesItsRow) {
  Create();
  for (int c = 1; c <= 4; ++c) App->DLLList->SetCell(c, 3, "x");
  App->ShowExtensionRow(3);
  EXPECT_EQ(App->DLLList->RowTexts(3), (std::vector<std::string>{"3", "", "", "", ""}));
  App->ShowExtensionRow(0);
  App->ShowExtensionRow(17);
}

// ---------------------------------------------------------------------------
// Commands

TEST_F(AppTest, StartWithoutWinsockShowsTheErrorBox) {
  Create("[Network]\r\nAddress=127.0.0.1\r\n");
  WinsockCleanup();
  App->StartButtonClick(*App);
  auto shown = boxes_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "WinSock not loaded.");
  EXPECT_EQ(shown[0].kind, platform::MsgKind::Error);
  EXPECT_EQ(App->Caption(), "Halvorine (Stopped)");
}

TEST_F(AppTest, StartWithoutAddressAsksOnceAndFails) {
  Create();
  App->StartButtonClick(*App);
  auto shown = boxes_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "You must enter a network address.");
  EXPECT_FALSE(ServerListening);
  EXPECT_EQ(App->ServerStatusMenu->Caption(), "Start");
  EXPECT_FALSE(App->StatTimer->Enabled());
}

TEST_F(AppTest, StopWhileStoppedShowsNothing) {
  Create();
  automation::ModalResponder responder("StopServerForm", [](ui::Form& f) { f.SetModalResult(-1); });
  App->StopButtonClick(*App);
  App->ServerStatusMenuClick(*App);  // stopped: this starts, and fails for want of an address
  EXPECT_EQ(responder.Count(), 0);
}

TEST_F(AppTest, AboutBoxShowsTheVersionModally) {
  Create();
  automation::ModalResponder responder("About", [](ui::Form& f) {
    ui::PostClick(*static_cast<TAbout&>(f).OKButton);
  });
  App->AboutButtonClick(*App);
  EXPECT_EQ(responder.Count(), 1);
  EXPECT_EQ(AboutBox->VerLabel->Caption(), "2.41 SR");
  EXPECT_EQ(AboutBox->ModalResult(), 1);
  EXPECT_FALSE(AboutBox->Visible());
}

// ---------------------------------------------------------------------------
// The Stop Server dialog

int ShowStop(const std::function<void(TStopServerForm&)>& act) {
  automation::ModalResponder responder("StopServerForm", [&](ui::Form& f) { act(static_cast<TStopServerForm&>(f)); });
  return StopServerForm->ShowModal();
}

TEST_F(AppTest, StopDialogWithoutListenerOffersOnlyAbort) {
  Create();
  int result = ShowStop([](TStopServerForm& f) {
    EXPECT_FALSE(f.RadioButton1->Enabled());
    EXPECT_FALSE(f.Label3->Enabled());
    EXPECT_FALSE(f.Label5->Enabled());
    EXPECT_TRUE(f.RadioButton2->Enabled());
    EXPECT_TRUE(f.RadioButton2->Checked());
    EXPECT_FALSE(f.Button3->Enabled());
    EXPECT_FALSE(f.CloseBox());
    ui::PostClick(*f.RadioButton1);  // dropped: disabled
    ui::PostClick(*f.YesButton);
  });
  EXPECT_EQ(result, 2);
}

TEST_F(AppTest, StopDialogChoices) {
  Create();
  App->HTTP->Listening = true;
  EXPECT_EQ(ShowStop([](TStopServerForm& f) {
              EXPECT_TRUE(f.RadioButton1->Enabled());
              EXPECT_TRUE(f.RadioButton2->Checked());
              ui::PostClick(*f.YesButton);
            }),
            2);
  EXPECT_EQ(ShowStop([](TStopServerForm& f) {
              ui::PostClick(*f.RadioButton1);
              ui::PostClick(*f.YesButton);
            }),
            1);
  // Each showing preselects Abort again.
  EXPECT_EQ(ShowStop([](TStopServerForm& f) {
              EXPECT_TRUE(f.RadioButton2->Checked());
              ui::PostClick(*f.NoButton);
            }),
            -1);
  App->HTTP->Listening = false;
}

// ---------------------------------------------------------------------------
// The splash

TEST_F(AppTest, SplashGoesOnTheSecondRelease) {
  Create();
  Splash = new TAbout(nullptr);
  Splash->FinishCreate();
  Splash->ShowSplash();
  EXPECT_EQ(Splash->Width(), TAbout::kSplashWidth);
  EXPECT_TRUE(Splash->StayOnTop());
  EXPECT_TRUE(Splash->Visible());
  EXPECT_TRUE(Splash->SplashTimer->Enabled());
  Splash->ReleaseSplash();
  automation::Pump();
  ASSERT_NE(Splash, nullptr);
  // The timer's call is the second.
  Splash->SplashTimerTimer(*Splash);
  automation::Pump();
  EXPECT_EQ(Splash, nullptr);
}

TEST_F(AppTest, FirstShowingReleasesTheSplashAndRunsOnce) {
  Create("[General]\r\nStartServer=0\r\n");
  Splash = new TAbout(nullptr);
  Splash->FinishCreate();
  App->Show();
  EXPECT_FALSE(App->FirstShow);
  // One call only notes it: the splash that was never shown stays.
  automation::Pump();
  ASSERT_NE(Splash, nullptr);
  EXPECT_TRUE(boxes_.Shown().empty());
  ui::Free(Splash);
  EXPECT_EQ(Splash, nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// The minute timer's Resources page

TEST_F(AppTest, MinuteTickFillsTheResourcesPage) {
  Create();
  EXPECT_EQ(App->Label2->Caption(), "Allocated Memory:");
  EXPECT_EQ(App->Label3->Caption(), "");
  EXPECT_EQ(App->Label14->Caption(), "None");
  EXPECT_EQ(App->Label28->Caption(), "Threads Finished");
  App->Timer->Fire();
  int64_t low = std::stoll(App->Label6->Caption());
  int64_t now = std::stoll(App->Label3->Caption());
  int64_t high = std::stoll(App->Label7->Caption());
  EXPECT_GT(now, 0);
  EXPECT_LE(low, now);
  EXPECT_LE(now, high);
  {
    // A megabyte more raises the maximum, which then stays.
    auto block = std::make_unique<char[]>(1 << 20);
    block[0] = 1;
    App->Timer->Fire();
    EXPECT_GE(std::stoll(App->Label7->Caption()), high + (1 << 20));
  }
  App->Timer->Fire();
  EXPECT_GE(std::stoll(App->Label7->Caption()), high + (1 << 20));
  EXPECT_EQ(App->Label6->Caption(), std::to_string(low));
  CountEvent(evBeginPost);
  App->Timer->Fire();
  EXPECT_EQ(App->Label14->Caption(), std::to_string(EventCount(evFilesOpened)));
  EXPECT_EQ(App->Label23->Caption(), std::to_string(EventCount(evBeginPost)));
  EXPECT_EQ(App->Label26->Caption(), std::to_string(EventCount(evThreadsFinished)));
}

// ---------------------------------------------------------------------------
// The pages

TEST_F(AppTest, StatBoxesChooseTheGraphsHistoryAndResizeLaysOutThePages) {
  Create();
  EXPECT_EQ(App->StatGraph->History(), &App->HistoryHits[0]);
  EXPECT_EQ(App->StatGraph->SeriesName(0), "Hits from Known Users");
  App->StatBox->SetItemIndex(3);
  App->TimeBox->SetItemIndex(2);
  App->StatBoxChange(*App->TimeBox);
  EXPECT_EQ(App->StatGraph->History(), &App->HistoryUsers[2]);
  EXPECT_EQ(App->StatGraph->SeriesName(0), "Known Users");
  EXPECT_EQ(App->StatGraph->SeriesName(1), "All Users");
  EXPECT_EQ(App->StatGraph->SeriesColor(0), ui::clBlue);
  EXPECT_EQ(App->StatGraph->SeriesColor(1), ui::clRed);

  App->SetClientSize(600, 900);
  App->FormResize(*App);
  const int w = App->Notebook->ClientWidth(), h = App->Notebook->ClientHeight();
  EXPECT_EQ(App->Memo->BoundsRect(), (ui::Rect{3, 3, w - 3, h - 3}));
  // 17 rows of 20 pixels and their lines; 17 connection rows of 22.
  EXPECT_EQ(App->DLLList->BoundsRect(), (ui::Rect{3, 3, w - 3, 3 + std::min(h - 6, 21 * 17 + 1)}));
  EXPECT_EQ(App->ConnectionList->BoundsRect(), (ui::Rect{3, 3, w - 3, 3 + std::min(h - 6, 22 * 17 + 1)}));
  App->SetClientSize(427, 200);
  App->FormResize(*App);
  EXPECT_EQ(App->ConnectionList->Height(), App->Notebook->ClientHeight() - 6);
}

TEST_F(AppTest, DoubleClickAndUnloadOnAnEmptyRowDoNothing) {
  Create();
  App->ConnectionList->SetRow(1);
  App->ConnectionListDblClick(*App->ConnectionList);
  App->DLLList->SetRow(1);
  App->UnloadDLLClick(*App->UnloadDLL);
  EXPECT_EQ(boxes_.Shown().size(), 0u);
  for (ui::Form* f : ui::AllForms()) EXPECT_NE(f->Name(), "Header");
}
