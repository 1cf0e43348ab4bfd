// The server of the end-to-end tests and the benchmark: the request engine
// started and stopped as the console does it (THTTP::Start and THTTP::Stop),
// with the console's socket handlers and without forms.
//
//   testserver <program directory>
//
// Settings lie in the program directory, which becomes the current
// directory (extension libraries are loaded from there; the page
// engine MORVEX32.DLL from the program's own directory). "READY <port>" on
// standard output once it listens, then its log lines; SIGTERM or SIGINT
// stop it, aborting open connections, and end it with 0. A start that fails
// ends it with 1. Message boxes go to standard error.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "console/httpevents.h"
#include "console/statshistory.h"
#include "foundation/allocguard.h"
#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "interface/tandrel.h"
#include "platform/crossproc.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "server/enginehook.h"
#include "server/httpunit.h"
#include "server/wsock.h"

namespace {

THTTP* HTTP = nullptr;
TAppSocketState* App = nullptr;
bool Running = false;

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void LogEvent(int32_t slot, int32_t /*socket*/, std::string_view text) {
  if (App->LogToWindow) Print("[" + std::to_string(slot) + "] " + std::string(text));
}

std::string Setting(const char* section, const char* key, const std::string& def) {
  return ConfigIni->ReadString(section, key, def);
}

bool StartServer(const std::string& program_dir) {
  namespace ss = settings::serverstart;
  HTTP->Address = Setting(settings::kNetwork, settings::kAddress, ss::kAddress);
  HTTP->Port = ConfigIni->ReadInteger(settings::kNetwork, settings::kPort, ss::kPort);
  HTTP->SetHomeDir(0, Setting(settings::kDirectories, settings::kHomeDir, ss::kHomeDir));
  HTTP->TempDir = Setting(settings::kDirectories, settings::kTempDir, ss::kTempDir);
  if (HTTP->TempDir.size() >= 3) platform::CreateDirectories(platform::NormalizePath(HTTP->TempDir.view()));
  try {
    OpenSecurityStore("", program_dir + "Data/", program_dir + "HalvDB/");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "testserver: the security store does not open: %s\n", e.what());
    return false;
  }
  HTTP->ConsoleField = &HTTP;
  int32_t slots = ConfigIni->ReadInteger(settings::kNetwork, settings::kMaxSockets, ss::kMaxSockets);
  int32_t backlog = ConfigIni->ReadInteger(settings::kNetwork, settings::kBacklog, ss::kBacklog);
  if (!HTTP->Start(LogEvent, {}, {}, slots, backlog)) {
    std::fprintf(stderr, "testserver: not listening on %s:%d\n", HTTP->Address.str().c_str(), HTTP->Port);
    CloseSecurityTables();
    return false;
  }
  Running = true;
  return true;
}

void StopServer() {
  if (!Running) return;
  Running = false;
  HTTP->Stop(1);
  CloseSecurityTables();
}

void ExitCommand() {
  if (App->PumpDepth > 0) {
    App->StopAccepting = true;
    App->ExitPending = true;
    return;
  }
  App->ExitPending = false;
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
  platform::SetErrorReportHandler([](const std::string& text) { std::fprintf(stderr, "error: %s\n", text.c_str()); });
  ConfigIni = new platform::IniFile(program_dir + "KORRIDAN.INI");
  MimeIni = new platform::IniFile(program_dir + "MIME.INI");
  SecurityStoreInit();
  if (!WinsockStartup()) return 1;

  HTTP = new THTTP;
  HTTP->ResourceSources.ProgramAllocatedBytes = &AllocatedBytes;
  HTTP->ResourceSources.InterfaceMemoryUsed = &GetMemoryUsed;
  TAppSocketState app(HTTP->Console);
  App = &app;
  App->LogToWindow = ConfigIni->ReadBool(settings::kLog, settings::kLocal, settings::mainwindow::kLocal);
  TSocketEventViews views;
  views.LogEvent = LogEvent;
  THttpEvents events(*HTTP, *App, views);
  events.Bind();
  HTTP->Console.ExitCommand = ExitCommand;
  platform::HWND main_window = platform::CreateWindowHandle([](const platform::MSG& msg) {
    if (msg.message == platform::WM_CLOSE) ExitCommand();
  });
  platform::RouteSignalsTo(main_window);

  if (!StartServer(program_dir)) {
    delete HTTP;
    return 1;
  }
  Print("READY " + std::to_string(HTTP->Port));
  platform::MSG msg;
  while (platform::GetMessage(msg)) {
    platform::TranslateMessage(msg);
    platform::DispatchMessage(msg);
  }
  StopServer();
  platform::RouteSignalsTo(0);
  platform::DestroyWindowHandle(main_window);
  HTTP->Console.ExitCommand = nullptr;
  delete HTTP;
  HTTP = nullptr;
  WinsockCleanup();
  return 0;
}
