#include "tools/cmanfrm.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/stdlines.h"
#include "platform/ui/application.h"
#include "platform/ui/convert.h"
#include "tools/ncfrm.h"
#include "tools/progress.h"
#include "tools/preffrm.h"

namespace ui = platform::ui;

TMain* Main = nullptr;

namespace {

#ifdef HALV_LIBMANAGER
// A library's path as its header holds it: with one trailing "/" where that
// fits, an empty path as "/". A path longer than the field is refused, never
// stored cut.
std::string LibraryPath(std::string path) {
  constexpr size_t kMax = sizeof(TBbsDirectoryHeader::Path) - 1;
  if (path.size() > kMax)
    throw std::runtime_error("The path to the files is longer than " + std::to_string(kMax) + " characters: " + path);
  if ((path.empty() || path.back() != '/') && path.size() < kMax) path += '/';
  return path;
}
#else
// A count or a length of the subboard record: never negative, and at most
// what the field's signed type holds.
template <class Field>
Field RecordNumber(const ui::Edit& field, const char* what) {
  return static_cast<Field>(ui::StrToIntRange(field.Text(), 0, std::numeric_limits<Field>::max(), what, true));
}
#endif

}  // namespace

TMain::TMain(ui::Component* owner) : ui::Form(owner, "Main") {
  SetCaption("Conference Manager");
  SetPosition(ui::FormPosition::ScreenCenter);
  SetFont(ui::Font{"System", 10});

  MainMenu = new ui::MainMenu(this, "MainMenu");
  ui::MenuItem& top = MainMenu->Items();
  FileMenu = new ui::MenuItem(this, &top, "FileMenu", "&File");
  SaveAll = new ui::MenuItem(this, FileMenu, "SaveAll", "&Save All");
  N1 = new ui::MenuItem(this, FileMenu, "N1", "-");
  PrefMenu = new ui::MenuItem(this, FileMenu, "PrefMenu", "&Preferences");
  N2 = new ui::MenuItem(this, FileMenu, "N2", "-");
  Exit1 = new ui::MenuItem(this, FileMenu, "Exit1", "E&xit");
  ConferenceMenu = new ui::MenuItem(this, &top, "ConferenceMenu", "&Conference");
  NewConf = new ui::MenuItem(this, ConferenceMenu, "NewConf", "&New Conference...");
  DelConf = new ui::MenuItem(this, ConferenceMenu, "DelConf", "&Delete Conference...");
  N3 = new ui::MenuItem(this, ConferenceMenu, "N3", "-");
  RepConf = new ui::MenuItem(this, ConferenceMenu, "RepConf", "&Repair Conference");
  FindMenu = new ui::MenuItem(this, ConferenceMenu, "FindMenu", "&Find...");
  ViewMenu = new ui::MenuItem(this, &top, "ViewMenu", "View");
  BothNames = new ui::MenuItem(this, ViewMenu, "BothNames", "&Both Names");
  BothNames->SetChecked(true);
  ShortNames = new ui::MenuItem(this, ViewMenu, "ShortNames", "&Short Names");
  LongNames = new ui::MenuItem(this, ViewMenu, "LongNames", "&Long Names");
  SetMenu(MainMenu);
  SetBounds(0, 0, 641, 385);

  ConfList = new ui::ListBox(this, this, "ConfList");
  ConfList->SetFont(ui::Font{"Fixedsys", 9});
  ConfList->SetItemHeight(15);
  ConfList->SetBounds(0, 0, ClientWidth() - 416, ClientHeight());

  Notebook = new ui::TabbedNotebook(this, this, "Notebook");
  Notebook->SetBounds(ClientWidth() - 416, 0, 416, 329);
  ui::Page* general = Notebook->AddPage("General");
  ui::Page* security = Notebook->AddPage("Security");
  ui::Page* admin = Notebook->AddPage("Administrator");

  auto label = [&](ui::Control* parent, const char* name, int left, int top, const char* caption) {
    auto* l = new ui::Label(this, parent, name);
    l->SetBounds(left, top, 80, 16);
    l->SetCaption(caption);
    return l;
  };
  auto edit = [&](ui::Control* parent, const char* name, int left, int top, int width) {
    auto* e = new ui::Edit(this, parent, name);
    e->SetBounds(left, top, width, 24);
    return e;
  };
  auto check = [&](ui::Control* parent, const char* name, int left, int top, const char* caption) {
    auto* c = new ui::CheckBox(this, parent, name);
    c->SetBounds(left, top, 150, 17);
    c->SetCaption(caption);
    return c;
  };
  Label1 = label(general, "Label1", 8, 12, "Name");
  ConfName = edit(general, "ConfName", 96, 8, 121);
  ConfName->SetReadOnly(true);
  ConfName->SetColor(ui::clBtnFace);
  Label2 = label(general, "Label2", 8, 44, "Description");
  ConfDesc = edit(general, "ConfDesc", 96, 40, 297);
  Pages = new ui::Notebook(this, general, "Pages");
  Pages->SetBounds(8, 72, 393, 209);
  ui::Page* conf = Pages->AddPage("Conf");
  ui::Page* dir = Pages->AddPage("Dir");
  Label3 = label(conf, "Label3", 0, 8, "Maximum");
  Label4 = label(conf, "Label4", 0, 24, "Messages");
  MaxMsgs = edit(conf, "MaxMsgs", 88, 12, 89);
  Label5 = label(conf, "Label5", 0, 48, "Maximum");
  Label6 = label(conf, "Label6", 0, 64, "Length");
  MaxLength = edit(conf, "MaxLength", 88, 52, 89);
  AllowAnon = check(conf, "AllowAnon", 0, 96, "Allow Anonymous");
  AutoPurge = check(conf, "AutoPurge", 0, 120, "AutoPurge");
  Compress = check(conf, "Compress", 0, 144, "Compress");
  Label7 = label(dir, "Label7", 0, 8, "Path To Files");
  PathToFiles = edit(dir, "PathToFiles", 88, 4, 297);
  CopyBox = check(dir, "CopyBox", 0, 40, "CD-ROM");

  ActionGroup = new ui::RadioGroup(this, security, "ActionGroup");
  ActionGroup->SetBounds(8, 2, 392, 60);
  ActionGroup->SetColumns(3);
  ActionGroup->SetCaption("Action");
  ActionGroup->SetItems({"Read", "Write", "Moderate"});
  ActionGroup->SetItemIndex(0);
  SecurityPage = std::make_unique<TAccessPage>(*this, *security, RuleChanged, TAccessPageNames{}, 60);

  TAccessPageNames names;
  names.EnforceSecurity = "AllowAdmin";
  names.EnforceCaption = "Allow Administrator";
  names.AccessNotebook = "AdminNotebook";
  names.NotGroupsList = "NotAdminGroups";
  names.AllowGroupsList = "AdminGroups";
  names.AddAccessGroup = "AddAdminGroup";
  names.RemoveAccessGroup = "RemoveAdminGroup";
  names.NotUsersList = "NotAdminUsers";
  names.AllowUsersList = "AdminUsers";
  names.AddAccessUser = "AddAdminUser";
  names.RemoveAccessUser = "RemoveAdminUser";
  names.IgnoreIP = "IgnoreAdminIP";
  names.AllowIP = "AllowAdminIP";
  names.DenyIP = "DenyAdminIP";
  names.AddIP = "AddAdminIP";
  names.RemoveIP = "RemoveAdminIP";
  names.AccessIPList = "AdminIPList";
  AdminPage = std::make_unique<TAccessPage>(*this, *admin, RuleChanged, names);
  // Its user lists are always read and saved with the rule; its address
  // list's edits are saved with it but mark nothing.
  AdminPage->UsersFollowPage = false;
  AdminPage->MarkIPListEdits = false;
  AllowAdmin = AdminPage->EnforceSecurity;

  Find = new ui::FindDialog(this, "Find");
  Find->SetOptions(ui::frDown | ui::frHideMatchCase | ui::frHideWholeWord | ui::frHideUpDown);

  OnCreate = [this](ui::Component& s) { FormCreate(s); };
  OnShow = [this](ui::Component& s) { FormShow(s); };
  OnResize = [this](ui::Component& s) { FormResize(s); };
  OnDestroy = [this](ui::Component& s) { FormDestroy(s); };
  ConfList->OnClick = [this](ui::Component& s) { ConfListClick(&s); };
  for (ui::Edit* e : {ConfDesc, MaxMsgs, MaxLength, PathToFiles})
    e->OnChange = [this](ui::Component& s) { ConfChange(s); };
  for (ui::CheckBox* c : {AllowAnon, AutoPurge, Compress, CopyBox})
    c->OnClick = [this](ui::Component& s) { ConfChange(s); };
  ActionGroup->OnClick = [this](ui::Component& s) { ActionGroupClick(s); };
  Notebook->OnChange = [this](ui::Component& s, int page, bool& allow) { NotebookChange(s, page, allow); };
  SaveAll->OnClick = [this](ui::Component& s) { SaveAllClick(&s); };
  Exit1->OnClick = [this](ui::Component& s) { Exit1Click(s); };
  FindMenu->OnClick = [this](ui::Component& s) { FindMenuClick(s); };
  PrefMenu->OnClick = [this](ui::Component& s) { PrefMenuClick(s); };
  NewConf->OnClick = [this](ui::Component& s) { NewConfClick(s); };
  DelConf->OnClick = [this](ui::Component& s) { DelConfClick(s); };
  RepConf->OnClick = [this](ui::Component& s) { RepConfClick(s); };
  for (ui::MenuItem* m : {BothNames, ShortNames, LongNames})
    m->OnClick = [this](ui::Component& s) { BothNamesClick(s); };
  Find->OnFind = [this](ui::Component& s) { FindFind(s); };
  Main = this;
}

