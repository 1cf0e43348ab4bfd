// libmanager and confmanager: the File Library Manager and the Conference
// Manager, one source built twice (HALV_LIBMANAGER selects the first).
//
//   libmanager [--headless] [--commands]
//   confmanager [--headless] [--commands]
//
// KORRIDAN.INI is read beside the executable (section QXBBS holds the BBS
// path, key CONFIG.QX2), QX.DLL is loaded from the program directory, the
// current directory or the system search, and the security tables from
// [Directories] DataDir (default: the program directory + "Data/").
// With a display and without --headless the forms show as windows, and the
// BBS path prompt asks until a BBS opens or the administrator chooses
// Cancel. Headless, message boxes go to standard error and the prompt is
// answered once, as Cancel. Either way the main window's caption, the
// application title, menu captions and modal showings go to standard
// output. --commands takes the administrator's actions from standard
// input, one a line (platform/ui/headless.h), e.g. "choose Main.ConfList 1"
// (the second entry), "type Main.ConfDesc New text", "menu SaveAll",
// "menu Exit1"; a command that fails ends the program with exit status 1,
// saving nothing that the commands changed. SIGTERM and SIGINT close the
// main window as its close box does, saving what was changed.
//
// The exit status is 0 once the main window has closed, and 1 when the
// program ended without a BBS to work on (the reason on standard error) or
// when a command failed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/crossproc.h"
#include "platform/stdlines.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "platform/ui/windows.h"
#include "tools/bbslibrary.h"
#include "tools/cmanfrm.h"
#include "tools/ncfrm.h"
#include "tools/nipfrm.h"
#include "tools/progress.h"
#include "tools/preffrm.h"

namespace {

// Why no BBS could be opened, for the line the program ends with.
std::string NoBbsReason() {
  if (!BbsLibraryPresent()) return "QX.DLL could not be loaded, so no BBS can be opened";
  std::string path = ConfigIni->ReadString(settings::kQxbbs, cman::kConfigKey, "");
  const std::string key = std::string("([QXBBS] ") + cman::kConfigKey + " in KORRIDAN.INI)";
  if (path.empty()) return "no BBS home directory is set " + key;
  return "\"" + path + "\" is not a working QXBBS directory " + key;
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = kFileLibraryBuild ? "libmanager" : "confmanager";
  bool commands = false;
  if (!platform::ui::ReadHeadlessOptions(argc, argv, program, commands)) return 2;
  // Unit initialisations, in this order.
  OpenConfigFiles();
  RemoveSettingsLeftovers();
  LoadBbsLibrary();
  SecurityStoreInit();
  bool no_bbs = false;
  {
    platform::ui::Application application;
    platform::ui::HeadlessConsole console(program);
    // A failed command leaves its changes unsaved: the window is not
    // destroyed (its destruction saves), only the tables are closed.
    console.OnScriptFailed = [] {
      CloseSecurityTables();
      platform::ui::EndAtOnce(1);
    };
    application.SetTitle(cman::kApplicationTitle);
    TMain* main = application.CreateForm<TMain>();
    main->Headless = !platform::ui::WindowsStarted();
    application.CreateForm<TNewConfFrm>();
    application.CreateForm<TPrefForm>();
    NewIPForm = application.CreateForm<TNewIPForm>();
    ProgressForm = application.CreateForm<TProgressForm>();
    platform::RouteSignalsTo(main->Handle());
    if (commands) console.ReadCommands(STDIN_FILENO);
    application.Run();
    platform::RouteSignalsTo(0);
    no_bbs = main->GaveUp;
  }
  CloseSecurityTables();
  // Nothing to work on is a failure, not a finished session.
  if (no_bbs) {
    platform::WriteLine(stderr, std::string(program) + ": ended without a BBS to work on: " + NoBbsReason());
    return 1;
  }
  return 0;
}
