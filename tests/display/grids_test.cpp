// korridan's grids, log window and the windows Qt draws for it, in this
// process, shown by the window front end and driven with X input: fixed
// rows and columns stay in place when a grid scrolls, the number column
// shows every number, the log follows its last line, and menus and dialogs
// use the forms' face.
#include <QHeaderView>
#include <QScreen>
#include <QImage>
#include <QLineEdit>
#include <QTabBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QTextBlock>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>

#include "console/app.h"
#include "console/includeform.h"
#include "console/stopserver.h"
#include "console/settingsform.h"
#include "foundation/serverconfig.h"
#include "platform/msgbox.h"
#include "platform/profile.h"
#include "platform/ui/application.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/menus.h"
#include "server/wsock.h"
#include "tests/display/caption_fit.h"
#include "tests/foundation/testdirs.h"

namespace {

namespace fs = std::filesystem;
namespace ui = platform::ui;
namespace automation = platform::ui::automation;
using captionfit::Q;
using captionfit::WindowOf;
using displaytest::Sh;
using displaytest::WidgetOf;

class KorridanWindows : public TempDirTest, public captionfit::FitCheck {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    old_cwd_ = fs::current_path();
    fs::current_path(root_);
    OpenWindows();
    std::string mime;
    for (int i = 1; i <= 30; ++i)
      mime += "ext" + std::to_string(i) + "=application/x-type" + std::to_string(i) + "\r\n";
    std::ofstream(root_ + "/KORRIDAN.INI") << "[General]\r\nStartServer=0\r\nSplashScreen=0\r\n"
                                          << "[Network]\r\nMaxSockets=16\r\n"
                                          << "[Aliases]\r\nDOCS=/srv/docs\r\nMAN=/srv/man\r\nPICS=/srv/pics\r\n";
    std::ofstream(root_ + "/MIME.INI") << "[MimeTypes]\r\n" << mime;
    ConfigIni = new platform::IniFile(root_ + "/KORRIDAN.INI");
    MimeIni = new platform::IniFile(root_ + "/MIME.INI");
    app_ = std::make_unique<ui::Application>();
    App = app_->CreateForm<TApp>();
    SettingsForm = app_->CreateForm<TSettingsForm>();
    App->SettingsForm = SettingsForm;
  }
  void TearDown() override {
    app_.reset();
    delete ConfigIni;
    delete MimeIni;
    ConfigIni = MimeIni = nullptr;
    WinsockCleanup();
    CloseWindows();
    fs::current_path(old_cwd_);
    TempDirTest::TearDown();
  }

  // Qt's events run while the loop waits.
  static void Settle(int ms = 300) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) automation::PumpUntil([] { return false; }, 20);
  }
  static bool SettleUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 100 && !done(); ++i) Settle(50);
    return done();
  }

  // Wheel clicks of the X pointer over the middle of the widget: button 5
  // scrolls down, 7 right, 4 up.
  static void Wheel(QWidget* w, int button, int clicks) {
    QPoint at = w->mapToGlobal(w->rect().center());
    Sh("xdotool mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " sleep 0.2 click --repeat " +
       std::to_string(clicks) + " --delay 30 " + std::to_string(button));
  }

  // Shows the grid's window alone, on the grid's page, and clicks the row
  // with the X pointer; the grid's widget once it has the focus.
  QTableView* ClickRow(ui::StringGrid& g, int page, int row) {
    (g.ParentForm() == App ? static_cast<ui::Form*>(SettingsForm) : App)->Hide();
    g.ParentForm()->Show();
    automation::Choose(g.ParentForm() == App ? static_cast<ui::Control&>(*App->TabSet) : *SettingsForm->Notebook, page);
    QTableView* t = nullptr;
    if (!SettleUntil([&] { return (t = WidgetOf<QTableView>(g)) && t->isVisible(); })) return nullptr;
    std::string window = std::to_string(t->window()->winId());
    Focus(window);
    Sh("xdotool mousemove 0 0");  // a move to where the pointer is would wait
    QPoint at = t->viewport()->mapTo(t->window(), t->visualRect(t->model()->index(row - g.FixedRows(), 0)).center());
    ClickAt(window, at.x(), at.y());
    return SettleUntil([&] { return g.Row() == row && t->hasFocus(); }) ? t : nullptr;
  }

  // The server's load on the window for a while: log lines, the caption's
  // count, the extension libraries' counters.
  void Traffic() {
    for (int i = 0; i < 40; ++i, Settle(30)) {
      App->AddLogLine("request " + std::to_string(i));
      App->SetCaption("Halvorine (" + std::to_string(i % 3) + ")");
      App->DLLList->SetCell(3, 1 + i % 3, std::to_string(i));
    }
  }

  std::unique_ptr<ui::Application> app_;
  fs::path old_cwd_;
};

