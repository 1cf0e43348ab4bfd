#include "console/app.h"

#include <algorithm>
#include <exception>

#include "console/about.h"
#include "console/stopserver.h"
#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "interface/tandrel.h"
#include "platform/crossproc.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "platform/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/dialogs.h"
#include "server/accesslog.h"
#include "server/eventcounters.h"
#include "server/extcache.h"
#include "server/wsock.h"

namespace ui = platform::ui;

TApp* App = nullptr;
TStopServerForm* StopServerForm = nullptr;
TAbout* AboutBox = nullptr;
TAbout* Splash = nullptr;
std::mutex ExtensionListLock;

namespace {

constexpr char kRegistryPath[] = "\\Software\\Ortelune Software\\Halvorine";
constexpr char kStatsFile[] = "STATS.DAT";
constexpr int kNotebookPages = 5;
// Finishes an exit that was asked for inside an event. In the range the
// nested pump and the modal loops of event handlers hold back, so it is
// taken only once the event is over: after a completion message, which the
// socket layer does not follow with the exit as it does after a socket
// message.
constexpr platform::UINT WM_FINISH_EXIT = platform::WM_USER + 9;

std::string Decimal(int64_t n) { return std::to_string(n); }

template <class F>
void Bind(ui::NotifyEvent& event, TApp* app, F method) {
  event = [app, method](ui::Component& sender) { (app->*method)(sender); };
}

}  // namespace

// The engine's events go to the socket handlers; they show in the log
// window, the connection list and the tool bar.
TSocketEventViews TApp::EventViews() {
  TSocketEventViews views;
  views.LogEvent = [this](int32_t slot, int32_t socket, std::string_view text) { LogEvent(slot, socket, text); };
  views.ShowPeer = [this](int32_t slot, std::string_view peer) { ConnectionList->SetCell(1, slot, std::string(peer)); };
  views.ShowTotalConnections = [this](int32_t total) { Label1->SetCaption(Decimal(total)); };
  views.ShowProgress = [this](int32_t slot) { ShowProgress(slot); };
  return views;
}

TApp::TApp(ui::Component* owner)
    : ui::Form(owner, "App"), HTTP(new THTTP), SocketState(HTTP->Console), events_(*HTTP, SocketState, EventViews()) {
  BuildComponents();
}

TApp::~TApp() {
  // The engine goes before the forms' controls; its slots may still be
  // open when the program ends without an exit (a failed start-up), and
  // closing them no longer reaches this window.
  HTTP->Console.ExitCommand = nullptr;
  HTTP->Console.ClearConnectionRow = nullptr;
  delete HTTP;
  HTTP = nullptr;
  if (App == this) App = nullptr;
}

