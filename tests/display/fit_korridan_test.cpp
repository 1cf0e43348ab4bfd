// korridan's forms in this process, shown by the window front end at their
// own sizes: the main window with every page, the settings dialog with
// every page, the entry dialog as each list opens it, the header viewer,
// the About box and the Stop Server dialog.
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "console/about.h"
#include "console/app.h"
#include "console/hdrform.h"
#include "console/includeform.h"
#include "console/settingsform.h"
#include "console/stopserver.h"
#include "foundation/serverconfig.h"
#include "platform/msgbox.h"
#include "platform/profile.h"
#include "platform/ui/application.h"
#include "server/wsock.h"
#include "tests/display/caption_fit.h"
#include "tests/foundation/testdirs.h"

namespace {

namespace fs = std::filesystem;
namespace automation = platform::ui::automation;

class KorridanFit : public TempDirTest, public captionfit::FitCheck {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    dir_ = root_;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    OpenWindows();
    boxes_.emplace();
  }
  void TearDown() override {
    app_.reset();
    delete ConfigIni;
    delete MimeIni;
    ConfigIni = MimeIni = nullptr;
    WinsockCleanup();
    boxes_.reset();
    CloseWindows();
    fs::current_path(old_cwd_);
    TempDirTest::TearDown();
  }

  std::string dir_;
  fs::path old_cwd_;
  std::optional<platform::MessageBoxScript> boxes_;  // over the front end's boxes
  std::unique_ptr<platform::ui::Application> app_;
};

TEST_F(KorridanFit, EveryCaptionFitsItsControl) {
  std::ofstream(dir_ + "/KORRIDAN.INI") << "[General]\r\nStartServer=0\r\nSplashScreen=0\r\n"
                                        << "[Includes]\r\nTOKEN=include.htm\r\n";
  std::ofstream(dir_ + "/MIME.INI") << "[MimeTypes]\r\ntext/html=htm\r\n";
  ConfigIni = new platform::IniFile(dir_ + "/KORRIDAN.INI");
  MimeIni = new platform::IniFile(dir_ + "/MIME.INI");
  // As the program block makes them.
  app_ = std::make_unique<platform::ui::Application>();
  App = app_->CreateForm<TApp>();
  SettingsForm = app_->CreateForm<TSettingsForm>();
  App->SettingsForm = SettingsForm;
  IncludeForm = app_->CreateForm<TIncludeForm>();
  StopServerForm = app_->CreateForm<TStopServerForm>(App->HTTP);
  AboutBox = app_->CreateForm<TAbout>();

  App->Show();
  ASSERT_TRUE(WaitShown(*App));
  // The sans faces of the forms are drawn in the one that keeps their widths.
  EXPECT_EQ(Face(*App, "TabSet"), "Liberation Sans");
  CheckShown(*App, "App");

  Check(*SettingsForm);
  // The entry dialog with the labels each list gives it.
  automation::ModalResponder entry("", [&](platform::ui::Form& form) {
    if (&form != IncludeForm) return;
    CheckShown(form, "Include (" + form.Caption() + ")");
    platform::ui::PostCloseBox(form);
  });
  SettingsForm->Show();
  ASSERT_TRUE(WaitShown(*SettingsForm));
  int page = 2;  // "Includes", "Aliases", "Mime Types"
  for (platform::ui::Button* add : {SettingsForm->IncludeAdd, SettingsForm->AliasAdd, SettingsForm->MimeAdd}) {
    automation::Choose(*SettingsForm->Notebook, page++);
    automation::Click(*add);
  }
  EXPECT_EQ(entry.Count(), 3);
  SettingsForm->Hide();
  automation::Pump();

  // A viewer as a double click on a busy connection row opens it.
  // Slots without a listener; the script answers the failed listen.
  App->HTTP->Init([](int32_t, int32_t, std::string_view) {}, 2, 5, "");
  size_t listen_box = boxes_->Shown().size() - 1;
  App->ConnectionList->SetCell(1, 1, "127.0.0.1");
  App->ConnectionList->SetRow(1);
  App->ConnectionListDblClick(*App->ConnectionList);
  THeaderForm* viewer = nullptr;
  for (platform::ui::Form* f : platform::ui::AllForms())
    if (auto* h = dynamic_cast<THeaderForm*>(f)) viewer = h;
  ASSERT_NE(viewer, nullptr);
  CheckShown(*viewer);
  viewer->Hide();

  Check(*AboutBox, "About");
  Check(*StopServerForm);
  std::vector<platform::MessageBoxRequest> shown = boxes_->Shown();
  for (size_t i = 0; i < shown.size(); ++i)
    if (i != listen_box) ADD_FAILURE() << "message box: " << shown[i].text;
  ExpectAllFit();
}

}  // namespace