struct GridCase {
  const char* name;
  std::function<ui::StringGrid*()> open;  // shows the grid's form and page
};

// The part of the grid's picture that lies over its fixed rows (top) or
// fixed columns (left), within the frame and off the scroll bars.
QImage Strip(QAbstractScrollArea* t, const ui::StringGrid& g, bool top) {
  QImage shot = t->grab().toImage();
  int frame = t->frameWidth();
  QScrollBar* bar = top ? t->verticalScrollBar() : t->horizontalScrollBar();
  int bar_size = bar->isVisible() ? (top ? bar->width() : bar->height()) : 0;
  int across = (top ? t->width() : t->height()) - 2 * frame - bar_size;
  int deep = 0;
  for (int i = 0; i < (top ? g.FixedRows() : g.FixedCols()); ++i) deep += top ? g.RowHeight(i) : g.ColWidth(i);
  return top ? shot.copy(frame, frame, across, deep) : shot.copy(frame, frame, deep, across);
}

TEST_F(KorridanWindows, GridsKeepTitlesAndNumbersInPlaceWhenScrolledAndOpenAtTheirLeftEdge) {
  for (int r = 1; r <= 16; ++r) {
    App->ConnectionList->SetCell(1, r, "127.0.0." + std::to_string(r));
    App->ConnectionList->SetCell(3, r, "/page" + std::to_string(r) + ".html");
    App->DLLList->SetCell(1, r, "LIB" + std::to_string(r) + ".DLL");
  }
  App->Show();
  ASSERT_TRUE(WaitShown(*App));
  const GridCase cases[] = {
      {"Connection List",
       [&] {
         automation::Choose(*App->TabSet, 1);
         return App->ConnectionList;
       }},
      {"Applications",
       [&] {
         automation::Choose(*App->TabSet, 2);
         return App->DLLList;
       }},
      {"Settings > Mime Types",
       [&] {
         App->Hide();
         SettingsForm->Show();
         automation::Choose(*SettingsForm->Notebook, 4);
         return SettingsForm->MimeList;
       }},
  };
  for (const GridCase& c : cases) {
    SCOPED_TRACE(c.name);
    ui::StringGrid* g = c.open();
    QTableView* t = nullptr;
    ASSERT_TRUE(SettleUntil([&] { return (t = WidgetOf<QTableView>(*g)) && t->isVisible(); }));
    Settle();
    EXPECT_EQ(t->horizontalScrollBar()->value(), 0) << "opens scrolled to the right";

    // Every row number shows whole in the number column.
    for (int r = g->FixedRows(); g->FixedCols() > 0 && r < g->RowCount(); ++r) {
      QHeaderView* numbers = t->verticalHeader();
      if (!numbers->isVisible()) {
        ADD_FAILURE() << "no number column beside the scrolling rows";
        break;
      }
      int section = r - g->FixedRows();
      EXPECT_EQ(numbers->model()->headerData(section, Qt::Vertical).toString(), Q(g->Cell(0, r)));
      QStyleOptionHeader opt;
      opt.initFrom(numbers);
      opt.rect = QRect(0, 0, numbers->width(), numbers->sectionSize(section));
      opt.text = Q(g->Cell(0, r));
      int room = numbers->style()->subElementRect(QStyle::SE_HeaderLabel, &opt, numbers).width();
      EXPECT_LE(numbers->fontMetrics().horizontalAdvance(opt.text), room) << g->Cell(0, r).c_str();
    }

    // Down, then right, with the wheel: the title row and the number
    // column show as they did.
    QImage titles = Strip(t, *g, true);
    Wheel(t->viewport(), 5, 6);
    ASSERT_TRUE(SettleUntil([&] { return t->verticalScrollBar()->value() > 0; })) << "did not scroll down";
    Settle();
    EXPECT_TRUE(Strip(t, *g, true) == titles) << "title row moved when scrolled down";
    if (g->FixedCols() > 0) {
      QImage numbers = Strip(t, *g, false);
      if (t->horizontalScrollBar()->maximum() > 0) {
        Wheel(t->viewport(), 7, 6);
        ASSERT_TRUE(SettleUntil([&] { return t->horizontalScrollBar()->value() > 0; })) << "did not scroll right";
        Settle();
        EXPECT_TRUE(Strip(t, *g, false) == numbers) << "number column moved when scrolled right";
      }
    }
  }
}


