#include "platform/msgbox.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(MessageBoxButtons, IdsLeftToRightWithTheFirstAsDefault) {
  EXPECT_EQ(ButtonIds(MsgButtons::Ok), std::vector<int>{IDOK});
  EXPECT_EQ(ButtonIds(MsgButtons::OkCancel), (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_EQ(ButtonIds(MsgButtons::YesNo), (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(ButtonIds(MsgButtons::YesNoCancel), (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(ButtonIds(MsgButtons::AbortRetryIgnore), (std::vector<int>{IDABORT, IDRETRY, IDIGNORE}));
  EXPECT_EQ(ButtonIds(MsgButtons::RetryCancel), (std::vector<int>{IDRETRY, IDCANCEL}));
  EXPECT_EQ(DefaultButton(MsgButtons::YesNo), IDYES);
  EXPECT_EQ(DefaultButton(MsgButtons::OkCancel), IDOK);
  // The numbers of the Windows dialog results.
  EXPECT_EQ(IDOK, 1);
  EXPECT_EQ(IDCANCEL, 2);
  EXPECT_EQ(IDYES, 6);
  EXPECT_EQ(IDNO, 7);
}

TEST(MessageBoxHeadless, WritesOneLineToStandardErrorAndTakesTheDefault) {
  ::testing::internal::CaptureStderr();
  int answer = MessageBox("Can't load MORVEX32.DLL!", "Halvorine", MsgKind::Error, MsgButtons::Ok);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(err, "message box [error] Halvorine: Can't load MORVEX32.DLL! -> OK\n");
}

TEST(MessageBoxHeadless, ConfirmationAnswersYesAndLineBreaksBecomeBlanks) {
  ::testing::internal::CaptureStderr();
  int answer = MessageBox("Unload\r\nTEST.DLL?", "Confirm", MsgKind::Confirmation, MsgButtons::YesNo);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, IDYES);
  EXPECT_EQ(err, "message box [confirmation] Confirm: Unload  TEST.DLL? -> Yes\n");
}

TEST(MessageBoxHeadless, KindNames) {
  EXPECT_STREQ(KindName(MsgKind::Plain), "plain");
  EXPECT_STREQ(KindName(MsgKind::Information), "information");
  EXPECT_STREQ(KindName(MsgKind::Warning), "warning");
  EXPECT_STREQ(KindName(MsgKind::Error), "error");
  EXPECT_STREQ(KindName(MsgKind::Confirmation), "confirmation");
  EXPECT_STREQ(ButtonName(IDIGNORE), "Ignore");
  EXPECT_STREQ(ButtonName(99), "?");
}

TEST(MessageBoxScripted, AnswersInOrderThenDefaultsAndRecordsEveryBox) {
  ::testing::internal::CaptureStderr();
  {
    MessageBoxScript script;
    script.Answer(IDNO);
    script.Answer(IDCANCEL);
    EXPECT_EQ(script.PendingAnswers(), 2u);
    EXPECT_EQ(MessageBox("Delete TOKEN?", "Confirm", MsgKind::Confirmation, MsgButtons::YesNo), IDNO);
    EXPECT_EQ(MessageBox("You must enter the path to a working QXBBS directory.", "Error", MsgKind::Error,
                         MsgButtons::OkCancel),
              IDCANCEL);
    EXPECT_EQ(script.PendingAnswers(), 0u);
    EXPECT_EQ(MessageBox("Remove IP Address 10.0.0.1", "", MsgKind::Confirmation, MsgButtons::YesNo), IDYES);
    std::vector<MessageBoxRequest> shown = script.Shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, "Delete TOKEN?");
    EXPECT_EQ(shown[0].caption, "Confirm");
    EXPECT_EQ(shown[0].kind, MsgKind::Confirmation);
    EXPECT_EQ(shown[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(shown[1].kind, MsgKind::Error);
    EXPECT_EQ(shown[1].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(shown[2].text, "Remove IP Address 10.0.0.1");
  }
  // Nothing reached standard error while the script answered.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  // Afterwards the headless default answers again.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox("after", "x", MsgKind::Information, MsgButtons::OkCancel), IDOK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "message box [information] x: after -> OK\n");
}

TEST(MessageBoxScripted, AnAnswerThatIsNotOneOfTheButtonsCountsAsTheDefault) {
  MessageBoxScript script;
  script.Answer(IDYES);
  EXPECT_EQ(MessageBox("Library is busy.", "Error", MsgKind::Error, MsgButtons::Ok), IDOK);
  script.Answer(0);
  EXPECT_EQ(MessageBox("Unload X?", "", MsgKind::Confirmation, MsgButtons::YesNoCancel), IDYES);
}

TEST(MessageBoxHandlerTest, InstalledHandlerSeesEveryBoxAndCanBeReplaced) {
  std::vector<std::string> seen;
  MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& r) {
    seen.push_back(r.caption + "|" + r.text);
    return IDNO;
  });
  EXPECT_FALSE(previous);  // the headless default was in place
  EXPECT_EQ(MessageBox("q?", "c", MsgKind::Confirmation, MsgButtons::YesNo), IDNO);
  // Boxes from another thread reach the same handler.
  int from_thread = 0;
  std::thread t([&] { from_thread = MessageBox("t?", "thread", MsgKind::Confirmation, MsgButtons::YesNoCancel); });
  t.join();
  EXPECT_EQ(from_thread, IDNO);
  MessageBoxHandler mine = SetMessageBoxHandler(nullptr);
  EXPECT_TRUE(mine);
  EXPECT_EQ(seen, (std::vector<std::string>{"c|q?", "thread|t?"}));
  // A handler can wrap the one it replaced.
  SetMessageBoxHandler([&](const MessageBoxRequest& r) { return mine(r) == IDNO ? IDCANCEL : IDOK; });
  EXPECT_EQ(MessageBox("nested", "n", MsgKind::Warning, MsgButtons::OkCancel), IDCANCEL);
  SetMessageBoxHandler(nullptr);
}

}  // namespace
}  // namespace platform
