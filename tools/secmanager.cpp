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
// SIGTERM and SIGINT close the main window as its close box does, saving a
// changed rule. The exit code is 0 once the main window has closed.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "platform/crossproc.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "tools/nipfrm.h"
#include "tools/progress.h"
#include "tools/secfrm.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: secmanager [--headless] [--commands]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  bool commands = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0)
      headless = true;
    else if (std::strcmp(argv[i], "--commands") == 0)
      commands = true;
    else
      return Usage();
  }
  if (!headless && !platform::ui::NoDisplay()) {
    // There is no window front end in this build.
    std::fprintf(stderr, "secmanager: no window front end; running headless\n");
  }

  OpenConfigFiles();
  SecurityStoreInit();
  {
    platform::ui::Application application;
    platform::ui::HeadlessConsole console("secmanager");
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
