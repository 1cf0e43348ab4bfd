#include <gtest/gtest.h>

#include "platform/ui/automation.h"
#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"
#include "ui_fixture.h"

namespace platform::ui {
namespace {

using namespace automation;
using Strings = std::vector<std::string>;

class PagesTest : public testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    form.Show();
  }
  Form form{nullptr, "Form"};
};

// ---------------------------------------------------------------------------
// Notebooks and tab sets

TEST_F(PagesTest, OnlyTheActivePagesControlsShowAndTakeInput) {
  Notebook* book = new Notebook(&form, &form, "Notebook");
  for (const char* name : {"Log", "Connection List", "Applications", "Stats", "Resources"}) book->AddPage(name);
  EXPECT_EQ(book->PageIndex(), 0);
  EXPECT_EQ(book->PageNames(), (Strings{"Log", "Connection List", "Applications", "Stats", "Resources"}));
  ComboBox* stat = new ComboBox(&form, book->GetPage("Stats"), "StatBox");
  stat->SetItems({"Total Hits", "Total Logins"});
  Choose(*stat, 1);
  EXPECT_EQ(stat->ItemIndex(), -1);
  EXPECT_FALSE(stat->Showing());
  book->SetPageIndex(3);
  EXPECT_TRUE(stat->Showing());
  Choose(*stat, 1);
  EXPECT_EQ(stat->ItemIndex(), 1);
  book->SetPageIndex(9);  // no such page
  EXPECT_EQ(book->PageIndex(), 3);
}

TEST_F(PagesTest, PagesFillTheNotebook) {
  Notebook* book = new Notebook(&form, &form, "Notebook");
  book->SetBounds(0, 29, 400, 300);
  Page* log_page = book->AddPage("Log");
  EXPECT_EQ(log_page->BoundsRect(), (Rect{0, 0, 400, 300}));
  TabbedNotebook* tabbed = new TabbedNotebook(&form, &form, "Settings");
  tabbed->SetBounds(0, 0, 418, 294);
  Page* net = tabbed->AddPage("Network");
  EXPECT_EQ(net->BoundsRect(),
            (Rect{TabbedNotebook::kFrame, TabbedNotebook::kTabRowHeight, 418 - TabbedNotebook::kFrame,
                  294 - TabbedNotebook::kFrame}));
}

TEST_F(PagesTest, TabSetAsksOnChangeBeforeTheSwitchAndMayBeRefused) {
  TabSet* tabs = new TabSet(&form, &form, "TabSet");
  tabs->SetTabs({"Log", "Connection List", "Applications"});
  tabs->SetTabIndex(0);
  bool allow_next = true;
  tabs->OnChange = [&](Component&, int new_tab, bool& allow) {
    log.push_back(std::to_string(tabs->TabIndex()) + "->" + std::to_string(new_tab));
    allow = allow_next;
  };
  Choose(*tabs, 2);
  EXPECT_EQ(tabs->TabIndex(), 2);
  allow_next = false;
  Choose(*tabs, 1);
  EXPECT_EQ(tabs->TabIndex(), 2);
  Choose(*tabs, 2);  // already there: no question
  allow_next = true;
  EXPECT_TRUE(tabs->SetTabIndex(0));  // code asks too
  EXPECT_FALSE(tabs->SetTabIndex(5));
  EXPECT_EQ(log, (Strings{"0->2", "2->1", "2->0"}));
}

TEST_F(PagesTest, TabbedNotebookFiresOnChangeWithThePageAboutToBeShown) {
  TabbedNotebook* access = new TabbedNotebook(&form, &form, "AccessNotebook");
  for (const char* name : {"Groups", "Users", "IP Address"}) access->AddPage(name);
  access->OnChange = [&](Component&, int new_page, bool&) {
    log.push_back(std::to_string(access->PageIndex()) + "->" + std::to_string(new_page));
  };
  Choose(*access, 1);
  EXPECT_EQ(access->ActivePage()->Caption(), "Users");
  EXPECT_TRUE(access->SetActivePage("ip address"));
  EXPECT_EQ(log, (Strings{"0->1", "1->2"}));
}

TEST_F(PagesTest, DeletingAPageKeepsTheOthersAndItsControlsLeaveTheScreen) {
  TabbedNotebook* pref = new TabbedNotebook(&form, &form, "Notebook");
  pref->AddPage("General");
  Page* uploads = pref->AddPage("Uploads");
  CheckBox* allow = new CheckBox(&form, uploads, "AllowUploads");
  pref->SetPageIndex(1);
  EXPECT_TRUE(allow->Showing());
  pref->DeletePage(1);
  EXPECT_EQ(pref->PageNames(), Strings{"General"});
  EXPECT_EQ(pref->PageIndex(), 0);
  EXPECT_EQ(allow->Parent(), nullptr);
  EXPECT_FALSE(allow->Showing());
  Click(*allow);
  EXPECT_FALSE(allow->Checked());
  EXPECT_EQ(form.Find<CheckBox>("AllowUploads"), allow);
}