void TApp::BuildComponents() {
  SetCaption("Halvorine");
  SetPosition(ui::FormPosition::Default);
  SetFont(ui::Font{"System", 10});

  Panel = new ui::Panel(this, this, "Panel");
  Panel->SetAlign(ui::Align::Top);
  Panel->SetHeight(29);
  StartButton = new ui::SpeedButton(this, Panel, "StartButton");
  StartButton->SetBounds(2, 2, 25, 25);
  StartButton->SetHint("Start Server");
  StartButton->SetGlyph("start", 2);
  StopButton = new ui::SpeedButton(this, Panel, "StopButton");
  StopButton->SetBounds(28, 2, 25, 25);
  StopButton->SetHint("Stop Server");
  SettingsButton = new ui::SpeedButton(this, Panel, "SettingsButton");
  SettingsButton->SetBounds(60, 2, 25, 25);
  SettingsButton->SetHint("Settings");

  TabSet = new ui::TabSet(this, this, "TabSet");
  TabSet->SetAlign(ui::Align::Bottom);
  TabSet->SetHeight(21);
  TabSet->SetFont(ui::Font{"MS Sans Serif", 8});
  Notebook = new ui::Notebook(this, this, "Notebook");
  Notebook->SetAlign(ui::Align::Client);
  for (const char* page : {"Log", "Connection List", "Applications", "Stats", "Resources"}) Notebook->AddPage(page);

  Memo = new ui::Memo(this, Notebook->GetPage(0), "Memo");
  Memo->SetReadOnly(true);
  Memo->SetScrollBars(ui::ScrollBars::Both);
  Memo->SetWordWrap(false);

  ConnectionList = new ui::StringGrid(this, Notebook->GetPage(1), "ConnectionList");
  ConnectionList->SetDefaultColWidth(200);
  ConnectionList->SetDefaultRowHeight(20);
  ConnectionList->SetOptions(ui::goRowSelect | ui::goColSizing | ui::goColMoving | ui::goFixedHorzLine |
                             ui::goVertLine);

  DLLList = new ui::StringGrid(this, Notebook->GetPage(2), "DLLList");
  DLLList->SetDefaultColWidth(100);
  DLLList->SetDefaultRowHeight(20);
  DLLList->SetOptions(ui::goRowSelect | ui::goColSizing | ui::goColMoving | ui::goFixedVertLine |
                      ui::goFixedHorzLine | ui::goVertLine | ui::goHorzLine);
  DLLList->SetScrollBars(ui::StringGrid::Bars::Vertical);

  Timer = new ui::Timer(this, "Timer");
  Timer->SetInterval(60000);

  AboutButton = new ui::SpeedButton(this, Panel, "AboutButton");
  AboutButton->SetBounds(88, 2, 25, 25);
  Label1 = new ui::Label(this, Panel, "Label1");
  Label1->SetAlignment(ui::Alignment::Right);
  Label1->SetBounds(340, 8, 80, 13);
  Label1->SetCaption("0");

  BuildMenusAndStatControls();
  BuildPages();
  SetClientSize(427, 362);

  // The handlers, once the design values stand.
  BindHandlers();
  LinkEngine();
}

void TApp::BuildMenusAndStatControls() {
  MainMenu = new ui::MainMenu(this, "MainMenu");
  ServerMenu = new ui::MenuItem(this, &MainMenu->Items(), "ServerMenu", "&Server");
  ServerStatusMenu = new ui::MenuItem(this, ServerMenu, "ServerStatusMenu", "&Start");
  N1 = new ui::MenuItem(this, ServerMenu, "N1", "-");
  ClearLog1 = new ui::MenuItem(this, ServerMenu, "ClearLog1", "Clear Log Window");
  CycleLogFile = new ui::MenuItem(this, ServerMenu, "CycleLogFile", "Cycle Log File");
  Preferences1 = new ui::MenuItem(this, ServerMenu, "Preferences1", "&Properties...");
  AboutMenu = new ui::MenuItem(this, ServerMenu, "AboutMenu", "&About...");
  N2 = new ui::MenuItem(this, ServerMenu, "N2", "-");
  ExitMenu = new ui::MenuItem(this, ServerMenu, "ExitMenu", "E&xit");
  SetMenu(MainMenu);

  DLLMenu = new ui::PopupMenu(this, "DLLMenu");
  UnloadDLL = new ui::MenuItem(this, &DLLMenu->Items(), "UnloadDLL", "Unload");
  DLLList->SetPopupMenu(DLLMenu);

  StatBox = new ui::ComboBox(this, Notebook->GetPage(3), "StatBox");
  StatBox->SetBounds(40, 5, 145, 24);
  StatBox->SetItems({"Total Hits", "Total Logins", "Avg Connections", "Avg Users"});
  TimeBox = new ui::ComboBox(this, Notebook->GetPage(3), "TimeBox");
  TimeBox->SetBounds(200, 5, 145, 24);
  TimeBox->SetItems({"1 Minute", "20 Minutes", "3 Hours", "1 Day"});

  StatTimer = new ui::Timer(this, "StatTimer");
  StatTimer->SetEnabled(false);
  StatTimer->SetInterval(500);
  SaveStatTimer = new ui::Timer(this, "SaveStatTimer");
  SaveStatTimer->SetInterval(300000);
}

