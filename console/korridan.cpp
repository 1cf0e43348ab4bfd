// korridan: the web server program.
//
//   korridan [--headless] [--commands]
//
// KORRIDAN.INI and MIME.INI are read beside the executable; STATS.DAT and
// malloc.log lie in the current directory. With a display (DISPLAY or
// WAYLAND_DISPLAY set) the forms show as windows, drawn by the front-end
// library libhalvqt.so.1 loaded from beside the executable. --headless runs
// without a window, as does a start with no display or without that
// library; the log window then goes to
// standard output and message boxes to standard error (console/headless.h
// has the line format). --commands reads the operator's commands from
// standard input (same header). SIGTERM and SIGINT close the main window as
// its close box does; SIGHUP cycles the log files. The exit code is 0 once
// the main window has closed, and 1 when a start failed with nobody to act
// on it (no window and no --commands) or when a command failed (the server
// then stops and STATS.DAT is saved, but the window keys are not written).
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "console/about.h"
#include "console/app.h"
#include "console/headless.h"
#include "console/includeform.h"
#include "console/settingsform.h"
#include "console/stopserver.h"
#include "foundation/allocguard.h"
#include "foundation/realmlist.h"
#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "interface/tandrel.h"
#include "platform/crossproc.h"
#include "platform/files.h"
#include "platform/ui/application.h"
#include "platform/ui/component.h"
#include "platform/ui/headless.h"
#include "platform/ui/windows.h"
#include "server/enginehook.h"
#include "server/wsock.h"

int main(int argc, char** argv) {
  bool commands = false;
  if (!platform::ui::ReadHeadlessOptions(argc, argv, "korridan", commands)) return 2;
  bool headless = !platform::ui::WindowsStarted();

  OpenConfigFiles();
  RemoveSettingsLeftovers();
  SecurityStoreInit();
  RealmListInit();
  int exit_status = 0;
  SetAllocationContext("Halvorine");

  {
    platform::ui::Application application;
    std::unique_ptr<THeadlessConsole> console;
    if (headless) console = std::make_unique<THeadlessConsole>();

    Splash = new TAbout(nullptr);
    Splash->SetName("Splash");
    Splash->FinishCreate();
    if (ConfigIni->ReadBool(settings::kGeneral, settings::kSplashScreen, settings::mainwindow::kSplashScreen))
      Splash->ShowSplash();

    application.SetTitle(kStoppedCaption);
    App = application.CreateForm<TApp>();
    // The two memory figures pages may show through "$RESOURCE".
    App->HTTP->ResourceSources.ProgramAllocatedBytes = AllocatedBytes;
    App->HTTP->ResourceSources.InterfaceMemoryUsed = GetMemoryUsed;
    App->Headless = headless;
    SettingsForm = application.CreateForm<TSettingsForm>();
    App->SettingsForm = SettingsForm;
    IncludeForm = application.CreateForm<TIncludeForm>();
    App->ExitOnFailedStart = headless && !commands;
    StopServerForm = application.CreateForm<TStopServerForm>(App->HTTP);
    AboutBox = application.CreateForm<TAbout>();
    platform::SetHandleCount(512);

    platform::RouteSignalsTo(App->Handle());
    if (console && commands) {
      console->OnScriptFailed = [] { App->ExitAfterFailedCommands(); };
      console->ReadCommands(STDIN_FILENO);
    }
    application.Run();
    // A quit taken by a nested loop before a deferred exit was finished.
    if (App->SocketState.ExitPending) App->ExitMenuClick(*App);
    platform::RouteSignalsTo(0);

    exit_status = App->ExitStatus;
    if (Splash) platform::ui::Free(Splash);
    console.reset();
  }
  platform::ui::StopWindows();
  WinsockCleanup();
  return exit_status;
}
