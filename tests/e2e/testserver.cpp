// A server for the end-to-end tests and the benchmark: the request engine
// and the console's socket handlers, without forms.
//
//   testserver <program directory>
//
// The program directory stands for the one korridan keeps beside its
// executable: KORRIDAN.INI and MIME.INI are read there, the security tables
// lie in its Data/ (through the alias HALVORINE; HALVORINE_REGISTRY decides
// whose alias registry that is), and it becomes the current directory. The
// server listens where [Network] says, writes "READY <port>" on standard
// output once it listens, its log lines after that, and serves until SIGTERM
// or SIGINT, which stop it (aborting the open connections) and end the
// program with 0. A start that fails ends it with 1 and says why on
// standard error.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "console/httpevents.h"
#include "console/statshistory.h"
#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "interface/tandrel.h"
#include "platform/crossproc.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "server/accesslog.h"
#include "server/httpunit.h"
#include "server/wsock.h"

namespace {

THTTP* HTTP = nullptr;  // the variable the interface library reads the engine through
TAppSocketState App;
TStatHistory HistoryHits[4], HistoryLogins[4], HistoryConnections[4], HistoryUsers[4];
bool Running = false;

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// The console's log line: "[slot,address,time] text".
void LogEvent(int32_t slot, int32_t /*socket*/, std::string_view text) {
  if (!App.LogToWindow) return;
  std::string peer;
  if (HTTP && slot >= 0 && slot <= kMaxSlots && HTTP->Connections[slot])
    peer = HTTP->Connections[slot]->PeerAddress.str().substr(0, 16);
  Print("[" + std::to_string(slot) + "," + peer + "," + platform::FormatTime(platform::Now()) + "] " +
        std::string(text));
}

std::string Setting(const char* section, const char* key, const std::string& def) {
  return ConfigIni->ReadString(section, key, def);
}

// The start as the console's start button and the engine's start make it,
// reduced to what serving needs: no page engine, no extension cache.
bool StartServer(const std::string& program_dir) {
  namespace ss = settings::serverstart;
  App.StopAccepting = false;
  App.ExitPending = false;
  App.PumpDepth = 0;
  HTTP->Address = Setting(settings::kNetwork, settings::kAddress, ss::kAddress);
  HTTP->Port = ConfigIni->ReadInteger(settings::kNetwork, settings::kPort, ss::kPort);
  HTTP->SetHomeDir(0, Setting(settings::kDirectories, settings::kHomeDir, ss::kHomeDir));
  HTTP->TempDir = Setting(settings::kDirectories, settings::kTempDir, ss::kTempDir);
  HTTP->MapsDir = Setting(settings::kDirectories, settings::kMapsDir, ss::kMapsDir);
  HTTP->IgnoreClose = ConfigIni->ReadBool(settings::kNetwork, settings::kIgnoreClose, ss::kIgnoreClose);
  for (const ShortString* dir : {&HTTP->TempDir, &HTTP->MapsDir})
    if (dir->size() >= 3) platform::CreateDirectories(platform::NormalizePath(dir->view()));

  try {
    OpenSecurityStore("", program_dir + "Data/", program_dir + "HalvDB/");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "testserver: the security store does not open: %s\n", e.what());
    return false;
  }

  int32_t slots = ConfigIni->ReadInteger(settings::kNetwork, settings::kMaxSockets, ss::kMaxSockets);
  int32_t backlog = ConfigIni->ReadInteger(settings::kNetwork, settings::kBacklog, ss::kBacklog);
  HTTP->Init(LogEvent, slots, backlog, HTTP->TempDir.view());
  if (!ServerListening) {
    std::fprintf(stderr, "testserver: not listening on %s:%d\n", HTTP->Address.str().c_str(), HTTP->Port);
    CloseSecurityTables();
    return false;
  }