void TApp::BindHandlers() {
  Bind(StartButton->OnClick, this, &TApp::StartButtonClick);
  Bind(StopButton->OnClick, this, &TApp::StopButtonClick);
  Bind(SettingsButton->OnClick, this, &TApp::SettingsButtonClick);
  Bind(AboutButton->OnClick, this, &TApp::AboutButtonClick);
  Bind(ServerStatusMenu->OnClick, this, &TApp::ServerStatusMenuClick);
  Bind(ClearLog1->OnClick, this, &TApp::ClearLog1Click);
  Bind(CycleLogFile->OnClick, this, &TApp::CycleLogFileClick);
  Bind(Preferences1->OnClick, this, &TApp::SettingsButtonClick);
  Bind(AboutMenu->OnClick, this, &TApp::AboutButtonClick);
  Bind(ExitMenu->OnClick, this, &TApp::ExitMenuClick);
  Bind(ConnectionList->OnDblClick, this, &TApp::ConnectionListDblClick);
  Bind(UnloadDLL->OnClick, this, &TApp::UnloadDLLClick);
  Bind(StatBox->OnChange, this, &TApp::StatBoxChange);
  Bind(TimeBox->OnChange, this, &TApp::StatBoxChange);
  Bind(OnResize, this, &TApp::FormResize);
  TabSet->OnChange = [this](ui::Component& sender, int index, bool& allow) { TabSetChange(sender, index, allow); };
  Timer->SetOnTimer([this](ui::Component& sender) { TimerTimer(sender); });
  StatTimer->SetOnTimer([this](ui::Component& sender) { StatTimerTimer(sender); });
  SaveStatTimer->SetOnTimer([this](ui::Component& sender) { SaveStatTimerTimer(sender); });
  Bind(OnCreate, this, &TApp::FormCreate);
  Bind(OnShow, this, &TApp::FormShow);
  OnClose = [this](ui::Component& sender, ui::CloseAction& action) { FormClose(sender, action); };
  SetMessageHandler(platform::kCycleLogsMessage, [this](const platform::MSG&) { CycleLogFileClick(*this); });
  SetMessageHandler(WM_FINISH_EXIT, [this](const platform::MSG&) {
    if (SocketState.ExitPending) ExitMenuClick(*this);
  });
}

void TApp::LinkEngine() {
  events_.Bind();
  BindStatHistories(*HTTP, HistoryHits, HistoryLogins);
  // The interface library reads the engine through HTTP; the engine's
  // start and stop switch the timers.
  HTTP->ConsoleField = &HTTP;
  HTTP->TimersProc = [this](bool on) { EnableTimers(on); };
  HTTP->AccessLog.OnError = [this](const std::string& text) { LogEvent(0, 0, text); };
  HTTP->Console.ExitCommand = [this] { ExitMenuClick(*this); };
  HTTP->Console.ClearConnectionRow = [this](int32_t slot) { ClearConnectionRow(slot); };
}

// ---------------------------------------------------------------------------
// Creation, first showing, closing

void TApp::FormCreate(ui::Component&) {
  // Other programs find the window here to ask for a log cycle. The channel
  // is opened first, so the handle written is one that answers.
  platform::EnableExternalMessages(Handle());
  if (auto key = platform::RegistryKey::Open(kRegistryPath, true)) key->WriteString("MessageHandle", Decimal(Handle()));

  SetCaption(kStoppedCaption);
  ShownActiveCount = -1;

  TabSet->SetTabs(Notebook->PageNames());
  TabSet->SetTabIndex(0);
  StatBox->SetItemIndex(0);
  TimeBox->SetItemIndex(0);

  SetUpGrids();
  RestoreWindowSettings();

  AddLogLine("Starting Winsock.");
  if (WinsockStartup()) {
    AddLogLine(WinsockDescription());
    AddLogLine(WinsockSystemStatus());
  } else {
    AddLogLine("WinSock not loaded.");
  }

  ServerStatusMenu->SetCaption("Start");

  LoadStatistics();

  FirstShow = true;
  MinAllocated = 2147483647;
  MaxAllocated = 0;
  SocketState.TotalConnections = 0;
}

