#include "platform/ui/controls.h"

#include <gtest/gtest.h>

#include "platform/ui/automation.h"
#include "platform/ui/form.h"
#include "ui_fixture.h"

namespace platform::ui {
namespace {

using namespace automation;
using Strings = std::vector<std::string>;

class ControlsTest : public testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    form.Show();
  }
  Form form{nullptr, "Form"};
};

// ---------------------------------------------------------------------------
// Check boxes and radio buttons

TEST_F(ControlsTest, CheckBoxClickTogglesItThenFiresOnClick) {
  CheckBox* box = new CheckBox(&form, &form, "DoAccess");
  box->OnClick = [&](Component& s) { log.push_back(std::string("click ") + (box->Checked() ? "on" : "off")); };
  Click(*box);
  Click(*box);
  EXPECT_EQ(log, (Strings{"click on", "click off"}));
}

TEST_F(ControlsTest, CheckBoxSetFromCodeFiresOnClickOnlyWhenTheStateChanges) {
  CheckBox* box = new CheckBox(&form, &form, "EnforceSecurity");
  int clicks = 0;
  box->OnClick = [&](Component&) { ++clicks; };
  box->SetChecked(true);
  box->SetChecked(true);
  box->SetChecked(false);
  EXPECT_EQ(clicks, 2);
}

TEST_F(ControlsTest, RadioButtonClickUnchecksItsSiblingsWhichFireNothing) {
  Panel* group = new Panel(&form, &form, "Group");
  RadioButton* ignore = new RadioButton(&form, group, "IgnoreIP");
  RadioButton* allow = new RadioButton(&form, group, "AllowIP");
  RadioButton* elsewhere = new RadioButton(&form, &form, "Elsewhere");
  ignore->SetChecked(true);
  elsewhere->SetChecked(true);
  for (RadioButton* r : {ignore, allow, elsewhere})
    r->OnClick = [&, r](Component&) { log.push_back(r->Name()); };
  Click(*allow);
  EXPECT_TRUE(allow->Checked());
  EXPECT_FALSE(ignore->Checked());
  EXPECT_TRUE(elsewhere->Checked());  // another parent, another group
  EXPECT_EQ(log, Strings{"AllowIP"});
  Click(*allow);  // already checked: nothing changes
  EXPECT_EQ(log, Strings{"AllowIP"});
}

TEST_F(ControlsTest, RadioGroupFiresOnClickWhenItsChoiceChanges) {
  RadioGroup* g = new RadioGroup(&form, &form, "ActionGroup");
  g->SetItems({"Read", "Write", "Moderate"});
  g->SetItemIndex(0);
  g->OnClick = [&](Component&) { log.push_back("click " + std::to_string(g->ItemIndex())); };
  Choose(*g, 2);
  Choose(*g, 2);
  Choose(*g, 7);  // no such item
  g->SetItemIndex(1);
  EXPECT_EQ(log, (Strings{"click 2", "click 1"}));
  g->DeleteItem(2);
  EXPECT_EQ(g->Items(), (Strings{"Read", "Write"}));
  EXPECT_EQ(g->ItemIndex(), 1);
  g->DeleteItem(1);
  EXPECT_EQ(g->ItemIndex(), -1);
}

// ---------------------------------------------------------------------------
// Edits

TEST_F(ControlsTest, TypingChangesTheTextOneCharacterAtATime) {
  Edit* e = new Edit(&form, &form, "ConfDesc");
  e->OnChange = [&](Component&) { log.push_back(e->Text()); };
  Type(*e, "ab");
  Key(*e, kKeyReturn);  // no default button: nothing
  PostInput(kUiChar, *e, kKeyBack);
  Pump();
  EXPECT_EQ(log, (Strings{"a", "ab", "a"}));
}