// A dialog shown modally while X input plays the operator: once its window
// is active, the focus goes where `focus` says (none: where the dialog put
// it), then come the keys ("close": the frame's close box). A dialog the
// keys leave open ends with 99.
int AsOperator(ui::Form& form, ui::Control* focus, const std::string& keys) {
  using X = displaytest::XDisplay;
  int step = 0, waited = 0;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* win = WindowOf(form);
    QWidget* w = focus ? WidgetOf(*focus, win) : nullptr;
    if (step == 0 && win && (waited++ % 10 == 0)) {
      X::Focus(std::to_string(win->winId()));
    } else if (step == 0 && win && win->isActiveWindow()) {
      if (w) w->setFocus();
      step = 1;
    } else if (step == 1 && (!w || w->hasFocus() || w->focusProxy())) {
      // From another process: the keys come while this loop runs.
      if (keys == "close") X::CloseBox(std::to_string(win->winId()));
      else displaytest::Sh("xdotool key --delay 100 " + keys + " >/dev/null 2>&1 &");
      step = 2;
      waited = 0;
    } else if (++waited > 100 && form.Modal()) {
      form.SetModalResult(99);
      ui::PostFocus(form);  // the modal loop looks again
    }
  });
  user.start(50);
  return form.ShowModal();
}

struct DialogCase {
  const char* name;
  std::function<ui::Form*()> open;  // readies the dialog
  std::function<ui::Control*()> focus;
  const char* keys;
  std::function<bool(int result)> holds;
};

TEST_F(KorridanWindows, DialogsTakeEnterEscPageKeysAndTheCloseBoxAsTheModelHolds) {
  IncludeForm = app_->CreateForm<TIncludeForm>();
  StopServerForm = app_->CreateForm<TStopServerForm>(nullptr);
  TSettingsForm* s = SettingsForm;
  auto tabs = [&] { return WidgetOf(*s->Notebook)->findChild<QTabBar*>("tabs"); };
  const DialogCase cases[] = {
      {"Settings: page keys, and arrows on the tab row",
       [&] { return s->Notebook->SetPageIndex(0), s; }, [&] { return s->Notebook; },
       "ctrl+Tab ctrl+Next Right Right ctrl+shift+Tab",
       [&](int) { return s->Notebook->PageIndex() == 3 && tabs()->currentIndex() == 3; }},
      {"Settings: after Alt+D, Enter on OK presses OK", [&] { return s->Notebook->SetPageIndex(2), s; }, nullptr, "alt+d sleep 0.5 key Tab Return",
       [&](int r) { return r == ui::mrCancel; }},
      {"Stop Server: Enter on Yes", [&] { return StopServerForm; }, [&] { return StopServerForm->YesButton; },
       "Return", [](int r) { return r == 2; }},
      {"Stop Server: the close box answers No", [&] { return StopServerForm; }, nullptr, "close",
       [](int r) { return r == -1; }},
      {"Entry dialog: opens in its first field, text selected",
       [&] {
         AsOperator(*IncludeForm, IncludeForm->ReplaceEdit, "Escape");  // left from the second field
         IncludeForm->TokenEdit->SetText("old");
         return IncludeForm;
       },
       nullptr, "n e w Return", [&](int r) { return r == ui::mrOk && IncludeForm->TokenEdit->Text() == "NEW"; }},
  };
  for (const DialogCase& c : cases) {
    ui::Form* form = c.open();
    int result = AsOperator(*form, c.focus ? c.focus() : nullptr, c.keys);
    EXPECT_TRUE(c.holds(result)) << c.name << ": result " << result;
  }

  // The find dialog opened again starts in its field, not on Find Next.
  App->Show();
  ui::FindDialog find(App, "TestFind");
  auto shown = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowTitle() == "Find") return w;
    return static_cast<QWidget*>(nullptr);
  };
  find.Execute();
  ASSERT_TRUE(SettleUntil([&] { return shown(); }));
  shown()->findChild<QPushButton*>()->setFocus();
  find.CloseDialog();
  ASSERT_TRUE(SettleUntil([&] { return !shown(); }));
  find.Execute();
  ASSERT_TRUE(SettleUntil([&] { return shown(); }));
  Focus(std::to_string(shown()->winId()));
  Keys("x");
  EXPECT_TRUE(SettleUntil([&] { return find.FindText() == "x"; })) << find.FindText();
}

