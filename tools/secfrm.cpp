#include "tools/secfrm.h"

#include <exception>

#include "foundation/securitystore.h"
#include "foundation/security.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/dbtables.h"
#include "platform/files.h"
#include "platform/ui/application.h"
#include "platform/ui/dialogs.h"

namespace ui = platform::ui;

TMain* Main = nullptr;

namespace {

constexpr char kModule[] = "SERVER";
constexpr char kAction[] = "GET";
constexpr char kDefaultHomeDir[] = "/";

template <class F>
void Bind(ui::NotifyEvent& event, TMain* form, F method) {
  event = [form, method](ui::Component& sender) { (form->*method)(sender); };
}

}  // namespace

std::string DirectoryResource(const std::string& directory) {
  std::string resource = directory;
  UpcaseShortString(resource);
  while (resource.size() > 1 && resource.back() == '/') resource.pop_back();
  if (resource != "/") resource += '/';
  return resource;
}

TMain::TMain(ui::Component* owner) : ui::Form(owner, "Main") {
  SetCaption("Security Manager");
  SetBounds(0, 0, 641, 348);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetFont(ui::Font{"System", 10});

  DriveBox = new ui::DriveBox(this, this, "DriveBox");
  DriveBox->SetBounds(0, 0, 225, 22);
  DirOutline = new ui::DirectoryTree(this, this, "DirOutline");
  DirOutline->SetBounds(0, 25, 225, 260);
  Notebook = new ui::TabbedNotebook(this, this, "Notebook");
  Notebook->SetBounds(225, 0, 416, 301);
  ui::Page* security = Notebook->AddPage("Security");
  Notebook->SetPageIndex(0);
  Access = std::make_unique<TAccessPage>(*this, *security, RuleChanged);

  MainMenu1 = new ui::MainMenu(this, "MainMenu1");
  File1 = new ui::MenuItem(this, &MainMenu1->Items(), "File1", "&File");
  SaveAll = new ui::MenuItem(this, File1, "SaveAll", "Save All");
  N1 = new ui::MenuItem(this, File1, "N1", "-");
  Exit1 = new ui::MenuItem(this, File1, "Exit1", "E&xit");
  SetMenu(MainMenu1);

  Bind(OnCreate, this, &TMain::FormCreate);
  Bind(OnDestroy, this, &TMain::FormDestroy);
  Bind(OnResize, this, &TMain::FormResize);
  OnClose = [this](ui::Component& sender, ui::CloseAction& action) { FormClose(sender, action); };
  Bind(DirOutline->OnChange, this, &TMain::DirOutlineChange);
  Bind(DriveBox->OnChange, this, &TMain::DriveBoxChange);
  Bind(SaveAll->OnClick, this, &TMain::SaveAllClick);
  Bind(Exit1->OnClick, this, &TMain::Exit1Click);
}

TMain::~TMain() {
  // The page's handlers are bound to its controls: free them while it lives.
  FreeOwned();
  if (Main == this) Main = nullptr;
}

void TMain::FormCreate(ui::Component&) {
  Access->Module = kModule;
  design_width_ = Notebook->Width();
  design_height_ = Notebook->Height();
  Notebook->SetPageIndex(0);
  Access->AccessNotebook->SetPageIndex(0);

  std::string data = ConfigIni->ReadString(settings::kDirectories, settings::kDataDir, ProgramDir() + "Data/");
  try {
    OpenSecurityStore("", data);
  } catch (const std::exception& e) {
    // Nothing can be read or saved: the page stays off and no directory
    // loads a rule.
    Access->Module.clear();
    Notebook->SetEnabled(false);
    throw platform::DbError(std::string("The security tables could not be opened: ") + e.what());
  }

  std::string home =
      platform::NormalizePath(ConfigIni->ReadString(settings::kDirectories, settings::kHomeDir, kDefaultHomeDir));
  try {
    DirOutline->SetDirectory(home);
  } catch (const std::exception& e) {
    // The tree stays where it started; the page shows that directory's rule.
    DirOutlineChange(*DirOutline);
    throw platform::DbError("The home directory " + home + " cannot be shown: " + e.what());
  }
}

void TMain::FormDestroy(ui::Component& sender) {
  // The close has saved or given up what was changed; a window freed
  // without a close (the program ends otherwise) saves here.
  ui::Guarded([&] { SaveAllClick(sender); });
}

void TMain::FormClose(ui::Component& sender, ui::CloseAction& action) {
  if (!RuleChanged) return;
  std::string error;
  try {
    SaveAllClick(sender);
    return;
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (ui::MessageDlg(error + "\n\nClose without saving?", platform::MsgKind::Warning, platform::MsgButtons::YesNo) ==
      ui::mrYes)
    RuleChanged = false;
  else
    action = ui::CloseAction::None;
}

void TMain::FormResize(ui::Component&) {
  if (design_width_ == 0) return;  // before FormCreate
  if (ClientHeight() < design_height_) SetClientHeight(design_height_);
  if (ClientWidth() < design_width_ + 50) SetClientWidth(design_width_ + 50);
  int left_width = ClientWidth() - Notebook->Width();
  DriveBox->SetBounds(0, 0, left_width, DriveBox->Height());
  DirOutline->SetBounds(0, 25, left_width, ClientHeight() - 27);
  Notebook->SetBounds(ClientWidth() - Notebook->Width(), 0, design_width_, design_height_);
}

void TMain::ShowRuleDirectory() {
  if (rule_directory_.empty() || DirOutline->Directory() == rule_directory_) return;
  quiet_ = true;
  try {
    DirOutline->SetDirectory(rule_directory_);
  } catch (const std::exception&) {
    // Gone from disk: the tree stays; the page still names its rule.
  }
  quiet_ = false;
}

void TMain::DirOutlineChange(ui::Component&) {
  if (Access->Module.empty() || quiet_) return;
  if (RuleChanged) {
    try {
      Access->SaveRule();
    } catch (...) {
      ShowRuleDirectory();
      throw;
    }
  }
  std::string resource = Access->Resource;
  Access->Resource = DirectoryResource(DirOutline->Directory());
  Access->Action = kAction;
  try {
    Access->LoadRule();
  } catch (...) {
    Access->Resource = resource;
    ShowRuleDirectory();
    throw;
  }
  rule_directory_ = DirOutline->Directory();
}

void TMain::DriveBoxChange(ui::Component&) {
  // The drive's current directory is the process's, where the tree is.
  DirOutline->SetDirectory(platform::GetCurrentDir());
}

void TMain::SaveAllClick(ui::Component&) {
  if (RuleChanged) Access->SaveRule();
}

void TMain::Exit1Click(ui::Component&) { Close(); }
