// The server's main window TApp: the tool bar, the pages (log window,
// connection list, applications, statistics, resources), the Server menu,
// the three timers and the engine component HTTP, which the window drives
// from its events.
//
// Window caption and application title always change together:
//   "Halvorine (Stopped)"  at program start and after every stop;
//   "Halvorine (0)"        right after a start;
//   "Halvorine (<n>)"      while running, at the first engine log event after
//                          the number of open connections changed (at most
//                          24 characters).
// ServerStatusMenu reads "Start" while the server is stopped, "Stop" while
// it runs.
//
// Exit: asked for inside a socket event (the nested pump runs), it is only
// noted (StopAccepting, ExitPending) and finished by the socket layer right
// after the event; asked for while a stop runs its own loop, that stop
// becomes an abort and the exit follows when it has returned, so the engine
// is never stopped twice.
//
// Everything runs on the loop's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "console/httpevents.h"
#include "console/statshistory.h"
#include "platform/datetime.h"
#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"
#include "platform/ui/timer.h"
#include "server/httpunit.h"

class TAbout;
class TStatGraph;
class TStopServerForm;

// The log window keeps this many lines.
constexpr int kLogWindowLines = 96;
// The longest caption the connection count makes.
constexpr std::size_t kCaptionMax = 24;

inline constexpr char kStoppedCaption[] = "Halvorine (Stopped)";
inline constexpr char kVersionText[] = "2.41 SR";

class TApp : public platform::ui::Form {
 public:
  explicit TApp(platform::ui::Component* owner);
  ~TApp() override;

  // Components, in the order they are declared on the form.
  platform::ui::Panel* Panel;
  platform::ui::SpeedButton* StartButton;
  platform::ui::SpeedButton* StopButton;
  platform::ui::SpeedButton* SettingsButton;
  platform::ui::Notebook* Notebook;
  platform::ui::TabSet* TabSet;
  platform::ui::Memo* Memo;
  platform::ui::StringGrid* ConnectionList;
  platform::ui::StringGrid* DLLList;
  platform::ui::Timer* Timer;
  platform::ui::SpeedButton* AboutButton;
  platform::ui::Label* Label1;  // connections accepted since the program started
  platform::ui::MainMenu* MainMenu;
  platform::ui::MenuItem* ServerMenu;
  platform::ui::MenuItem* ServerStatusMenu;
  platform::ui::MenuItem* N1;
  platform::ui::MenuItem* ClearLog1;
  platform::ui::MenuItem* CycleLogFile;
  platform::ui::MenuItem* Preferences1;
  platform::ui::MenuItem* AboutMenu;
  platform::ui::MenuItem* N2;
  platform::ui::MenuItem* ExitMenu;
  platform::ui::PopupMenu* DLLMenu;
  platform::ui::MenuItem* UnloadDLL;
  platform::ui::ComboBox* StatBox;
  platform::ui::ComboBox* TimeBox;
  platform::ui::Timer* StatTimer;
  platform::ui::Timer* SaveStatTimer;
  // Page "Resources": the memory captions and figures, then the captions
  // and values of event counters 0 to 7 (blank figures, counter values
  // "None", until the first minute tick).
  platform::ui::Label *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
  platform::ui::Label *Label8, *Label9, *Label10, *Label11, *Label14, *Label15, *Label17, *Label18;
  platform::ui::Label *Label21, *Label22, *Label23, *Label24, *Label25, *Label26, *Label27, *Label28;
  TStatGraph* StatGraph;
  // The engine. The interface library reads it through this field (the
  // address of HTTP is what it is given at attach), so it stays put.
  THTTP* HTTP;

  // Form events.
  void FormCreate(platform::ui::Component& sender);
  void FormShow(platform::ui::Component& sender);
  void FormClose(platform::ui::Component& sender, platform::ui::CloseAction& action);

  // Commands.
  void StartButtonClick(platform::ui::Component& sender);
  void StopButtonClick(platform::ui::Component& sender);
  void ServerStatusMenuClick(platform::ui::Component& sender);
  void ExitMenuClick(platform::ui::Component& sender);
  // The operator's command script failed: the program ends as by Exit, with
  // ExitStatus 1, but the window keys (placement, page), which the commands
  // may have changed, are not written. The server still stops in order and
  // STATS.DAT, the server's own state, is saved.
  void ExitAfterFailedCommands();
  void CycleLogFileClick(platform::ui::Component& sender);
  void ClearLog1Click(platform::ui::Component& sender);
  void SettingsButtonClick(platform::ui::Component& sender);
  void AboutButtonClick(platform::ui::Component& sender);
  void TabSetChange(platform::ui::Component& sender, int new_tab, bool& allow);