TEST_F(KorridanWindows, MovingKeysMoveTheGridsRowAndRunItsClickAsTheMouseDoes) {
  int clicks = 0;
  SettingsForm->MimeList->OnClick = [&](ui::Component&) { ++clicks; };
  QTableView* t = ClickRow(*SettingsForm->MimeList, 4, 1);
  ASSERT_NE(t, nullptr);
  // Keys, then the row and the clicks so far: 30 rows, 7 to a page.
  const std::tuple<const char*, int, int> steps[] = {
      {"Down Down", 3, 3}, {"Next", 10, 4}, {"Prior", 3, 5},      {"End", 30, 6},       {"Up", 29, 7},
      {"Home", 1, 8},      {"ctrl+End", 30, 9}, {"ctrl+Home", 1, 10}, {"Right Left Home", 1, 10}};
  for (auto [keys, row, runs] : steps) {
    Keys(keys);
    EXPECT_TRUE(SettleUntil([&, row = row, runs = runs] {
      return SettingsForm->MimeList->Row() == row && clicks == runs && t->currentIndex().row() == row - 1;
    })) << keys << ": row " << SettingsForm->MimeList->Row() << ", " << clicks << " clicks, highlight "
        << t->currentIndex().row() + 1;
  }
}

TEST_F(KorridanWindows, EveryActionTakesTheRowTheKeysHighlighted) {
  for (int r = 1; r <= 3; ++r) App->DLLList->SetCell(1, r, "LIB" + std::to_string(r) + ".DLL");
  std::string asked;
  QTimer probe;  // reads the confirmation and answers No
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && asked.empty()) {
      asked = box->text().toStdString();
      box->escapeButton()->click();
    }
  });
  probe.start(50);
  const std::tuple<ui::StringGrid*, int, int, const char*, std::string> cases[] = {
      {SettingsForm->AliasList, 3, 0, "alt+d", "Delete "},
      {SettingsForm->MimeList, 4, 1, "alt+d", "Delete Mime Type for extension "},
      {App->DLLList, 2, 1, "Menu", "Unload "}};  // its pop-up menu's Unload
  for (auto [grid, page, col, keys, question] : cases) {
    QTableView* t = ClickRow(*grid, page, 1);
    ASSERT_NE(t, nullptr) << grid->Name();
    Keys("Down");
    ASSERT_TRUE(SettleUntil([&, t = t] { return t->currentIndex().row() == 1; })) << "no highlight on row 2";
    asked.clear();
    Keys(keys);
    if (keys == std::string("Menu") && SettleUntil([] { return QApplication::activePopupWidget() != nullptr; }))
      Keys("Down Return");
    EXPECT_TRUE(SettleUntil([&] { return !asked.empty(); })) << grid->Name();
    EXPECT_EQ(asked, question + grid->Cell(col, 2) + "?");
  }
}

// Tab leaves the grid without moving its row; under traffic neither the
// highlight nor the focus moves, in the grid or where Tab took it.
TEST_F(KorridanWindows, TabLeavesAGridAndTrafficMovesNeitherTheHighlightNorTheFocus) {
  QTableView* t = ClickRow(*App->DLLList, 2, 1);
  ASSERT_NE(t, nullptr);
  Keys("Down");
  ASSERT_TRUE(SettleUntil([&] { return t->currentIndex().row() == 1; }));
  Traffic();
  EXPECT_TRUE(App->DLLList->Row() == 2 && t->currentIndex().row() == 1 && t->hasFocus());
  Keys("Tab");
  EXPECT_TRUE(SettleUntil([&] { return !t->hasFocus(); })) << "Tab stayed in the grid";
  QWidget* tabbed = QApplication::focusWidget();
  Traffic();
  EXPECT_EQ(QApplication::focusWidget(), tabbed) << "the window took the focus back";
  Keys("shift+Tab");
  EXPECT_TRUE(SettleUntil([&] { return t->hasFocus() && App->ActiveControl() == App->DLLList; }));
  EXPECT_TRUE(App->DLLList->Row() == 2 && t->currentIndex().row() == 1);
}

// A saved place off the screen: the window opens wholly on it where it
// fits, and the model holds where it shows.
TEST_F(KorridanWindows, AWindowPlacedOffTheScreenOpensOnIt) {
  QRect s = QGuiApplication::primaryScreen()->availableGeometry();
  const std::array<QRect, 2> cases[] = {  // saved, shown
      {QRect(100, 80, 500, 400), QRect(100, 80, 500, 400)},
      {QRect(2500, 1900, 500, 400), QRect(s.right() - 499, s.bottom() - 399, 500, 400)},
      {QRect(-2000, 1900, 1500, 400), QRect(s.left(), s.bottom() - 399, 1500, 400)}};
  for (auto [saved, shown] : cases) {
    App->Hide();
    Settle(100);
    App->SetBounds(saved.x(), saved.y(), saved.width(), saved.height());
    App->Show();
    ASSERT_TRUE(WaitShown(*App));
    EXPECT_TRUE(SettleUntil([&] { return WindowOf(*App)->frameGeometry().topLeft() == shown.topLeft(); }))
        << saved.x() << "," << saved.y() << " shows at " << WindowOf(*App)->x() << "," << WindowOf(*App)->y();
    EXPECT_EQ(QPoint(App->Left(), App->Top()), shown.topLeft());
  }
}

