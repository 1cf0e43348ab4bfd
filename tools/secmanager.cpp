// secmanager: the Security Manager, the editor of the access rules of the
// directories the server serves.
//
//   secmanager [--headless] [--commands]
//
// KORRIDAN.INI is read beside the executable: [Directories] DataDir (the
// tables; default the program directory + "Data/") and HomeDir (where the
// tree opens; default "/"). Without a display (or with --headless) the main
// window's caption and the dialogs' modal showings go to standard output,
// message boxes to standard error; --commands reads the operator's actions
// from standard input (platform/ui/headless.h has the formats), e.g.
//   dir Main.DirOutline /srv/web/private
//   choose Main.NotGroupsList Staff
//   click Main.AddAccessGroup
//   menu SaveAll
// A command that fails ends the program with exit status 1 and leaves a
// rule it changed unsaved. SIGTERM and SIGINT close the main window as its
// close box does, saving a changed rule. The exit code is 0 once the main
// window has closed.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "platform/crossproc.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "tools/nipfrm.h"
#include "tools/progress.h"
#include "tools/secfrm.h"

int main(int argc, char** argv) {
  bool commands = false;
  if (!platform::ui::ReadHeadlessOptions(argc, argv, "secmanager", commands)) return 2;

  OpenConfigFiles();
  SecurityStoreInit();
  {
    platform::ui::Application application;
    platform::ui::HeadlessConsole console("secmanager");
    // A failed command leaves its changes unsaved: the window is not
    // destroyed (its destruction saves), only the tables are closed.
    console.OnScriptFailed = [] {
      CloseSecurityTables();
      platform::ui::EndAtOnce(1);
    };
    application.SetTitle("Security Manager");
    Main = application.CreateForm<TMain>();
    NewIPForm = application.CreateForm<TNewIPForm>();
    ProgressForm = application.CreateForm<TProgressForm>();

    platform::RouteSignalsTo(Main->Handle());
    if (commands) console.ReadCommands(STDIN_FILENO);
    application.Run();
    platform::RouteSignalsTo(0);
  }
  CloseSecurityTables();
  return 0;
}