TMain::~TMain() {
  // The access-rule pages' handlers are bound to their controls: free the
  // controls while the pages live.
  FreeOwned();
  if (Main == this) Main = nullptr;
}

TConfItem* TMain::SelectedItem() const {
  int i = ConfList->ItemIndex();
  return i < 0 ? nullptr : ConfList->ObjectAs<TConfItem>(i);
}

void TMain::FormCreate(ui::Component&) {
  Module = cman::kModule;
  ListKind = cman::kListKind;
  Pages->SetPageIndex(cman::kGeneralPage);
#ifdef HALV_LIBMANAGER
  SetCaption(cman::kTitle);
  if (auto* app = ui::Application::Current()) app->SetTitle(cman::kTitle);
  ConferenceMenu->SetCaption("&Library");
  NewConf->SetCaption("&New Library...");
  DelConf->SetCaption("&Delete Library...");
  RepConf->SetCaption("&Repair Library");
#endif
  PropertiesChanged = false;
  RuleChanged = false;
  NotebookDesignWidth = Notebook->Width();
  NotebookDesignHeight = Notebook->Height();
  Notebook->SetPageIndex(0);
  AdminPage->AccessNotebook->SetPageIndex(0);
  SecurityPage->AccessNotebook->SetPageIndex(0);
  SecurityPage->Module = Module;
  AdminPage->Module = Module;
  AdminPage->Resource = cman::kAdminResource;
  AdminPage->Action.clear();
  Naming = 0;
  std::string data_dir =
      ConfigIni->ReadString(settings::kDirectories, settings::kDataDir, settings::tools::DataDir());
#ifdef HALV_LIBMANAGER
  OpenSecurityStore("", data_dir, "");
#else
  OpenSecurityStore("", data_dir);
#endif
}