// The line shown at the top or the bottom of the log's view.
std::string LogLineAt(QPlainTextEdit* log, bool top) {
  int y = top ? 2 : log->viewport()->height() - log->fontMetrics().height() / 2 - 1;
  return log->cursorForPosition(QPoint(2, y)).block().text().toStdString();
}

struct LogCase {
  const char* name;
  std::function<void()> away, back;  // while the burst comes
};

TEST_F(KorridanWindows, LogKeepsShowingItsLastLineThroughABurstAndAScrolledUpPlace) {
  App->Show();
  ASSERT_TRUE(WaitShown(*App));
  QPlainTextEdit* log = nullptr;
  ASSERT_TRUE(SettleUntil([&] { return (log = WidgetOf<QPlainTextEdit>(*App->Memo)) && log->isVisible(); }));
  int n = 0;
  // A burst: lines come over several passes of the loop, then more than
  // the log keeps within one.
  auto burst = [&](int lines) {
    for (int i = 0; i < lines; ++i) {
      App->AddLogLine("request " + std::to_string(++n));
      if (i % 7 == 0 && i < lines / 2) automation::PumpUntil([] { return false; }, 5);
    }
  };
  const LogCase cases[] = {
      {"shown", [] {}, [] {}},
      {"behind another page", [&] { automation::Choose(*App->TabSet, 1); },
       [&] { automation::Choose(*App->TabSet, 0); }},
      {"window hidden", [&] { App->Hide(); }, [&] { App->Show(); }},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.away();
    Settle(100);
    burst(200);
    c.back();
    std::string last = "request " + std::to_string(n);
    ASSERT_TRUE(SettleUntil([&] { return log->isVisible() && log->document()->lastBlock().text() == Q(last); }));
    Settle();
    EXPECT_EQ(LogLineAt(log, false), last);
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
  }

  // Scrolled up by the operator: the view stays on the lines they look at.
  Wheel(log->viewport(), 4, 3);
  ASSERT_TRUE(SettleUntil([&] { return log->verticalScrollBar()->value() < log->verticalScrollBar()->maximum(); }));
  Settle();
  std::string looking_at = LogLineAt(log, true);
  burst(20);
  Settle();
  EXPECT_EQ(LogLineAt(log, true), looking_at);
}

// A window Qt draws of its own, and the class it is of.
struct FaceCase {
  const char* name;
  std::function<void()> open;  // a modal one returns once it is closed
  const char* qt_class;
};

TEST_F(KorridanWindows, MenusBoxesAndQtDialogsUseTheFormsFace) {
  App->Show();
  ASSERT_TRUE(WaitShown(*App));
  Focus(std::to_string(WindowOf(*App)->winId()));
  ui::PopupMenu popup(App, "TestPopup");
  new ui::MenuItem(&popup, &popup.Items(), "TestItem", "Item");
  ui::FindDialog find(App, "TestFind");
  ui::OpenDialog files(App, "TestOpen");
  std::string dir = root_;
  const FaceCase cases[] = {
      {"menu", [] { Keys("alt+s"); }, "QMenu"},
      {"pop-up menu", [&] { popup.Popup(100, 100); }, "QMenu"},
      {"message box", [] { platform::MessageBox("Text", "Caption", platform::MsgKind::Information); }, "QMessageBox"},
      {"directory chooser", [&] { ui::SelectDirectory(dir); }, "QDialog"},
      {"file dialog", [&] { files.Execute(); }, "QFileDialog"},
      {"find dialog", [&] { find.Execute(); }, "QDialog"},
  };
  for (const FaceCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Looked for, and closed, while the window's own loop runs.
    std::string face;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (face.empty() && w->isVisible() && w->inherits(c.qt_class)) {
          face = QFontInfo(w->font()).family().toStdString();
          // A box answers by its buttons only.
          if (auto* box = qobject_cast<QMessageBox*>(w)) box->escapeButton()->click();
          else w->close();
        }
      }
    });
    probe.start(50);
    c.open();
    EXPECT_TRUE(SettleUntil([&] { return !face.empty(); }));
    probe.stop();
    Settle();
    EXPECT_EQ(face, "Liberation Sans");
  }
}

}  // namespace
