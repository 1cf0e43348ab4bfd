#include "console/settingsform.h"

#include <cerrno>
#include <stdexcept>

#include "console/includeform.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/ui/application.h"
#include "platform/ui/convert.h"

namespace ui = platform::ui;

TSettingsForm* SettingsForm = nullptr;

namespace {

template <class F>
void Bind(ui::NotifyEvent& event, TSettingsForm* form, F method) {
  event = [form, method](ui::Component& sender) { (form->*method)(sender); };
}

constexpr int kPageNetwork = 0;

// The pairs a grid holds, keys from column key_col, values from the other.
// A row without a key has nothing to save.
std::vector<std::pair<std::string, std::string>> GridPairs(const ui::StringGrid& grid, int key_col) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int r = 1; r < grid.RowCount(); ++r) {
    const std::string& key = grid.Cell(key_col, r);
    if (!key.empty()) pairs.emplace_back(key, grid.Cell(1 - key_col, r));
  }
  return pairs;
}

}  // namespace

// ---------------------------------------------------------------------------

void TEntryList::Add(const std::string& text) {
  auto it = texts_.begin();
  while (it != texts_.end() && ui::CompareText(*it, text) < 0) ++it;
  if (it != texts_.end() && ui::SameText(*it, text)) return;
  texts_.insert(it, text);
}

void TEntryList::Delete(int index) {
  if (index >= 0 && index < Count()) texts_.erase(texts_.begin() + index);
}

// ---------------------------------------------------------------------------

// What differs between the three lists.
struct TSettingsForm::EntryKind {
  TEntryList* list;
  ui::StringGrid* grid;
  const char* first_label;
  const char* second_label;
  const char* add_caption;
  const char* edit_caption;
  const char* question;  // before the key of the row
  bool mime;             // the type form; entries are type=extension
};

TSettingsForm::EntryKind TSettingsForm::Kind(int which) {
  switch (which) {
    case 0: return {&Includes, IncludeList, "Token", "Include File", "Add Include", "Edit Include", "Delete ", false};
    case 1: return {&Aliases, AliasList, "Alias", "Directory", "Add Alias", "Edit Alias", "Delete ", false};
    default:
      return {&MimeTypes, MimeList,         "File Extension", "MIME Type", "Add Mime Type", "Edit Mime Type",
              "Delete Mime Type for extension ", true};
  }
}

