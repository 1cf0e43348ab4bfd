// TMain, the main window of libmanager (the File Library Manager) and of
// confmanager (the Conference Manager): one source built twice. With
// HALV_LIBMANAGER defined it lists the BBS's file directories and writes
// the rules of the web module "WEBFILE"; without it the subboards and
// "WEBMSG".
//
// On the left ConfList, one item per library or conference; on the right
// the pages "General" (the entry's record in the BBS, through the binding),
// "Security" (the entry's web access rule for the chosen action) and
// "Administrator" (the module's administrator rule).
//
// Records are changed only between opening an entry and storing it, and
// only in the fields this window shows; every other byte stays as the BBS
// library set it. GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/form.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"
#include "tools/accesspage.h"
#include "tools/bbslibrary.h"

#ifdef HALV_LIBMANAGER
inline constexpr bool kFileLibraryBuild = true;
#else
inline constexpr bool kFileLibraryBuild = false;
#endif

// What the build switch sets.
namespace cman {
#ifdef HALV_LIBMANAGER
inline constexpr BbsListKind kListKind = kBbsDirectories;
inline constexpr char kModule[] = "WEBFILE";
inline constexpr char kTitle[] = "File Library Manager";
inline constexpr char kEntryWord[] = "Library";
inline constexpr int kGeneralPage = 1;  // "Dir"
#else
inline constexpr BbsListKind kListKind = kBbsSubboards;
inline constexpr char kModule[] = "WEBMSG";
inline constexpr char kTitle[] = "Conference Manager";
inline constexpr char kEntryWord[] = "Conference";
inline constexpr int kGeneralPage = 0;  // "Conf"
#endif
// The application title the program block sets, in both builds.
inline constexpr char kApplicationTitle[] = "Conference Manager";
inline constexpr char kAdminResource[] = "ADMINISTRATOR";
inline constexpr char kPathPrompt[] = "You must enter the path to a working QXBBS directory.";
// Keys of section QXBBS in KORRIDAN.INI.
inline constexpr char kConfigKey[] = "CONFIG.QX2";
inline constexpr char kAllowUploads[] = "AllowUploads";
inline constexpr char kDefaultUploadDir[] = "DefaultUploadDir";
inline constexpr char kDefaultConfDir[] = "DefaultConfDir";
}  // namespace cman

class TMain : public platform::ui::Form {
 public:
  explicit TMain(platform::ui::Component* owner);
  ~TMain() override;

  platform::ui::ListBox* ConfList;
  platform::ui::TabbedNotebook* Notebook;
  // "General"
  platform::ui::Label* Label1;  // "Name"
  platform::ui::Label* Label2;  // "Description"
  platform::ui::Edit* ConfName;
  platform::ui::Edit* ConfDesc;
  platform::ui::Notebook* Pages;
  platform::ui::Label* Label3;  // "Maximum" over "Messages"
  platform::ui::Label* Label4;
  platform::ui::Label* Label5;  // "Maximum" over "Length"
  platform::ui::Label* Label6;
  platform::ui::Edit* MaxMsgs;
  platform::ui::Edit* MaxLength;
  platform::ui::CheckBox* AllowAnon;
  platform::ui::CheckBox* AutoPurge;
  platform::ui::CheckBox* Compress;
  platform::ui::Label* Label7;  // "Path To Files"
  platform::ui::Edit* PathToFiles;
  platform::ui::CheckBox* CopyBox;
  // "Security": the action, and the entry's rule for it (EnforceSecurity,
  // AccessNotebook and the page's lists, buttons and radio buttons).
  platform::ui::RadioGroup* ActionGroup;
  std::unique_ptr<TAccessPage> SecurityPage;
  // "Administrator": the module's administrator rule on a second page whose
  // controls are named AllowAdmin, AdminNotebook, NotAdminGroups,
  // AdminGroups, AddAdminGroup, RemoveAdminGroup, NotAdminUsers, AdminUsers,
  // AddAdminUser, RemoveAdminUser, IgnoreAdminIP, AllowAdminIP, DenyAdminIP,
  // AddAdminIP, RemoveAdminIP and AdminIPList.
  std::unique_ptr<TAccessPage> AdminPage;
  platform::ui::CheckBox* AllowAdmin;
  // Menus
  platform::ui::MainMenu* MainMenu;
  platform::ui::MenuItem* FileMenu;
  platform::ui::MenuItem* SaveAll;
  platform::ui::MenuItem* N1;
  platform::ui::MenuItem* PrefMenu;
  platform::ui::MenuItem* N2;
  platform::ui::MenuItem* Exit1;
  platform::ui::MenuItem* ConferenceMenu;
  platform::ui::MenuItem* NewConf;
  platform::ui::MenuItem* DelConf;
  platform::ui::MenuItem* N3;
  platform::ui::MenuItem* RepConf;
  platform::ui::MenuItem* FindMenu;
  platform::ui::MenuItem* ViewMenu;
  platform::ui::MenuItem* BothNames;
  platform::ui::MenuItem* ShortNames;
  platform::ui::MenuItem* LongNames;
  platform::ui::FindDialog* Find;

  // Window state.
  std::string Module;
  std::string Resource;
  std::string Action;
  BbsListKind ListKind = cman::kListKind;
  TBbsListEntry Entry{};
  TBbsSubboardRecord* Subboard = nullptr;    // the open entry's record (confmanager)
  TBbsDirectoryHeader* Directory = nullptr;  // (libmanager)
  bool PropertiesChanged = false;
  bool RuleChanged = false;
  bool UserListsLoaded = false;
  bool AdminRuleLoaded = false;
  NamingMode Naming = 0;
  int NotebookDesignWidth = 0;
  int NotebookDesignHeight = 0;
  // Without a display the path prompt is answered once, as Cancel.
  bool Headless = false;
  // The path loop was given up: the program ends without loading anything.
  bool GaveUp = false;

  // Handlers.
  void FormCreate(platform::ui::Component& sender);
  void FormShow(platform::ui::Component& sender);
  void FormResize(platform::ui::Component& sender);
  void FormDestroy(platform::ui::Component& sender);
  void ConfListClick(platform::ui::Component* sender);
  void ConfChange(platform::ui::Component& sender);
  void ActionGroupClick(platform::ui::Component& sender);
  void NotebookChange(platform::ui::Component& sender, int new_page, bool& allow);
  void BothNamesClick(platform::ui::Component& sender);
  void FindMenuClick(platform::ui::Component& sender);
  void FindFind(platform::ui::Component& sender);
  void SaveAllClick(platform::ui::Component* sender);
  void Exit1Click(platform::ui::Component& sender);
  void PrefMenuClick(platform::ui::Component& sender);
  void NewConfClick(platform::ui::Component& sender);
  void DelConfClick(platform::ui::Component& sender);
  void RepConfClick(platform::ui::Component& sender);

  // Own operations.
  void RefillConfList(bool from_bbs);
  void LoadConfProperties();
  void SaveConfProperties();
  void LoadConfAccess();
  void SaveConfAccess();
  void LoadAdminAccess();
  void SaveAdminAccess();
  // The first item whose text in that mode equals name (ASCII case
  // ignored), or -1.
  int FindConfByName(const std::string& name, NamingMode mode) const;

 private:
  // The selected item's entry, or nullptr.
  TConfItem* SelectedItem() const;
  // The list and the action group back on the entry and action shown.
  void SelectShownEntry();
  bool RecordOpen() const { return Subboard || Directory; }
  // Rules are read and written only while the security store is open.
  static bool StoreOpen();
  // The BBS path prompt: OK or Cancel.
  int AskForPath();
};

extern TMain* Main;