void TApp::SetUpGrids() {
  namespace mw = settings::mainwindow;
  int32_t sockets = ConfigIni->ReadInteger(settings::kNetwork, settings::kMaxSockets, mw::kMaxSockets);
  sockets = std::clamp<int32_t>(sockets, 0, kMaxSlots);
  ConnectionList->SetColCount(5);
  ConnectionList->SetRowCount(sockets + 1);
  const char* connection_titles[] = {"", "From", "Command", "Request", "Completed"};
  const int connection_widths[] = {20, 120, 80, 300, 80};
  for (int c = 0; c < 5; ++c) {
    ConnectionList->SetCell(c, 0, connection_titles[c]);
    ConnectionList->SetColWidth(c, connection_widths[c]);
  }
  for (int r = 1; r <= sockets; ++r) ConnectionList->SetCell(0, r, Decimal(r));

  DLLList->SetColCount(5);
  DLLList->SetRowCount(kExtensionCacheSize + 1);
  const char* dll_titles[] = {"", "Name", "Usage", "Hits", "Threads"};
  const int dll_widths[] = {20, 120, 60, 60, 60};
  for (int c = 0; c < 5; ++c) {
    DLLList->SetCell(c, 0, dll_titles[c]);
    DLLList->SetColWidth(c, dll_widths[c]);
  }
  for (int r = 1; r <= kExtensionCacheSize; ++r) DLLList->SetCell(0, r, Decimal(r));
}

void TApp::RestoreWindowSettings() {
  namespace mw = settings::mainwindow;
  Notebook->SetPageIndex(ConfigIni->ReadInteger(settings::kGeneral, settings::kTab, mw::kTab));
  TabSet->SetTabIndex(Notebook->PageIndex());

  SocketState.LogToWindow = ConfigIni->ReadBool(settings::kLog, settings::kLocal, mw::kLocal);

  SetBounds(ConfigIni->ReadInteger(settings::kGeneral, settings::kWindowX, mw::kWindowX),
            ConfigIni->ReadInteger(settings::kGeneral, settings::kWindowY, mw::kWindowY),
            ConfigIni->ReadInteger(settings::kGeneral, settings::kWindowWidth, mw::kWindowWidth),
            ConfigIni->ReadInteger(settings::kGeneral, settings::kWindowHeight, mw::kWindowHeight));
  switch (ConfigIni->ReadInteger(settings::kGeneral, settings::kWindowState, mw::kWindowState) & 0xFF) {
    case 0: SetWindowState(ui::WindowState::Normal); break;
    case 1: SetWindowState(ui::WindowState::Maximized); break;
    case 2: SetWindowState(ui::WindowState::Minimized); break;
    default: break;
  }
}

// The statistics saved at the last exit.
void TApp::LoadStatistics() {
  InitConsoleHistories(HistoryHits, HistoryLogins, HistoryConnections, HistoryUsers);
  RemoveStatSaveLeftovers(kStatsFile);
  if (platform::FileExists(kStatsFile)) {
    auto order = StatFileOrder(HistoryHits, HistoryLogins, HistoryConnections, HistoryUsers);
    TStatLoadResult loaded = LoadStatHistories(kStatsFile, order);
    if (loaded.Opened) CountEvent(evFilesOpened);
    if (loaded.Closed) CountEvent(evFilesClosed);
    // What was valid is kept; the rest starts empty.
    if (!loaded.Error.empty()) AddLogLine(std::string(kStatsFile) + ": " + loaded.Error);
  }
  StatBoxChange(*this);
}

void TApp::FormShow(ui::Component&) {
  if (!FirstShow) return;
  if (ConfigIni->ReadBool(settings::kGeneral, settings::kStartServer, settings::mainwindow::kStartServer))
    StartButtonClick(*this);
  if (Splash) Splash->ReleaseSplash();
  FirstShow = false;
}

void TApp::FormClose(ui::Component&, ui::CloseAction&) { ExitMenuClick(*this); }

// ---------------------------------------------------------------------------
// Captions and the log window

void TApp::SetCaptionAndTitle(const std::string& text) {
  SetCaption(text);
  if (ui::Application* app = ui::Application::Current()) app->SetTitle(text);
}