TSettingsForm::TSettingsForm(ui::Component* owner) : ui::Form(owner, "SettingsForm") {
  SetCaption("Settings");
  SetBorderStyle(ui::BorderStyle::Dialog);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetFont(ui::Font{"MS Sans Serif", 8, ui::clWindowText, true});
  SetClientSize(418, 294);

  Notebook = new ui::TabbedNotebook(this, this, "Notebook");
  Notebook->SetAlign(ui::Align::Client);
  for (const char* page : {"Network", "Directories", "Includes", "Aliases", "Mime Types", "Log"})
    Notebook->AddPage(page);
  Button1 = new ui::Button(this, this, "Button1");
  Button1->SetBounds(326, 258, 75, 25);
  Button1->SetCaption("OK");

  auto label = [&](ui::Control* page, int left, int top, const char* caption) {
    auto* l = new ui::Label(this, page);
    l->SetBounds(left, top, 90, 16);
    l->SetCaption(caption);
  };
  auto button = [&](ui::Control* page, const char* name, int left, int top, const char* caption) {
    auto* b = new ui::Button(this, page, name);
    b->SetBounds(left, top, 75, 25);
    b->SetCaption(caption);
    return b;
  };
  auto check = [&](ui::Control* page, const char* name, int top, const char* caption) {
    auto* c = new ui::CheckBox(this, page, name);
    c->SetBounds(16, top, 200, 17);
    c->SetCaption(caption);
    return c;
  };

  ui::Page* network = Notebook->GetPage(0);
  label(network, 16, 16, "IP Address");
  AddressEdit = new ui::Edit(this, network, "AddressEdit");
  AddressEdit->SetBounds(112, 12, 150, 24);
  label(network, 16, 48, "Port");
  PortEdit = new ui::Edit(this, network, "PortEdit");
  PortEdit->SetBounds(112, 44, 80, 24);
  label(network, 16, 80, "Max Sockets");
  SocketsEdit = new ui::SpinEdit(this, network, "SocketsEdit");
  SocketsEdit->SetBounds(112, 76, 80, 24);
  SocketsEdit->SetMinValue(1);
  SocketsEdit->SetMaxValue(255);
  label(network, 16, 112, "Backlog");
  BacklogEdit = new ui::SpinEdit(this, network, "BacklogEdit");
  BacklogEdit->SetBounds(112, 108, 80, 24);
  BacklogEdit->SetMinValue(5);
  BacklogEdit->SetMaxValue(32767);
  IgnoreClose = check(network, "IgnoreClose", 144, "Ignore Close");
  IgnoreClose->SetVisible(false);

  ui::Page* dirs = Notebook->GetPage(1);
  ui::Edit** fields[] = {&HomeDir, &TempDir, &MapsDir, &LogsDir};
  ui::SpeedButton** browsers[] = {&Browse1, &Browse2, &Browse3, &Browse4};
  const char* names[] = {"HomeDir", "TempDir", "MapsDir", "LogsDir"};
  const char* captions[] = {"Home", "Temp", "Maps", "Logs"};
  for (int i = 0; i < 4; ++i) {
    int top = 12 + 32 * i;
    label(dirs, 16, top + 4, captions[i]);
    *fields[i] = new ui::Edit(this, dirs, names[i]);
    (*fields[i])->SetBounds(80, top, 280, 24);
    *browsers[i] = new ui::SpeedButton(this, dirs, "Browse" + std::to_string(i + 1));
    (*browsers[i])->SetBounds(364, top, 25, 24);
    (*browsers[i])->SetCaption("...");
  }
  DefaultDocCheckbox = check(dirs, "DefaultDocCheckbox", 144, "Send Default Document");
  DefaultDoc = new ui::Edit(this, dirs, "DefaultDoc");
  DefaultDoc->SetBounds(16, 168, 280, 24);
  BrowseDefaultDoc = button(dirs, "BrowseDefaultDoc", 302, 168, "Browse...");
  OpenDialog1 = new ui::OpenDialog(this, "OpenDialog1");
  OpenDialog1->SetTitle("Browse");
  OpenDialog1->SetFilter("HTML Documents|*.htm;*.html|Images|*.gif;*.jpg|All Documents|*.*");

  struct GridPage {
    int page;
    ui::StringGrid** grid;
    ui::Button** edit;
    ui::Button** add;
    ui::Button** del;
    const char* prefix;
  } grids[] = {{2, &IncludeList, &IncludeEdit, &IncludeAdd, &IncludeDelete, "Include"},
               {3, &AliasList, &AliasEdit, &AliasAdd, &AliasDelete, "Alias"},
               {4, &MimeList, &MimeEdit, &MimeAdd, &MimeDelete, "Mime"}};
  for (const GridPage& g : grids) {
    ui::Page* page = Notebook->GetPage(g.page);
    std::string prefix = g.prefix;
    *g.grid = new ui::StringGrid(this, page, prefix + "List");
    (*g.grid)->SetBounds(8, 8, 300, 220);
    (*g.grid)->SetColCount(2);
    (*g.grid)->SetRowCount(1);
    (*g.grid)->SetFixedCols(0);
    (*g.grid)->SetOptions(ui::goFixedVertLine | ui::goFixedHorzLine | ui::goVertLine | ui::goHorzLine |
                          ui::goRowSelect | ui::goColSizing);
    (*g.grid)->SetColWidth(0, 120);
    *g.edit = button(page, (prefix + "Edit").c_str(), 318, 8, "&Edit ...");
    *g.add = button(page, (prefix + "Add").c_str(), 318, 40, "&Add ...");
    *g.del = button(page, (prefix + "Delete").c_str(), 318, 72, "&Delete");
  }

  ui::Page* log = Notebook->GetPage(5);
  DoAccess = check(log, "DoAccess", 16, "Access Log");
  DoReferer = check(log, "DoReferer", 40, "Referer Log");
  DoBrowser = check(log, "DoBrowser", 64, "Browser Log");
  DoScreen = check(log, "DoScreen", 88, "On-Screen Log");

  // The handlers, once the design values stand.
  Bind(OnCreate, this, &TSettingsForm::FormCreate);
  Bind(OnShow, this, &TSettingsForm::FormShow);
  Bind(OnHide, this, &TSettingsForm::FormHide);
  OnClose = [this](ui::Component& sender, ui::CloseAction& action) { FormClose(sender, action); };
  Bind(OnDestroy, this, &TSettingsForm::FormDestroy);
  Bind(IncludeAdd->OnClick, this, &TSettingsForm::IncludeAddClick);
  Bind(IncludeEdit->OnClick, this, &TSettingsForm::IncludeEditClick);
  Bind(IncludeDelete->OnClick, this, &TSettingsForm::IncludeDeleteClick);
  Bind(IncludeList->OnDblClick, this, &TSettingsForm::IncludeListDblClick);
  Bind(AliasAdd->OnClick, this, &TSettingsForm::AliasAddClick);
  Bind(AliasEdit->OnClick, this, &TSettingsForm::AliasEditClick);
  Bind(AliasDelete->OnClick, this, &TSettingsForm::AliasDeleteClick);
  Bind(AliasList->OnDblClick, this, &TSettingsForm::AliasListDblClick);
  Bind(MimeAdd->OnClick, this, &TSettingsForm::MimeAddClick);
  Bind(MimeEdit->OnClick, this, &TSettingsForm::MimeEditClick);
  Bind(MimeDelete->OnClick, this, &TSettingsForm::MimeDeleteClick);
  Bind(MimeList->OnDblClick, this, &TSettingsForm::MimeListDblClick);
  for (ui::SpeedButton* b : {Browse1, Browse2, Browse3, Browse4}) Bind(b->OnClick, this, &TSettingsForm::Browse1Click);
  Bind(BrowseDefaultDoc->OnClick, this, &TSettingsForm::Browse2Click);
  Bind(Button1->OnClick, this, &TSettingsForm::OKButtonClick);
  Bind(DefaultDocCheckbox->OnClick, this, &TSettingsForm::DefaultDocCheckboxClick);
}

