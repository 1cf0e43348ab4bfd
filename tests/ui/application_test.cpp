#include "platform/ui/application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "platform/ui/automation.h"
#include "platform/ui/controls.h"
#include "platform/ui/timer.h"
#include "ui_fixture.h"

namespace platform::ui {
namespace {

using namespace automation;
using Strings = std::vector<std::string>;

class ApplicationTest : public testing::UiTest {};

// A form class as the programs write them: built in its constructor, its
// handlers assigned there.
class MainWindow : public Form {
 public:
  MainWindow(Component* owner, std::vector<std::string>* log) : Form(owner, "App"), log_(log) {
    SetCaption("Halvorine");
    OnCreate = [this](Component&) { log_->push_back("create " + Name()); };
    OnShow = [this](Component&) { log_->push_back("show"); };
    OnClose = [this](Component&, CloseAction&) { log_->push_back("close"); };
    OnDestroy = [this](Component&) { log_->push_back("destroy " + Name()); };
  }
  Button* exit = new Button(this, this, "ExitButton");

 private:
  std::vector<std::string>* log_;
};

TEST_F(ApplicationTest, TheFirstFormCreatedIsTheMainFormAndItsTitleStaysApart) {
  Application app;
  app.SetTitle("Halvorine (Stopped)");
  auto* main = app.CreateForm<MainWindow>(&log);
  auto* second = app.CreateForm<Form>("Settings");
  EXPECT_EQ(app.MainForm(), main);
  EXPECT_EQ(main->Owner(), &app);
  EXPECT_EQ(second->Name(), "Settings");
  EXPECT_EQ(main->Caption(), "Halvorine");
  EXPECT_EQ(app.Title(), "Halvorine (Stopped)");
  EXPECT_EQ(log, Strings{"create App"});
  EXPECT_EQ(ProgramTitle(), "Halvorine (Stopped)");
}

TEST_F(ApplicationTest, RunShowsTheMainFormAndEndsWhenItCloses) {
  Application app;
  auto* main = app.CreateForm<MainWindow>(&log);
  main->exit->OnClick = [main](Component&) { main->Close(); };
  PostClick(*main->exit);
  EXPECT_EQ(app.Run(), 0);
  EXPECT_TRUE(app.Terminated());
  EXPECT_EQ(log, (Strings{"create App", "show", "close"}));
}

TEST_F(ApplicationTest, TheCloseBoxOfTheMainFormEndsRunAndTerminateGivesItsCode) {
  {
    Application app;
    auto* main = app.CreateForm<MainWindow>(&log);
    PostCloseBox(*main);
    app.Run();
    EXPECT_EQ(log.back(), "close");
  }
  Application app;
  app.CreateForm<MainWindow>(&log);
  app.Terminate(4);
  EXPECT_EQ(app.Run(), 4);
}

TEST_F(ApplicationTest, FormsAreFreedWithTheApplicationLastCreatedFirst) {
  {
    Application app;
    auto* main = app.CreateForm<MainWindow>(&log);
    auto* viewer = new MainWindow(main, &log);  // owned by the main window
    viewer->SetName("Header");
    app.CreateForm<MainWindow>(&log)->SetName("Stop");
    log.clear();
  }
  EXPECT_EQ(log, (Strings{"destroy Stop", "destroy App", "destroy Header"}));
}

TEST_F(ApplicationTest, AnErrorInAHandlerIsShownAsAnErrorBoxAndTheRestOfTheHandlerDoesNotRun) {
  Application app;
  app.SetTitle("Halvorine");
  auto* main = app.CreateForm<MainWindow>(&log);
  main->Show();
  main->exit->OnClick = [&](Component&) {
    log.push_back("before");
    throw std::runtime_error("Unable to write to /srv/KORRIDAN.INI");
    log.push_back("after");
  };
  Click(*main->exit);
  Click(*main->exit);  // the loop carries on
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[0].text, "Unable to write to /srv/KORRIDAN.INI");
  EXPECT_EQ(boxes.Shown()[0].caption, "Halvorine");
  EXPECT_EQ(boxes.Shown()[0].kind, MsgKind::Error);
  EXPECT_EQ(boxes.Shown()[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(std::count(log.begin(), log.end(), "before"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), "after"), 0);
}

TEST_F(ApplicationTest, AnErrorInOnCreateIsReportedAndTheFormIsStillCreated) {
  Application app;
  struct Failing : Form {
    explicit Failing(Component* owner) : Form(owner, "Main") {
      OnCreate = [](Component&) { throw std::runtime_error("Table does not exist"); };
    }
  };
  Failing* f = app.CreateForm<Failing>();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(app.MainForm(), f);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, "Table does not exist");
}

TEST_F(ApplicationTest, WithoutAnApplicationTheErrorReportGoesBackToStandardError) {
  { Application app; }
  ::testing::internal::CaptureStderr();
  ReportError("plain report");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "plain report\n");
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(Application::Current(), nullptr);
}

