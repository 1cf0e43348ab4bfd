// The manager window in the test's own process over a copy of the sample
// BBS, as the program block makes it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "foundation/securitystore.h"
#include "foundation/serverconfig.h"
#include "platform/ui/application.h"
#include "platform/ui/automation.h"
#include "tests/cman/cman_fixture.h"
#include "tests/ui/ui_fixture.h"
#include "tools/cmanfrm.h"
#include "tools/ncfrm.h"
#include "tools/nipfrm.h"
#include "tools/progress.h"
#include "tools/preffrm.h"

namespace cmantest {

namespace ui = platform::ui;
namespace automation = platform::ui::automation;
using bbstest::ReadBytes;

constexpr bool kLib = kFileLibraryBuild;

class ManagerWindow : public ui::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    setenv("HALVORINE_REGISTRY", (bbs.dir / "registry").c_str(), 1);
    cmantest::MakeTables(bbs.dir / "Data");
    delete ConfigIni;
    ConfigIni = new platform::IniFile(bbs.dir / "KORRIDAN.INI");
    ConfigIni->WriteString("Directories", "DataDir", bbs.dir / "Data/");
    ConfigIni->WriteString("QXBBS", "CONFIG.QX2", bbs.home);
    LoadBbsLibrary(QX_PATH);
  }
  void TearDown() override {
    app.reset();
    CloseSecurityTables();
    BbsLibraryExit();
    delete ConfigIni;
    ConfigIni = nullptr;
    unsetenv("HALVORINE_REGISTRY");
    UiTest::TearDown();
  }
  void Start() {
    app = std::make_unique<ui::Application>();
    app->SetTitle(cman::kApplicationTitle);
    main = app->CreateForm<TMain>();
    app->CreateForm<TNewConfFrm>();
    app->CreateForm<TPrefForm>();
    NewIPForm = app->CreateForm<TNewIPForm>();
    ProgressForm = app->CreateForm<TProgressForm>();
    main->Show();
    automation::Pump();
  }
  std::string ListFile() const { return kLib ? bbs.Directories() : bbs.Subboards(); }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes.Shown()) texts.push_back(box.text);
    return texts;
  }

  std::vector<std::string> Rules() const { return RulesIn(bbs.dir / "Data/ACCESS.db"); }

  bbstest::SampleBbs bbs;
  std::unique_ptr<ui::Application> app;
  TMain* main = nullptr;
};

}  // namespace cmantest