TSettingsForm::~TSettingsForm() {
  if (SettingsForm == this) SettingsForm = nullptr;
}

// ---------------------------------------------------------------------------
// Creation, showing, hiding

void TSettingsForm::FormCreate(ui::Component&) {
  Includes.Clear();
  Aliases.Clear();
  MimeTypes.Clear();
  const char* titles[][2] = {{"Token", "Replace"}, {"Alias", "Replace"}, {"Mime Type", "Extension"}};
  ui::StringGrid* all[] = {IncludeList, AliasList, MimeList};
  for (int i = 0; i < 3; ++i) {
    ui::StringGrid* g = all[i];
    g->SetColWidth(1, g->ClientWidth() - g->ColWidth(0) - 2 * g->GridLineWidth());
    g->SetCell(0, 0, titles[i][0]);
    g->SetCell(1, 0, titles[i][1]);
  }
  Notebook->SetPageIndex(kPageNetwork);
}

void TSettingsForm::FormShow(ui::Component&) {
  namespace d = settings::dialog;
  using settings::kDirectories, settings::kNetwork, settings::kLog;
  AddressEdit->SetText(ConfigIni->ReadString(kNetwork, settings::kAddress, d::kAddress));
  PortEdit->SetText(std::to_string(ConfigIni->ReadInteger(kNetwork, settings::kPort, d::kPort)));
  SocketsEdit->SetValue(ConfigIni->ReadInteger(kNetwork, settings::kMaxSockets, d::kMaxSockets));
  BacklogEdit->SetValue(ConfigIni->ReadInteger(kNetwork, settings::kBacklog, d::kBacklog));
  IgnoreClose->SetChecked(ConfigIni->ReadBool(kNetwork, settings::kIgnoreClose, d::kIgnoreClose));

  HomeDir->SetText(ConfigIni->ReadString(kDirectories, settings::kHomeDir, d::HomeDir()));
  TempDir->SetText(ConfigIni->ReadString(kDirectories, settings::kTempDir, d::TempDir()));
  MapsDir->SetText(ConfigIni->ReadString(kDirectories, settings::kMapsDir, d::MapsDir()));
  LogsDir->SetText(ConfigIni->ReadString(kDirectories, settings::kLogsDir, d::LogsDir()));
  DefaultDocCheckbox->SetChecked(ConfigIni->ReadBool(kDirectories, settings::kUseDefaultDoc, d::kUseDefaultDoc));
  DefaultDoc->SetText(ConfigIni->ReadString(kDirectories, settings::kDefaultDoc, d::kDefaultDoc));
  DefaultDocCheckboxClick(*DefaultDocCheckbox);

  DoAccess->SetChecked(ConfigIni->ReadBool(kLog, settings::kDoAccess, d::kDoAccess));
  DoReferer->SetChecked(ConfigIni->ReadBool(kLog, settings::kDoReferer, d::kDoReferer));
  DoBrowser->SetChecked(ConfigIni->ReadBool(kLog, settings::kDoBrowser, d::kDoBrowser));
  DoScreen->SetChecked(ConfigIni->ReadBool(kLog, settings::kLocal, d::kLocal));

  for (const auto& [name, value] : ConfigIni->ReadSectionValues(settings::kIncludes)) Includes.Add(name + "=" + value);
  for (const auto& [name, value] : ConfigIni->ReadSectionValues(settings::kAliases)) Aliases.Add(name + "=" + value);
  for (const auto& [ext, type] : MimeIni->ReadSectionValues(settings::kMimeTypes)) MimeTypes.Add(type + "=" + ext);

  if (IncludeForm) {
    ui::ComboBox* box = IncludeForm->MimeBox;
    box->Clear();
    for (const auto& [type, flag] : MimeIni->ReadSectionValues(settings::kDefaultTypes))
      if (flag[0] == '1' && box->IndexOf(type) < 0) box->Add(type);
  }

  FillIncludeGrid();
  FillAliasGrid();
  FillMimeGrid();
}