TEST_F(ControlsTest, UpperCaseAndMaxLengthActOnTypedTextButNotOnCode) {
  Edit* e = new Edit(&form, &form, "ConfigFile");
  e->SetCharCase(CharCase::Upper);
  e->SetMaxLength(5);
  Type(*e, "c:/qx/bbs");
  EXPECT_EQ(e->Text(), "C:/QX");
  ReplaceText(*e, "abcdefgh\r\nsecond line");
  EXPECT_EQ(e->Text(), "ABCDE");
  e->SetText("mixed Case, longer than five");
  EXPECT_EQ(e->Text(), "mixed Case, longer than five");
  e->SetCharCase(CharCase::Normal);
  e->SetMaxLength(0);
  ReplaceText(*e, "keeps Case");
  EXPECT_EQ(e->Text(), "keeps Case");
}

TEST_F(ControlsTest, ReadOnlyEditIgnoresTypingAndSetTextFiresOnChangeOnlyOnChange) {
  Edit* e = new Edit(&form, &form, "ConfName");
  int changes = 0;
  e->OnChange = [&](Component&) { ++changes; };
  e->SetReadOnly(true);
  Type(*e, "x");
  ReplaceText(*e, "y");
  EXPECT_EQ(e->Text(), "");
  e->SetText("a");
  e->SetText("a");
  EXPECT_EQ(changes, 1);
}

TEST_F(ControlsTest, FocusMovesBeforeTheNewControlActsAndTheOldOneSeesItsExit) {
  Edit* a = new Edit(&form, &form, "A");
  Edit* b = new Edit(&form, &form, "B");
  a->SetFocus();
  a->OnExit = [&](Component&) { log.push_back("exit A"); };
  b->OnEnter = [&](Component&) { log.push_back("enter B"); };
  b->OnChange = [&](Component&) { log.push_back("change B"); };
  Type(*b, "x");
  Type(*b, "y");
  EXPECT_EQ(log, (Strings{"exit A", "enter B", "change B", "change B"}));
  EXPECT_TRUE(b->Focused());
}

// ---------------------------------------------------------------------------
// Number field

TEST_F(ControlsTest, NumberFieldOutOfBoundsIsCorrectedWhenTheFieldIsLeft) {
  SpinEdit* backlog = new SpinEdit(&form, &form, "BacklogEdit");
  backlog->SetMinValue(5);
  backlog->SetMaxValue(32767);
  backlog->SetValue(5);
  Button* ok = new Button(&form, &form, "Button1");
  std::string seen;
  ok->OnClick = [&](Component&) { seen = backlog->Text(); };
  ReplaceText(*backlog, "2");
  EXPECT_EQ(backlog->Text(), "2");  // not while typing
  Click(*ok);
  EXPECT_EQ(seen, "5");  // the field was left before the click ran
  ReplaceText(*backlog, "40000");
  Click(*ok);
  EXPECT_EQ(seen, "32767");
}

TEST_F(ControlsTest, NumberFieldThatIsNoNumberStaysAsItIs) {
  SpinEdit* s = new SpinEdit(&form, &form, "SocketsEdit");
  s->SetMinValue(1);
  s->SetMaxValue(255);
  Button* ok = new Button(&form, &form, "OK");
  ReplaceText(*s, "abc");
  Click(*ok);
  EXPECT_EQ(s->Text(), "abc");
  EXPECT_EQ(s->Value(), 1);
}

TEST_F(ControlsTest, NumberFieldIsCorrectedWhenItsFormHides) {
  SpinEdit* s = new SpinEdit(&form, &form, "SocketsEdit");
  s->SetMinValue(1);
  s->SetMaxValue(255);
  std::string at_hide;
  form.OnHide = [&](Component&) { at_hide = s->Text(); };
  ReplaceText(*s, "300");
  CloseBox(form);
  EXPECT_EQ(at_hide, "255");
}