void TApp::AppendLine(std::string line) {
  Memo->BeginUpdate();
  while (Memo->Count() >= kLogWindowLines) Memo->Delete(0);
  if (!line.empty() && line.back() == '\0') line.pop_back();
  Memo->Add(line);
  Memo->EndUpdate();
  if (OnLogLine) OnLogLine(line);
}

void TApp::AddLogLine(std::string_view text) { AppendLine(std::string(text)); }

void TApp::LogEvent(int32_t slot, int32_t /*socket*/, std::string_view text) {
  if (SocketState.LogToWindow) {
    std::string peer;
    if (slot != 0 && slot >= 1 && slot <= kMaxSlots && HTTP->Connections[slot] && HTTP->Connections[slot]->Connected)
      peer = HTTP->Connections[slot]->PeerAddress.str().substr(0, 16);
    AppendLine("[" + Decimal(slot) + "," + peer + "," + platform::FormatTime(platform::Now()) + "] " +
               std::string(text));
  }
  if (OpenConnections != ShownActiveCount) {
    std::string caption = "Halvorine (" + Decimal(OpenConnections) + ")";
    if (caption.size() > kCaptionMax) caption.resize(kCaptionMax);
    SetCaptionAndTitle(caption);
    ShownActiveCount = OpenConnections;
  }
}

void TApp::ShowRequest(int32_t slot, std::string_view peer, uint8_t method, std::string_view url) {
  if (slot < 1 || slot >= ConnectionList->RowCount() || slot > HTTP->MaxSockets) return;
  const ShortString& user = HTTP->Requests[slot].User;
  ConnectionList->SetCell(1, slot, user.empty() ? std::string(peer) : user.str());
  static const char* const kMethods[] = {"GET", "HEAD", "POST"};
  if (method >= 1 && method <= 3) ConnectionList->SetCell(2, slot, kMethods[method - 1]);
  // As in the log lines: no control byte of the request reaches the screen.
  ConnectionList->SetCell(3, slot, EscapeControlChars(url));
  ShowProgress(slot);
}

void TApp::ShowProgress(int32_t slot) {
  if (slot < 1 || slot >= ConnectionList->RowCount() || slot > kMaxSlots || !HTTP->Connections[slot]) return;
  std::string cell = ConnectionList->Cell(4, slot);
  int32_t shown = -1;
  if (!cell.empty()) {
    cell.pop_back();
    try {
      shown = std::stoi(cell);
    } catch (const std::exception&) {
      shown = -1;
    }
  }
  int32_t percent = HTTP->Connections[slot]->Percent;
  if (shown == percent) return;
  ConnectionList->SetCell(4, slot, PadLeft(Decimal(percent), ' ', 3) + "%");
}

void TApp::ClearConnectionRow(int32_t slot) {
  if (slot <= 0 || slot >= ConnectionList->RowCount()) return;
  for (int c = 1; c <= 4; ++c) ConnectionList->SetCell(c, slot, "");
}

void TApp::ShowExtensionRow(int32_t entry) {
  if (entry < 1 || entry > kExtensionCacheSize) return;
  std::lock_guard lock(ExtensionListLock);
  std::string name;
  int32_t in_use = 0, hits = 0, threads = 0;
  if (GetExtensionInfo(entry, name, kExtensionNameMax, in_use, hits, threads)) {
    DLLList->SetCell(1, entry, name);
    DLLList->SetCell(2, entry, Decimal(in_use));
    DLLList->SetCell(3, entry, Decimal(hits));
    DLLList->SetCell(4, entry, Decimal(threads));
  } else {
    for (int c = 1; c <= 4; ++c) DLLList->SetCell(c, entry, "");
  }
}

// ---------------------------------------------------------------------------
// Starting and stopping