void TMain::FormShow(ui::Component&) {
  GaveUp = false;
  bool last_open_failed = false;
  for (;;) {
    std::string path = ConfigIni->ReadString(settings::kQxbbs, cman::kConfigKey, "");
    if (path.empty() || last_open_failed) {
      if (AskForPath() != platform::IDOK) {
        GaveUp = true;
        break;
      }
      if (PrefForm) PrefForm->ShowModal();
      last_open_failed = false;
      path = ConfigIni->ReadString(settings::kQxbbs, cman::kConfigKey, "");
    }
    if (path.empty()) continue;
    if (BbsOpen(path)) {
      RefillConfList(true);
      ConfList->SetItemIndex(0);
      ConfListClick(nullptr);
      LoadAdminAccess();
      break;
    }
    last_open_failed = true;
  }
#ifdef HALV_LIBMANAGER
  if (ActionGroup->Items().size() == 3) {
    ActionGroup->DeleteItem(2);
    ActionGroup->SetHeight(ActionGroup->Height() - 25);
  }
#endif
  // The window closes once its showing is over, and the program ends.
  if (GaveUp) platform::PostMessage(Handle(), platform::WM_CLOSE, 0, 0);
}

int TMain::AskForPath() {
  if (!Headless) return ui::MessageDlg(cman::kPathPrompt, platform::MsgKind::Error, platform::MsgButtons::OkCancel);
  // Nobody could answer the prompt again and again: it is shown once and
  // taken as Cancel.
  auto previous = platform::SetMessageBoxHandler([](const platform::MessageBoxRequest& box) {
    platform::WriteLine(stderr, std::string("message box [") + platform::KindName(box.kind) + "] " + box.caption +
                                    ": " + box.text + " -> " + platform::ButtonName(platform::IDCANCEL));
    return platform::IDCANCEL;
  });
  int answer = ui::MessageDlg(cman::kPathPrompt, platform::MsgKind::Error, platform::MsgButtons::OkCancel);
  platform::SetMessageBoxHandler(std::move(previous));
  return answer;
}