TEST_F(ControlsTest, NumberFieldArrowsStepWithinTheBoundsAndTypingTakesDigitsOnly) {
  SpinEdit* s = new SpinEdit(&form, &form, "SocketsEdit");
  s->SetMinValue(1);
  s->SetMaxValue(3);
  s->SetValue(2);
  PostSpin(*s, true);
  PostSpin(*s, true);
  Pump();
  EXPECT_EQ(s->Value(), 3);
  PostSpin(*s, false);
  Pump();
  EXPECT_EQ(s->Value(), 2);
  ReplaceText(*s, "");
  Type(*s, "1a-2");
  EXPECT_EQ(s->Text(), "1-2");
}

// ---------------------------------------------------------------------------
// Buttons and input rules

TEST_F(ControlsTest, DisabledHiddenOrParentDisabledControlsTakeNoInput) {
  Button* help = new Button(&form, &form, "Button3");
  Panel* panel = new Panel(&form, &form, "Panel");
  Button* inner = new Button(&form, panel, "Inner");
  Button* hidden = new Button(&form, &form, "Hidden");
  int clicks = 0;
  for (Button* b : {help, inner, hidden}) b->OnClick = [&](Component&) { ++clicks; };
  help->SetEnabled(false);
  panel->SetEnabled(false);
  hidden->SetVisible(false);
  Click(*help);
  Click(*inner);
  Click(*hidden);
  EXPECT_EQ(clicks, 0);
  panel->SetEnabled(true);
  Click(*inner);
  EXPECT_EQ(clicks, 1);
}

TEST_F(ControlsTest, ClickSetsTheModalResultBeforeOnClickWhichMayChangeIt) {
  Button* yes = new Button(&form, &form, "YesButton");
  yes->SetModalResult(mrYes);
  yes->OnClick = [&](Component&) {
    log.push_back(std::to_string(form.ModalResult()));
    form.SetModalResult(2);
  };
  Click(*yes);
  EXPECT_EQ(log, Strings{"6"});
  EXPECT_EQ(form.ModalResult(), 2);
}

TEST_F(ControlsTest, OkKindButtonIsADefaultButtonWithResultOkAndCheckMark) {
  Button* b = new Button(&form, &form, "OKButton");
  b->SetKind(Button::Kind::Ok);
  EXPECT_EQ(b->Caption(), "OK");
  EXPECT_EQ(b->ModalResult(), mrOk);
  EXPECT_TRUE(b->Default());
  EXPECT_EQ(b->Glyph(), "check");
}

TEST_F(ControlsTest, SpeedButtonClickFiresOnClickWithoutTakingTheFocus) {
  Edit* e = new Edit(&form, &form, "E");
  e->SetFocus();
  SpeedButton* start = new SpeedButton(&form, &form, "StartButton");
  start->SetHint("Start Server");
  start->SetGlyph("start", 2);
  int clicks = 0;
  start->OnClick = [&](Component&) { ++clicks; };
  Click(*start);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(e->Focused());
  EXPECT_EQ(start->Hint(), "Start Server");
}

TEST_F(ControlsTest, ActionsOnAFreedControlAreDropped) {
  Button* b = new Button(&form, &form, "Gone");
  int clicks = 0;
  b->OnClick = [&](Component&) { ++clicks; };
  PostClick(*b);
  Free(b);
  Pump();
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(form.FindComponent("Gone"), nullptr);
}

// ---------------------------------------------------------------------------
// List boxes

TEST_F(ControlsTest, ListBoxClickSelectsTheItemThenFiresOnClick) {
  ListBox* list = new ListBox(&form, &form, "ConfList");
  list->Add("ALPHA");
  list->Add("BETA");
  list->OnClick = [&](Component&) { log.push_back("click " + std::to_string(list->ItemIndex())); };
  list->OnDblClick = [&](Component&) { log.push_back("dblclick " + std::to_string(list->ItemIndex())); };
  Choose(*list, 1);
  Choose(*list, 1);
  Choose(*list, 9);  // no item there
  PostDblClickItem(*list, 0);
  Pump();
  EXPECT_EQ(log, (Strings{"click 1", "click 1", "click 0", "dblclick 0"}));
  list->SetItemIndex(1);  // from code: no event
  EXPECT_EQ(log.size(), 4u);
}

