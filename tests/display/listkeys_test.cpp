// The lists' keyboard on a real display: keys sent with xdotool reach the
// model, which moves its selection as the platform's list boxes do and runs
// the handlers of the clicks they stand for; the directory chooser's name
// follows its highlighted directory.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <set>

#include "foundation/serverconfig.h"
#include "platform/ui/application.h"
#include "platform/ui/automation.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/pages.h"
#include "platform/ui/windows.h"
#include "tests/display/widgets.h"
#include "tests/display/xdisplay.h"
#include "tests/tools/tools_fixture.h"
#include "tests/ui/ui_fixture.h"
#include "tools/secfrm.h"

namespace {

namespace ui = platform::ui;
namespace au = platform::ui::automation;
namespace fs = std::filesystem;
using namespace displaytest;


std::string WindowId(QWidget* w) { return std::to_string(w->window()->winId()); }

// Polls: the mirror changes its widgets without a message of the loop's.
bool WaitFor(const std::function<bool()>& done) {
  auto until = std::chrono::steady_clock::now() + 10s;
  while (!done() && std::chrono::steady_clock::now() < until) au::PumpUntil(done, 50);
  return done();
}

class ListKeys : public tools_test::ToolsTest, public XDisplay {
 protected:
  void SetUp() override {
    Open();
    static char name[] = "display_listkeys";
    static char* argv[] = {name, nullptr};
    ASSERT_TRUE(ui::StartWindows(1, argv, "display_listkeys"));
    ToolsTest::SetUp();
    app_ = std::make_unique<ui::Application>();
  }
  void TearDown() override {
    app_.reset();
    ToolsTest::TearDown();
    ui::StopWindows();
    Close();
  }


  // The control's widget with the X and the Qt focus.
  static QWidget* FocusOn(const ui::Control& c) {
    QWidget* w = nullptr;
    WaitFor([&] { return (w = WidgetOf(c)) && w->isVisible(); });
    if (!w) return nullptr;
    Focus(WindowId(w));
    w->activateWindow();
    w->setFocus();
    WaitFor([&] { return w->hasFocus(); });
    return w;
  }

