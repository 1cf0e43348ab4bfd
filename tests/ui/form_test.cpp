#include "platform/ui/form.h"

#include <gtest/gtest.h>

#include "platform/ui/application.h"
#include "platform/ui/automation.h"
#include "platform/ui/controls.h"
#include "platform/ui/menus.h"
#include "ui_fixture.h"

namespace platform::ui {
namespace {

using namespace automation;
using Strings = std::vector<std::string>;

class FormTest : public testing::UiTest {};

// A dialog like the system's: OK (result 1) and Cancel (result 2) buttons.
struct Dialog {
  Form form{nullptr, "Dialog"};
  Button* ok = new Button(&form, &form, "OKButton");
  Button* cancel = new Button(&form, &form, "CancelButton");
  Edit* edit = new Edit(&form, &form, "Field");
  Dialog() {
    ok->SetModalResult(mrOk);
    ok->SetDefault(true);
    cancel->SetModalResult(mrCancel);
    cancel->SetCancel(true);
  }
};

// ---------------------------------------------------------------------------
// Modal showing

TEST_F(FormTest, ModalResultIsTheClickedButtonsAndTheFormIsHiddenAfterwards) {
  Dialog d;
  PostClick(*d.ok);  // dispatched by the modal loop
  EXPECT_EQ(d.form.ShowModal(), mrOk);
  EXPECT_FALSE(d.form.Visible());
  EXPECT_FALSE(d.form.Modal());

  PostClick(*d.cancel);
  EXPECT_EQ(d.form.ShowModal(), mrCancel);
}

TEST_F(FormTest, AHandlerSettingMinusOneEndsTheModalLoop) {
  Dialog d;
  Button* no = new Button(&d.form, &d.form, "NoButton");
  no->OnClick = [&](Component&) { d.form.SetModalResult(-1); };
  PostClick(*no);
  EXPECT_EQ(d.form.ShowModal(), -1);
}

TEST_F(FormTest, TheCloseBoxOfAModalFormGivesCancel) {
  Dialog d;
  PostCloseBox(d.form);
  EXPECT_EQ(d.form.ShowModal(), mrCancel);
}

TEST_F(FormTest, EventsOfAModalShowingComeInTheOrderAUserSees) {
  Dialog d;
  d.form.OnResize = [&](Component&) { log.push_back("resize"); };
  d.form.OnShow = [&](Component&) { log.push_back("show"); };
  d.form.OnClose = [&](Component&, CloseAction& a) {
    log.push_back("close");
    EXPECT_EQ(a, CloseAction::Hide);
  };
  d.form.OnHide = [&](Component&) { log.push_back("hide"); };
  d.ok->OnClick = [&](Component&) { log.push_back("ok"); };
  PostClick(*d.ok);
  EXPECT_EQ(d.form.ShowModal(), mrOk);
  EXPECT_EQ(log, (Strings{"resize", "show", "ok", "close", "hide"}));

  // The window exists now: a second showing does not resize it again.
  log.clear();
  PostClick(*d.ok);
  d.form.ShowModal();
  EXPECT_EQ(log, (Strings{"show", "ok", "close", "hide"}));
}

TEST_F(FormTest, OnCloseWithActionNoneKeepsAModalFormOpen) {
  Dialog d;
  int asked = 0;
  d.form.OnClose = [&](Component&, CloseAction& a) {
    if (++asked == 1) a = CloseAction::None;
  };
  PostClick(*d.ok);
  PostClick(*d.cancel);
  EXPECT_EQ(d.form.ShowModal(), mrCancel);  // the first refused, the second closed
  EXPECT_EQ(asked, 2);
}

TEST_F(FormTest, ShowingAVisibleFormModallyIsAnError) {
  Dialog d;
  d.form.Show();
  EXPECT_THROW(d.form.ShowModal(), std::logic_error);
  EXPECT_TRUE(d.form.Visible());
}

TEST_F(FormTest, ModalFormDisablesTheOtherFormsUntilItCloses) {
  Form main(nullptr, "Main");
  Button* b = new Button(&main, &main, "B");
  int clicks = 0;
  b->OnClick = [&](Component&) { ++clicks; };
  main.Show();
  Dialog d;
  d.form.OnShow = [&](Component&) {
    EXPECT_TRUE(main.DisabledByModal());
    PostClick(*b);      // the user cannot reach the main form now
    PostClick(*d.ok);
  };
  EXPECT_EQ(d.form.ShowModal(), mrOk);
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(main.DisabledByModal());
  Click(*b);
  EXPECT_EQ(clicks, 1);
}

TEST_F(FormTest, ModalShowingsNestAndEachReturnsItsOwnResult) {
  Dialog outer, inner;
  int inner_result = 0;
  Button* open = new Button(&outer.form, &outer.form, "Open");
  open->OnClick = [&](Component&) {
    PostClick(*outer.ok);  // the outer form is disabled meanwhile: dropped
    PostClick(*inner.cancel);
    inner_result = inner.form.ShowModal();
    PostClick(*outer.ok);
  };
  PostClick(*open);
  EXPECT_EQ(outer.form.ShowModal(), mrOk);
  EXPECT_EQ(inner_result, mrCancel);
}

TEST_F(FormTest, ModalResponderAnswersAFormOpenedByAHandler) {
  Form main(nullptr, "Main");
  Button* settings = new Button(&main, &main, "SettingsButton");
  Dialog d;
  int result = 0;
  settings->OnClick = [&](Component&) { result = d.form.ShowModal(); };
  main.Show();
  ModalResponder responder("dialog", [&](Form&) {
    PostReplaceText(*d.edit, "127.0.0.1");
    PostClick(*d.ok);
  });
  Click(*settings);
  EXPECT_EQ(responder.Count(), 1);
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(d.edit->Text(), "127.0.0.1");
}

// A modal loop opened while a socket or completion message is handled
// leaves WM_USER..WM_USER+9 queued until the loop ends.
TEST_F(FormTest, ModalFormInsideASocketHandlerHoldsBackSocketAndCompletionMessages) {
  Dialog d;
  d.ok->OnClick = [&](Component&) { log.push_back("ok"); };
  HWND engine = 0;
  engine = CreateWindowHandle([&](const MSG& m) {
    if (m.message == WM_USER + 1) {
      log.push_back("socket");
      PostMessage(engine, WM_USER + 3, 1, 1);  // a completion arrives meanwhile
      PostMessage(engine, WM_USER + 1, 2, 1);  // and another socket event
      PostClick(*d.ok);
      int r = d.form.ShowModal();
      log.push_back("modal " + std::to_string(r));
    } else if (m.message == WM_USER + 3) {
      log.push_back("completion");
    }
  });
  bool second = false;
  PostMessage(engine, WM_USER + 1, 1, 1);
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  DispatchMessage(m);
  EXPECT_EQ(log, (Strings{"socket", "ok", "modal 1"}));
  // The held messages are still there, in order.
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 3);
  DispatchMessage(m);
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
  second = m.wParam == 2;
  EXPECT_TRUE(second);
  EXPECT_EQ(log.back(), "completion");
  DestroyWindowHandle(engine);
}

TEST_F(FormTest, ModalFormOutsideASocketHandlerDispatchesCompletions) {
  Dialog d;
  d.ok->OnClick = [&](Component&) { log.push_back("ok"); };
  HWND engine = CreateWindowHandle([&](const MSG& m) {
    if (m.message == WM_USER + 3) log.push_back("completion");
  });
  PostMessage(engine, WM_USER + 3, 1, 1);
  PostClick(*d.ok);
  d.form.ShowModal();
  EXPECT_EQ(log, (Strings{"completion", "ok"}));
  DestroyWindowHandle(engine);
}

TEST_F(FormTest, QuitDuringAModalShowingCancelsItAndIsLeftForTheOuterLoop) {
  Dialog d;
  d.form.OnShow = [](Component&) { PostQuitMessage(3); };
  EXPECT_EQ(d.form.ShowModal(), mrCancel);
  EXPECT_FALSE(d.form.Visible());
  MSG m;
  ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
}

// ---------------------------------------------------------------------------
// Keys, focus

TEST_F(FormTest, EnterPressesTheDefaultButtonAndEscTheCancelButton) {
  Dialog d;
  PostKey(*d.edit, kKeyReturn);
  EXPECT_EQ(d.form.ShowModal(), mrOk);
  PostKey(*d.edit, kKeyEscape);
  EXPECT_EQ(d.form.ShowModal(), mrCancel);
}

TEST_F(FormTest, EnterOnAFocusedButtonPressesThatButton) {
  Dialog d;
  PostFocus(*d.cancel);
  PostKey(*d.cancel, kKeyReturn);
  EXPECT_EQ(d.form.ShowModal(), mrCancel);
}

TEST_F(FormTest, ADisabledDefaultButtonIsNotPressed) {
  Dialog d;
  d.ok->SetEnabled(false);
  d.form.Show();
  Key(*d.edit, kKeyReturn);
  EXPECT_EQ(d.form.ModalResult(), mrNone);
}

TEST_F(FormTest, ShowingFocusesTheFirstControlThatTakesTheFocus) {
  Form f(nullptr, "F");
  new Label(&f, &f, "L");
  Edit* e = new Edit(&f, &f, "E");
  e->OnEnter = [&](Component&) { log.push_back("enter"); };
  f.Show();
  EXPECT_EQ(f.ActiveControl(), e);
  EXPECT_EQ(log, Strings{"enter"});
}

TEST_F(FormTest, SetFocusOnAHiddenControlIsAnError) {
  Form f(nullptr, "F");
  Edit* e = new Edit(&f, &f, "E");
  f.Show();
  e->SetVisible(false);
  EXPECT_THROW(e->SetFocus(), std::runtime_error);
}

// ---------------------------------------------------------------------------
// Non-modal forms and closing

TEST_F(FormTest, ShowAndHideFireOnShowAndOnHideOnlyOnChange) {
  Form f(nullptr, "F");
  f.OnShow = [&](Component&) { log.push_back("show"); };
  f.OnHide = [&](Component&) { log.push_back("hide"); };
  f.Show();
  f.Show();
  f.Hide();
  f.Hide();
  EXPECT_EQ(log, (Strings{"show", "hide"}));
}

TEST_F(FormTest, CloseBoxRunsOnCloseThenHidesTheForm) {
  Form f(nullptr, "F");
  f.OnClose = [&](Component&, CloseAction&) { log.push_back("close"); };
  f.OnHide = [&](Component&) { log.push_back("hide"); };
  f.Show();
  CloseBox(f);
  EXPECT_EQ(log, (Strings{"close", "hide"}));
  EXPECT_FALSE(f.Visible());
}

TEST_F(FormTest, CloseActionNoneKeepsTheFormAndMinimizeMinimizesIt) {
  Form f(nullptr, "F");
  CloseAction next = CloseAction::None;
  f.OnClose = [&](Component&, CloseAction& a) { a = next; };
  f.Show();
  CloseBox(f);
  EXPECT_TRUE(f.Visible());
  next = CloseAction::Minimize;
  CloseBox(f);
  EXPECT_TRUE(f.Visible());
  EXPECT_EQ(f.GetWindowState(), WindowState::Minimized);
}

TEST_F(FormTest, CloseActionFreeFreesTheFormOnceTheQueueIsReached) {
  Form* f = new Form(nullptr, "Viewer");
  uint64_t id = f->Id();
  f->OnClose = [](Component&, CloseAction& a) { a = CloseAction::Free; };
  f->OnDestroy = [&](Component&) { log.push_back("destroy"); };
  f->Show();
  f->Close();
  EXPECT_EQ(Component::FromId(id), f);  // still there inside the handler
  Pump();
  EXPECT_EQ(Component::FromId(id), nullptr);
  EXPECT_EQ(log, Strings{"destroy"});
}

TEST_F(FormTest, AFormWithoutCloseBoxIgnoresTheCloseBoxButNotASignalsClose) {
  Form f(nullptr, "Stop");
  f.SetCloseBox(false);
  f.OnClose = [&](Component&, CloseAction&) { log.push_back("close"); };
  f.Show();
  CloseBox(f);
  EXPECT_TRUE(log.empty());
  PostMessage(f.Handle(), WM_CLOSE, 0, 0);  // what SIGTERM posts
  Pump();
  EXPECT_EQ(log, Strings{"close"});
}

TEST_F(FormTest, AHiddenFormTakesNoInput) {
  Dialog d;
  int clicks = 0;
  d.ok->OnClick = [&](Component&) { ++clicks; };
  Click(*d.ok);
  CloseBox(d.form);
  EXPECT_EQ(clicks, 0);
}

TEST_F(FormTest, MessagesToTheFormsHandleReachItsHandler) {
  Form f(nullptr, "App");
  f.SetMessageHandler(WM_USER + 1000, [&](const MSG& m) { log.push_back("cycle " + std::to_string(m.wParam)); });
  PostMessage(f.Handle(), WM_USER + 1000, 7, 0);
  Pump();
  EXPECT_EQ(log, Strings{"cycle 7"});
}

// ---------------------------------------------------------------------------
// Geometry

TEST_F(FormTest, ClientSizeLiesInsideFrameCaptionAndMenuBar) {
  Form f(nullptr, "F");
  f.SetBorderStyle(BorderStyle::Sizeable);
  f.SetClientSize(427, 362);
  EXPECT_EQ(f.Width(), 427 + 8);
  EXPECT_EQ(f.Height(), 362 + 8 + 19);
  MainMenu* menu = new MainMenu(&f, "MainMenu");
  new MenuItem(&f, &menu->Items(), "ServerMenu", "&Server");
  f.SetMenu(menu);
  EXPECT_EQ(f.ClientHeight(), 362 - 19);  // the bar takes its height from the client area
  f.SetBorderStyle(BorderStyle::None);
  f.SetMenu(nullptr);
  EXPECT_EQ(f.ClientWidth(), f.Width());
  EXPECT_EQ(f.ClientHeight(), f.Height());
}

TEST_F(FormTest, ScreenCentredFormIsPlacedAtItsFirstShowing) {
  Form f(nullptr, "F");
  f.SetPosition(FormPosition::ScreenCenter);
  f.SetBounds(0, 0, 424, 368);
  f.Show();
  EXPECT_EQ(f.Left(), (Screen().width - 424) / 2);
  EXPECT_EQ(f.Top(), (Screen().height - 368) / 2);
}

TEST_F(FormTest, MaximizingFillsTheScreenAndRestoringBringsBackTheNormalBounds) {
  Form f(nullptr, "F");
  f.SetBounds(5, 5, 435, 300);
  int resizes = 0;
  f.OnResize = [&](Component&) { ++resizes; };
  f.SetWindowState(WindowState::Maximized);
  EXPECT_EQ(f.ClientWidth(), Screen().width);
  EXPECT_EQ(resizes, 1);
  EXPECT_EQ(f.NormalBounds(), (Rect{5, 5, 440, 305}));
  f.SetBounds(10, 10, 200, 100);  // moves where it returns to
  EXPECT_EQ(f.ClientWidth(), Screen().width);
  f.SetWindowState(WindowState::Normal);
  EXPECT_EQ(f.BoundsRect(), (Rect{10, 10, 210, 110}));
  EXPECT_EQ(resizes, 2);
}

TEST_F(FormTest, UserResizeAndMoveAreMessagesOnlyForASizeableNormalWindow) {
  Form f(nullptr, "F");
  f.SetBounds(0, 0, 300, 200);
  f.Show();
  int resizes = 0;
  f.OnResize = [&](Component&) { ++resizes; };
  PostResize(f, 500, 400);
  PostMove(f, -3, 20);
  Pump();
  EXPECT_EQ(f.BoundsRect(), (Rect{-3, 20, 497, 420}));
  EXPECT_EQ(resizes, 1);
  f.SetBorderStyle(BorderStyle::Dialog);
  resizes = 0;
  PostResize(f, 100, 100);
  Pump();
  EXPECT_EQ(f.Width(), 500);
  EXPECT_EQ(resizes, 0);
}

TEST_F(FormTest, AlignedControlsFollowTheClientArea) {
  Form f(nullptr, "F");
  f.SetBorderStyle(BorderStyle::None);
  f.SetClientSize(400, 300);
  Panel* bar = new Panel(&f, &f, "Panel");
  bar->SetHeight(29);
  bar->SetAlign(Align::Top);
  Control* tabs = new Panel(&f, &f, "TabSet");
  tabs->SetHeight(21);
  tabs->SetAlign(Align::Bottom);
  Control* book = new Panel(&f, &f, "Notebook");
  book->SetAlign(Align::Client);
  EXPECT_EQ(bar->BoundsRect(), (Rect{0, 0, 400, 29}));
  EXPECT_EQ(tabs->BoundsRect(), (Rect{0, 279, 400, 300}));
  EXPECT_EQ(book->BoundsRect(), (Rect{0, 29, 400, 279}));
  f.SetClientSize(500, 200);
  EXPECT_EQ(book->BoundsRect(), (Rect{0, 29, 500, 179}));
  tabs->SetVisible(false);
  EXPECT_EQ(book->BoundsRect(), (Rect{0, 29, 500, 200}));
}

TEST_F(FormTest, AResizeHandlerThatResizesAgainEnds) {
  Form f(nullptr, "F");
  int calls = 0;
  f.OnResize = [&](Component&) {
    ++calls;
    if (f.ClientHeight() < 301) f.SetClientHeight(301);  // a minimum, set inside the handler
  };
  f.SetClientSize(300, 100);
  EXPECT_EQ(f.ClientHeight(), 301);
  EXPECT_LE(calls, 3);

  // Even a handler that never settles does not recurse without end.
  calls = 0;
  f.OnResize = [&](Component&) {
    ++calls;
    f.SetClientHeight(f.ClientHeight() + 1);
  };
  f.SetClientHeight(10);
  EXPECT_LE(calls, 8);
}

TEST_F(FormTest, ClientToScreenAddsTheFormsFrameAndTheParents) {
  Form f(nullptr, "F");
  f.SetBorderStyle(BorderStyle::Dialog);
  f.SetBounds(100, 50, 400, 300);
  Panel* p = new Panel(&f, &f, "P");
  p->SetBounds(10, 20, 100, 100);
  Label* l = new Label(&f, p, "L");
  l->SetBounds(3, 4, 10, 10);
  EXPECT_EQ(l->ClientToScreen({1, 1}), (Point{100 + 3 + 10 + 3 + 1, 50 + 3 + 19 + 20 + 4 + 1}));
}

}  // namespace
}  // namespace platform::ui
