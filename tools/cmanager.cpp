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
// There is no window front end: the programs always run headless. The main
// window's caption, the application title, menu captions and modal showings
// go to standard output, message boxes to standard error, and the BBS path
// prompt is answered once, as Cancel, which ends the program. --commands
// takes the administrator's actions from standard input, one a line
// (platform/ui/headless.h), e.g. "choose Main.ConfList 1" (the second
// entry), "type Main.ConfDesc New text", "menu SaveAll", "menu Exit1".
// SIGTERM and SIGINT close the main window as its close box does, saving
// what was changed.
#include <unistd.h>

#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "platform/crossproc.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "tools/bbslibrary.h"
#include "tools/cmanfrm.h"
#include "tools/ncfrm.h"
#include "tools/nipfrm.h"
#include "tools/progress.h"
#include "tools/preffrm.h"

int main(int argc, char** argv) {
  const char* program = kFileLibraryBuild ? "libmanager" : "confmanager";
  bool commands = false;
  if (!platform::ui::ReadHeadlessOptions(argc, argv, program, commands)) return 2;
  // Unit initialisations, in this order.
  OpenConfigFiles();
  LoadBbsLibrary();
  SecurityStoreInit();
  {
    platform::ui::Application application;
    platform::ui::HeadlessConsole console(program);
    application.SetTitle(cman::kApplicationTitle);
    TMain* main = application.CreateForm<TMain>();
    main->Headless = true;
    application.CreateForm<TNewConfFrm>();
    application.CreateForm<TPrefForm>();
    NewIPForm = application.CreateForm<TNewIPForm>();
    ProgressForm = application.CreateForm<TProgressForm>();
    platform::RouteSignalsTo(main->Handle());
    if (commands) console.ReadCommands(STDIN_FILENO);
    application.Run();
    platform::RouteSignalsTo(0);
  }
  CloseSecurityTables();
  return 0;
}
