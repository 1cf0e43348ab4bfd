// The access-rule page: loading and saving the current rule through its
// controls, and its handlers as a user sets them off.
#include "tools/accesspage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/automation.h"
#include "tests/tools/tools_fixture.h"

namespace tools_test {
namespace {

namespace ui = platform::ui;
namespace au = platform::ui::automation;
using List = TNameList;

class AccessPageTest : public ToolsTest {
 protected:
  void SetUp() override {
    ToolsTest::SetUp();
    form_ = new ui::Form(nullptr, "Main");
    form_->SetClientSize(416, 301);
    page_ = std::make_unique<TAccessPage>(*form_, *form_, changed_);
    page_->Module = "SERVER";
    page_->Resource = "/SRV/WEB/";
    page_->Action = "GET";
    form_->FinishCreate();
    form_->Show();
  }
  void TearDown() override {
    ui::Free(form_);  // the controls first: their handlers call the page
    page_.reset();
    ToolsTest::TearDown();
  }

  // Selects exactly these items of a list, as Ctrl+clicks do.
  void Select(ui::ListBox& list, const List& items) {
    for (const std::string& item : items) ui::PostToggleSelect(list, list.IndexOf(item));
    au::Pump();
  }
  // Answers the showings of the address dialog while alive.
  static std::unique_ptr<au::ModalResponder> AnswerAddress(const std::string& text, ui::Button* button) {
    return std::make_unique<au::ModalResponder>("NewIPForm", [text, button](ui::Form&) {
      ui::PostReplaceText(*NewIPForm->IPAddrEdit, text);
      ui::PostClick(*button);
    });
  }