TEST_F(ControlsTest, SortedListBoxIgnoresCaseAndKeepsItsOrder) {
  ListBox* list = new ListBox(&form, &form, "NotGroupsList");
  list->SetSorted(true);
  EXPECT_EQ(list->Add("users"), 0);
  EXPECT_EQ(list->Add("Admins"), 0);
  EXPECT_EQ(list->Add("_system"), 0);  // "_" sorts before letters
  EXPECT_EQ(list->Add("Guests"), 2);
  EXPECT_EQ(list->Texts(), (Strings{"_system", "Admins", "Guests", "users"}));
  EXPECT_EQ(list->IndexOf("GUESTS"), 2);
  list->Insert(0, "zeta");  // a sorted list puts it in its place
  EXPECT_EQ(list->Item(4), "zeta");
  EXPECT_EQ(list->Item(9), "");
}

TEST_F(ControlsTest, SortingAListKeepsTheCurrentItem) {
  ListBox* list = new ListBox(&form, &form, "L");
  list->Add("c");
  list->Add("a");
  list->Add("b");
  list->SetItemIndex(0);  // "c"
  list->SetSorted(true);
  EXPECT_EQ(list->Texts(), (Strings{"a", "b", "c"}));
  EXPECT_EQ(list->ItemIndex(), 2);
}

TEST_F(ControlsTest, MultiSelectListTogglesWithCtrlAndAPlainClickSelectsOne) {
  ListBox* list = new ListBox(&form, &form, "AllowUsersList");
  list->SetMultiSelect(true);
  for (const char* s : {"a", "b", "c"}) list->Add(s);
  PostChoose(*list, 0);
  PostToggleSelect(*list, 2);
  Pump();
  EXPECT_TRUE(list->Selected(0));
  EXPECT_FALSE(list->Selected(1));
  EXPECT_TRUE(list->Selected(2));
  EXPECT_EQ(list->SelCount(), 2);
  EXPECT_EQ(list->ItemIndex(), 2);
  Choose(*list, 1);
  EXPECT_EQ(list->SelCount(), 1);
  EXPECT_TRUE(list->Selected(1));
  PostToggleSelect(*list, 1);
  Pump();
  EXPECT_EQ(list->SelCount(), 0);
}

TEST_F(ControlsTest, DeletingItemsMovesTheCurrentItemAndReleasesTheirObjects) {
  ListBox* list = new ListBox(&form, &form, "ConfList");
  auto obj = std::make_shared<int>(42);
  std::weak_ptr<int> watch = obj;
  list->Add("a");
  list->Add("b", obj);
  list->Add("c");
  obj.reset();
  EXPECT_EQ(*list->ObjectAs<int>(1), 42);
  list->SetItemIndex(2);
  list->Delete(0);
  EXPECT_EQ(list->ItemIndex(), 1);
  EXPECT_FALSE(watch.expired());
  list->Delete(0);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(list->ItemIndex(), 0);
  list->Delete(0);
  EXPECT_EQ(list->ItemIndex(), -1);
  EXPECT_EQ(list->Object(5), nullptr);
}

// ---------------------------------------------------------------------------
// Combo boxes, memo, gauge

TEST_F(ControlsTest, ComboBoxFiresOnChangeWhenTheUserChoosesAnotherItem) {
  ComboBox* stat = new ComboBox(&form, &form, "StatBox");
  stat->SetItems({"Total Hits", "Total Logins", "Avg Connections", "Avg Users"});
  stat->SetItemIndex(0);  // code: no event
  stat->OnChange = [&](Component&) { log.push_back(stat->Text()); };
  Choose(*stat, 2);
  Choose(*stat, 2);
  Choose(*stat, -1);
  EXPECT_EQ(log, Strings{"Avg Connections"});
  stat->SetItemIndex(99);
  EXPECT_EQ(stat->ItemIndex(), -1);
  EXPECT_EQ(stat->Text(), "");
}