void TApp::StartButtonClick(ui::Component&) {
  if (!WinsockStarted) {
    ui::MessageDlg("WinSock not loaded.", platform::MsgKind::Error, platform::MsgButtons::Ok);
    StartFailed();
    return;
  }
  if (ServerListening) return;
  try {
    if (!StartServer()) {
      StartFailed();
      return;
    }
  } catch (const std::exception& e) {
    // A failed start leaves nothing running behind it.
    if (ServerListening) HTTP->Stop(1);
    CloseSecurityTables();
    platform::ReportError(e.what());
    StartFailed();
    return;
  }
  StatTimer->SetEnabled(true);
  SetCaptionAndTitle("Halvorine (0)");
  ServerStatusMenu->SetCaption("Stop");
}

void TApp::StartFailed() {
  if (!ExitOnFailedStart) return;
  ExitStatus = 1;
  ExitMenuClick(*this);
}

bool TApp::StartServer() {
  namespace ss = settings::serverstart;
  SocketState.StopAccepting = false;
  SocketState.ExitPending = false;
  SocketState.PumpDepth = 0;
  HTTP->DataDir = settings::ServerDataDir();
  HTTP->DbDir = settings::ServerDbDir();

  std::string address = ConfigIni->ReadString(settings::kNetwork, settings::kAddress, ss::kAddress);
  while (address.empty()) {
    ui::ShowMessage("You must enter a network address.");
    // Without somebody to enter one the question would never end.
    if (Headless || !SettingsForm) return false;
    SettingsForm->ShowModal();
    address = ConfigIni->ReadString(settings::kNetwork, settings::kAddress, ss::kAddress);
  }
  HTTP->Address = address;
  HTTP->Port = ConfigIni->ReadInteger(settings::kNetwork, settings::kPort, ss::kPort);
  HTTP->SetHomeDir(0, ConfigIni->ReadString(settings::kDirectories, settings::kHomeDir, ss::kHomeDir));
  HTTP->TempDir = ConfigIni->ReadString(settings::kDirectories, settings::kTempDir, ss::kTempDir);
  HTTP->MapsDir = ConfigIni->ReadString(settings::kDirectories, settings::kMapsDir, ss::kMapsDir);
  HTTP->IgnoreClose = ConfigIni->ReadBool(settings::kNetwork, settings::kIgnoreClose, ss::kIgnoreClose);
  for (const ShortString* dir : {&HTTP->TempDir, &HTTP->MapsDir}) {
    std::string path = platform::NormalizePath(dir->view());
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.size() >= 3) platform::CreateDirectories(path);
  }

  AddLogLine("Starting Server");
  OpenSecurityStore("", HTTP->DataDir.str(), HTTP->DbDir.str());
  int32_t slots = ConfigIni->ReadInteger(settings::kNetwork, settings::kMaxSockets, ss::kMaxSockets);
  int32_t backlog = ConfigIni->ReadInteger(settings::kNetwork, settings::kBacklog, ss::kBacklog);
  bool listening = HTTP->Start([this](int32_t slot, int32_t socket, std::string_view text) { LogEvent(slot, socket, text); },
                               [this](int32_t slot, std::string_view peer, uint8_t method, std::string_view url) {
                                 ShowRequest(slot, peer, method, url);
                               },
                               [this](int32_t entry) { ShowExtensionRow(entry); }, slots, backlog);
  if (!listening) {
    // The listener's own box said why; the server stays stopped.
    CloseSecurityTables();
    return false;
  }
  return true;
}

void TApp::StopButtonClick(ui::Component&) {
  if (!ServerListening || SocketState.StopAccepting || stopping_) return;
  int result = StopServerForm->ShowModal();
  // The program may have ended the server while the dialog was open.
  if (!ServerListening || SocketState.StopAccepting) return;
  if (result != 1 && result != 2) return;
  stopping_ = true;
  HTTP->Stop(result == 1 ? 0 : 1);
  stopping_ = false;
  CloseSecurityTables();
  SetCaptionAndTitle(kStoppedCaption);
  ServerStatusMenu->SetCaption("Start");
  if (exit_after_stop_) {
    exit_after_stop_ = false;
    ExitMenuClick(*this);
  }
}

void TApp::ServerStatusMenuClick(ui::Component& sender) {
  if (ServerListening)
    StopButtonClick(sender);
  else
    StartButtonClick(sender);
}