  // The pages.
  void ConnectionListDblClick(platform::ui::Component& sender);
  void UnloadDLLClick(platform::ui::Component& sender);
  void StatBoxChange(platform::ui::Component& sender);
  void FormResize(platform::ui::Component& sender);

  // Timers.
  void TimerTimer(platform::ui::Component& sender);
  void StatTimerTimer(platform::ui::Component& sender);
  void SaveStatTimerTimer(platform::ui::Component& sender);
  // Writes STATS.DAT in the current directory unless StopAccepting is set.
  // Throws TStatFileError when the file cannot be written.
  void WriteStats();

  // The engine's callbacks and the console's own lines.
  // A log-window line and the caption's connection count.
  void LogEvent(int32_t slot, int32_t socket, std::string_view text);
  // A plain log-window line, shown whatever [Log] Local says.
  void AddLogLine(std::string_view text);
  void ShowRequest(int32_t slot, std::string_view peer, uint8_t method, std::string_view url);
  void ShowProgress(int32_t slot);
  void ClearConnectionRow(int32_t slot);
  void ShowExtensionRow(int32_t entry);

  // Told every line that enters the log window (the headless console
  // mirrors them to standard output).
  std::function<void(const std::string& line)> OnLogLine;

  // The state the socket handlers share with the window.
  TAppSocketState SocketState;
  bool FirstShow = false;
  int32_t MinAllocated = 0;
  int32_t MaxAllocated = 0;
  int32_t ShownActiveCount = -1;

  // Statistics: scales "1 Minute" to "1 Day" at index 0 to 3.
  TStatHistory HistoryHits[4];
  TStatHistory HistoryLogins[4];
  TStatHistory HistoryConnections[4];
  TStatHistory HistoryUsers[4];

  // Without a display: message boxes answer themselves, so a start that
  // would ask for a network address again and again fails instead.
  bool Headless = true;
  // Nobody to act on a failed start (no window, no commands): the program
  // ends after the failure's message with ExitStatus 1, so that a service
  // manager sees it.
  bool ExitOnFailedStart = false;
  int ExitStatus = 0;
  // The settings dialog (Properties, and the start's question for an
  // address while a display is there); without it the Properties command
  // does nothing and a start without an address fails.
  platform::ui::Form* SettingsForm = nullptr;

  // True while a stop runs its own message loop.
  bool Stopping() const { return stopping_; }

 private:
  TSocketEventViews EventViews();
  void BuildComponents();
  void BuildMenusAndStatControls();
  void BindHandlers();
  void LinkEngine();
  void BuildPages();
  void SetUpGrids();
  void RestoreWindowSettings();
  void LoadStatistics();
  void BuildResourcesPage();
  void RefreshResources();
  void SetCaptionAndTitle(const std::string& text);
  void AppendLine(std::string line);
  bool StartServer();
  void StartFailed();
  void EnableTimers(bool on);
  void SaveWindowKeys();

  THttpEvents events_;
  bool stopping_ = false;
  bool exit_after_stop_ = false;
  bool save_window_keys_ = true;
};

// Realm clients idle for more than this many minutes are dropped.
constexpr int64_t kRealmIdleMinutes = 15;
// Whole minutes from `from` to `to`, each cut to its minute, dates included
// (negative when `to` is earlier).
int64_t ElapsedMinutes(platform::TDateTime from, platform::TDateTime to);
// Drops from the interface library's realm store every client whose last
// request lies more than kRealmIdleMinutes back at `now`, counting each as
// an expired realm user; a client that goes meanwhile is skipped. Returns
// how many were dropped.
int32_t ExpireRealmClients(platform::TDateTime now);

// The forms of the program, made by the program block.
extern TApp* App;
extern TStopServerForm* StopServerForm;
extern TAbout* AboutBox;
extern TAbout* Splash;

// Held while one row of the Applications page is refreshed.
extern std::mutex ExtensionListLock;
