// The editor side of the security store: loading one rule of ACCESS with
// the group and user lists an editor offers, and saving it back. Every
// routine works on the tables that OpenSecurityStore opened (a closed table
// raises platform::DbError) and upper-cases the key (module, resource,
// action) before it uses it. Errors are left to the caller.
//
// A rule's save is one transaction (TAccessSave): another program reading
// the rule sees all of its fields as one save left them, never a name list
// half written, and of two editors saving the same rule the last complete
// save wins.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using TNameList = std::vector<std::string>;

// Fills allowedGroups with the rule's GROUPS as far as GROUPS still holds
// them, and availableGroups with the DISPLAY of every other group (compared
// without regard to case). A found rule gives its IPACTION, its IPADDR
// patterns and enforce unless ENFORCE is exactly "N"; a key without a row
// gives "I", no patterns and enforce true. True when the rule was found.
bool LoadAccessRule(std::string module, std::string resource, std::string action, TNameList& ipList,
                    std::string& ipAction, TNameList& availableGroups, TNameList& allowedGroups, bool& enforce);

// Writes the rule's key, IPACTION (upper-cased), ENFORCE ("Y" or "N"),
// GROUPS and IPADDR, editing its row or inserting one; its USERS stay as
// they are. Posted, then flushed.
void SaveAccessRule(std::string module, std::string resource, std::string action, const TNameList& ipList,
                    std::string ipAction, const TNameList& allowedGroups, bool enforce);

// Fills allowedUsers with the rule's USERS as far as USERS still holds them
// (none when there is no rule), and availableUsers with the LOGINNAME of
// every other account. With showProgress the progress window (when made)
// shows "Loading User List..." while the accounts are read. True when the
// rule was found.
bool LoadUserLists(std::string module, std::string resource, std::string action, bool showProgress,
                   TNameList& availableUsers, TNameList& allowedUsers);

// Writes the rule's USERS, editing its row or inserting one (made by the
// SaveAccessRule just before it). Posted, then flushed, so that a user
// taken off a rule loses access at the server's next lookup.
void SaveAccessUsers(std::string module, std::string resource, std::string action, const TNameList& allowedUsers);

// One transaction on ACCESS around the saves of one rule: begun when made
// (waiting for another writer as long as the table layer waits), committed
// and flushed by Commit, dropped when destroyed uncommitted.
class TAccessSave {
 public:
  TAccessSave();
  ~TAccessSave();
  TAccessSave(const TAccessSave&) = delete;
  TAccessSave& operator=(const TAccessSave&) = delete;
  void Commit();

 private:
  bool done_ = false;
};

// The question to ask before an address pattern is kept, when the access
// check reads it otherwise than written (ReadIPPattern; a final "*" stands
// for the parts after it) or when it matches no address; a Yes goes back to
// the text. Empty for a pattern read as written: four parts of 0 to 255, or
// fewer ending in "*" ("10.1.2.3", "192.168.1.*", "10.*", "*").
std::string IPPatternQuestion(std::string_view pattern);