void TMain::FormResize(ui::Component&) {
  if (NotebookDesignWidth == 0) return;  // before creation finished
  if (ClientHeight() < NotebookDesignHeight) SetClientHeight(NotebookDesignHeight);
  if (ClientWidth() < NotebookDesignWidth + 50) SetClientWidth(NotebookDesignWidth + 50);
  ConfList->SetBounds(0, 0, ClientWidth() - NotebookDesignWidth, ClientHeight());
  Notebook->SetBounds(ClientWidth() - NotebookDesignWidth, 0, NotebookDesignWidth, NotebookDesignHeight);
}

void TMain::FormDestroy(ui::Component&) {
  ui::Guarded([this] { SaveAllClick(nullptr); });
  if (AdminRuleLoaded) ui::Guarded([this] { SaveAdminAccess(); });
}

bool TMain::StoreOpen() { return SecurityStore::Instance().Open; }

void TMain::LoadConfAccess() {
  if (!StoreOpen()) return;
  SecurityPage->Module = Module;
  SecurityPage->Resource = Resource;
  SecurityPage->Action = Action;
  SecurityPage->LoadRule();
  UserListsLoaded = SecurityPage->UserListsLoaded;
  RuleChanged = false;
}

void TMain::SaveConfAccess() {
  if (!StoreOpen()) return;
  SecurityPage->SaveRule();
  RuleChanged = false;
}

void TMain::LoadAdminAccess() {
  if (!StoreOpen()) return;
  AdminPage->LoadRule();
  AdminRuleLoaded = true;
  RuleChanged = false;
}

void TMain::SaveAdminAccess() {
  if (!StoreOpen()) return;
  bool changed = RuleChanged;
  AdminPage->SaveRule();
  RuleChanged = changed;
}

