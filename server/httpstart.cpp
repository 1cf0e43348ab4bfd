// The engine's start and stop, and the binding of its outside calls to its
// own state machine. Kept apart from the slot records because both attach
// to the interface library.
#include <string>

#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "server/enginehook.h"
#include "server/eventcounters.h"
#include "server/httpunit.h"

namespace {

bool ReadFlag(const char* key, bool def) { return ConfigIni ? ConfigIni->ReadBool(settings::kLog, key, def) : def; }

void ForgetEngine(THTTP& http) {
  http.EngineMakeFile = nullptr;
  http.EngineMakeFileThread = nullptr;
  http.EngineHeapSize = nullptr;
}

}  // namespace

bool THTTP::Start(THttpLogProc log, TRequestShownProc shown, TExtensionRowProc row, int32_t slots,
                  int32_t backlog) {
  if (ServerListening) return true;
  Init(TLogProc(log), slots, backlog, TempDir.view());
  // Nothing else has been started yet: a server that does not listen is
  // left stopped (the listening failure has had its message box).
  if (!ServerListening) return false;

  EngineLibrary = platform::LoadLibrary("MORVEX32.DLL");
  if (!EngineLibrary) {
    ForgetEngine(*this);
    platform::MessageBox("Can't load MORVEX32.DLL!", "Halvorine", platform::MsgKind::Error, platform::MsgButtons::Ok);
  } else {
    EngineMakeFile = reinterpret_cast<TEngineMakeFile>(platform::GetProcAddress(EngineLibrary, "MAKEFILE"));
    EngineMakeFileThread =
        reinterpret_cast<TEngineMakeFileThread>(platform::GetProcAddress(EngineLibrary, "MAKEFILETHREAD"));
    EngineHeapSize = reinterpret_cast<TEngineHeapSize>(platform::GetProcAddress(EngineLibrary, "GETHEAPSIZE"));
  }

  ClearExtensionCache();

  std::string logs = HomeDir.str();
  if (ConfigIni) logs = ConfigIni->ReadString(settings::kDirectories, settings::kLogsDir, logs);
  logs = platform::NormalizePath(logs);
  if (logs.size() > 2) platform::CreateDirectories(logs);
  namespace es = settings::enginestart;
  OpenLogs(AccessLog, logs, ReadFlag(settings::kDoAccess, es::kDoAccess), ReadFlag(settings::kDoReferer, es::kDoReferer),
           ReadFlag(settings::kDoBrowser, es::kDoBrowser), ReadFlag(settings::kDoCombined, es::kDoCombined));

  HttpLogProc = std::move(log);
  RequestShownProc = std::move(shown);
  ExtensionRowProc = std::move(row);

  if (!Outside) Outside = std::make_shared<TOutsideLibraries>(*this);
  Outside->Calls.ForgetLateUses();
  for (int32_t i = 1; i <= MaxSockets; ++i) {
    InitSlotRecord(Requests[i], this, i);
    RunFileCounter[i] = 1;
    // A job block an aborted engine run may still read is left to it.
    if (Outside->Calls.AwaitedKind(i) != ckEngine) delete EngineJobs[i];
    EngineJobs[i] = nullptr;
    PostInProgress[i] = 0;
    Outside->Calls.SetAwaiting(i, ckNone);
  }

  if (ConsoleField) LoadServer(ConsoleField);

  event_log_ = std::make_shared<TEventLog>();
  event_log_->Open("Halv");

  BuildEngineTemplate();
  OutsideCalls = Outside.get();
  Outside->Engine.Attach();
  std::weak_ptr<TOutsideLibraries> outside = Outside;
  OtherMessage = [outside](const platform::MSG& msg) {
    if (auto o = outside.lock()) o->HandleMessage(msg);
  };

  if (TimersProc) TimersProc(true);
  return true;
}

void THTTP::Stop(int32_t mode) {
  if (!ServerListening || stopping_) return;
  stopping_ = true;
  if (TimersProc) TimersProc(false);
  TServer::Stop(mode == 1);
  UnloadAllExtensions();
  CloseLogs(AccessLog);
  if (ExtensionRowProc)
    for (int32_t i = 1; i <= kExtensionCacheSize; ++i) ExtensionRowProc(i);
  for (int32_t i = 1; i <= MaxSockets; ++i) FreeSlotRecord(Requests[i]);
  if (ConsoleField) UnLoadServer();
  event_log_.reset();
  if (Outside) Outside->Engine.Detach();
  if (EngineLibrary) {
    platform::FreeLibrary(EngineLibrary);
    EngineLibrary = nullptr;
    ForgetEngine(*this);
  }
  stopping_ = false;
}

TOutsideLibraries::TOutsideLibraries(THTTP& http, TExtensionCache& cache) : Calls(http, cache), Engine(Calls) {
  Calls.ProcessConnection = [&http](int32_t slot) { http.ProcessConnection(slot); };
  Calls.Disconnect = [&http](int32_t slot) {
    if (http.OnDisconnect) http.OnDisconnect(&http, slot);
  };
}

int32_t TOutsideLibraries::CallExtensionPage(THTTP&, int32_t slot, int32_t socket, bool in_request) {
  return Calls.CallExtensionPage(slot, socket, in_request);
}

bool TOutsideLibraries::CallPostBegin(THTTP&, int32_t slot, int32_t socket, bool in_request) {
  return Calls.CallPostBegin(slot, socket, in_request);
}

void TOutsideLibraries::CallPostResume(THTTP&, int32_t slot, bool& done) { Calls.CallPostResume(slot, done); }

int32_t TOutsideLibraries::CallPostEnd(THTTP&, int32_t slot) { return Calls.CallPostEnd(slot); }

bool TOutsideLibraries::RunEngine(THTTP&, int32_t slot) { return Engine.RunEngine(slot); }

// A completion ends with the console's disconnect handler, whose pump may
// take the close box's request to exit; that request is then carried out
// here, as it is after a socket message.
static void ExitIfAsked(TServer& server) {
  TConsoleLink& console = server.Console;
  if (console.ExitPending && console.ExitCommand) console.ExitCommand();
}

bool TOutsideLibraries::HandleMessage(const platform::MSG& msg) {
  switch (msg.message) {
    case WM_EXTENSION_DONE:
      Calls.OnExtensionDone(msg);
      ExitIfAsked(Engine.Http);
      return true;
    case WM_ENGINE_DONE:
      Engine.OnEngineDone(msg);
      ExitIfAsked(Engine.Http);
      return true;
    case WM_EXTENSION_ROW:
      Engine.OnExtensionRow(msg);
      return true;
    default:
      return false;
  }
}
