// TMain, "Security Manager": the directory tree of the served file system
// on the left, the access-rule page of the directory chosen on the right.
// The rule of a directory is the ACCESS row ("SERVER", the directory's
// resource, "GET") that the server consults for every file in it. A changed
// rule is saved when another directory is chosen, on "Save All", and when
// the window goes.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/form.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"
#include "tools/accesspage.h"

class TMain : public platform::ui::Form {
 public:
  explicit TMain(platform::ui::Component* owner);
  ~TMain() override;

  platform::ui::DriveBox* DriveBox;
  platform::ui::DirectoryTree* DirOutline;
  platform::ui::TabbedNotebook* Notebook;  // one page, "Security"
  platform::ui::MainMenu* MainMenu1;
  platform::ui::MenuItem* File1;    // "&File"
  platform::ui::MenuItem* SaveAll;  // "Save All"
  platform::ui::MenuItem* N1;       // separator
  platform::ui::MenuItem* Exit1;    // "E&xit"
  std::unique_ptr<TAccessPage> Access;

  // The current rule has changes not yet saved.
  bool RuleChanged = false;

  void FormCreate(platform::ui::Component& sender);
  void FormDestroy(platform::ui::Component& sender);
  void FormResize(platform::ui::Component& sender);
  void FormClose(platform::ui::Component& sender, platform::ui::CloseAction& action);
  void DirOutlineChange(platform::ui::Component& sender);
  void DriveBoxChange(platform::ui::Component& sender);
  void SaveAllClick(platform::ui::Component& sender);
  void Exit1Click(platform::ui::Component& sender);

 private:
  // Puts the tree back on the directory whose rule the page shows, without
  // loading anything.
  void ShowRuleDirectory();

  int design_width_ = 0;
  int design_height_ = 0;
  std::string rule_directory_;  // the directory whose rule the page shows
  bool quiet_ = false;          // tree changes load nothing
};

// The access-rule resource of a directory: its absolute path in upper case
// with exactly one trailing "/" (the root stays "/").
std::string DirectoryResource(const std::string& directory);

// The program's main window.
extern TMain* Main;