void TMain::ConfListClick(ui::Component*) {
  try {
    SaveAllClick(nullptr);
  } catch (...) {
    // What could not be saved belongs to the entry and action shown: the
    // list and the action group go back to them before the error shows.
    SelectShownEntry();
    throw;
  }
  TConfItem* item = SelectedItem();
  if (!item) return;
  Resource = item->Name.str();
  switch (ActionGroup->ItemIndex()) {
    case 0:
      Action = "READ";
      break;
    case 1:
      Action = "WRITE";
      break;
    case 2:
      Action = "MODERATE";
      break;
    default:
      Action.clear();
  }
  LoadConfProperties();
  LoadConfAccess();
}

void TMain::SelectShownEntry() {
  static const char* const kActions[] = {"READ", "WRITE", "MODERATE"};
  int action = -1;
  for (int i = 0; i < 3; ++i)
    if (Action == kActions[i] && i < static_cast<int>(ActionGroup->Items().size())) action = i;
  // Setting the group clicks it; that click would load the action.
  ui::NotifyEvent on_click = std::move(ActionGroup->OnClick);
  ActionGroup->OnClick = nullptr;
  ActionGroup->SetItemIndex(action);
  ActionGroup->OnClick = std::move(on_click);
  int index = FindConfByName(Resource, 1);
  if (index >= 0) ConfList->SetItemIndex(index);
}

void TMain::LoadConfProperties() {
  TConfItem* item = SelectedItem();
  if (!item) return;
  Subboard = nullptr;
  Directory = nullptr;
  BbsOpenEntry(ListKind, item->ListNo, Entry, &Subboard, &Directory);
  std::string name = FieldText(Entry.Name);
  if (!RecordOpen() || !ui::SameText(name, item->Name.view())) {
    // Another program changed the BBS's list since it was filled.
    Subboard = nullptr;
    Directory = nullptr;
    ui::MessageDlg(std::string(cman::kEntryWord) + " " + item->Name.str() +
                       " is no longer where the list shows it; the list is read again from the BBS.",
                   platform::MsgKind::Error, platform::MsgButtons::Ok);
    RefillConfList(true);
    PropertiesChanged = false;
    return;
  }
  ConfName->SetText(name);
  ConfDesc->SetText(FieldText(Entry.Description));
#ifdef HALV_LIBMANAGER
  PathToFiles->SetText(FieldText(Directory->Path));
  CopyBox->SetChecked(Directory->CdRom != 0);
#else
  MaxMsgs->SetText(std::to_string(Subboard->MaxMessages));
  MaxLength->SetText(std::to_string(Subboard->MaxLength));
  AllowAnon->SetChecked(Subboard->AllowAnonymous != 0);
  AutoPurge->SetChecked(Subboard->AutoPurge != 0);
  Compress->SetChecked(Subboard->Compression != 0);
#endif
  PropertiesChanged = false;
}

void TMain::SaveConfProperties() {
  if (!RecordOpen()) {  // nothing is open to write into
    PropertiesChanged = false;
    return;
  }
#ifdef HALV_LIBMANAGER
  // A path the header cannot hold stops the save before anything is
  // written. File names are case-sensitive: the case is kept.
  std::string path = LibraryPath(PathToFiles->Text());
  SetFieldText(Directory->Description, ConfDesc->Text());
  SetFieldText(Directory->Path, path);
  Directory->CdRom = CopyBox->Checked() ? 1 : 0;
#else
  // A field without a number, or with one its record field cannot hold,
  // stops the save before anything is written; the fields keep their texts
  // to be put right.
  auto max_messages = RecordNumber<decltype(Subboard->MaxMessages)>(*MaxMsgs, "Maximum Messages");
  auto max_length = RecordNumber<decltype(Subboard->MaxLength)>(*MaxLength, "Maximum Length");
  SetFieldText(Subboard->Description, ConfDesc->Text());
  Subboard->MaxMessages = max_messages;
  Subboard->MaxLength = max_length;
  Subboard->AllowAnonymous = AllowAnon->Checked() ? 1 : 0;
  Subboard->AutoPurge = AutoPurge->Checked() ? 1 : 0;
  Subboard->Compression = Compress->Checked() ? 1 : 0;
#endif
  BbsSaveEntry(ListKind);
  PropertiesChanged = false;
}