  std::string logs = Setting(settings::kDirectories, settings::kLogsDir, HTTP->HomeDir.str());
  if (logs.size() >= 3) platform::CreateDirectories(platform::NormalizePath(logs));
  HTTP->AccessLog.OnError = [](const std::string& text) { LogEvent(0, 0, text); };
  namespace es = settings::enginestart;
  OpenLogs(HTTP->AccessLog, logs, ConfigIni->ReadBool(settings::kLog, settings::kDoAccess, es::kDoAccess),
           ConfigIni->ReadBool(settings::kLog, settings::kDoReferer, es::kDoReferer),
           ConfigIni->ReadBool(settings::kLog, settings::kDoBrowser, es::kDoBrowser),
           ConfigIni->ReadBool(settings::kLog, settings::kDoCombined, es::kDoCombined));

  HTTP->HttpLogProc = LogEvent;
  for (int32_t i = 1; i <= HTTP->MaxSockets; ++i) {
    InitSlotRecord(HTTP->Requests[i], HTTP, i);
    HTTP->RunFileCounter[i] = 1;
    HTTP->EngineJobs[i] = nullptr;
  }
  LoadServer(&HTTP);
  Running = true;
  return true;
}

void StopServer() {
  if (!Running) return;
  Running = false;
  HTTP->Stop(true);
  CloseLogs(HTTP->AccessLog);
  for (int32_t i = 1; i <= HTTP->MaxSockets; ++i) FreeSlotRecord(HTTP->Requests[i]);
  UnLoadServer();
  CloseSecurityTables();
}

// The close box: inside the nested pump only noted, and done after the
// socket event by the socket layer.
void ExitCommand() {
  if (App.PumpDepth > 0) {
    App.StopAccepting = true;
    App.ExitPending = true;
    return;
  }
  App.ExitPending = false;
  StopServer();
  platform::PostQuitMessage(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: testserver <program directory>\n");
    return 2;
  }
  std::string program_dir = platform::AddTrailingSlash(argv[1]);
  if (!platform::SetCurrentDir(program_dir)) {
    std::fprintf(stderr, "testserver: no directory %s\n", program_dir.c_str());
    return 2;
  }
  // Message boxes have nobody to answer them here.
  platform::SetErrorReportHandler([](const std::string& text) { std::fprintf(stderr, "error: %s\n", text.c_str()); });
  ConfigIni = new platform::IniFile(program_dir + "KORRIDAN.INI");
  MimeIni = new platform::IniFile(program_dir + "MIME.INI");
  SecurityStoreInit();
  App.LogToWindow = ConfigIni->ReadBool(settings::kLog, settings::kLocal, settings::mainwindow::kLocal);

  if (!WinsockStartup()) {
    std::fprintf(stderr, "testserver: WinSock not loaded.\n");
    return 1;
  }
  InitConsoleHistories(HistoryHits, HistoryLogins, HistoryConnections, HistoryUsers);

  HTTP = new THTTP;
  TSocketEventViews views;
  views.LogEvent = LogEvent;
  THttpEvents events(*HTTP, App, views);
  events.Bind();
  BindStatHistories(*HTTP, HistoryHits, HistoryLogins);
  ConsoleLink.ExitCommand = ExitCommand;

  platform::HWND main_window = platform::CreateWindowHandle([](const platform::MSG& msg) {
    if (msg.message == platform::WM_CLOSE) ExitCommand();
    if (msg.message == platform::kCycleLogsMessage && HTTP) CycleLogs(HTTP->AccessLog);
  });
  platform::RouteSignalsTo(main_window);

  if (!StartServer(program_dir)) {
    delete HTTP;
    return 1;
  }
  // The console's minute timer: connections idle too long are closed.
  platform::Timer idle_timer;
  idle_timer.SetInterval(60000);
  idle_timer.SetOnTimer([] {
    if (Running) HTTP->CheckIdleTimeouts();
  });
  Print("READY " + std::to_string(HTTP->Port));

  platform::MSG msg;
  while (platform::GetMessage(msg)) {
    platform::TranslateMessage(msg);
    platform::DispatchMessage(msg);
  }
  StopServer();
  platform::RouteSignalsTo(0);
  platform::DestroyWindowHandle(main_window);
  ConsoleLink.ExitCommand = nullptr;
  delete HTTP;
  HTTP = nullptr;
  WinsockCleanup();
  return 0;
}