// ---------------------------------------------------------------------------
// Menus

class MenusTest : public PagesTest {};

TEST_F(MenusTest, ChoosingAMenuItemFiresOnClickAndCaptionsChangeAtRunTime) {
  MainMenu* menu = new MainMenu(&form, "MainMenu");
  MenuItem* server = new MenuItem(&form, &menu->Items(), "ServerMenu", "&Server");
  MenuItem* status = new MenuItem(&form, server, "ServerStatusMenu", "&Start");
  MenuItem* sep = new MenuItem(&form, server, "N1", "-");
  MenuItem* exit = new MenuItem(&form, server, "ExitMenu", "E&xit");
  form.SetMenu(menu);
  status->OnClick = [&](Component& s) { log.push_back(s.Name()); };
  exit->OnClick = [&](Component& s) { log.push_back(s.Name()); };
  sep->OnClick = [&](Component&) { log.push_back("separator"); };
  server->OnClick = [&](Component&) { log.push_back("submenu"); };
  status->SetCaption("Start");
  ChooseMenu(*status);
  ChooseMenu(*sep);
  ChooseMenu(*server);
  ChooseMenu(*exit);
  EXPECT_EQ(log, (Strings{"ServerStatusMenu", "ExitMenu"}));
  EXPECT_TRUE(sep->IsSeparator());
  EXPECT_EQ(server->IndexOf(exit), 2);
  EXPECT_EQ(status->Caption(), "Start");
}

TEST_F(MenusTest, DisabledItemsAndMenusOfHiddenOrDisabledFormsCannotBeChosen) {
  MainMenu* menu = new MainMenu(&form, "MainMenu");
  MenuItem* file = new MenuItem(&form, &menu->Items(), "File", "&File");
  MenuItem* save = new MenuItem(&form, file, "SaveAll", "&Save All");
  form.SetMenu(menu);
  int clicks = 0;
  save->OnClick = [&](Component&) { ++clicks; };
  file->SetEnabled(false);
  ChooseMenu(*save);
  file->SetEnabled(true);
  form.Hide();
  ChooseMenu(*save);
  form.Show();
  MenuItem loose(nullptr, nullptr, "Loose", "Loose");  // in no menu
  loose.OnClick = [&](Component&) { ++clicks; };
  ChooseMenu(loose);
  EXPECT_EQ(clicks, 0);
  ChooseMenu(*save);
  EXPECT_EQ(clicks, 1);
  save->Click();  // from code, always
  EXPECT_EQ(clicks, 2);
}

TEST_F(MenusTest, CheckedItemsOfAViewMenu) {
  MainMenu* menu = new MainMenu(&form, "MainMenu");
  MenuItem* view = new MenuItem(&form, &menu->Items(), "View", "View");
  std::vector<MenuItem*> items;
  for (const char* n : {"BothNames", "ShortNames", "LongNames"}) items.push_back(new MenuItem(&form, view, n, n));
  form.SetMenu(menu);
  for (MenuItem* item : items)
    item->OnClick = [&](Component& sender) {
      for (MenuItem* i : items) i->SetChecked(SameText(i->Name(), UpperCase(sender.Name())));
    };
  ChooseMenu(*items[1]);
  EXPECT_FALSE(items[0]->Checked());
  EXPECT_TRUE(items[1]->Checked());
  EXPECT_FALSE(items[2]->Checked());
}

TEST_F(MenusTest, RightButtonOpensAnAutoPopupMenuWhoseItemThenCanBeChosen) {
  StringGrid* grid = new StringGrid(&form, &form, "DLLList");
  grid->SetBounds(3, 3, 200, 100);
  PopupMenu* popup = new PopupMenu(&form, "DLLMenu");
  MenuItem* unload = new MenuItem(&form, &popup->Items(), "UnloadDLL", "Unload");
  grid->SetPopupMenu(popup);
  popup->OnPopup = [&](Component&) { log.push_back("popup"); };
  unload->OnClick = [&](Component&) { log.push_back("unload"); };
  ChooseMenu(*unload);  // not open: cannot be chosen
  EXPECT_TRUE(log.empty());
  PostContextMenu(*grid);
  Pump();
  EXPECT_TRUE(popup->IsOpen());
  EXPECT_EQ(popup->PopupComponent(), grid);
  EXPECT_EQ(popup->PopupPoint(), grid->ClientToScreen({100, 50}));
  ChooseMenu(*unload);
  EXPECT_FALSE(popup->IsOpen());
  EXPECT_EQ(log, (Strings{"popup", "unload"}));
}