void TMain::ConfChange(ui::Component&) { PropertiesChanged = true; }

void TMain::ActionGroupClick(ui::Component&) { ConfListClick(nullptr); }

void TMain::NotebookChange(ui::Component&, int new_page, bool&) { ConfList->SetEnabled(new_page != 2); }

void TMain::BothNamesClick(ui::Component& sender) {
  std::string name = ui::UpperCase(sender.Name());
  BothNames->SetChecked(name == "BOTHNAMES");
  ShortNames->SetChecked(name == "SHORTNAMES");
  LongNames->SetChecked(name == "LONGNAMES");
  RefillConfList(false);
  ConfList->SetItemIndex(0);
  ConfListClick(nullptr);
}

void TMain::RefillConfList(bool from_bbs) {
  if (from_bbs) {
    BbsItems items;
    BbsFillList(ListKind, Naming, items);
    ConfList->Clear();
    for (auto& [text, item] : items) ConfList->Add(text, item);
    return;
  }
  NamingMode mode = ShortNames->Checked() ? 1 : LongNames->Checked() ? 2 : 0;
  if (mode == Naming) return;
  Naming = mode;
  std::vector<std::pair<std::string, std::shared_ptr<void>>> copy;
  for (int i = 0; i < ConfList->Count(); ++i) {
    auto* item = ConfList->ObjectAs<TConfItem>(i);
    copy.emplace_back(item ? ConfItemText(*item, mode) : ConfList->Item(i), ConfList->Object(i));
  }
  std::stable_sort(copy.begin(), copy.end(),
                   [](const auto& a, const auto& b) { return ui::CompareText(a.first, b.first) < 0; });
  ConfList->Clear();
  for (auto& [text, object] : copy) ConfList->Add(text, object);
}

void TMain::FindMenuClick(ui::Component&) { Find->Execute(); }

void TMain::FindFind(ui::Component&) {
  std::string text = ui::UpperCase(Find->FindText());
  for (int i = ConfList->ItemIndex() + 1; i < ConfList->Count(); ++i) {
    if (ui::UpperCase(ConfList->Item(i)).find(text) != std::string::npos) {
      ConfList->SetItemIndex(i);
      ConfListClick(nullptr);
      return;
    }
  }
  ui::MessageDlg("Search string '" + Find->FindText() + "' not found.", platform::MsgKind::Information,
                 platform::MsgButtons::Ok);
  Find->CloseDialog();
}

void TMain::SaveAllClick(ui::Component* sender) {
  if (PropertiesChanged) SaveConfProperties();
  if (RuleChanged) SaveConfAccess();
  if (sender) SaveAdminAccess();
}

void TMain::Exit1Click(ui::Component&) {
  if (auto* app = ui::Application::Current()) app->Terminate();
}

int TMain::FindConfByName(const std::string& name, NamingMode mode) const {
  for (int i = 0; i < ConfList->Count(); ++i) {
    auto* item = ConfList->ObjectAs<TConfItem>(i);
    if (item && ui::SameText(ConfItemText(*item, mode), name)) return i;
  }
  return -1;
}

void TMain::PrefMenuClick(ui::Component&) {
  // Paths keep their case here (file names are case-sensitive), so the
  // stored path is compared as it stands.
  std::string old = ConfigIni->ReadString(settings::kQxbbs, cman::kConfigKey, "");
  bool changed = old.empty();
  PrefForm->ConfigFile->SetText(old);
  // Closed by its frame the dialog is cancelled: nothing changes.
  if (PrefForm->ShowModal() != ui::mrOk) return;
  changed = changed || old != PrefForm->ConfigFile->Text();
  if (changed) {
    std::string path = PrefForm->ConfigFile->Text();
    ConfigIni->WriteString(settings::kQxbbs, cman::kConfigKey, path);
    // What was edited belongs to the BBS being closed: it is stored now,
    // and nothing is written through that BBS's records afterwards.
    if (PropertiesChanged) SaveConfProperties();
    Subboard = nullptr;
    Directory = nullptr;
    BbsClose();
    BbsOpen(path);
    RefillConfList(true);
    ConfList->SetItemIndex(0);
    ConfListClick(nullptr);
  }
#ifndef HALV_LIBMANAGER
  ConfigIni->WriteString(settings::kQxbbs, cman::kDefaultConfDir, PrefForm->ConfDir->Text());
#endif
}