  std::unique_ptr<ui::Application> app_;
};

struct KeyStep {
  const char* keys;   // xdotool key names
  int current;        // the model's current item afterwards
  std::set<int> selected;
  int clicks;         // OnClick so far
};

std::set<int> SelectedOf(const ui::ListBox& l) {
  std::set<int> s;
  for (int i = 0; i < l.Count(); ++i)
    if (l.Selected(i)) s.insert(i);
  return s;
}

// Each step's keys, then the model's current item, selection and handler
// runs, and the focus frame on the current item.
void Drive(ui::ListBox& list, int& clicks, const std::vector<KeyStep>& steps) {
  auto* w = static_cast<QListWidget*>(WidgetOf(list));
  ASSERT_NE(w, nullptr);
  for (const KeyStep& s : steps) {
    XDisplay::Keys(s.keys);
    auto reached = [&] {
      return list.ItemIndex() == s.current && SelectedOf(list) == s.selected && clicks == s.clicks &&
             w->currentRow() == s.current;
    };
    EXPECT_TRUE(WaitFor(reached)) << list.Name() << " after \"" << s.keys << "\": item " << list.ItemIndex()
                                  << " of " << SelectedOf(list).size() << " selected, " << clicks << " clicks, frame on "
                                  << w->currentRow();
  }
}

TEST_F(ListKeys, MovingKeysAndSpaceChooseAsThePlatformsListBoxesDo) {
  ui::Form form(nullptr, "Lists");
  form.SetCaption("Lists Form");
  form.SetBorderStyle(ui::BorderStyle::Dialog);
  form.SetClientSize(300, 200);
  auto* single = new ui::ListBox(&form, &form, "Single");
  single->SetBounds(10, 10, 120, 5 * single->ItemHeight());  // five rows: a page moves four
  for (int i = 0; i < 12; ++i) single->Add("Item" + std::to_string(i));
  auto* multi = new ui::ListBox(&form, &form, "Multi");
  multi->SetBounds(150, 10, 120, 120);
  multi->SetMultiSelect(true);
  for (int i = 0; i < 6; ++i) multi->Add("Entry" + std::to_string(i));
  int single_clicks = 0, multi_clicks = 0;
  single->OnClick = [&](ui::Component&) { ++single_clicks; };
  multi->OnClick = [&](ui::Component&) { ++multi_clicks; };
  form.FinishCreate();
  form.Show();

  ASSERT_NE(FocusOn(*single), nullptr);
  // A single-select list: the selection is the current item; a key that
  // moves nothing runs no handler; Space and Ctrl change nothing.
  Drive(*single, single_clicks,
        {{"Down", 0, {0}, 1},
         {"Down Down", 2, {2}, 3},
         {"End", 11, {11}, 4},
         {"Down Up", 10, {10}, 5},
         {"Home", 0, {0}, 6},
         {"Next", 4, {4}, 7},
         {"Right Next", 9, {9}, 9},
         {"Prior Left", 4, {4}, 11},
         {"space ctrl+Down", 5, {5}, 12}});
  ASSERT_NE(FocusOn(*multi), nullptr);
  // A multi-select list: plain keys select the item reached alone, Ctrl
  // moves only the focus frame, Ctrl+Space toggles, Space chooses alone.
  Drive(*multi, multi_clicks,
        {{"Down Down", 1, {1}, 2},
         {"ctrl+Down ctrl+Down", 3, {1}, 2},
         {"ctrl+space", 3, {1, 3}, 3},
         {"ctrl+Up ctrl+space", 2, {1, 2, 3}, 4},
         {"ctrl+space", 2, {1, 3}, 5},
         {"space", 2, {2}, 6},
         {"ctrl+End shift+Up", 5, {2}, 6},
         {"End", 5, {5}, 7}});
  form.Hide();
  au::Pump();
}

// secmanager's window: the directory tree and the access page's lists from
// the keyboard, and "Add >>" moving the group the keys chose.
TEST_F(ListKeys, TheAccessPageAndTheDirectoryTreeWorkFromTheKeyboard) {
  OpenConfigFiles();
  for (const char* d : {"web/a", "web/b"}) fs::create_directories(root_ + "/" + d);
  ui::testing::CwdGuard cwd;
  TMain* main = new TMain(nullptr);
  main->FinishCreate();
  main->Show();
  ui::PostChooseDirectory(*main->DirOutline, root_ + "/web");
  au::Pump();
  ASSERT_EQ(main->DirOutline->Directory(), root_ + "/web");

  ASSERT_NE(FocusOn(*main->DirOutline), nullptr);
  Keys("Down");  // the first subdirectory, then back up to its parent
  EXPECT_TRUE(WaitFor([&] { return main->Access->Resource == DirectoryResource(root_ + "/web/a"); }))
      << main->Access->Resource;
  Keys("Down Up");
  EXPECT_TRUE(WaitFor([&] { return main->DirOutline->Directory() == root_ + "/web/a"; }))
      << main->DirOutline->Directory();

  ui::ListBox& groups = *main->Access->NotGroupsList;  // Admins, Guests, Staff
  ASSERT_NE(FocusOn(groups), nullptr);
  for (auto [keys, name] : std::vector<std::pair<const char*, const char*>>{
           {"Down", "Admins"}, {"End", "Staff"}, {"Home", "Admins"}, {"Down", "Guests"}}) {
    Keys(keys);
    EXPECT_TRUE(WaitFor([&] { return groups.ItemIndex() == groups.IndexOf(name) && SelectedOf(groups).size() == 1; }))
        << keys << ": " << groups.ItemIndex();
    EXPECT_TRUE(groups.Selected(groups.IndexOf(name))) << keys;
  }
  QWidget* add = WidgetOf(*main->Access->AddAccessGroup);
  ASSERT_NE(add, nullptr);
  QPoint at = add->mapTo(add->window(), add->rect().center());
  ClickAt(WindowId(add), at.x(), at.y());
  EXPECT_TRUE(WaitFor([&] { return main->Access->AllowGroupsList->Count() == 1; }));
  EXPECT_EQ(main->Access->AllowGroupsList->Texts(), TNameList{"Guests"});
  EXPECT_EQ(groups.Texts(), (TNameList{"Admins", "Staff"}));
  EXPECT_TRUE(main->RuleChanged);

  // The page keys and the arrows on the tab row: the page shown is the model's.
  ui::TabbedNotebook& pages = *main->Access->AccessNotebook;
  auto* tabs = WidgetOf(pages)->findChild<QTabBar*>("tabs");
  ASSERT_NE(FocusOn(groups), nullptr);
  for (auto [keys, page] : std::vector<std::pair<const char*, int>>{{"ctrl+Tab", 1}, {"Right", 2}, {"ctrl+Prior", 1}}) {
    Keys(keys);
    EXPECT_TRUE(WaitFor([&] { return pages.PageIndex() == page && tabs->currentIndex() == page; }))
        << keys << ": page " << pages.PageIndex() << ", tab " << tabs->currentIndex();
  }
  ui::Free(main);
  au::Pump();
}

// The chooser's name follows the highlighted directory; Enter and OK both
// answer it.
TEST_F(ListKeys, TheDirectoryChoosersNameFollowsItsHighlightAndIsTheAnswer) {
  std::string start = root_ + "/chooser";
  fs::create_directories(start + "/one");
  fs::create_directories(start + "/two");
  struct Case {
    const char* keys;
    bool enter;  // else a click on OK
    std::string want;
  };
  for (const Case& c : {Case{"Down", true, start + "/one"}, Case{"Down Down", false, start + "/two"}}) {
    QString name_shown;
    int step = 0, waited = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || top->windowTitle() != "Select Directory") continue;
        auto* list = top->findChild<QListWidget*>("directories");
        auto* name = top->findChild<QLineEdit*>("name");
        if (step == 0) {
          Focus(WindowId(top));
          list->setFocus();
          Keys(c.keys);
          step = 1;
        } else if (step == 1 && (name->text() == QString::fromStdString(c.want) || ++waited > 40)) {
          name_shown = name->text();
          step = 2;
          if (c.enter) {
            Keys("Return");
          } else {
            for (QPushButton* b : top->findChildren<QPushButton*>()) {
              if (b->text() != "OK") continue;
              QPoint at = b->mapTo(top, b->rect().center());
              ClickAt(WindowId(top), at.x(), at.y());
            }
          }
        }
      }
    });
    user.start(50);
    std::string chosen = start;
    EXPECT_TRUE(ui::SelectDirectory(chosen)) << c.keys;
    EXPECT_EQ(name_shown.toStdString(), c.want) << c.keys;
    EXPECT_EQ(chosen, c.want) << c.keys;
  }
}

}  // namespace
