#include "tools/accesspage.h"

#include <algorithm>
#include <exception>

#include "platform/dbtables.h"
#include "platform/ui/dialogs.h"
#include "tools/nipfrm.h"

namespace ui = platform::ui;

namespace {

std::string RuleName(const TAccessPage& page) {
  std::string name = page.Resource.empty() ? page.Module : page.Resource;
  if (!page.Action.empty()) name += " (" + page.Action + ")";
  return name;
}

// Without the blanks and control characters at either end.
std::string Trimmed(const std::string& text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t b = 0, e = text.size();
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

}  // namespace

bool MoveSelectedItems(ui::ListBox& source, ui::ListBox& target) {
  if (source.ItemIndex() < 0) return false;
  bool moved = false;
  for (int i = 0; i < source.Count(); ++i) {
    if (!source.Selected(i)) continue;
    target.Add(source.Item(i));
    moved = true;
  }
  for (int i = source.Count() - 1; i >= 0; --i)
    if (target.IndexOf(source.Item(i)) >= 0) source.Delete(i);
  return moved;
}

void SetListItems(ui::ListBox& list, const TNameList& items) {
  list.Clear();
  for (const std::string& item : items) list.Add(item);
}

TAccessPage::TAccessPage(ui::Form& form, ui::Control& parent, bool& rule_changed, const TAccessPageNames& n,
                         int top)
    : changed_(rule_changed) {
  EnforceSecurity = new ui::CheckBox(&form, &parent, n.EnforceSecurity);
  EnforceSecurity->SetBounds(8, top + 8, 160, 17);
  EnforceSecurity->SetCaption(n.EnforceCaption);
  EnforceSecurity->SetChecked(true);

  // The notebook keeps its design height where the page has room for it
  // and is made shorter, with its lists, where controls above take room.
  const int height = std::min(232, parent.ClientHeight() - (top + 32) - 8);
  AccessNotebook = new ui::TabbedNotebook(&form, &parent, n.AccessNotebook);
  AccessNotebook->SetBounds(8, top + 32, 392, height);
  ui::Page* groups = AccessNotebook->AddPage("Groups");
  ui::Page* users = AccessNotebook->AddPage("Users");
  ui::Page* address = AccessNotebook->AddPage("IP Address");
  AccessNotebook->SetPageIndex(0);

  auto label = [&](ui::Control* on, const std::string& name, int left, int t, const char* caption) {
    auto* l = new ui::Label(&form, on, name);
    l->SetBounds(left, t, 140, 16);
    l->SetCaption(caption);
  };
  auto list = [&](ui::Control* on, const std::string& name, int left, int t, int w, int h, bool multi) {
    auto* l = new ui::ListBox(&form, on, name);
    l->SetBounds(left, t, w, h);
    l->SetSorted(true);
    l->SetMultiSelect(multi);
    return l;
  };
  auto button = [&](ui::Control* on, const std::string& name, int left, int t, const char* caption) {
    auto* b = new ui::Button(&form, on, name);
    b->SetBounds(left, t, 75, 25);
    b->SetCaption(caption);
    return b;
  };
  // The two name-list pages: available on the left, allowed on the right.
  auto pair = [&](ui::Page* page, const std::string& not_name, const std::string& allow_name,
                  const std::string& add_name, const std::string& remove_name, const char* available,
                  ui::ListBox*& not_list, ui::ListBox*& allow_list, ui::Button*& add, ui::Button*& remove) {
    label(page, not_name + "Label", 8, 4, available);
    not_list = list(page, not_name, 8, 22, 140, height - 62, true);
    add = button(page, add_name, 154, 60, "Add >>");
    remove = button(page, remove_name, 154, 100, "<< Remove");
    label(page, allow_name + "Label", 236, 4, "Allow Access To:");
    allow_list = list(page, allow_name, 236, 22, 140, height - 62, true);
  };
  pair(groups, n.NotGroupsList, n.AllowGroupsList, n.AddAccessGroup, n.RemoveAccessGroup, "Available Groups:",
       NotGroupsList, AllowGroupsList, AddAccessGroup, RemoveAccessGroup);
  pair(users, n.NotUsersList, n.AllowUsersList, n.AddAccessUser, n.RemoveAccessUser, "Available Users:",
       NotUsersList, AllowUsersList, AddAccessUser, RemoveAccessUser);

  auto radio = [&](const std::string& name, int t, const char* caption) {
    auto* r = new ui::RadioButton(&form, address, name);
    r->SetBounds(8, t, 170, 17);
    r->SetCaption(caption);
    return r;
  };
  IgnoreIP = radio(n.IgnoreIP, 8, "Ignore IP Addresses");
  AllowIP = radio(n.AllowIP, 36, "Allow Only These");
  label(address, n.AllowIP + "Label", 26, 54, "IP Addresses");
  DenyIP = radio(n.DenyIP, 80, "Deny These");
  label(address, n.DenyIP + "Label", 26, 98, "IP Addresses");
  IgnoreIP->SetChecked(true);
  AddIP = button(address, n.AddIP, 8, 130, "Add...");
  RemoveIP = button(address, n.RemoveIP, 92, 130, "Remove...");
  AccessIPList = list(address, n.AccessIPList, 190, 8, 186, height - 48, false);
  EnableAddressControls();

  auto move = [this](ui::Component& sender) { MultiMoveClick(sender); };
  for (ui::Button* b : {AddAccessGroup, RemoveAccessGroup, AddAccessUser, RemoveAccessUser}) b->OnClick = move;
  for (ui::ListBox* l : {NotGroupsList, AllowGroupsList, NotUsersList, AllowUsersList}) l->OnDblClick = move;
  for (ui::RadioButton* r : {IgnoreIP, AllowIP, DenyIP}) r->OnClick = [this](ui::Component& s) { IPClick(s); };
  AddIP->OnClick = [this](ui::Component& s) { AddIPClick(s); };
  RemoveIP->OnClick = [this](ui::Component& s) { RemoveIPClick(s); };
  EnforceSecurity->OnClick = [this](ui::Component& s) { EnforceSecurityClick(s); };
  AccessNotebook->OnChange = [this](ui::Component& s, int index, bool& allow) {
    AccessNotebookChange(s, index, allow);
  };
}

void TAccessPage::LoadRule() {
  TNameList ips, available, allowed, not_users, allow_users;
  std::string ip_action;
  bool enforce = true;
  bool users = !UsersFollowPage || AccessNotebook->PageIndex() == 1;
  try {
    LoadAccessRule(Module, Resource, Action, ips, ip_action, available, allowed, enforce);
    if (users) LoadUserLists(Module, Resource, Action, true, not_users, allow_users);
  } catch (const std::exception& e) {
    throw platform::DbError("The access rule for " + RuleName(*this) + " could not be read: " + e.what());
  }
  SetListItems(*AccessIPList, ips);
  SetListItems(*NotGroupsList, available);
  SetListItems(*AllowGroupsList, allowed);
  SetListItems(*NotUsersList, not_users);
  SetListItems(*AllowUsersList, allow_users);
  UserListsLoaded = users;
  EnforceSecurity->SetChecked(enforce);
  char letter = ip_action.empty() ? '\0' : ip_action[0];
  (letter == 'A' ? AllowIP : letter == 'D' ? DenyIP : IgnoreIP)->SetChecked(true);
  IPClick(*IgnoreIP);
  changed_ = false;
}

void TAccessPage::SaveRule() {
  std::string ip_action = AllowIP->Checked() ? "A" : DenyIP->Checked() ? "D" : "I";
  try {
    TAccessSave save;
    SaveAccessRule(Module, Resource, Action, AccessIPList->Texts(), ip_action, AllowGroupsList->Texts(),
                   EnforceSecurity->Checked());
    if (UserListsLoaded) SaveAccessUsers(Module, Resource, Action, AllowUsersList->Texts());
    save.Commit();
  } catch (const std::exception& e) {
    throw platform::DbError("The access rule for " + RuleName(*this) + " was not saved: " + e.what() +
                            ". The page keeps the changes; save them again.");
  }
  changed_ = false;
}

void TAccessPage::LoadUsers() {
  TNameList not_users, allow_users;
  try {
    LoadUserLists(Module, Resource, Action, true, not_users, allow_users);
  } catch (const std::exception& e) {
    throw platform::DbError("The users of the access rule for " + RuleName(*this) + " could not be read: " +
                            e.what());
  }
  SetListItems(*NotUsersList, not_users);
  SetListItems(*AllowUsersList, allow_users);
  UserListsLoaded = true;
}

void TAccessPage::MultiMoveClick(ui::Component& sender) {
  const std::string& name = sender.Name();
  auto is = [&](const ui::Component* a, const ui::Component* b) {
    return ui::SameText(name, a->Name()) || ui::SameText(name, b->Name());
  };
  bool moved = false;
  if (is(AddAccessGroup, NotGroupsList))
    moved = MoveSelectedItems(*NotGroupsList, *AllowGroupsList);
  else if (is(AddAccessUser, NotUsersList))
    moved = MoveSelectedItems(*NotUsersList, *AllowUsersList);
  else if (is(RemoveAccessGroup, AllowGroupsList))
    moved = MoveSelectedItems(*AllowGroupsList, *NotGroupsList);
  else if (is(RemoveAccessUser, AllowUsersList))
    moved = MoveSelectedItems(*AllowUsersList, *NotUsersList);
  if (moved) MarkChanged();
}

void TAccessPage::EnableAddressControls() {
  bool on = !IgnoreIP->Checked();
  for (ui::Control* c : {static_cast<ui::Control*>(AccessIPList), static_cast<ui::Control*>(AddIP),
                         static_cast<ui::Control*>(RemoveIP)})
    c->SetEnabled(on);
}

void TAccessPage::IPClick(ui::Component&) {
  EnableAddressControls();
  MarkChanged();
}

void TAccessPage::AddIPClick(ui::Component&) {
  if (!NewIPForm) return;
  NewIPForm->IPAddrEdit->SetText("");
  for (;;) {
    if (NewIPForm->ShowModal() != ui::mrOk) return;
    std::string text = Trimmed(NewIPForm->IPAddrEdit->Text());
    if (text.empty()) return;
    // A pattern the check reads otherwise than written is kept only on No.
    // Yes, the default (and a headless run's answer), opens the dialog
    // again with the text, to be mended.
    std::string question = IPPatternQuestion(text);
    if (question.empty() ||
        ui::MessageDlg(question, platform::MsgKind::Confirmation, platform::MsgButtons::YesNo) == ui::mrNo) {
      AccessIPList->Add(text);
      if (MarkIPListEdits) MarkChanged();
      return;
    }
  }
}

void TAccessPage::RemoveIPClick(ui::Component&) {
  int index = AccessIPList->ItemIndex();
  if (index < 0) return;
  if (ui::MessageDlg("Remove IP Address " + AccessIPList->Item(index), platform::MsgKind::Confirmation,
                     platform::MsgButtons::YesNo) != ui::mrYes)
    return;
  AccessIPList->Delete(index);
  if (MarkIPListEdits) MarkChanged();
}

void TAccessPage::EnforceSecurityClick(ui::Component&) { MarkChanged(); }

void TAccessPage::AccessNotebookChange(ui::Component&, int new_index, bool&) {
  if (UsersFollowPage && new_index == 1) LoadUsers();
}