  ui::Form* form_ = nullptr;
  std::unique_ptr<TAccessPage> page_;
  bool changed_ = true;
};

TEST_F(AccessPageTest, ARuleWithoutARowLoadsEnforcedWithAddressControlsOffAndUnchanged) {
  page_->LoadRule();
  EXPECT_TRUE(page_->EnforceSecurity->Checked());
  EXPECT_TRUE(page_->IgnoreIP->Checked());
  EXPECT_FALSE(page_->AccessIPList->Enabled());
  EXPECT_FALSE(page_->AddIP->Enabled());
  EXPECT_FALSE(page_->RemoveIP->Enabled());
  EXPECT_EQ(page_->NotGroupsList->Texts(), (List{"Admins", "Guests", "Staff"}));
  EXPECT_EQ(page_->AllowGroupsList->Count(), 0);
  EXPECT_FALSE(page_->UserListsLoaded);
  EXPECT_FALSE(changed_);
}

TEST_F(AccessPageTest, ASavedPageLoadsBackAsItWasAndItsListsAreWrittenSorted) {
  page_->LoadRule();
  Select(*page_->NotGroupsList, {"Staff", "Admins"});
  au::Click(*page_->AddAccessGroup);
  au::Choose(*page_->AccessNotebook, 1);  // the Users page reads the user lists
  ASSERT_TRUE(page_->UserListsLoaded);
  Select(*page_->NotUsersList, {"Bob"});
  au::Click(*page_->AddAccessUser);
  au::Choose(*page_->AccessNotebook, 2);
  au::Click(*page_->DenyIP);
  au::Click(*page_->EnforceSecurity);
  EXPECT_TRUE(changed_);
  page_->SaveRule();
  EXPECT_FALSE(changed_);

  StoredRule r = Stored("SERVER", "/SRV/WEB/", "GET");
  EXPECT_EQ(r.groups, "Admins\rStaff\r");
  EXPECT_EQ(r.users, "Bob\r");
  EXPECT_EQ(r.ipaction, "D");
  EXPECT_EQ(r.enforce, "N");

  au::Choose(*page_->AccessNotebook, 0);
  page_->Resource = "/ELSEWHERE/";
  page_->LoadRule();
  EXPECT_EQ(page_->AllowGroupsList->Count(), 0);
  page_->Resource = "/SRV/WEB/";
  page_->LoadRule();
  EXPECT_EQ(page_->AllowGroupsList->Texts(), (List{"Admins", "Staff"}));
  EXPECT_EQ(page_->NotGroupsList->Texts(), List{"Guests"});
  EXPECT_TRUE(page_->DenyIP->Checked());
  EXPECT_TRUE(page_->AccessIPList->Enabled());
  EXPECT_FALSE(page_->EnforceSecurity->Checked());
  EXPECT_FALSE(changed_);
}

TEST_F(AccessPageTest, MovesGoByTheSendersNameAndOnlyAMoveMarksTheRule) {
  page_->LoadRule();
  // A double click on an available group moves it (the click selected it alone).
  Select(*page_->NotGroupsList, {"Guests"});
  ui::PostDblClickItem(*page_->NotGroupsList, page_->NotGroupsList->IndexOf("Staff"));
  au::Pump();
  EXPECT_EQ(page_->AllowGroupsList->Texts(), List{"Staff"});
  EXPECT_TRUE(changed_);
  // The list as sender moves every selected item, as the button does.
  page_->NotGroupsList->SetItemIndex(0);
  page_->NotGroupsList->SetSelected(0, true);
  page_->NotGroupsList->SetSelected(1, true);
  page_->MultiMoveClick(*page_->NotGroupsList);
  EXPECT_EQ(page_->AllowGroupsList->Texts(), (List{"Admins", "Guests", "Staff"}));
  EXPECT_EQ(page_->NotGroupsList->Count(), 0);
  Select(*page_->AllowGroupsList, {"Admins", "Guests"});
  au::Click(*page_->RemoveAccessGroup);

  // Nothing selected: nothing moves, and the mark stays as it was.
  for (bool before : {true, false}) {
    changed_ = before;
    au::Click(*page_->RemoveAccessGroup);
    EXPECT_EQ(page_->AllowGroupsList->Texts(), List{"Staff"});
    EXPECT_EQ(changed_, before);
  }
  // Another sender moves nothing.
  page_->MultiMoveClick(*page_->AddIP);
  EXPECT_EQ(page_->AllowGroupsList->Count(), 1);
}

TEST_F(AccessPageTest, MoveSelectedItemsTakesFromTheSourceWhatTheTargetHolds) {
  ui::ListBox& from = *page_->NotGroupsList;
  ui::ListBox& to = *page_->AllowGroupsList;
  SetListItems(from, {"a", "B", "c"});
  SetListItems(to, {"b"});
  EXPECT_FALSE(MoveSelectedItems(from, to));  // no current item
  from.SetSelected(0, true);
  from.SetItemIndex(0);
  EXPECT_TRUE(MoveSelectedItems(from, to));
  EXPECT_EQ(to.Texts(), (List{"a", "b"}));
  EXPECT_EQ(from.Texts(), List{"c"});  // "B" goes too: the target holds "b"
}

TEST_F(AccessPageTest, AddressesAreAddedOnlyWithOkAndAText) {
  page_->LoadRule();
  au::Choose(*page_->AccessNotebook, 2);
  au::Click(*page_->AllowIP);
  changed_ = false;
  // Cancel, and Ok on an empty field, add nothing.
  for (auto [text, cancel] : {std::pair{"10.0.0.1", true}, std::pair{"", false}}) {
    auto answer = AnswerAddress(text, cancel ? NewIPForm->Button2 : NewIPForm->OkButton);
    au::Click(*page_->AddIP);
    EXPECT_EQ(answer->Count(), 1);
  }
  EXPECT_EQ(page_->AccessIPList->Count(), 0);
  EXPECT_FALSE(changed_);
  // A pattern is kept trimmed, without a question when the check reads it
  // as written.
  au::ModalResponder dialog("NewIPForm", [](ui::Form&) {
    if (NewIPForm->IPAddrEdit->Text().empty()) {
      ui::PostReplaceText(*NewIPForm->IPAddrEdit, " 192.168.1.1\t");
      ui::PostClick(*NewIPForm->OkButton);
    } else {
      ui::PostClick(*NewIPForm->Button2);  // given back: not kept
    }
  });
  au::Click(*page_->AddIP);
  EXPECT_EQ(dialog.Count(), 1);
  EXPECT_EQ(page_->AccessIPList->Texts(), List{"192.168.1.1"});
  EXPECT_TRUE(boxes_.Shown().empty());
  EXPECT_TRUE(changed_);
}

TEST_F(AccessPageTest, APatternReadOtherwiseIsKeptOnlyWhenTheAdministratorSaysSo) {
  page_->LoadRule();
  au::Choose(*page_->AccessNotebook, 2);
  au::Click(*page_->AllowIP);
  changed_ = false;
  // Each showing of the dialog types the next text, or keeps the one it
  // was given back, and presses Ok.
  std::vector<std::string> typed, shown;
  au::ModalResponder dialog("NewIPForm", [&](ui::Form&) {
    shown.push_back(NewIPForm->IPAddrEdit->Text());
    if (shown.size() > 4) {  // a page that never keeps the text
      ui::PostClick(*NewIPForm->Button2);
      return;
    }
    if (!typed.empty()) {
      ui::PostReplaceText(*NewIPForm->IPAddrEdit, typed.front());
      typed.erase(typed.begin());
    }
    ui::PostClick(*NewIPForm->OkButton);
  });
  // Yes goes back to the text as typed; the question's default does the
  // same; No keeps the trimmed text as typed, not as the check reads it.
  typed = {"192.168.*.5 "};
  boxes_.Answer(platform::IDYES);
  boxes_.Answer(platform::IDNO);
  au::Click(*page_->AddIP);
  EXPECT_EQ(shown, (std::vector<std::string>{"", "192.168.*.5 "}));
  ASSERT_EQ(boxes_.Shown().size(), 2u);
  EXPECT_EQ(boxes_.Shown()[0].text, "The access check reads 192.168.*.5 as 192.168.*.*. Change it?");
  EXPECT_EQ(boxes_.Shown()[0].kind, platform::MsgKind::Confirmation);
  EXPECT_EQ(boxes_.Shown()[0].buttons, platform::MsgButtons::YesNo);
  EXPECT_EQ(page_->AccessIPList->Texts(), List{"192.168.*.5"});
  EXPECT_TRUE(changed_);

  // Unanswered, the question takes its default: back to the text, which
  // is then mended.
  shown.clear();
  typed = {"192.168", "192.168.*"};
  au::Click(*page_->AddIP);
  EXPECT_EQ(shown, (std::vector<std::string>{"", "192.168"}));
  ASSERT_EQ(boxes_.Shown().size(), 3u);
  EXPECT_EQ(boxes_.Shown()[2].text, "The access check reads 192.168 as 192.168.168.168. Change it?");
  EXPECT_EQ(page_->AccessIPList->Texts(), (List{"192.168.*", "192.168.*.5"}));
}

TEST_F(AccessPageTest, RemovingAnAddressAsksFirst) {
  page_->LoadRule();
  au::Choose(*page_->AccessNotebook, 2);
  au::Click(*page_->DenyIP);
  SetListItems(*page_->AccessIPList, {"1.2.3.4", "5.6.7.8"});
  changed_ = false;
  au::Click(*page_->RemoveIP);  // nothing selected: no question
  EXPECT_TRUE(boxes_.Shown().empty());
  ui::PostChoose(*page_->AccessIPList, 1);
  au::Pump();
  boxes_.Answer(platform::IDNO);
  au::Click(*page_->RemoveIP);
  EXPECT_EQ(page_->AccessIPList->Count(), 2);
  EXPECT_FALSE(changed_);
  boxes_.Answer(platform::IDYES);
  au::Click(*page_->RemoveIP);
  EXPECT_EQ(page_->AccessIPList->Texts(), List{"1.2.3.4"});
  EXPECT_TRUE(changed_);
  ASSERT_EQ(boxes_.Shown().size(), 2u);
  EXPECT_EQ(boxes_.Shown()[1].text, "Remove IP Address 5.6.7.8");
  EXPECT_EQ(boxes_.Shown()[1].kind, platform::MsgKind::Confirmation);
  EXPECT_EQ(boxes_.Shown()[1].buttons, platform::MsgButtons::YesNo);
}

TEST_F(AccessPageTest, UserListsFollowTheUsersPage) {
  SaveAccessRule("SERVER", "/SRV/WEB/", "GET", {}, "I", {"Staff"}, true);
  SaveAccessUsers("SERVER", "/SRV/WEB/", "GET", {"ann"});
  page_->LoadRule();
  EXPECT_EQ(page_->AllowUsersList->Count(), 0);
  // Saved without reading them, the stored users stay.
  au::Click(*page_->EnforceSecurity);
  page_->SaveRule();
  EXPECT_EQ(Stored("SERVER", "/SRV/WEB/", "GET").users, "ann\r");

  au::Choose(*page_->AccessNotebook, 1);
  EXPECT_EQ(page_->AllowUsersList->Texts(), List{"ann"});
  Select(*page_->NotUsersList, {"Bob"});
  au::Click(*page_->AddAccessUser);
  EXPECT_EQ(page_->AllowUsersList->Count(), 2);
  // Choosing the page again shows the stored lists again.
  au::Choose(*page_->AccessNotebook, 0);
  au::Choose(*page_->AccessNotebook, 1);
  EXPECT_EQ(page_->AllowUsersList->Texts(), List{"ann"});
  EXPECT_EQ(page_->NotUsersList->Texts(), List{"Bob"});
  // A rule loaded while the page shows reads them at once.
  page_->Resource = "/NEW/";
  page_->LoadRule();
  EXPECT_TRUE(page_->UserListsLoaded);
  EXPECT_EQ(page_->NotUsersList->Texts(), (List{"ann", "Bob"}));
}

TEST_F(AccessPageTest, AFailedSaveKeepsThePageAndTheMarkAndNamesTheRule) {
  page_->LoadRule();
  Select(*page_->NotGroupsList, {"Staff"});
  au::Click(*page_->AddAccessGroup);
  CloseSecurityTables();  // the tables went away under the page
  try {
    page_->SaveRule();
    ADD_FAILURE() << "saved without tables";
  } catch (const platform::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("The access rule for /SRV/WEB/ (GET) was not saved"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(changed_);
  EXPECT_EQ(page_->AllowGroupsList->Texts(), List{"Staff"});
  // Once the tables are back the same save goes through.
  OpenSecurityStore("", data_);
  page_->SaveRule();
  EXPECT_EQ(Stored("SERVER", "/SRV/WEB/", "GET").groups, "Staff\r");
  EXPECT_THROW(
      {
        CloseSecurityTables();
        page_->LoadRule();
      },
      platform::DbError);
  EXPECT_EQ(page_->AllowGroupsList->Texts(), List{"Staff"});  // a failed load changes nothing
  OpenSecurityStore("", data_);
}

}  // namespace
}  // namespace tools_test
