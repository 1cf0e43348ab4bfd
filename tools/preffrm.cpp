#include "tools/preffrm.h"

#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/ui/dialogs.h"
#include "tools/bbslibrary.h"
#include "tools/cmanfrm.h"

namespace ui = platform::ui;

TPrefForm* PrefForm = nullptr;

std::string AddBackslash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

void BrowseDirectoryInto(ui::Edit& edit) {
  std::string dir = edit.Text();
  if (ui::SelectDirectory(dir, {true, true, true})) edit.SetText(dir);
}

TPrefForm::TPrefForm(ui::Component* owner) : ui::Form(owner, "PrefForm") {
  SetCaption("Preferences");
  SetBorderStyle(ui::BorderStyle::Dialog);
  SetCloseBox(false);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetClientSize(352, 183);
  SetFont(ui::Font{"System", 10});

  Notebook = new ui::TabbedNotebook(this, this, "Notebook");
  Notebook->SetBounds(0, 0, 352, 145);
  ui::Page* general = Notebook->AddPage("General");
  ui::Page* uploads = Notebook->AddPage("Uploads");
  GroupBox1 = new ui::GroupBox(this, general, "GroupBox1");
  GroupBox1->SetBounds(4, 4, 332, 105);
  auto label = [&](ui::Control* parent, const char* name, int top, const char* caption) {
    auto* l = new ui::Label(this, parent, name);
    l->SetBounds(8, top, 260, 16);
    l->SetCaption(caption);
    return l;
  };
  // Paths keep their case: file names on this system are case-sensitive.
  auto path_edit = [&](const char* name, int top) {
    auto* e = new ui::Edit(this, GroupBox1, name);
    e->SetBounds(8, top, 289, 24);
    e->SetMaxLength(40);
    return e;
  };
  auto browse = [&](const char* name, int top) {
    auto* b = new ui::SpeedButton(this, GroupBox1, name);
    b->SetBounds(300, top, 23, 24);
    b->SetCaption("...");
    return b;
  };
  Label1 = label(GroupBox1, "Label1", 8, "Ortelune Home Directory");
  ConfigFile = path_edit("ConfigFile", 24);
  ConfigFileBrowse = browse("ConfigFileBrowse", 24);
  Label10 = label(GroupBox1, "Label10", 56, "Default Directory for Conferences");
  ConfDir = path_edit("ConfDir", 72);
  ConfDirBrowse = browse("ConfDirBrowse", 72);

  GroupBox2 = new ui::GroupBox(this, uploads, "GroupBox2");
  GroupBox2->SetBounds(4, 4, 332, 105);
  AllowUploads = new ui::CheckBox(this, GroupBox2, "AllowUploads");
  AllowUploads->SetBounds(8, 12, 150, 17);
  AllowUploads->SetCaption("Allow Uploads");
  Label2 = label(GroupBox2, "Label2", 40, "Default Directory for Uploads");
  UploadDirList = new ui::ComboBox(this, GroupBox2, "UploadDirList");
  UploadDirList->SetBounds(8, 56, 145, 24);

  OKButton = new ui::Button(this, this, "OKButton");
  OKButton->SetBounds(136, 150, 81, 27);
  OKButton->SetCaption("OK");
  OKButton->SetDefault(true);

  OnCreate = [this](ui::Component& s) { FormCreate(s); };
  OnShow = [this](ui::Component& s) { FormShow(s); };
  OKButton->OnClick = [this](ui::Component& s) { OKButtonClick(s); };
  AllowUploads->OnClick = [this](ui::Component& s) { AllowUploadsClick(s); };
  ConfigFileBrowse->OnClick = [this](ui::Component& s) { ConfigFileBrowseClick(s); };
  ConfDirBrowse->OnClick = [this](ui::Component& s) { ConfDirBrowseClick(s); };
  PrefForm = this;
}

TPrefForm::~TPrefForm() {
  if (PrefForm == this) PrefForm = nullptr;
}

void TPrefForm::FormCreate(ui::Component&) {
  Notebook->SetPageIndex(0);
  ConfigFile->SetText(ConfigIni->ReadString(settings::kQxbbs, cman::kConfigKey, ""));
#ifdef HALV_LIBMANAGER
  Label10->Hide();
  ConfDir->Hide();
  ConfDirBrowse->Hide();
  AllowUploads->SetChecked(ConfigIni->ReadBool(settings::kQxbbs, cman::kAllowUploads, false));
  AllowUploadsClick(*AllowUploads);
#else
  ConfDir->SetText(ConfigIni->ReadString(settings::kQxbbs, cman::kDefaultConfDir, ""));
  Notebook->DeletePage(1);
#endif
}

void TPrefForm::FormShow(ui::Component&) {
  Notebook->SetPageIndex(0);
#ifdef HALV_LIBMANAGER
  if (!BbsLoaded()) return;  // before the BBS is open the list keeps what it held
  BbsItems items;
  BbsFillList(kBbsDirectories, 1, items);
  UploadDirList->Clear();
  for (const auto& [text, item] : items) UploadDirList->Add(text);
  std::string chosen = ConfigIni->ReadString(settings::kQxbbs, cman::kDefaultUploadDir, "");
  UploadDirList->SetItemIndex(chosen.empty() ? 0 : UploadDirList->IndexOf(chosen));
#endif
}

void TPrefForm::OKButtonClick(ui::Component&) {
  ConfigIni->WriteString(settings::kQxbbs, cman::kConfigKey, AddBackslash(ConfigFile->Text()));
#ifdef HALV_LIBMANAGER
  ConfigIni->WriteBool(settings::kQxbbs, cman::kAllowUploads, AllowUploads->Checked());
  ConfigIni->WriteString(settings::kQxbbs, cman::kDefaultUploadDir, UploadDirList->Text());
#else
  ConfigIni->WriteString(settings::kQxbbs, cman::kDefaultConfDir, AddBackslash(ConfDir->Text()));
#endif
  SetModalResult(ui::mrOk);
}

void TPrefForm::AllowUploadsClick(ui::Component&) {
  UploadDirList->SetEnabled(AllowUploads->Checked());
  Label2->SetEnabled(AllowUploads->Checked());
}

void TPrefForm::ConfigFileBrowseClick(ui::Component&) { BrowseDirectoryInto(*ConfigFile); }

void TPrefForm::ConfDirBrowseClick(ui::Component&) { BrowseDirectoryInto(*ConfDir); }