TEST_F(ApplicationTest, ProcessMessagesDispatchesWhatIsQueuedAndTakesTheQuit) {
  Application app;
  Form f(nullptr, "F");
  Button* b = new Button(&f, &f, "B");
  int clicks = 0;
  b->OnClick = [&](Component&) { ++clicks; };
  f.Show();
  PostClick(*b);
  PostClick(*b);
  app.ProcessMessages();
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(app.Terminated());
  app.Terminate();
  app.ProcessMessages();
  EXPECT_TRUE(app.Terminated());
}

TEST_F(ApplicationTest, ProcessMessagesInsideASocketHandlerLeavesSocketMessagesQueued) {
  Application app;
  Form f(nullptr, "F");
  Button* b = new Button(&f, &f, "B");
  b->OnClick = [&](Component&) { log.push_back("click"); };
  f.Show();
  HWND engine = 0;
  engine = CreateWindowHandle([&](const MSG& m) {
    if (m.message == WM_USER + 1) {
      PostMessage(engine, WM_USER + 4, 1, 0);
      PostClick(*b);
      app.ProcessMessages();
      log.push_back("handler end");
    } else if (m.message == WM_USER + 4) {
      log.push_back("engine done");
    }
  });
  PostMessage(engine, WM_USER + 1, 5, 1);
  Pump();
  EXPECT_EQ(log, (Strings{"click", "handler end", "engine done"}));
  DestroyWindowHandle(engine);
}

TEST_F(ApplicationTest, MainLoopTakesPostsFromOtherThreads) {
  Application app;
  auto* main = app.CreateForm<MainWindow>(&log);
  main->exit->OnClick = [main](Component&) { main->Close(); };
  std::thread poster([main] { PostClick(*main->exit); });
  EXPECT_EQ(app.Run(), 0);
  poster.join();
}

// ---------------------------------------------------------------------------
// Timers

TEST_F(ApplicationTest, TimerFiresThroughTheLoopWithItsSender) {
  Timer timer(nullptr, "StatTimer");
  timer.SetInterval(20);
  int ticks = 0;
  Component* sender = nullptr;
  timer.SetOnTimer([&](Component& s) {
    ++ticks;
    sender = &s;
  });
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
  EXPECT_EQ(sender, &timer);
  timer.SetEnabled(false);
  int seen = ticks;
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, seen);
}

TEST_F(ApplicationTest, ATimerHandlersErrorIsReportedAndTheTimerGoesOn) {
  Application app;
  Timer timer(nullptr, "Timer");
  timer.SetInterval(10);
  int ticks = 0;
  timer.SetOnTimer([&](Component&) {
    ++ticks;
    throw std::runtime_error("Read beyond end of file");
  });
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
  ASSERT_GE(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[0].text, "Read beyond end of file");
}

TEST_F(ApplicationTest, TimerIsEnabledAtCreationWithOneSecondAndOwnedByItsForm) {
  Form* f = new Form(nullptr, "App");
  Timer* t = new Timer(f, "SaveStatTimer");
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->Interval(), 1000u);
  EXPECT_EQ(f->Find<Timer>("SaveStatTimer"), t);
  uint64_t id = t->Id();
  Free(f);
  EXPECT_EQ(Component::FromId(id), nullptr);
}

}  // namespace
}  // namespace platform::ui
