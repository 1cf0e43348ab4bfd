// The access-rule page: the controls that show and edit one rule of ACCESS
// (which groups and users may use a resource, whether the rule is enforced,
// which client addresses are allowed or denied), their handlers, and the
// loading and saving of the window's current rule through the store
// routines of tools/accessrules.h. A window holds one page per rule it
// shows; the page's controls are owned by the window's form and found there
// by name.
//
// Every edit on the page marks the rule changed; loading and saving clear
// the mark. The user lists follow the "Users" page: they are read when a
// rule is loaded while that page shows, and each time the page is chosen
// (the stored lists then replace unsaved moves); only lists that were read
// are saved.
#pragma once

#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/pages.h"
#include "tools/accessrules.h"

// The names of a page's controls.
struct TAccessPageNames {
  std::string EnforceSecurity = "EnforceSecurity";
  std::string EnforceCaption = "Enforce Security";
  std::string AccessNotebook = "AccessNotebook";
  std::string NotGroupsList = "NotGroupsList";
  std::string AllowGroupsList = "AllowGroupsList";
  std::string AddAccessGroup = "AddAccessGroup";
  std::string RemoveAccessGroup = "RemoveAccessGroup";
  std::string NotUsersList = "NotUsersList";
  std::string AllowUsersList = "AllowUsersList";
  std::string AddAccessUser = "AddAccessUser";
  std::string RemoveAccessUser = "RemoveAccessUser";
  std::string IgnoreIP = "IgnoreIP";
  std::string AllowIP = "AllowIP";
  std::string DenyIP = "DenyIP";
  std::string AddIP = "AddIP";
  std::string RemoveIP = "RemoveIP";
  std::string AccessIPList = "AccessIPList";
};

// Moves every selected item of source to target, then deletes from source
// every item that target holds (ASCII case ignored). Nothing happens when
// source has no current item. True when an item was moved.
bool MoveSelectedItems(platform::ui::ListBox& source, platform::ui::ListBox& target);

class TAccessPage {
 public:
  // Builds the controls on parent (owned by form), at `top` within it; the
  // rule's notebook and its lists are made shorter where parent has less
  // room below `top` than the design needs.
  // rule_changed: the window's mark of an unsaved change, which the page
  // sets and clears. The controls' handlers call the page, so the form
  // frees its controls before the page goes (FreeOwned in its destructor).
  TAccessPage(platform::ui::Form& form, platform::ui::Control& parent, bool& rule_changed,
              const TAccessPageNames& names = {}, int top = 0);
  TAccessPage(const TAccessPage&) = delete;
  TAccessPage& operator=(const TAccessPage&) = delete;

  // The current rule's key; upper-cased by the store routines.
  std::string Module, Resource, Action;
  // The user lists hold the current rule's users.
  bool UserListsLoaded = false;

  // false: the user lists are read with every rule and the notebook's page
  // changes read nothing.
  bool UsersFollowPage = true;
  // false: adding and removing addresses does not mark the rule changed.
  bool MarkIPListEdits = true;

  platform::ui::CheckBox* EnforceSecurity;
  platform::ui::TabbedNotebook* AccessNotebook;
  platform::ui::ListBox* NotGroupsList;
  platform::ui::ListBox* AllowGroupsList;
  platform::ui::Button* AddAccessGroup;     // "Add >>"
  platform::ui::Button* RemoveAccessGroup;  // "<< Remove"
  platform::ui::ListBox* NotUsersList;
  platform::ui::ListBox* AllowUsersList;
  platform::ui::Button* AddAccessUser;
  platform::ui::Button* RemoveAccessUser;
  platform::ui::RadioButton* IgnoreIP;
  platform::ui::RadioButton* AllowIP;
  platform::ui::RadioButton* DenyIP;
  platform::ui::Button* AddIP;     // "Add..."
  platform::ui::Button* RemoveIP;  // "Remove..."
  platform::ui::ListBox* AccessIPList;

  // Loads the current rule into the page. Everything is read before a
  // control changes, so a failed read (it raises) leaves the page as it was.
  void LoadRule();
  // Saves the page into the current rule, in one transaction. A failure
  // raises with a message that names the rule and leaves the page and the
  // mark as they were, so the save can be tried again.
  void SaveRule();

  void MultiMoveClick(platform::ui::Component& sender);
  void IPClick(platform::ui::Component& sender);
  void AddIPClick(platform::ui::Component& sender);
  void RemoveIPClick(platform::ui::Component& sender);
  void EnforceSecurityClick(platform::ui::Component& sender);
  void AccessNotebookChange(platform::ui::Component& sender, int new_index, bool& allow);

 private:
  void MarkChanged() { changed_ = true; }
  void LoadUsers();
  void EnableAddressControls();

  bool& changed_;
};

// Fills a list box with texts (a sorted list sorts them).
void SetListItems(platform::ui::ListBox& list, const TNameList& items);