void TApp::EnableTimers(bool on) {
  Timer->SetEnabled(on);
  StatTimer->SetEnabled(on);
  SaveStatTimer->SetEnabled(on);
}

// ---------------------------------------------------------------------------
// Exit and the other commands

void TApp::ExitMenuClick(ui::Component&) {
  if (stopping_) {
    // A stop is running its own loop: the quit request makes it abort, and
    // the exit is finished once it has returned.
    exit_after_stop_ = true;
    platform::PostQuitMessage(0);
    return;
  }
  if (SocketState.PumpDepth >= 1) {
    SocketState.StopAccepting = true;
    SocketState.ExitPending = true;
    platform::PostMessage(Handle(), WM_FINISH_EXIT, 0, 0);
    return;
  }
  SocketState.StopAccepting = false;
  SocketState.ExitPending = false;
  Timer->SetEnabled(false);
  SaveStatTimer->SetEnabled(false);
  StatTimer->SetEnabled(false);
  // A statistics file that cannot be written is reported; the exit goes on.
  ui::Guarded([this] { WriteStats(); });
  SocketState.StopAccepting = true;
  if (save_window_keys_) ui::Guarded([this] { SaveWindowKeys(); });
  if (ServerListening) {
    HTTP->Stop(1);
    WinsockCleanup();
  }
  if (ui::Application* app = ui::Application::Current())
    app->Terminate();
  else
    platform::PostQuitMessage(0);
}

void TApp::ExitAfterFailedCommands() {
  ExitStatus = 1;
  save_window_keys_ = false;
  ExitMenuClick(*this);
}

void TApp::SaveWindowKeys() {
  if (GetWindowState() == ui::WindowState::Normal) {
    ui::Rect r = BoundsRect();
    ConfigIni->WriteInteger(settings::kGeneral, settings::kWindowX, r.left);
    ConfigIni->WriteInteger(settings::kGeneral, settings::kWindowY, r.top);
    ConfigIni->WriteInteger(settings::kGeneral, settings::kWindowWidth, r.Width());
    ConfigIni->WriteInteger(settings::kGeneral, settings::kWindowHeight, r.Height());
  }
  ConfigIni->WriteInteger(settings::kGeneral, settings::kTab, Notebook->PageIndex());
}

void TApp::CycleLogFileClick(ui::Component&) { CycleLogs(HTTP->AccessLog); }

void TApp::ClearLog1Click(ui::Component&) { Memo->Clear(); }

void TApp::SettingsButtonClick(ui::Component&) {
  if (SettingsForm) SettingsForm->ShowModal();
}

void TApp::AboutButtonClick(ui::Component&) {
  if (!AboutBox) return;
  AboutBox->VerLabel->SetCaption(kVersionText);
  AboutBox->ShowModal();
}

void TApp::TabSetChange(ui::Component&, int new_tab, bool&) {
  if (new_tab >= 0 && new_tab < kNotebookPages) Notebook->SetPageIndex(new_tab);
}

// ---------------------------------------------------------------------------
// Timers

void TApp::StatTimerTimer(ui::Component&) {
  if (SocketState.StopAccepting) return;
  const int32_t connections[2] = {0, OpenConnections};
  for (TStatHistory& h : HistoryConnections) h.AddSample(connections);
  int32_t realms = GetRealmCnt();
  for (int32_t j = 0; j < realms; ++j) {
    THalvShortString realm = {};
    GetRealmByNo(realm, j);
    const int32_t users[2] = {0, GetRealmUserCnt(realm)};
    for (TStatHistory& h : HistoryUsers) h.AddSample(users);
  }
}

void TApp::SaveStatTimerTimer(ui::Component&) {
  if (!SocketState.StopAccepting) WriteStats();
}

void TApp::WriteStats() {
  if (SocketState.StopAccepting) return;
  auto order = StatFileOrder(HistoryHits, HistoryLogins, HistoryConnections, HistoryUsers);
  SaveStatHistories(kStatsFile, order);
}