ui::Edit* TSettingsForm::BadNumberField() const {
  for (ui::Edit* field : std::initializer_list<ui::Edit*>{PortEdit, SocketsEdit, BacklogEdit}) {
    int32_t value = 0;
    if (!ui::ReadInt32(field->Text(), value)) return field;
  }
  return nullptr;
}

void TSettingsForm::FormClose(ui::Component&, ui::CloseAction& action) {
  ui::Edit* bad = BadNumberField();
  if (!bad) return;
  action = ui::CloseAction::None;
  for (int i = 0; i < Notebook->PageCount(); ++i)
    if (bad->Parent() == Notebook->GetPage(i)) Notebook->SetPageIndex(i);
  if (bad->CanFocus()) bad->SetFocus();
  ui::Guarded([bad] { ui::StrToInt(bad->Text()); });  // the message of the bad number
}

void TSettingsForm::FormHide(ui::Component&) {
  // Only a hiding that no close asked for (the program ending) comes here
  // with a bad number: it is reported, and nothing is written.
  if (ui::Edit* bad = BadNumberField()) ui::StrToInt(bad->Text());
  for (ui::Edit* dir : {HomeDir, TempDir, MapsDir, LogsDir}) {
    const std::string& text = dir->Text();
    if (!text.empty() && text.back() != '/' && text.back() != '\\') dir->SetText(text + "/");
  }
  using settings::kDirectories, settings::kNetwork, settings::kLog;
  ConfigIni->WriteString(kNetwork, settings::kAddress, AddressEdit->Text());
  ConfigIni->WriteInteger(kNetwork, settings::kPort, ui::StrToInt(PortEdit->Text()));
  ConfigIni->WriteInteger(kNetwork, settings::kMaxSockets, ui::StrToInt(SocketsEdit->Text()));
  ConfigIni->WriteInteger(kNetwork, settings::kBacklog, ui::StrToInt(BacklogEdit->Text()));
  ConfigIni->WriteBool(kNetwork, settings::kIgnoreClose, IgnoreClose->Checked());

  ConfigIni->WriteString(kDirectories, settings::kHomeDir, HomeDir->Text());
  ConfigIni->WriteString(kDirectories, settings::kTempDir, TempDir->Text());
  ConfigIni->WriteString(kDirectories, settings::kMapsDir, MapsDir->Text());
  ConfigIni->WriteString(kDirectories, settings::kLogsDir, LogsDir->Text());
  ConfigIni->WriteBool(kDirectories, settings::kUseDefaultDoc, DefaultDocCheckbox->Checked());
  ConfigIni->WriteString(kDirectories, settings::kDefaultDoc, DefaultDoc->Text());

  ConfigIni->WriteBool(kLog, settings::kDoAccess, DoAccess->Checked());
  ConfigIni->WriteBool(kLog, settings::kDoReferer, DoReferer->Checked());
  ConfigIni->WriteBool(kLog, settings::kDoBrowser, DoBrowser->Checked());
  ConfigIni->WriteBool(kLog, settings::kLocal, DoScreen->Checked());

  ConfigIni->ReplaceSection(settings::kIncludes, GridPairs(*IncludeList, 0));
  ConfigIni->ReplaceSection(settings::kAliases, GridPairs(*AliasList, 0));
  MimeIni->ReplaceSection(settings::kMimeTypes, GridPairs(*MimeList, 1));
}

