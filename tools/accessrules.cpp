#include "tools/accessrules.h"

#include <algorithm>

#include "foundation/security.h"
#include "foundation/securitystore.h"
#include "platform/ui/component.h"
#include "tools/progress.h"

namespace {

constexpr char kLoadingUsers[] = "Loading User List...";

std::string Upper(std::string text) {
  UpcaseShortString(text);
  return text;
}

bool Listed(const TNameList& list, std::string_view name) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& s) { return platform::ui::SameText(s, name); });
}

// Positions ACCESS on the rule for editing, or starts a new record; true
// for a new one.
bool EditOrInsert(SecurityStore& s, const std::string& module, const std::string& resource,
                  const std::string& action) {
  if (s.Access.FindKey({module, resource, action})) {
    s.Access.Edit();
    return false;
  }
  s.Access.Insert();
  return true;
}

// Posts the record (dropping the edit when the post fails) and flushes.
void PostAndFlush(platform::Table& table) {
  try {
    table.Post();
  } catch (...) {
    table.Cancel();
    throw;
  }
  table.Flush();
}

// The progress window while the accounts are read; hidden again however
// the reading ends.
class UserProgress {
 public:
  UserProgress(bool show, int count) : form_(show ? ProgressForm : nullptr) {
    if (!form_) return;
    form_->SetCaption(kLoadingUsers);
    form_->Gauge->SetProgress(0);
    form_->Gauge->SetMaxValue(count);
    form_->Show();
    step_ = count / 20 > 0 ? count / 20 : 1;
  }
  ~UserProgress() {
    if (!form_) return;
    form_->Gauge->SetProgress(counter_);
    form_->Hide();
  }
  UserProgress(const UserProgress&) = delete;
  UserProgress& operator=(const UserProgress&) = delete;
  void Step() {
    if (!form_) return;
    ++counter_;
    if (counter_ % step_ == 0) form_->Gauge->SetProgress(counter_);
  }

 private:
  TProgressForm* form_;
  int step_ = 1;
  int counter_ = 0;
};

}  // namespace

bool LoadAccessRule(std::string module, std::string resource, std::string action, TNameList& ipList,
                    std::string& ipAction, TNameList& availableGroups, TNameList& allowedGroups, bool& enforce) {
  SecurityStore& s = SecurityStore::Instance();
  allowedGroups.clear();
  availableGroups.clear();
  enforce = true;
  bool found = s.Access.FindKey({Upper(module), Upper(resource), Upper(action)});
  if (found) {
    enforce = s.Access.AsString(s.AccessEnforce) != "N";
    ReadNameList(s.Access, s.AccessGroups, allowedGroups, &s.Groups);
    // Read before the walk below moves GROUPS and before anything else
    // moves ACCESS.
    ipAction = s.Access.AsString(s.AccessIpAction);
    ReadNameList(s.Access, s.AccessIpAddr, ipList, nullptr);
  } else {
    ipAction.assign(1, 'I');  // (not = "I": g++ 12 warns falsely of an overlap)
    ipList.clear();
  }
  int display = s.Groups.FieldIndex("DISPLAY");
  for (s.Groups.First(); !s.Groups.Eof(); s.Groups.Next()) {
    std::string name = s.Groups.AsString(display);
    if (!Listed(allowedGroups, name)) availableGroups.push_back(std::move(name));
  }
  return found;
}

void SaveAccessRule(std::string module, std::string resource, std::string action, const TNameList& ipList,
                    std::string ipAction, const TNameList& allowedGroups, bool enforce) {
  SecurityStore& s = SecurityStore::Instance();
  module = Upper(std::move(module));
  resource = Upper(std::move(resource));
  action = Upper(std::move(action));
  ipAction = Upper(std::move(ipAction));
  // A new rule's users are an empty list until they are saved.
  if (EditOrInsert(s, module, resource, action)) s.Access.SetBlob(s.AccessUsers, "");
  s.Access.SetString("MODULE", module);
  s.Access.SetString("RESOURCE", resource);
  s.Access.SetString("ACTION", action);
  s.Access.SetString(s.AccessIpAction, ipAction);
  s.Access.SetString(s.AccessEnforce, enforce ? "Y" : "N");
  std::string groups, addresses;
  WriteNameList(groups, allowedGroups);
  WriteNameList(addresses, ipList);
  s.Access.SetBlob(s.AccessGroups, groups);
  s.Access.SetBlob(s.AccessIpAddr, addresses);
  PostAndFlush(s.Access);
}

bool LoadUserLists(std::string module, std::string resource, std::string action, bool showProgress,
                   TNameList& availableUsers, TNameList& allowedUsers) {
  SecurityStore& s = SecurityStore::Instance();
  UserProgress progress(showProgress && ProgressForm, showProgress && ProgressForm ? s.Users.RecordCount() : 0);
  bool found = s.Access.FindKey({Upper(module), Upper(resource), Upper(action)});
  if (found)
    ReadNameList(s.Access, s.AccessUsers, allowedUsers, &s.Users);
  else
    allowedUsers.clear();
  availableUsers.clear();
  int login = s.Users.FieldIndex("LOGINNAME");
  for (s.Users.First(); !s.Users.Eof(); s.Users.Next()) {
    std::string name = s.Users.AsString(login);
    if (!Listed(allowedUsers, name)) availableUsers.push_back(std::move(name));
    progress.Step();
  }
  return found;
}

void SaveAccessUsers(std::string module, std::string resource, std::string action, const TNameList& allowedUsers) {
  SecurityStore& s = SecurityStore::Instance();
  EditOrInsert(s, Upper(std::move(module)), Upper(std::move(resource)), Upper(std::move(action)));
  std::string users;
  WriteNameList(users, allowedUsers);
  s.Access.SetBlob(s.AccessUsers, users);
  PostAndFlush(s.Access);
}

TAccessSave::TAccessSave() { SecurityStore::Instance().Access.StartTransaction(); }

TAccessSave::~TAccessSave() {
  if (!done_) SecurityStore::Instance().Access.Rollback();
}

void TAccessSave::Commit() {
  platform::Table& access = SecurityStore::Instance().Access;
  access.Commit();
  done_ = true;
  // Committed is seen by every reader; folding the log into the file is
  // only tidying, so its failure does not make the save a failure.
  try {
    access.Flush();
  } catch (const platform::DbError&) {
  }
}

namespace {

// Whether a client's address can have this part: "*", or 0 to 255 written
// as the connection layer writes it, without leading zeros.
bool IsAddressPart(std::string_view part) {
  if (part == "*") return true;
  if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  if (part.size() > 1 && part[0] == '0') return false;
  int value = 0;
  for (char c : part) value = value * 10 + (c - '0');
  return value <= 255;
}

}  // namespace

std::string IPPatternQuestion(std::string_view pattern) {
  const std::string text(pattern);
  const std::string reading = ReadIPPattern(pattern);
  for (int k = 1; k <= 4; ++k) {
    std::string_view part = IPTextPart(reading, k);
    if (part == "*") break;
    if (!IsAddressPart(part))
      return "The access check matches no address with " + text + ": no address has " +
             (part.empty() ? std::string("an empty part") : "the part \"" + std::string(part) + "\"") +
             ". Change it?";
  }
  std::string written = text;
  if (written.ends_with('*'))
    while (std::count(written.begin(), written.end(), '.') < 3) written += ".*";
  if (written == reading) return {};
  return "The access check reads " + text + " as " + reading +
         (reading == "*.*.*.*" ? ", which matches every address" : "") + ". Change it?";
}