TEST_F(MenusTest, PopupWithoutAutoPopupOpensOnlyFromCodeAndCanBeDismissed) {
  StringGrid* grid = new StringGrid(&form, &form, "HeaderList");
  PopupMenu* popup = new PopupMenu(&form, "Menu");
  new MenuItem(&form, &popup->Items(), "MenuItem", "");
  popup->SetAutoPopup(false);
  grid->SetPopupMenu(popup);
  PostContextMenu(*grid);
  Pump();
  EXPECT_FALSE(popup->IsOpen());
  popup->Popup(120, 80, grid);
  EXPECT_TRUE(popup->IsOpen());
  EXPECT_EQ(popup->PopupPoint(), (Point{120, 80}));
  PostDismissPopup(*popup);
  Pump();
  EXPECT_FALSE(popup->IsOpen());
}

TEST_F(MenusTest, AFreedPopupMenuIsNoLongerTheControls) {
  Label* l = new Label(&form, &form, "L");
  PopupMenu* popup = new PopupMenu(&form, "P");
  l->SetPopupMenu(popup);
  Free(popup);
  EXPECT_EQ(l->GetPopupMenu(), nullptr);
  PostContextMenu(*l);
  Pump();  // nothing to open, nothing breaks
}

// ---------------------------------------------------------------------------
// String grid

class GridTest : public PagesTest {};

TEST_F(GridTest, CellsKeepTheirTextsWhenTheGridGrowsAndAccessOutsideIsHarmless) {
  StringGrid* g = new StringGrid(&form, &form, "ConnectionList");
  g->SetColCount(5);
  g->SetRowCount(17);
  g->SetCell(1, 0, "From");
  g->SetCell(4, 16, "100%");
  g->SetRowCount(256);
  EXPECT_EQ(g->Cell(1, 0), "From");
  EXPECT_EQ(g->Cell(4, 16), "100%");
  g->SetCell(5, 0, "outside");
  g->SetCell(-1, 3, "outside");
  EXPECT_EQ(g->Cell(5, 0), "");
  EXPECT_EQ(g->Cell(0, 256), "");
  g->SetRowCount(2);
  EXPECT_EQ(g->Cell(4, 16), "");
  EXPECT_EQ(g->RowTexts(0), (Strings{"", "From", "", "", ""}));
  g->SetRowCount(0);
  EXPECT_EQ(g->RowCount(), 1);
  EXPECT_EQ(g->FixedRows(), 0);
}

TEST_F(GridTest, CellRectFollowsColumnWidthsRowHeightsAndGridLines) {
  StringGrid* g = new StringGrid(&form, &form, "HeaderList");
  g->SetColCount(2);
  g->SetRowCount(6);
  g->SetDefaultRowHeight(20);
  g->SetColWidth(0, 130);
  g->SetColWidth(1, 140);
  EXPECT_EQ(g->CellRect(1, 2), (Rect{131, 42, 271, 62}));
  g->SetGridLineWidth(0);
  EXPECT_EQ(g->CellRect(1, 2), (Rect{130, 40, 270, 60}));
  EXPECT_EQ(g->CellRect(2, 0), (Rect{}));
}

TEST_F(GridTest, UserSelectsRowsButNotFixedCellsAndDoubleClickFollowsTheClick) {
  StringGrid* g = new StringGrid(&form, &form, "ConnectionList");
  g->SetOptions(g->Options() | goRowSelect);
  g->SetRowCount(4);
  g->OnClick = [&](Component&) { log.push_back("click " + std::to_string(g->Row())); };
  g->OnDblClick = [&](Component&) { log.push_back("dblclick " + std::to_string(g->Row())); };
  PostSelectCell(*g, 3, 2);
  Pump();
  EXPECT_EQ(g->Row(), 2);
  EXPECT_EQ(g->Col(), 1);  // row selection leaves the column
  PostSelectCell(*g, 1, 0);  // the title row
  Pump();
  EXPECT_EQ(g->Row(), 2);
  PostDblClickCell(*g, 1, 3);
  Pump();
  EXPECT_EQ(log, (Strings{"click 2", "click 3", "dblclick 3"}));
}

TEST_F(GridTest, OnSelectCellMayRefuseTheSelection) {
  StringGrid* g = new StringGrid(&form, &form, "G");
  g->OnSelectCell = [](Component&, int col, int, bool& allow) { allow = col != 2; };
  PostSelectCell(*g, 2, 2);
  Pump();
  EXPECT_EQ(g->Col(), 1);
  EXPECT_EQ(g->Row(), 1);
  PostSelectCell(*g, 3, 2);
  Pump();
  EXPECT_EQ(g->Col(), 3);
  EXPECT_EQ(g->Row(), 2);
}

}  // namespace
}  // namespace platform::ui