void TSettingsForm::FormDestroy(ui::Component&) {
  Includes.Clear();
  Aliases.Clear();
  MimeTypes.Clear();
}

void TSettingsForm::OKButtonClick(ui::Component&) { Close(); }

void TSettingsForm::DefaultDocCheckboxClick(ui::Component&) {
  DefaultDoc->SetEnabled(DefaultDocCheckbox->Checked());
  BrowseDefaultDoc->SetEnabled(DefaultDocCheckbox->Checked());
}

// ---------------------------------------------------------------------------
// Browsing

void TSettingsForm::Browse1Click(ui::Component& sender) {
  std::string name = ui::UpperCase(sender.Name());
  ui::Edit* field = name == "BROWSE1"   ? HomeDir
                    : name == "BROWSE2" ? TempDir
                    : name == "BROWSE3" ? MapsDir
                    : name == "BROWSE4" ? LogsDir
                                        : nullptr;
  if (!field) return;
  std::string saved = platform::GetCurrentDir();
  std::string dir = field->Text();
  bool chosen = ui::SelectDirectory(dir, {.allow_create = true, .perform_create = true, .prompt = true});
  if (chosen) field->SetText(dir);
  if (!platform::SetCurrentDir(saved)) throw std::runtime_error("I/O error " + std::to_string(errno));
}

void TSettingsForm::Browse2Click(ui::Component&) {
  OpenDialog1->SetInitialDir(HomeDir->Text());
  if (OpenDialog1->Execute()) DefaultDoc->SetText(OpenDialog1->FileName());
}

// ---------------------------------------------------------------------------
// The entry lists

void TSettingsForm::FillGrid(const EntryKind& kind) {
  const std::vector<std::string>& texts = kind.list->Texts();
  ui::StringGrid* grid = kind.grid;
  grid->SetRowCount(static_cast<int>(texts.size()) + 1);
  grid->SetFixedRows(1);
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string text = texts[i].substr(0, kEntryTextMax);
    size_t eq = text.find('=');
    int row = static_cast<int>(i) + 1;
    grid->SetCell(0, row, text.substr(0, eq));
    grid->SetCell(1, row, eq == std::string::npos ? std::string() : text.substr(eq + 1));
  }
}

void TSettingsForm::FillIncludeGrid() { FillGrid(Kind(0)); }
void TSettingsForm::FillAliasGrid() { FillGrid(Kind(1)); }
void TSettingsForm::FillMimeGrid() { FillGrid(Kind(2)); }