void TMain::NewConfClick(ui::Component&) {
  NewConfFrm->NewConfName->SetText("");
#ifdef HALV_LIBMANAGER
  NewConfFrm->NewConfPath->SetText("");
#else
  NewConfFrm->NewConfPath->SetText(ConfigIni->ReadString(settings::kQxbbs, cman::kDefaultConfDir, ""));
#endif
  for (;;) {
    int result = NewConfFrm->ShowModal();
    if (result == 2) return;
    if (result != 1) continue;
    std::string name = NewConfFrm->NewConfName->Text();
    if (name.empty() || FindConfByName(name, 1) >= 0) continue;
    std::string path = NewConfFrm->NewConfPath->Text();
#ifdef HALV_LIBMANAGER
    // A path the header cannot hold is reported, and the dialog comes back.
    if (!ui::Guarded([&] { path = LibraryPath(path); })) continue;
    TBbsDirectoryHeader record{};
    SetFieldText(record.Path, path);
    bool created = BbsAddDirectory(name, record, path);
#else
    TBbsSubboardRecord record{};
    record.MaxMessages = 1000;
    record.MaxLength = 400;
    record.AutoPurge = 1;
    record.Compression = 1;
    record.NewMark1 = 1;
    record.NewMark2 = 1;
    bool created = BbsAddSubboard(name, record, path);
#endif
    if (!created) continue;
    RefillConfList(true);
    ConfList->SetItemIndex(0);
    ConfListClick(nullptr);
    return;
  }
}

void TMain::DelConfClick(ui::Component&) {
  int index = ConfList->ItemIndex();
  TConfItem* item = SelectedItem();
  if (!item) return;
  std::string name = item->Name.str();
  if (ui::MessageDlg(std::string("Delete ") + cman::kEntryWord + " " + name + "?", platform::MsgKind::Information,
                     platform::MsgButtons::YesNo) != platform::IDYES)
    return;
  PropertiesChanged = false;
  Subboard = nullptr;
  Directory = nullptr;
  BbsDeleteEntry(ListKind, name);
  ConfList->Delete(index);
  index = std::min(index, ConfList->Count() - 1);
  RefillConfList(true);
  ConfList->SetItemIndex(index);
  ConfListClick(nullptr);
}

namespace {

// The progress window as a repair drives it.
class RepairProgress : public BbsProgressView {
 public:
  RepairProgress() { SetBbsProgressView(this); }
  ~RepairProgress() override { SetBbsProgressView(nullptr); }
  void Begin(int maximum) override {
    if (!ProgressForm) return;
    ProgressForm->Gauge->SetMaxValue(maximum);
    ProgressForm->Show();
  }
  void Step(int percent, const std::string& status) override {
    if (!ProgressForm) return;
    ProgressForm->SetCaption(status);
    ProgressForm->Gauge->SetProgress(percent);
  }
  void End() override {
    if (ProgressForm) ProgressForm->Hide();
  }
};

}  // namespace

void TMain::RepConfClick(ui::Component&) {
  if (!SelectedItem()) return;
  RepairProgress progress;
  if ((BbsRepair(ListKind) & 0xFF) == 0)
    ui::MessageDlg(std::string(cman::kEntryWord) + " is busy.", platform::MsgKind::Error, platform::MsgButtons::Ok);
}