TEST_F(ControlsTest, SortedComboBoxKeepsItsItemsInOrder) {
  ComboBox* mime = new ComboBox(&form, &form, "MimeBox");
  mime->SetSorted(true);
  mime->Add("text/html");
  mime->Add("image/gif");
  mime->Add("Application/zip");
  EXPECT_EQ(mime->Items(), (Strings{"Application/zip", "image/gif", "text/html"}));
  EXPECT_EQ(mime->IndexOf("TEXT/HTML"), 2);
}

TEST_F(ControlsTest, MemoSplitsLinesAndAnnouncesAnUpdateOnce) {
  Memo* memo = new Memo(&form, &form, "Memo");
  int announced = 0;
  int id = AddChangeObserver([&](Component& c, std::string_view what) {
    if (&c == memo && what == "Lines") ++announced;
  });
  memo->Add("Starting Winsock.");
  memo->Add("first\r\nsecond\nthird");
  EXPECT_EQ(memo->Count(), 4);
  EXPECT_EQ(memo->Lines()[3], "third");
  announced = 0;
  memo->BeginUpdate();
  while (memo->Count() >= 2) memo->Delete(0);
  memo->Add("last");
  memo->EndUpdate();
  EXPECT_EQ(announced, 1);
  EXPECT_EQ(memo->Text(), "third\r\nlast");
  memo->Clear();
  EXPECT_EQ(memo->Count(), 0);
  RemoveChangeObserver(id);
}

TEST_F(ControlsTest, GaugeKeepsItsProgressWithinTheBoundsAndAnnouncesEachChange) {
  Gauge* g = new Gauge(&form, &form, "Gauge");
  std::vector<int> painted;
  int id = AddChangeObserver([&](Component& c, std::string_view what) {
    if (&c == g && what == "Progress") painted.push_back(g->Progress());
  });
  g->SetMaxValue(40);
  g->SetProgress(10);
  EXPECT_EQ(g->PercentDone(), 25);
  g->SetProgress(99);
  EXPECT_EQ(g->Progress(), 40);
  EXPECT_EQ(painted, (std::vector<int>{0, 10, 40}));
  g->SetMaxValue(0);
  EXPECT_EQ(g->PercentDone(), 0);
  RemoveChangeObserver(id);
}

TEST_F(ControlsTest, ChildrenShowTheirParentsFontUntilTheyHaveTheirOwn) {
  form.SetFont({"System", 10});
  Panel* p = new Panel(&form, &form, "P");
  Label* l = new Label(&form, p, "L");
  EXPECT_EQ(l->GetFont().name, "System");
  p->SetFont({"MS Sans Serif", 8});
  EXPECT_EQ(l->GetFont().size, 8);
  l->SetFont({"Arial", 9, clBlack, true});
  p->SetFont({"Fixedsys", 9});
  EXPECT_EQ(l->GetFont().name, "Arial");
  l->SetParentFont(true);
  EXPECT_EQ(l->GetFont().name, "Fixedsys");
}

TEST_F(ControlsTest, ComponentsAreFoundByNameIgnoringCase) {
  new Button(&form, &form, "Browse1");
  EXPECT_NE(form.Find<Button>("BROWSE1"), nullptr);
  EXPECT_EQ(form.Find<Edit>("browse1"), nullptr);  // wrong kind
  EXPECT_EQ(form.FindComponent("Browse2"), nullptr);
}

TEST(TextCompare, FoldsAsciiCaseToLower) {
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_LT(CompareText("_x", "ax"), 0);
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
  EXPECT_TRUE(SameText("Browse1", "BROWSE1"));
  EXPECT_EQ(UpperCase("c:/web/docs"), "C:/WEB/DOCS");
  EXPECT_EQ(ColorToRGB(clBtnFace), clSilver);
  EXPECT_EQ(ColorToRGB(clBlue), 0xFF0000u);
}

}  // namespace
}  // namespace platform::ui