// Shows the entry dialog, set up by the caller, in the form the list needs,
// and gives it back in its text form. The entry's text when it returned OK
// with both fields filled; empty otherwise.
std::string TSettingsForm::AskEntry(const EntryKind& kind, const std::string& caption) {
  TIncludeForm* dialog = IncludeForm;
  dialog->Label1->SetCaption(kind.first_label);
  dialog->Label2->SetCaption(kind.second_label);
  dialog->SetCaption(caption);
  int result;
  try {
    result = dialog->ShowModal();
  } catch (...) {
    dialog->SetTypeForm(false);
    throw;
  }
  dialog->SetTypeForm(false);
  std::string first = dialog->TokenEdit->Text();
  std::string second = kind.mime ? dialog->MimeBox->Text() : dialog->ReplaceEdit->Text();
  if (result != ui::mrOk || first.empty() || second.empty()) return {};
  return kind.mime ? second + "=" + first : first + "=" + second;
}

void TSettingsForm::AddEntry(const EntryKind& kind) {
  TIncludeForm* dialog = IncludeForm;
  if (!dialog) return;
  dialog->TokenEdit->SetText("");
  dialog->ReplaceEdit->SetText("");
  if (kind.mime) {
    dialog->SetTypeForm(true);
    dialog->MimeBox->SetItemIndex(0);
  }
  std::string text = AskEntry(kind, kind.add_caption);
  if (text.empty()) return;
  kind.list->Add(text);
  FillGrid(kind);
}

void TSettingsForm::EditEntry(const EntryKind& kind) {
  TIncludeForm* dialog = IncludeForm;
  if (!dialog || kind.list->Count() == 0) return;
  int r = kind.grid->Row();
  if (kind.mime) {
    dialog->TokenEdit->SetText(kind.grid->Cell(1, r));
    dialog->SetTypeForm(true);
    dialog->MimeBox->SetItemIndex(dialog->MimeBox->IndexOf(kind.grid->Cell(0, r)));
  } else {
    dialog->TokenEdit->SetText(kind.grid->Cell(0, r));
    dialog->ReplaceEdit->SetText(kind.grid->Cell(1, r));
  }
  std::string text = AskEntry(kind, kind.edit_caption);
  if (text.empty()) return;
  kind.list->Delete(r - 1);
  kind.list->Add(text);
  FillGrid(kind);
}

void TSettingsForm::DeleteEntry(const EntryKind& kind) {
  if (kind.list->Count() == 0) return;
  int r = kind.grid->Row();
  std::string key = kind.grid->Cell(kind.mime ? 1 : 0, r);
  if (ui::MessageDlg(kind.question + key + "?", platform::MsgKind::Confirmation, platform::MsgButtons::YesNo) !=
      platform::IDYES)
    return;
  kind.list->Delete(r - 1);
  FillGrid(kind);
}

void TSettingsForm::IncludeAddClick(ui::Component&) { AddEntry(Kind(0)); }
void TSettingsForm::IncludeEditClick(ui::Component&) { EditEntry(Kind(0)); }
void TSettingsForm::IncludeDeleteClick(ui::Component&) { DeleteEntry(Kind(0)); }
void TSettingsForm::IncludeListDblClick(ui::Component& sender) { IncludeEditClick(sender); }
void TSettingsForm::AliasAddClick(ui::Component&) { AddEntry(Kind(1)); }
void TSettingsForm::AliasEditClick(ui::Component&) { EditEntry(Kind(1)); }
void TSettingsForm::AliasDeleteClick(ui::Component&) { DeleteEntry(Kind(1)); }
void TSettingsForm::AliasListDblClick(ui::Component& sender) { AliasEditClick(sender); }
void TSettingsForm::MimeAddClick(ui::Component&) { AddEntry(Kind(2)); }
void TSettingsForm::MimeEditClick(ui::Component&) { EditEntry(Kind(2)); }
void TSettingsForm::MimeDeleteClick(ui::Component&) { DeleteEntry(Kind(2)); }
void TSettingsForm::MimeListDblClick(ui::Component& sender) { MimeEditClick(sender); }
