// The window front end (libhalvqt.so; platform/ui/windows.h loads it). After
// a successful start, on the loop's thread: every form of the control
// layer, made before or after, shows as a window while it is visible;
// message boxes, the open-file and directory dialogs and the find dialog
// show as Qt dialogs whose modal loop is our own loop; and the loop waits
// in Qt's event dispatcher (our descriptors as one socket notifier, the
// next timer as the wait's limit).
//
// One generic mirror for every control kind: each
// control of a form gets a Qt widget at its model bounds; a change the model
// reports marks the component, and the marks are mirrored once per pass of
// the loop, just before the loop waits (in Qt's dispatcher). Qt's signals
// and events only post input messages or read the model.
#include "platform/ui/windows.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLibraryInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QStyle>
#include <QTabBar>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <clocale>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/msgloop.h"
#include "platform/qtfront/fonts.h"
#include "platform/ui/application.h"
#include "platform/ui/canvas.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/input.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"

namespace platform::qtfront {

namespace {

using namespace platform::ui;

// The answers of our own dialogs (message boxes, file dialogs) reach their
// modal loops as this message; outside the socket range, so a dialog opened
// inside a socket handler still gets its answer.
constexpr UINT kDialogAnswer = 0x03B0;
// A pass of the front end's own, for loops that only peek (a stop waiting
// for its connections, the nested pump, a loaded server): Qt's events and
// the model's changes are taken when the loop has not waited for this long.
constexpr UINT kFrontEndPass = 0x03B1;
constexpr int kPassAfterMs = 50;
// Mirroring at most this often under load; the wait is cut short instead.
constexpr int kMinSyncGapMs = 15;

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

QColor ToQColor(Color c) {
  Color rgb = ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

template <class T>
T* Model(uint64_t id) {
  return dynamic_cast<T*>(Component::FromId(id));
}

// Captions keep their marks: "&x" shows as an underlined x, "&&" as "&",
// as buttons, boxes, tabs and menus show them. A speed button's glyph name or
// hint shown in place of a caption has none: its "&" is doubled.
QString PlainText(const std::string& text) {
  QString q = Q(text);
  q.replace(QStringLiteral("&"), QStringLiteral("&&"));
  return q;
}

// ---------------------------------------------------------------------------
// Widgets that need events of their own

class FormWindow : public QWidget {
 public:
  explicit FormWindow(uint64_t id) : id_(id) {
    content = new QWidget(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
  }
  QWidget* content;
  QMenuBar* bar = nullptr;
  std::string menu_signature;
  bool applying = false;  // our own geometry changes are no user action

  int BarHeight() const { return bar && !bar->isHidden() ? bar->sizeHint().height() : 0; }
  void Place(int client_w, int client_h, bool sizeable) {
    int mb = BarHeight();
    if (bar) bar->setGeometry(0, 0, client_w, mb);
    content->setGeometry(0, mb, client_w, client_h);
    applying = true;
    if (sizeable) {
      setMinimumSize(0, 0);
      setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
      resize(client_w, client_h + mb);
    } else {
      setFixedSize(client_w, client_h + mb);
    }
    applying = false;
  }

 protected:
  void closeEvent(QCloseEvent* e) override {
    e->ignore();  // the model decides
    if (auto* f = Model<Form>(id_)) PostCloseBox(*f);
  }
  void resizeEvent(QResizeEvent* e) override {
    int mb = BarHeight();
    if (bar) bar->setGeometry(0, 0, width(), mb);
    content->setGeometry(0, mb, width(), height() - mb);
    auto* f = Model<Form>(id_);
    if (applying || !f || !e->spontaneous()) return;
    if (width() == f->ClientWidth() && height() - mb == f->ClientHeight()) return;
    Rect in = f->NonClientInsets();
    PostResize(*f, width() + in.left + in.right, height() - mb + in.top + in.bottom);
  }
  void moveEvent(QMoveEvent* e) override {
    auto* f = Model<Form>(id_);
    if (applying || !f || !e->spontaneous()) return;
    QPoint p = frameGeometry().topLeft();
    if (p.x() != f->Left() || p.y() != f->Top()) PostMove(*f, p.x(), p.y());
  }

 private:
  uint64_t id_;
};

// The control a widget of a form's window stands for: its own, or that of
// the nearest widget above it that has one (a notebook's tab row, a spin
// field's arrows).
Control* ControlOf(QWidget* w) {
  for (; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
    QVariant id = w->property("halv_component");
    if (id.isValid()) return Model<Control>(id.toULongLong());
  }
  return nullptr;
}

// The keys a form answers as a whole go to the model before any widget
// sees them, addressed to the control with the focus, so that what they
// press or choose is what the model holds: Enter and Esc (the focused
// button, else the default or cancel button), Ctrl+Tab, Ctrl+Shift+Tab,
// Ctrl+PgDn and Ctrl+PgUp (the page of the notebook holding the focus), and
// Left and Right on a tab row.
class FormKeys : public QObject {
 protected:
  bool eventFilter(QObject* target, QEvent* e) override {
    if (e->type() != QEvent::KeyPress) return false;
    auto* w = qobject_cast<QWidget*>(target);
    if (!w || !dynamic_cast<FormWindow*>(w->window())) return false;
    int key = KeyOf(*static_cast<QKeyEvent*>(e), qobject_cast<QTabBar*>(w) != nullptr);
    Control* c = key ? ControlOf(w) : nullptr;
    if (!c) return false;
    PostKey(*c, key);
    return true;
  }

 private:
  static int KeyOf(const QKeyEvent& e, bool tab_row) {
    Qt::KeyboardModifiers mods = e.modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier) {
      switch (e.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return kKeyReturn;
        case Qt::Key_Escape: return kKeyEscape;
        case Qt::Key_Left: return tab_row ? kKeyLeft : 0;
        case Qt::Key_Right: return tab_row ? kKeyRight : 0;
        default: return 0;
      }
    }
    if (mods == Qt::ControlModifier) {
      switch (e.key()) {
        case Qt::Key_Tab: return kKeyCtrl | kKeyTab;
        case Qt::Key_PageDown: return kKeyCtrl | kKeyPageDown;
        case Qt::Key_PageUp: return kKeyCtrl | kKeyPageUp;
        default: return 0;
      }
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && (e.key() == Qt::Key_Backtab || e.key() == Qt::Key_Tab))
      return kKeyCtrl | kKeyShift | kKeyTab;
    return 0;
  }
};

// Dialogs and message boxes: a title and a close box, no minimize or
// maximize box.
constexpr Qt::WindowFlags kDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// A label or panel caption. QLabel shows a mnemonic only with a buddy; the
// forms' labels mark one without, so the caption is drawn as buttons draw
// theirs.
class CaptionLabel : public QLabel {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    drawFrame(&p);
    int flags = static_cast<int>(alignment()) | Qt::TextShowMnemonic;
    if (!style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this)) flags |= Qt::TextHideMnemonic;
    style()->drawItemText(&p, contentsRect(), flags, palette(), isEnabled(), text(), foregroundRole());
  }
};

QPen ToQPen(const Pen& pen) {
  if (pen.style == PenStyle::Clear) return QPen(Qt::NoPen);
  QPen p(ToQColor(pen.color));
  p.setWidth(std::max(1, pen.width));
  if (pen.style == PenStyle::Dash) p.setStyle(Qt::DashLine);
  if (pen.style == PenStyle::Dot) p.setStyle(Qt::DotLine);
  return p;
}

QBrush ToQBrush(const Brush& brush) {
  return brush.style == BrushStyle::Clear ? QBrush(Qt::NoBrush) : QBrush(ToQColor(brush.color));
}

// Replays what the model's canvas recorded, in the form's pixels.
void Replay(QPainter& p, const std::vector<DrawCall>& calls) {
  for (const DrawCall& c : calls) {
    switch (c.op) {
      case DrawCall::Op::FillRect:
        if (c.brush.style != BrushStyle::Clear)
          p.fillRect(QRect(c.rect.left, c.rect.top, c.rect.Width(), c.rect.Height()), ToQColor(c.brush.color));
        break;
      case DrawCall::Op::Rectangle:
        p.setPen(ToQPen(c.pen));
        p.setBrush(ToQBrush(c.brush));
        // Right and bottom are exclusive, as the outline is.
        p.drawRect(QRect(c.rect.left, c.rect.top, c.rect.Width() - 1, c.rect.Height() - 1));
        break;
      case DrawCall::Op::Polygon: {
        QPolygon poly;
        for (const Point& pt : c.points) poly << QPoint(pt.x, pt.y);
        p.setPen(ToQPen(c.pen));
        p.setBrush(ToQBrush(c.brush));
        p.drawPolygon(poly);
        break;
      }
      case DrawCall::Op::MoveTo:
        break;
      case DrawCall::Op::LineTo:
        if (c.points.size() >= 2) {
          p.setPen(ToQPen(c.pen));
          p.drawLine(c.points[0].x, c.points[0].y, c.points[1].x, c.points[1].y);
        }
        break;
      case DrawCall::Op::TextOut: {
        QRect box(c.rect.left, c.rect.top, c.rect.Width(), c.rect.Height());
        if (c.brush.style != BrushStyle::Clear) p.fillRect(box, ToQColor(c.brush.color));
        p.setFont(MapFont(c.font));
        p.setPen(ToQColor(c.font.color));
        p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine, Q(c.text));
        break;
      }
    }
  }
}

class PaintWidget : public QWidget {
 public:
  explicit PaintWidget(uint64_t id) : id_(id) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    auto* box = Model<PaintBox>(id_);
    if (!box) return;
    QPainter p(this);
    p.fillRect(rect(), ToQColor(box->GetColor()));
    Replay(p, box->GetCanvas().Calls());
  }
  void resizeEvent(QResizeEvent*) override {
    // What the box draws depends on its size: ask the model to paint anew.
    if (auto* box = Model<PaintBox>(id_)) box->Invalidate();
  }

 private:
  uint64_t id_;
};

// The model's code of a moving key or Space; 0 for any other key.
int ModelKey(const QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Up: return kKeyUp;
    case Qt::Key_Down: return kKeyDown;
    case Qt::Key_Left: return kKeyLeft;
    case Qt::Key_Right: return kKeyRight;
    case Qt::Key_Home: return kKeyHome;
    case Qt::Key_End: return kKeyEnd;
    case Qt::Key_PageUp: return kKeyPageUp;
    case Qt::Key_PageDown: return kKeyPageDown;
    case Qt::Key_Space: return kKeySpace;
    default: return 0;
  }
}

// A list box or directory tree whose moving keys and Space, plain or with
// Ctrl, go to the model as keys: the model moves its selection and the
// mirror shows it. Shift and Alt forms are left alone (no range selection);
// other keys are Qt's.
class KeyList : public QListWidget {
 public:
  explicit KeyList(uint64_t id) : id_(id) {}

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    int key = ModelKey(e);
    if (!key) {
      QListWidget::keyPressEvent(e);
      return;
    }
    Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (mods & ~Qt::ControlModifier) return;
    if (auto* c = Model<Control>(id_)) PostKey(*c, mods ? key | kKeyCtrl : key);
  }

 private:
  uint64_t id_;
};

// The log: it keeps to its last line while that shows, and keeps the
// operator's place when they scrolled up, shown or hidden.
class LogView : public QPlainTextEdit {
 public:
  LogView() {
    QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged, [this](int value) {
      if (!applying) follow = value >= verticalScrollBar()->maximum();
    });
  }
  bool follow = true;     // the last line shows
  bool applying = false;  // our own changes are no scrolling of the user's
  void Follow() {
    if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  }

 protected:
  void showEvent(QShowEvent* e) override {
    QPlainTextEdit::showEvent(e);
    Follow();
  }
  void resizeEvent(QResizeEvent* e) override {
    QPlainTextEdit::resizeEvent(e);
    Follow();
  }
};

// A string grid: its fixed rows show as the title header and its fixed
// columns as the number header, so they stay in place while the cells
// scroll beneath them.
//
// Its keys are the model's: the moving keys (Ctrl only with Home and End)
// go to the model, which selects the cell reached as a click would, and
// the mirror shows it; in a grid that selects rows Left and Right scroll
// sideways. Tab and Shift+Tab leave the grid, and every other key goes on
// to the window (Enter, Esc, Ctrl+Tab); typing does not search the cells.
class GridWidget : public QTableWidget {
 public:
  explicit GridWidget(uint64_t id) : id_(id) { setTabKeyNavigation(false); }
  bool row_select = false;

  void scrollTo(const QModelIndex& index, ScrollHint hint) override {
    // A grid that selects whole rows scrolls to a row, never sideways.
    int left = horizontalScrollBar()->value();
    QTableWidget::scrollTo(index, hint);
    if (row_select) horizontalScrollBar()->setValue(left);
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    int key = ModelKey(e);
    Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    bool ctrl_ok = key == kKeyHome || key == kKeyEnd;
    if (!key || key == kKeySpace || (mods & ~Qt::ControlModifier) || (mods && !ctrl_ok)) {
      e->ignore();
      return;
    }
    if (row_select && !mods && (key == kKeyLeft || key == kKeyRight)) {
      horizontalScrollBar()->triggerAction(key == kKeyLeft ? QAbstractSlider::SliderSingleStepSub
                                                           : QAbstractSlider::SliderSingleStepAdd);
      return;
    }
    if (auto* g = Model<StringGrid>(id_)) PostKey(*g, mods ? key | kKeyCtrl : key);
  }

 private:
  uint64_t id_;
};

// Tab and Shift+Tab move the model's focus as well, to the control whose
// widget Qt gave the focus, so that the control left sees its exit and the
// model knows where the operator is.
class TabFocus : public QObject {
 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() != QEvent::FocusIn) return false;
    Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
    if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason) return false;
    auto* w = qobject_cast<QWidget*>(o);
    Control* c = w && !w->isWindow() ? ControlOf(w) : nullptr;
    if (c && !dynamic_cast<Form*>(c)) PostFocus(*c);
    return false;
  }
};

// ---------------------------------------------------------------------------

enum class Kind {
  Form, Panel, GroupBox, Label, Button, SpeedButton, Edit, SpinEdit, CheckBox, RadioButton, RadioGroup,
  ListBox, ComboBox, Memo, Gauge, Image, Grid, Notebook, TabbedNotebook, Page, TabSet, PaintBox,
  DirectoryTree, DriveBox, Container
};

Kind KindOf(Control& c) {
  if (dynamic_cast<Form*>(&c)) return Kind::Form;
  if (dynamic_cast<SpinEdit*>(&c)) return Kind::SpinEdit;
  if (dynamic_cast<Edit*>(&c)) return Kind::Edit;
  if (dynamic_cast<Label*>(&c)) return Kind::Label;
  if (dynamic_cast<Button*>(&c)) return Kind::Button;
  if (dynamic_cast<SpeedButton*>(&c)) return Kind::SpeedButton;
  if (dynamic_cast<CheckBox*>(&c)) return Kind::CheckBox;
  if (dynamic_cast<RadioButton*>(&c)) return Kind::RadioButton;
  if (dynamic_cast<RadioGroup*>(&c)) return Kind::RadioGroup;
  if (dynamic_cast<GroupBox*>(&c)) return Kind::GroupBox;
  if (dynamic_cast<Panel*>(&c)) return Kind::Panel;
  if (dynamic_cast<ListBox*>(&c)) return Kind::ListBox;
  if (dynamic_cast<ComboBox*>(&c)) return Kind::ComboBox;
  if (dynamic_cast<Memo*>(&c)) return Kind::Memo;
  if (dynamic_cast<Gauge*>(&c)) return Kind::Gauge;
  if (dynamic_cast<Image*>(&c)) return Kind::Image;
  if (dynamic_cast<StringGrid*>(&c)) return Kind::Grid;
  if (dynamic_cast<TabbedNotebook*>(&c)) return Kind::TabbedNotebook;
  if (dynamic_cast<Notebook*>(&c)) return Kind::Notebook;
  if (dynamic_cast<Page*>(&c)) return Kind::Page;
  if (dynamic_cast<TabSet*>(&c)) return Kind::TabSet;
  if (dynamic_cast<PaintBox*>(&c)) return Kind::PaintBox;
  if (dynamic_cast<DirectoryTree*>(&c)) return Kind::DirectoryTree;
  if (dynamic_cast<DriveBox*>(&c)) return Kind::DriveBox;
  return Kind::Container;
}

struct Mirror {
  Kind kind = Kind::Container;
  QPointer<QWidget> widget;
  QPointer<QWidget> inner;                // where children go (a form's client area)
  uint64_t parent_id = 0;
  std::vector<std::string> shown_lines;   // a memo's lines as mirrored
  Qt::WindowFlags flags;                  // a form's window flags as set
  uint64_t focus_shown = 0;               // a form's active control as last given the focus
};

class Renderer {
 public:
  Renderer() {
    observer_ = AddChangeObserver([this](Component& c, std::string_view what) { Observe(c, what); });
    window_ = CreateWindowHandle([this](const MSG& msg) {
      if (msg.message == kDialogAnswer) answers_[msg.wParam] = static_cast<int>(msg.lParam);
      if (msg.message == kFrontEndPass) Pass();
    });
    pass_timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    WatchFd(pass_timer_, POLLIN, [this](short) {
      uint64_t ticks;
      while (::read(pass_timer_, &ticks, sizeof ticks) > 0) {
      }
      pass_armed_ms_ = 0;  // it fired
      PostMessage(window_, kFrontEndPass, 0, 0);
    });
    previous_box_ = SetMessageBoxHandler([this](const MessageBoxRequest& r) { return ShowBox(r); });
    previous_open_ = SetOpenFileHandler([this](const OpenFileRequest& r) { return ShowOpenFile(r); });
    previous_dir_ = SetDirectoryHandler([this](const DirectoryRequest& r) { return ShowDirectory(r); });
    SetFontMetrics([](const Font& font, std::string_view text) {
      QFontMetrics m(MapFont(font));
      return TextSize{m.horizontalAdvance(Q(std::string(text))), m.height()};
    });
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      Screen().width = screen->geometry().width();
      Screen().height = screen->geometry().height();
    }
    notifier_ = new QSocketNotifier(LoopWaitDescriptor(), QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [] {});
    timer_ = new QTimer;
    timer_->setSingleShot(true);
    QObject::connect(timer_, &QTimer::timeout, [] {});
    since_sync_.start();
    all_dirty_ = true;
    SetLoopWaiter([this](int timeout_ms) { Wait(timeout_ms); });
    qApp->installEventFilter(&form_keys_);
    qApp->installEventFilter(&tab_focus_);
  }

  ~Renderer() {
    qApp->removeEventFilter(&tab_focus_);
    SetLoopWaiter(nullptr);
    qApp->removeEventFilter(&form_keys_);
    RemoveChangeObserver(observer_);
    SetMessageBoxHandler(std::move(previous_box_));
    SetOpenFileHandler(std::move(previous_open_));
    SetDirectoryHandler(std::move(previous_dir_));
    SetFontMetrics(nullptr);
    DestroyWindowHandle(window_);
    UnwatchFd(pass_timer_);
    ::close(pass_timer_);
    for (auto& [id, m] : mirrors_)
      if (m.kind == Kind::Form) delete m.widget.data();
    for (auto& [id, menu] : popups_) delete menu.data();
    for (auto& [id, dialog] : finds_) delete dialog.data();
    delete notifier_;
    delete timer_;
  }

  // The loop's wait: mirror what changed, then let Qt wait for its own
  // events, our descriptors or the next timer, whichever comes first.
  void Wait(int timeout_ms) {
    ArmPass(0);
    if (Dirty()) {
      qint64 gap = since_sync_.elapsed();
      if (gap >= kMinSyncGapMs) {
        Sync();
      } else if (timeout_ms < 0 || timeout_ms > kMinSyncGapMs - gap) {
        timeout_ms = static_cast<int>(kMinSyncGapMs - gap);
      }
    }
    if (timeout_ms == 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
      if (timeout_ms > 0) timer_->start(timeout_ms);
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      timer_->stop();
    }
    ArmPass(kPassAfterMs);
  }

 private:
  bool Dirty() const { return all_dirty_ || !dirty_.empty(); }

  // The loop has not waited for a while: mirror and take Qt's events now,
  // without waiting, and look again later.
  void Pass() {
    if (Dirty()) Sync();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ArmPass(kPassAfterMs);
  }

  // 0 disarms.
  void ArmPass(int ms) {
    if (ms == pass_armed_ms_) return;
    itimerspec when{};
    when.it_value.tv_sec = ms / 1000;
    when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    ::timerfd_settime(pass_timer_, 0, &when, nullptr);
    pass_armed_ms_ = ms;
  }

  void Observe(Component& c, std::string_view what) {
    if (what == "Destroyed") {
      Drop(c.Id());
      opened_.erase(c.Id());
      return;
    }
    if (what == "Shown") opened_.insert(c.Id());
    if (auto* item = dynamic_cast<MenuItem*>(&c)) {
      // A menu shows as a whole: mark its form (main menu) or itself.
      MenuItem* root = item;
      while (root->Parent()) root = root->Parent();
      if (Menu* menu = root->GetMenu()) {
        if (auto* main = dynamic_cast<MainMenu*>(menu)) {
          if (Form* f = main->GetForm()) dirty_.insert(f->Id());
        } else {
          dirty_.insert(menu->Id());
        }
      }
      return;
    }
    if (auto* main = dynamic_cast<MainMenu*>(&c)) {
      if (Form* f = main->GetForm()) dirty_.insert(f->Id());
      return;
    }
    dirty_.insert(c.Id());
  }

  void Drop(uint64_t id) {
    dirty_.erase(id);
    if (auto it = mirrors_.find(id); it != mirrors_.end()) {
      if (QWidget* w = it->second.widget) {
        w->hide();
        w->deleteLater();
      }
      mirrors_.erase(it);
    }
    if (auto it = popups_.find(id); it != popups_.end()) {
      if (it->second) it->second->deleteLater();
      popups_.erase(it);
    }
    if (auto it = finds_.find(id); it != finds_.end()) {
      if (it->second) it->second->deleteLater();
      finds_.erase(it);
    }
  }

  // ---------------------------------------------------------------------
  // Mirroring

  void Sync() {
    std::unordered_set<uint64_t> dirty;
    dirty.swap(dirty_);
    bool all = all_dirty_;
    all_dirty_ = false;
    std::vector<Form*> forms = AllForms();
    for (Form* f : forms) Walk(*f, nullptr, dirty, all);
    for (uint64_t id : dirty) {
      Component* c = Component::FromId(id);
      if (auto* popup = dynamic_cast<PopupMenu*>(c)) SyncPopup(*popup);
      else if (auto* find = dynamic_cast<FindDialog*>(c)) SyncFind(*find);
    }
    // Windows show or hide last, once their contents are in place.
    for (Form* f : forms)
      if (all || dirty.count(f->Id())) ShowForm(*f);
    since_sync_.restart();
  }

  // True when the control's widget was put into its parent just now.
  bool Walk(Control& c, QWidget* parent_inner, const std::unordered_set<uint64_t>& dirty, bool all) {
    auto it = mirrors_.find(c.Id());
    bool fresh = false;
    if (it == mirrors_.end()) {
      it = mirrors_.emplace(c.Id(), Create(c)).first;
      fresh = true;
    }
    Mirror& m = it->second;
    if (!m.widget) return false;
    uint64_t parent_id = c.Parent() ? c.Parent()->Id() : 0;
    bool placed = false;
    if (parent_inner && (m.widget->parentWidget() != parent_inner || m.parent_id != parent_id)) {
      m.widget->setParent(parent_inner);
      fresh = true;
      placed = true;
    }
    m.parent_id = parent_id;
    if (fresh || all || dirty.count(c.Id())) Apply(c, m);
    QWidget* inner = m.inner ? m.inner.data() : m.widget.data();
    bool restack = false;
    for (Control* child : c.Controls()) restack = Walk(*child, inner, dirty, all) || restack;
    if (restack) Restack(c);
    return placed;
  }

  // Drawn controls (labels, images, paint boxes, speed buttons) lie beneath
  // their windowed siblings, whatever the order they were made in; each
  // group keeps its own order.
  void Restack(Control& c) {
    for (Control* child : c.Controls()) {
      auto it = mirrors_.find(child->Id());
      if (it == mirrors_.end() || !it->second.widget) continue;
      switch (it->second.kind) {
        case Kind::Label:
        case Kind::Image:
        case Kind::PaintBox:
        case Kind::SpeedButton: break;
        default: it->second.widget->raise();
      }
    }
  }

  Mirror Create(Control& c) {
    Mirror m;
    m.kind = KindOf(c);
    uint64_t id = c.Id();
    QWidget* w = nullptr;
    switch (m.kind) {
      case Kind::Form: {
        auto* win = new FormWindow(id);
        m.inner = win->content;
        w = win;
        break;
      }
      case Kind::Panel: {
        auto* l = new CaptionLabel;
        l->setAlignment(Qt::AlignCenter);
        w = l;
        break;
      }
      case Kind::GroupBox:
        w = new QGroupBox;
        break;
      case Kind::RadioGroup:
        w = new QGroupBox;
        break;
      case Kind::Label: {
        auto* l = new CaptionLabel;
        l->setTextFormat(Qt::PlainText);
        w = l;
        break;
      }
      case Kind::Button: {
        auto* b = new QPushButton;
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, [id] { ClickById(id); });
        w = b;
        break;
      }
      case Kind::SpeedButton: {
        auto* b = new QToolButton;
        b->setAutoRaise(true);
        QObject::connect(b, &QToolButton::clicked, [id] { ClickById(id); });
        w = b;
        break;
      }
      case Kind::Edit:
      case Kind::SpinEdit: {
        auto* e = new QLineEdit;
        QObject::connect(e, &QLineEdit::textEdited, [id](const QString& text) {
          if (auto* c = Model<Control>(id)) PostReplaceText(*c, S(text));
        });
        if (m.kind == Kind::SpinEdit) {
          // Up and down step the value, as the spin buttons do.
          auto* up = new QToolButton(e);
          auto* down = new QToolButton(e);
          up->setObjectName("up");
          down->setObjectName("down");
          up->setArrowType(Qt::UpArrow);
          down->setArrowType(Qt::DownArrow);
          QObject::connect(up, &QToolButton::clicked, [id] {
            if (auto* s = Model<SpinEdit>(id)) PostSpin(*s, true);
          });
          QObject::connect(down, &QToolButton::clicked, [id] {
            if (auto* s = Model<SpinEdit>(id)) PostSpin(*s, false);
          });
        }
        w = e;
        break;
      }
      case Kind::CheckBox: {
        auto* b = new QCheckBox;
        QObject::connect(b, &QCheckBox::clicked, [id] { ClickById(id); });
        w = b;
        break;
      }
      case Kind::RadioButton: {
        auto* b = new QRadioButton;
        b->setAutoExclusive(false);  // the model unchecks the others
        QObject::connect(b, &QRadioButton::clicked, [id] { ClickById(id); });
        w = b;
        break;
      }
      case Kind::ListBox: {
        auto* l = new KeyList(id);
        l->setSelectionMode(QAbstractItemView::NoSelection);
        QObject::connect(l, &QListWidget::itemPressed, [id, l](QListWidgetItem* item) {
          auto* list = Model<ListBox>(id);
          if (!list) return;
          int row = l->row(item);
          if (list->MultiSelect() && (QGuiApplication::keyboardModifiers() & Qt::ControlModifier))
            PostToggleSelect(*list, row);
          else
            PostChoose(*list, row);
        });
        QObject::connect(l, &QListWidget::itemDoubleClicked, [id, l](QListWidgetItem* item) {
          if (auto* list = Model<ListBox>(id)) PostDblClickItem(*list, l->row(item));
        });
        w = l;
        break;
      }
      case Kind::ComboBox:
      case Kind::DriveBox: {
        auto* b = new QComboBox;
        QObject::connect(b, &QComboBox::activated, [id](int index) {
          if (auto* c = Model<Control>(id)) PostChoose(*c, index);
        });
        w = b;
        break;
      }
      case Kind::Memo: {
        auto* e = new LogView;
        e->setReadOnly(true);
        e->setUndoRedoEnabled(false);
        w = e;
        break;
      }
      case Kind::Gauge:
        w = new QProgressBar;
        break;
      case Kind::Image: {
        auto* l = new QLabel;
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = l;
        break;
      }
      case Kind::Grid: {
        auto* t = new GridWidget(id);
        for (QHeaderView* h : {t->horizontalHeader(), t->verticalHeader()}) {
          h->setSectionsClickable(false);
          h->setHighlightSections(false);
          h->setSectionResizeMode(QHeaderView::Fixed);
          h->setMinimumSectionSize(1);
          h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        }
        t->setCornerButtonEnabled(false);
        t->setEditTriggers(QAbstractItemView::NoEditTriggers);
        t->setSelectionMode(QAbstractItemView::SingleSelection);
        t->setWordWrap(false);
        // The widget's cells are the model's scrolling ones.
        QObject::connect(t, &QTableWidget::cellPressed, [id](int row, int col) {
          if (auto* g = Model<StringGrid>(id)) PostSelectCell(*g, col + g->FixedCols(), row + g->FixedRows());
        });
        QObject::connect(t, &QTableWidget::cellDoubleClicked, [id](int row, int col) {
          if (auto* g = Model<StringGrid>(id)) PostDblClickCell(*g, col + g->FixedCols(), row + g->FixedRows());
        });
        // What Qt highlights of its own accord (a drag, a Ctrl+click) goes
        // back to the model's cell.
        auto keep = [id] {
          if (g_renderer) g_renderer->dirty_.insert(id);
        };
        QObject::connect(t, &QTableWidget::currentCellChanged, keep);
        QObject::connect(t, &QTableWidget::itemSelectionChanged, keep);
        w = t;
        break;
      }
      case Kind::TabSet: {
        auto* t = new QTabBar;
        t->setShape(QTabBar::RoundedSouth);
        t->setExpanding(false);
        QObject::connect(t, &QTabBar::tabBarClicked, [id](int index) {
          if (auto* c = Model<Control>(id); c && index >= 0) PostChoose(*c, index);
        });
        w = t;
        break;
      }
      case Kind::TabbedNotebook: {
        w = new QWidget;
        auto* t = new QTabBar(w);
        t->setObjectName("tabs");
        t->setExpanding(false);
        w->setFocusProxy(t);  // the notebook's focus is its tab row's
        QObject::connect(t, &QTabBar::tabBarClicked, [id](int index) {
          if (auto* c = Model<Control>(id); c && index >= 0) PostChoose(*c, index);
        });
        break;
      }
      case Kind::PaintBox:
        w = new PaintWidget(id);
        break;
      case Kind::DirectoryTree: {
        auto* l = new KeyList(id);
        l->setSelectionMode(QAbstractItemView::SingleSelection);
        QObject::connect(l, &QListWidget::itemClicked, [id](QListWidgetItem* item) {
          if (auto* t = Model<DirectoryTree>(id)) PostChooseDirectory(*t, S(item->data(Qt::UserRole).toString()));
        });
        w = l;
        break;
      }
      case Kind::Notebook:
      case Kind::Page:
      case Kind::Container:
        w = new QWidget;
        break;
    }
    m.widget = w;
    // The control's name and id, by which tests find its widget.
    w->setObjectName(Q(c.Name()));
    w->setProperty("halv_component", QVariant::fromValue<qulonglong>(id));
    if (m.kind != Kind::Form) {
      w->setContextMenuPolicy(Qt::CustomContextMenu);
      QObject::connect(w, &QWidget::customContextMenuRequested, [id](const QPoint& pos) {
        if (auto* c = Model<Control>(id); c && c->GetPopupMenu()) PostInput(kUiContextMenu, *c, PackPair(pos.x(), pos.y()));
      });
    }
    return m;
  }

  static void ClickById(uint64_t id) {
    if (auto* c = Model<Control>(id)) PostClick(*c);
    // A click the model drops leaves the widget as the model says.
    if (g_renderer) g_renderer->dirty_.insert(id);
  }

  void Apply(Control& c, Mirror& m) {
    QWidget* w = m.widget;
    if (m.kind != Kind::Form) {
      Rect b = c.BoundsRect();
      w->setGeometry(b.left, b.top, std::max(0, b.Width()), std::max(0, b.Height()));
      w->setVisible(c.Visible());
    }
    w->setEnabled(c.Enabled());
    w->setToolTip(c.ShowHint() || m.kind == Kind::SpeedButton ? Q(c.Hint()) : QString());
    w->setFont(MapFont(c.GetFont()));
    switch (m.kind) {
      case Kind::Form: ApplyForm(static_cast<Form&>(c), static_cast<FormWindow*>(w)); break;
      case Kind::Panel: {
        auto& p = static_cast<Panel&>(c);
        auto* l = static_cast<QLabel*>(w);
        l->setFrameShape(p.BevelOuter() == Bevel::None ? QFrame::NoFrame : QFrame::Panel);
        l->setFrameShadow(p.BevelOuter() == Bevel::Lowered ? QFrame::Sunken : QFrame::Raised);
        l->setLineWidth(p.BevelWidth());
        l->setText(Q(c.Caption()));
        break;
      }
      case Kind::GroupBox: static_cast<QGroupBox*>(w)->setTitle(Q(c.Caption())); break;
      case Kind::RadioGroup: ApplyRadioGroup(static_cast<RadioGroup&>(c), static_cast<QGroupBox*>(w)); break;
      case Kind::Label: {
        auto& l = static_cast<Label&>(c);
        auto* q = static_cast<QLabel*>(w);
        q->setText(Q(c.Caption()));
        Qt::Alignment a = l.GetAlignment() == Alignment::Right    ? Qt::AlignRight
                          : l.GetAlignment() == Alignment::Center ? Qt::AlignHCenter
                                                                  : Qt::AlignLeft;
        q->setAlignment(a | Qt::AlignTop);
        QPalette pal = q->palette();
        pal.setColor(QPalette::WindowText, ToQColor(c.GetFont().color));
        q->setPalette(pal);
        break;
      }
      case Kind::Button: {
        auto& b = static_cast<Button&>(c);
        auto* q = static_cast<QPushButton*>(w);
        q->setText(Q(c.Caption()));
        q->setDefault(b.Default());
        break;
      }
      case Kind::SpeedButton: ApplySpeedButton(static_cast<SpeedButton&>(c), static_cast<QToolButton*>(w)); break;
      case Kind::Edit:
      case Kind::SpinEdit: {
        auto& e = static_cast<Edit&>(c);
        auto* q = static_cast<QLineEdit*>(w);
        if (q->text() != Q(e.Text())) q->setText(Q(e.Text()));
        q->setReadOnly(e.ReadOnly());
        q->setMaxLength(e.MaxLength() > 0 ? e.MaxLength() : 32767);
        if (m.kind == Kind::SpinEdit) {
          int bw = std::min(16, w->width() / 3), hh = w->height() / 2;
          q->setTextMargins(0, 0, bw, 0);
          if (auto* up = w->findChild<QToolButton*>("up")) up->setGeometry(w->width() - bw, 0, bw, hh);
          if (auto* down = w->findChild<QToolButton*>("down")) down->setGeometry(w->width() - bw, hh, bw, w->height() - hh);
        }
        break;
      }
      case Kind::CheckBox: {
        auto* q = static_cast<QCheckBox*>(w);
        q->setText(Q(c.Caption()));
        q->setChecked(static_cast<CheckBox&>(c).Checked());
        break;
      }
      case Kind::RadioButton: {
        auto* q = static_cast<QRadioButton*>(w);
        q->setText(Q(c.Caption()));
        q->setChecked(static_cast<RadioButton&>(c).Checked());
        break;
      }
      case Kind::ListBox: ApplyList(static_cast<ListBox&>(c), static_cast<QListWidget*>(w)); break;
      case Kind::ComboBox: {
        auto& b = static_cast<ComboBox&>(c);
        ApplyCombo(static_cast<QComboBox*>(w), b.Items(), b.ItemIndex());
        break;
      }
      case Kind::DriveBox: {
        auto& b = static_cast<DriveBox&>(c);
        ApplyCombo(static_cast<QComboBox*>(w), b.Drives(), b.ItemIndex());
        break;
      }
      case Kind::Memo: ApplyMemo(static_cast<Memo&>(c), static_cast<LogView*>(w), m); break;
      case Kind::Gauge: {
        auto& g = static_cast<Gauge&>(c);
        auto* q = static_cast<QProgressBar*>(w);
        q->setRange(g.MinValue(), std::max(g.MinValue(), g.MaxValue()));
        q->setValue(std::clamp(g.Progress(), q->minimum(), q->maximum()));
        break;
      }
      case Kind::Image: {
        auto& i = static_cast<Image&>(c);
        auto* q = static_cast<QLabel*>(w);
        // A picture that is no file here (a resource of the original
        // program) shows as a dark field, so that what lies on it reads.
        QPixmap pix(Q(i.GetPicture().source));
        q->setScaledContents(i.Stretch());
        q->setPixmap(pix);
        q->setStyleSheet(pix.isNull() ? QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:1, y2:1, "
                                                       "stop:0 #101040, stop:1 #4060a0);")
                                      : QString());
        break;
      }
      case Kind::Grid: ApplyGrid(static_cast<StringGrid&>(c), static_cast<GridWidget*>(w)); break;
      case Kind::TabSet: {
        auto& t = static_cast<TabSet&>(c);
        ApplyTabs(static_cast<QTabBar*>(w), t.Tabs(), t.TabIndex());
        break;
      }
      case Kind::TabbedNotebook: {
        auto& n = static_cast<TabbedNotebook&>(c);
        if (auto* bar = w->findChild<QTabBar*>("tabs")) {
          bar->setGeometry(0, 0, c.Width(), TabbedNotebook::kTabRowHeight);
          ApplyTabs(bar, n.PageNames(), n.PageIndex());
        }
        break;
      }
      case Kind::PaintBox: w->update(); break;
      case Kind::DirectoryTree: ApplyTree(static_cast<DirectoryTree&>(c), static_cast<QListWidget*>(w)); break;
      case Kind::Notebook:
      case Kind::Page:
      case Kind::Container: break;
    }
    if (m.kind == Kind::Form) ApplyFocus(static_cast<Form&>(c), m);
  }

  // The focus goes where the model moved it, once: a window redrawn while
  // the server logs or refreshes leaves it where the operator put it.
  void ApplyFocus(Form& f, Mirror& m) {
    Control* active = f.ActiveControl();
    uint64_t id = active ? active->Id() : 0;
    if (id == m.focus_shown) return;
    auto it = mirrors_.find(id);
    if (it == mirrors_.end() || !it->second.widget || !m.widget->isActiveWindow()) return;
    it->second.widget->setFocus();
    m.focus_shown = id;
  }

  void ApplyForm(Form& f, FormWindow* win) {
    win->setWindowTitle(Q(f.Caption()));
    Qt::WindowFlags flags = Qt::Window;
    switch (f.GetBorderStyle()) {
      case BorderStyle::None: flags = Qt::Window | Qt::FramelessWindowHint; break;
      case BorderStyle::Dialog: flags = kDialogFlags; break;
      default: break;
    }
    // A modal form can always be closed by its frame (it is cancelled).
    if (!f.CloseBox() && !f.Modal())
      flags = (flags & ~Qt::WindowCloseButtonHint) | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (f.StayOnTop()) flags |= Qt::WindowStaysOnTopHint;
    auto& m = mirrors_[f.Id()];
    if (m.flags != flags) {
      m.flags = flags;
      win->setWindowFlags(flags);  // hides the window; ShowForm shows it again
    }
    ApplyMenu(f, win);
    QPalette pal = win->palette();
    pal.setColor(QPalette::Window, ToQColor(f.GetColor()));
    win->setPalette(pal);
    Rect b = f.NormalBounds();
    Rect in = f.NonClientInsets();
    int cw = std::max(0, b.Width() - in.left - in.right), ch = std::max(0, b.Height() - in.top - in.bottom);
    win->Place(cw, ch, f.GetBorderStyle() == BorderStyle::Sizeable);
    win->applying = true;
    win->move(b.left, b.top);
    win->applying = false;
  }

  void ShowForm(Form& f) {
    auto it = mirrors_.find(f.Id());
    if (it == mirrors_.end() || !it->second.widget) return;
    auto* win = static_cast<FormWindow*>(it->second.widget.data());
    if (!f.Visible()) {
      if (!win->isHidden()) win->hide();
      it->second.focus_shown = 0;  // shown again, it takes the model's focus anew
      return;
    }
    Qt::WindowModality modality = f.Modal() ? Qt::ApplicationModal : Qt::NonModal;
    if (win->windowModality() != modality) {
      win->hide();
      win->setWindowModality(modality);
    }
    if (opened_.erase(f.Id())) FocusAtOpening(f);
    WindowState state = f.GetWindowState();
    if (win->isHidden()) {
      if (state == WindowState::Normal) FitOnScreen(f, win);
      if (state == WindowState::Maximized) win->showMaximized();
      else if (state == WindowState::Minimized) win->showMinimized();
      else win->show();
      win->raise();
      win->activateWindow();
    } else if (state == WindowState::Minimized && !win->isMinimized()) {
      win->showMinimized();
    } else if (state == WindowState::Maximized && !win->isMaximized()) {
      win->showMaximized();
    } else if (state == WindowState::Normal && (win->isMinimized() || win->isMaximized())) {
      win->showNormal();
    }
  }

  // A window opening has its focus where the model's is, whatever had it
  // when it was last shown, and an edit's text selected; the window gives
  // it the focus once it is active.
  void FocusAtOpening(Form& f) {
    Control* active = f.ActiveControl();
    auto it = active ? mirrors_.find(active->Id()) : mirrors_.end();
    if (it == mirrors_.end() || !it->second.widget) return;
    it->second.widget->setFocus(Qt::TabFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(it->second.widget.data())) edit->selectAll();
  }

  // A window whose place lies partly or wholly off the screens (a saved
  // place on a screen that is gone or smaller) opens on the screen it
  // overlaps most, else the primary one: wholly on it where it fits, else
  // at its top left. The model learns the place, as after a move.
  void FitOnScreen(Form& f, FormWindow* win) {
    Rect b = f.NormalBounds();
    QRect want(b.left, b.top, b.Width(), b.Height());
    QRegion screens;
    QScreen* best = QGuiApplication::primaryScreen();
    qint64 most = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
      QRect common = screen->availableGeometry().intersected(want);
      screens += screen->availableGeometry();
      if (qint64 area = qint64(common.width()) * common.height(); area > most) {
        most = area;
        best = screen;
      }
    }
    if (!best || QRegion(want).subtracted(screens).isEmpty()) return;
    QRect area = best->availableGeometry();
    int x = std::max(area.left(), std::min(want.left(), area.right() + 1 - want.width()));
    int y = std::max(area.top(), std::min(want.top(), area.bottom() + 1 - want.height()));
    win->applying = true;
    win->move(x, y);
    win->applying = false;
    PostMove(f, x, y);
  }

  // Main menus are rebuilt as a whole when anything in them changed.
  static void BuildItems(QWidget* into, const MenuItem& parent, bool bar) {
    for (MenuItem* item : parent.Items()) {
      if (!item->Visible()) continue;
      if (item->IsSeparator()) {
        if (auto* menu = qobject_cast<QMenu*>(into)) menu->addSeparator();
        continue;
      }
      uint64_t id = item->Id();
      QAction* action;
      if (item->Count() > 0) {
        auto* sub = new QMenu(Q(item->Caption()), into);
        BuildItems(sub, *item, false);
        if (bar) action = static_cast<QMenuBar*>(into)->addMenu(sub);
        else action = static_cast<QMenu*>(into)->addMenu(sub);
      } else {
        action = new QAction(Q(item->Caption()), into);
        into->addAction(action);
        QObject::connect(action, &QAction::triggered, [id] {
          if (auto* i = Model<MenuItem>(id)) PostMenu(*i);
        });
      }
      action->setEnabled(item->Enabled());
      if (item->Checked()) {
        action->setCheckable(true);
        action->setChecked(true);
      }
    }
  }

  static void Signature(const MenuItem& parent, std::string& out) {
    for (MenuItem* item : parent.Items()) {
      out += std::to_string(item->Id()) + (item->Visible() ? "v" : "h") + (item->Enabled() ? "e" : "d") +
             (item->Checked() ? "c" : "u") + item->Caption() + '\x01';
      out += '(';
      Signature(*item, out);
      out += ')';
    }
  }

  void ApplyMenu(Form& f, FormWindow* win) {
    MainMenu* menu = f.GetMenu();
    std::string signature;
    if (menu) Signature(menu->Items(), signature);
    if (signature == win->menu_signature && (menu != nullptr) == (win->bar != nullptr)) return;
    win->menu_signature = signature;
    if (win->bar) {
      win->bar->hide();
      win->bar->deleteLater();
      win->bar = nullptr;
    }
    if (!menu) return;
    win->bar = new QMenuBar(win);
    win->bar->setNativeMenuBar(false);
    BuildItems(win->bar, menu->Items(), true);
    win->bar->show();
  }

  void SyncPopup(PopupMenu& popup) {
    uint64_t id = popup.Id();
    QPointer<QMenu>& menu = popups_[id];
    if (!popup.IsOpen()) {
      if (menu && menu->isVisible()) menu->hide();
      return;
    }
    if (menu && menu->isVisible()) return;
    delete menu.data();
    menu = new QMenu;
    BuildItems(menu, popup.Items(), false);
    QPoint at(popup.PopupPoint().x, popup.PopupPoint().y);
    if (Control* over = popup.PopupComponent()) {
      // The model's point is on its own screen; place it over the widget.
      if (auto it = mirrors_.find(over->Id()); it != mirrors_.end() && it->second.widget) {
        Point origin = over->ClientToScreen({0, 0});
        at = it->second.widget->mapToGlobal(QPoint(at.x() - origin.x, at.y() - origin.y));
      }
    }
    QObject::connect(menu.data(), &QMenu::aboutToHide, [id] {
      // After a choice the menu closes first; the dismissal comes after it.
      QTimer::singleShot(0, [id] {
        if (auto* p = Model<PopupMenu>(id); p && p->IsOpen()) PostDismissPopup(*p);
      });
    });
    menu->popup(at);
  }

  void SyncFind(FindDialog& find) {
    uint64_t id = find.Id();
    QPointer<QDialog>& dialog = finds_[id];
    if (!dialog) {
      dialog = new QDialog;
      dialog->setWindowTitle(QStringLiteral("Find"));
      auto* row = new QHBoxLayout(dialog);
      auto* label = new QLabel(QStringLiteral("Fi&nd what:"));
      row->addWidget(label);
      auto* text = new QLineEdit;
      label->setBuddy(text);
      text->setObjectName("text");
      row->addWidget(text);
      auto* next = new QPushButton(QStringLiteral("&Find Next"));
      auto* cancel = new QPushButton(QStringLiteral("Cancel"));
      row->addWidget(next);
      row->addWidget(cancel);
      QObject::connect(text, &QLineEdit::textEdited, [id](const QString& t) {
        if (auto* f = Model<FindDialog>(id)) PostFindText(*f, S(t));
      });
      QObject::connect(next, &QPushButton::clicked, [id] {
        if (auto* f = Model<FindDialog>(id)) PostFindNext(*f);
      });
      QObject::connect(cancel, &QPushButton::clicked, [id] {
        if (auto* f = Model<FindDialog>(id)) PostCloseBox(*f);
      });
      QObject::connect(dialog.data(), &QDialog::rejected, [id] {
        if (auto* f = Model<FindDialog>(id)) PostCloseBox(*f);
      });
    }
    if (auto* text = dialog->findChild<QLineEdit*>("text"); text && text->text() != Q(find.FindText()))
      text->setText(Q(find.FindText()));
    if (find.Visible() && dialog->isHidden()) {
      // Each opening starts in the field, its text selected.
      dialog->show();
      if (auto* text = dialog->findChild<QLineEdit*>("text")) {
        text->setFocus(Qt::TabFocusReason);
        text->selectAll();
      }
    }
    if (!find.Visible() && !dialog->isHidden()) dialog->hide();
  }

  void ApplyRadioGroup(RadioGroup& g, QGroupBox* box) {
    box->setTitle(Q(g.Caption()));
    QList<QRadioButton*> buttons = box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    int n = static_cast<int>(g.Items().size());
    while (buttons.size() > n) delete buttons.takeLast();
    uint64_t id = g.Id();
    while (buttons.size() < n) {
      int index = static_cast<int>(buttons.size());
      auto* b = new QRadioButton(box);
      b->setAutoExclusive(false);
      QObject::connect(b, &QRadioButton::clicked, [id, index] {
        if (auto* c = Model<Control>(id)) PostChoose(*c, index);
        if (g_renderer) g_renderer->dirty_.insert(id);
      });
      b->show();
      buttons.append(b);
    }
    int columns = std::max(1, g.Columns());
    int rows = (n + columns - 1) / columns;
    int top = 16, col_w = (g.Width() - 16) / columns;
    int row_h = rows > 0 ? std::max(16, (g.Height() - top - 4) / rows) : 16;
    for (int i = 0; i < n; ++i) {
      buttons[i]->setText(Q(g.Items()[i]));
      buttons[i]->setChecked(i == g.ItemIndex());
      buttons[i]->setGeometry(8 + (i / rows) * col_w, top + (i % rows) * row_h, col_w, row_h);
    }
  }

  void ApplySpeedButton(SpeedButton& b, QToolButton* q) {
    // A few glyphs have a standard picture; any other shows its caption.
    static const std::map<std::string, QStyle::StandardPixmap> kGlyphs = {
        {"start", QStyle::SP_MediaPlay},         {"stop", QStyle::SP_MediaStop},
        {"settings", QStyle::SP_FileDialogDetailedView}, {"about", QStyle::SP_MessageBoxInformation},
        {"open", QStyle::SP_DialogOpenButton},   {"save", QStyle::SP_DialogSaveButton},
        {"delete", QStyle::SP_TrashIcon},        {"help", QStyle::SP_DialogHelpButton},
    };
    // The glyph's name, else the hint's first word, else the name before
    // "Button" picks the picture.
    std::string hint_word = b.Hint().substr(0, b.Hint().find(' '));
    std::string name = LowerCase(b.Name());
    if (size_t at = name.rfind("button"); at != std::string::npos && at > 0) name.resize(at);
    auto it = kGlyphs.end();
    for (const std::string& key : {LowerCase(b.Glyph()), LowerCase(hint_word), name})
      if (it == kGlyphs.end() && !key.empty()) it = kGlyphs.find(key);
    if (it != kGlyphs.end()) {
      q->setIcon(q->style()->standardIcon(it->second));
      q->setToolButtonStyle(Qt::ToolButtonIconOnly);
    } else {
      q->setIcon(QIcon());
      q->setText(!b.Caption().empty() ? Q(b.Caption()) : PlainText(!b.Glyph().empty() ? b.Glyph() : b.Hint()));
      q->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
  }

  static void ApplyCombo(QComboBox* q, const std::vector<std::string>& items, int index) {
    QSignalBlocker block(q);
    bool same = q->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < q->count(); ++i) same = q->itemText(i) == Q(items[i]);
    if (!same) {
      q->clear();
      for (const std::string& s : items) q->addItem(Q(s));
    }
    q->setCurrentIndex(index);
  }

  static void ApplyTabs(QTabBar* q, const std::vector<std::string>& tabs, int index) {
    QSignalBlocker block(q);
    while (q->count() > static_cast<int>(tabs.size())) q->removeTab(q->count() - 1);
    for (size_t i = 0; i < tabs.size(); ++i) {
      int at = static_cast<int>(i);
      if (at >= q->count()) q->addTab(Q(tabs[i]));
      else if (q->tabText(at) != Q(tabs[i])) q->setTabText(at, Q(tabs[i]));
    }
    if (index >= 0) q->setCurrentIndex(index);
  }

  static void ApplyList(ListBox& l, QListWidget* q) {
    QSignalBlocker block(q);
    bool same = q->count() == l.Count();
    for (int i = 0; same && i < l.Count(); ++i) same = q->item(i)->text() == Q(l.Item(i));
    if (!same) {
      q->clear();
      for (int i = 0; i < l.Count(); ++i) q->addItem(Q(l.Item(i)));
    }
    // The model's selection is drawn as the list's own highlight.
    for (int i = 0; i < l.Count(); ++i) {
      bool on = l.MultiSelect() ? l.Selected(i) : i == l.ItemIndex();
      QListWidgetItem* item = q->item(i);
      item->setBackground(on ? q->palette().highlight() : QBrush());
      item->setForeground(on ? q->palette().highlightedText() : QBrush());
    }
    // The focus frame is on the model's current item.
    if (q->currentRow() != l.ItemIndex()) q->setCurrentRow(l.ItemIndex());
    if (l.ItemIndex() >= 0) q->scrollToItem(q->item(l.ItemIndex()));
  }

  static void ApplyTree(DirectoryTree& t, QListWidget* q) {
    QSignalBlocker block(q);
    q->clear();
    for (const DirectoryTree::Node& n : t.VisibleNodes()) {
      auto* item = new QListWidgetItem(QString(n.level * 2, QLatin1Char(' ')) + Q(n.name));
      item->setData(Qt::UserRole, Q(n.path));
      q->addItem(item);
      if (n.path == t.Directory()) q->setCurrentItem(item);
    }
  }

  // The log grows at its end and loses lines at its start: only the
  // difference goes to the widget, the new lines in one append.
  static void ApplyMemo(Memo& memo, LogView* q, Mirror& m) {
    const std::vector<std::string>& lines = memo.Lines();
    std::vector<std::string>& shown = m.shown_lines;
    q->applying = true;
    q->setLineWrapMode(memo.WordWrap() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    ScrollBars bars = memo.GetScrollBars();
    bool h = bars == ScrollBars::Horizontal || bars == ScrollBars::Both;
    bool v = bars == ScrollBars::Vertical || bars == ScrollBars::Both;
    q->setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    q->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    // Lines dropped from the start: the first model line's place in shown.
    size_t dropped = shown.size() + 1;
    if (lines.empty()) {
      dropped = shown.size();
    } else {
      for (size_t k = 0; k < shown.size(); ++k) {
        size_t rest = shown.size() - k;
        if (rest > lines.size()) continue;
        if (std::equal(shown.begin() + static_cast<std::ptrdiff_t>(k), shown.end(), lines.begin())) {
          dropped = k;
          break;
        }
      }
      if (dropped > shown.size() && shown.empty()) dropped = 0;
    }
    QScrollBar* bar = q->verticalScrollBar();
    int top = bar->value();
    if (dropped > shown.size()) {
      QString text;
      for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + Q(lines[i]);
      q->setPlainText(text);
    } else {
      if (dropped > 0) {
        QTextCursor cursor(q->document());
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(dropped));
        if (dropped == shown.size()) cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
      }
      size_t kept = shown.size() - dropped;
      if (kept < lines.size()) {
        QString text;
        for (size_t i = kept; i < lines.size(); ++i) text += (i > kept ? "\n" : "") + Q(lines[i]);
        if (kept == 0) q->setPlainText(text);
        else q->appendPlainText(text);
      }
    }
    // Scrolled up, the lines looked at stay in view as the first ones go.
    if (!q->follow) bar->setValue(dropped > shown.size() ? 0 : std::max(0, top - static_cast<int>(dropped)));
    shown = lines;
    q->Follow();
    q->applying = false;
  }

  static void SetHeaderText(QTableWidget* q, Qt::Orientation o, int section, const QString& text) {
    QTableWidgetItem* item = o == Qt::Horizontal ? q->horizontalHeaderItem(section) : q->verticalHeaderItem(section);
    if (!item) {
      item = new QTableWidgetItem;
      if (o == Qt::Horizontal) q->setHorizontalHeaderItem(section, item);
      else q->setVerticalHeaderItem(section, item);
    }
    if (item->text() != text) item->setText(text);
  }

  // The fixed rows are the title header (one line of text for each), the
  // fixed columns the number header, at least as wide as its widest text.
  static void ApplyGrid(StringGrid& g, GridWidget* q) {
    QSignalBlocker block(q);
    int fixed_rows = g.FixedRows(), fixed_cols = g.FixedCols();
    int rows = g.RowCount() - fixed_rows, cols = g.ColCount() - fixed_cols;
    if (q->rowCount() != rows) q->setRowCount(rows);
    if (q->columnCount() != cols) q->setColumnCount(cols);
    for (int c = 0; c < cols; ++c)
      if (q->columnWidth(c) != g.ColWidth(c + fixed_cols)) q->setColumnWidth(c, g.ColWidth(c + fixed_cols));
    for (int r = 0; r < rows; ++r)
      if (q->rowHeight(r) != g.RowHeight(r + fixed_rows)) q->setRowHeight(r, g.RowHeight(r + fixed_rows));
    q->setShowGrid(g.HasOption(goVertLine) || g.HasOption(goHorzLine));
    q->row_select = g.HasOption(goRowSelect);
    q->setSelectionBehavior(q->row_select ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);

    QHeaderView* titles = q->horizontalHeader();
    titles->setVisible(fixed_rows > 0);
    if (fixed_rows > 0) {
      int height = 0;
      for (int r = 0; r < fixed_rows; ++r) height += g.RowHeight(r) + g.GridLineWidth();
      titles->setFixedHeight(height);
      for (int c = 0; c < cols; ++c) {
        QStringList lines;
        for (int r = 0; r < fixed_rows; ++r) lines << Q(g.Cell(c + fixed_cols, r));
        SetHeaderText(q, Qt::Horizontal, c, lines.join('\n'));
      }
    }
    QHeaderView* numbers = q->verticalHeader();
    numbers->setVisible(fixed_cols > 0);
    if (fixed_cols > 0) {
      int width = 0;
      for (int c = 0; c < fixed_cols; ++c) width += g.ColWidth(c) + g.GridLineWidth();
      for (int r = 0; r < rows; ++r) {
        QStringList texts;
        for (int c = 0; c < fixed_cols; ++c) texts << Q(g.Cell(c, r + fixed_rows));
        SetHeaderText(q, Qt::Vertical, r, texts.join(' '));
      }
      numbers->setFixedWidth(std::max(width, numbers->sizeHint().width()));
    }

    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        QTableWidgetItem* item = q->item(r, c);
        const std::string& text = g.Cell(c + fixed_cols, r + fixed_rows);
        if (!item) {
          if (text.empty()) continue;
          item = new QTableWidgetItem;
          q->setItem(r, c, item);
        }
        QString qt = Q(text);
        if (item->text() != qt) item->setText(qt);
      }
    }
    // The highlight is the model's cell. Set only when it differs, so a
    // refresh leaves the view where the operator scrolled it.
    int row = g.Row() - fixed_rows, col = g.Col() - fixed_cols;
    if (row < 0 || row >= rows || col < 0 || col >= cols) return;
    bool shown = q->currentRow() == row && q->currentColumn() == col &&
                 q->selectionModel()->isSelected(q->model()->index(row, col));
    if (!shown) q->setCurrentCell(row, col);
  }

  // ---------------------------------------------------------------------
  // Our modal loops for Qt's dialogs

  // Shows the dialog and runs our loop until its answer was posted.
  int RunDialog(QWidget* dialog, uintptr_t token, int on_quit) {
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    bool ended = RunModalLoop([&] { return answers_.count(token) != 0; });
    // A completion list of one of its fields goes with it.
    for (QCompleter* completer : dialog->findChildren<QCompleter*>())
      if (completer->popup()) completer->popup()->hide();
    dialog->hide();
    int answer = ended ? answers_[token] : on_quit;
    answers_.erase(token);
    dialog->deleteLater();
    return answer;
  }

  int ShowBox(const MessageBoxRequest& r) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (r.kind) {
      case MsgKind::Information: icon = QMessageBox::Information; break;
      case MsgKind::Warning: icon = QMessageBox::Warning; break;
      case MsgKind::Error: icon = QMessageBox::Critical; break;
      case MsgKind::Confirmation: icon = QMessageBox::Question; break;
      case MsgKind::Plain: break;
    }
    auto* box = new QMessageBox(icon, Q(r.caption), Q(r.text));
    box->setTextFormat(Qt::PlainText);
    uintptr_t token = ++next_token_;
    HWND window = window_;
    std::vector<int> ids = ButtonIds(r.buttons);
    bool has_cancel = std::find(ids.begin(), ids.end(), IDCANCEL) != ids.end();
    for (int id : ids) {
      QMessageBox::ButtonRole role = id == IDCANCEL || id == IDNO ? QMessageBox::RejectRole : QMessageBox::AcceptRole;
      QPushButton* b = box->addButton(QString::fromLatin1(ButtonName(id)), role);
      if (id == DefaultButton(r.buttons)) box->setDefaultButton(b);
      // The close box answers Cancel where there is one; a box without
      // Cancel or No cannot be closed but by a button.
      if (id == IDCANCEL || (id == IDNO && !has_cancel) || ids.size() == 1) box->setEscapeButton(b);
      QObject::connect(b, &QPushButton::clicked, [window, token, id] { PostMessage(window, kDialogAnswer, token, id); });
    }
    box->setWindowFlags(kDialogFlags);
    // It opens with the focus on its default button.
    if (QAbstractButton* def = box->defaultButton()) QTimer::singleShot(0, def, [def] { def->setFocus(); });
    int fallback = has_cancel ? IDCANCEL : DefaultButton(r.buttons);
    return RunDialog(box, token, fallback);
  }

  std::optional<std::string> ShowOpenFile(const OpenFileRequest& r) {
    auto* dialog = new QFileDialog(nullptr, Q(r.title.empty() ? std::string("Open") : r.title), Q(r.initial_dir));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // "Name|*.a;*.b|Other|*.*" becomes "Name (*.a *.b)", "Other (*)".
    QStringList filters;
    QStringList parts = Q(r.filter).split('|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
      QString patterns = parts[i + 1];
      patterns.replace(';', ' ').replace(QStringLiteral("*.*"), QStringLiteral("*"));
      filters << parts[i] + " (" + patterns + ")";
    }
    if (!filters.isEmpty()) {
      dialog->setNameFilters(filters);
      int index = std::clamp(r.filter_index, 1, static_cast<int>(filters.size())) - 1;
      dialog->selectNameFilter(filters[index]);
    }
    if (!r.file_name.empty()) dialog->selectFile(Q(r.file_name));
    return RunFileDialog(dialog);
  }

  // The class library's directory chooser: the directory's name to edit
  // and the list of directories, from the root down to the one shown and
  // then its own subdirectories; a double click opens one.
  static void FillDirectories(QListWidget* list, const std::string& directory) {
    list->clear();
    std::vector<std::pair<std::string, std::string>> way{{"/", "/"}};  // name, path
    std::string path;
    for (size_t at = 1; at <= directory.size(); ++at) {
      if (at < directory.size() && directory[at] != '/') continue;
      size_t from = path.size() + 1;
      path = directory.substr(0, at);
      if (at > from) way.emplace_back(directory.substr(from, at - from), path);
    }
    auto add = [list](int level, const std::string& name, const std::string& full) {
      auto* item = new QListWidgetItem(QString(level * 2, QLatin1Char(' ')) + Q(name));
      item->setData(Qt::UserRole, Q(full));
      list->addItem(item);
      return item;
    };
    QListWidgetItem* current = nullptr;
    for (size_t i = 0; i < way.size(); ++i) current = add(static_cast<int>(i), way[i].first, way[i].second);
    const std::string& here = way.back().second;
    for (const std::string& name : DirectoryTree::SubDirectories(here))
      add(static_cast<int>(way.size()), name, here == "/" ? "/" + name : here + "/" + name);
    list->setCurrentItem(current);
  }

  std::optional<std::string> ShowDirectory(const DirectoryRequest& r) {
    auto* dialog = new QDialog;
    dialog->setWindowTitle(Q(r.caption));
    auto* name_label = new QLabel(QStringLiteral("Directory &Name:"));
    auto* name = new QLineEdit(Q(r.directory));
    name->setObjectName("name");
    name_label->setBuddy(name);
    auto* list_label = new QLabel(QStringLiteral("&Directories:"));
    auto* list = new QListWidget;
    list->setObjectName("directories");
    list_label->setBuddy(list);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    ok->setDefault(true);
    auto* column = new QVBoxLayout(dialog);
    column->addWidget(name_label);
    column->addWidget(name);
    column->addWidget(list_label);
    column->addWidget(list);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    column->addLayout(row);
    dialog->resize(320, 300);
    std::string start = r.directory;
    if (!IsDirectory(start)) start = GetCurrentDir();
    FillDirectories(list, start);
    // The name follows the highlighted directory, by mouse or keys, so OK
    // and Enter answer the directory the user sees.
    QObject::connect(list, &QListWidget::currentItemChanged, [name](QListWidgetItem* item) {
      if (item) name->setText(item->data(Qt::UserRole).toString());
    });
    QObject::connect(list, &QListWidget::itemClicked, [name](QListWidgetItem* item) {
      name->setText(item->data(Qt::UserRole).toString());
    });
    QObject::connect(list, &QListWidget::itemActivated, [name, list](QListWidgetItem* item) {
      QString path = item->data(Qt::UserRole).toString();
      name->setText(path);
      // Filled after this signal: the item belongs to the list until then.
      QTimer::singleShot(0, list, [list, path] { FillDirectories(list, S(path)); });
    });
    uintptr_t token = ++next_token_;
    HWND window = window_;
    auto chosen = std::make_shared<std::string>();
    QObject::connect(ok, &QPushButton::clicked, [name, chosen, window, token] {
      *chosen = S(name->text());
      PostMessage(window, kDialogAnswer, token, IDOK);
    });
    // Cancel, Escape and the close box all reject the dialog.
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    QObject::connect(dialog, &QDialog::rejected, [window, token] { PostMessage(window, kDialogAnswer, token, IDCANCEL); });
    if (RunDialog(dialog, token, IDCANCEL) != IDOK) return std::nullopt;
    return *chosen;
  }

  std::optional<std::string> RunFileDialog(QFileDialog* dialog) {
    uintptr_t token = ++next_token_;
    HWND window = window_;
    auto chosen = std::make_shared<std::string>();
    QObject::connect(dialog, &QFileDialog::finished, [dialog, chosen, window, token](int result) {
      QStringList files = dialog->selectedFiles();
      bool ok = result == QDialog::Accepted && !files.isEmpty();
      if (ok) *chosen = S(files.first());
      PostMessage(window, kDialogAnswer, token, ok ? IDOK : IDCANCEL);
    });
    if (RunDialog(dialog, token, IDCANCEL) != IDOK) return std::nullopt;
    return *chosen;
  }

 public:
  static inline Renderer* g_renderer = nullptr;

 private:
  int observer_ = 0;
  HWND window_ = 0;
  int pass_timer_ = -1;
  int pass_armed_ms_ = -1;
  uintptr_t next_token_ = 0;
  std::map<uintptr_t, int> answers_;
  std::unordered_map<uint64_t, Mirror> mirrors_;
  std::unordered_map<uint64_t, QPointer<QMenu>> popups_;
  std::unordered_map<uint64_t, QPointer<QDialog>> finds_;
  std::unordered_set<uint64_t> dirty_;
  std::unordered_set<uint64_t> opened_;  // forms shown since the last pass
  bool all_dirty_ = false;
  TabFocus tab_focus_;
  QElapsedTimer since_sync_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* timer_ = nullptr;
  FormKeys form_keys_;
  MessageBoxHandler previous_box_;
  OpenFileHandler previous_open_;
  DirectoryHandler previous_dir_;
};

// Whether Qt can open a display here. Qt ends the process when it cannot,
// so the program would never get to run headless: look first.
bool DisplayReachable() {
  const char* x = std::getenv("DISPLAY");
  if (x && *x) {
    // A server that is busy starting or under load may refuse one attempt.
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (attempt > 0) ::usleep(200 * 1000);
      xcb_connection_t* c = xcb_connect(nullptr, nullptr);
      bool ok = xcb_connection_has_error(c) == 0;
      xcb_disconnect(c);
      if (ok) return true;
    }
    return false;
  }
  // Wayland only: its compositor's socket, and Qt's plug-in for it.
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!wayland || !*wayland) return false;
  std::string path = wayland[0] == '/' ? wayland : std::string(runtime ? runtime : "") + "/" + wayland;
  QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
  if (!QFile::exists(plugins + QStringLiteral("/libqwayland-generic.so"))) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof a.sun_path) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::copy(path.begin(), path.end(), a.sun_path);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// Qt keeps pointers to these for the life of the application.
int g_argc = 0;
char** g_argv = nullptr;
QApplication* g_app = nullptr;

}  // namespace

}  // namespace platform::qtfront

extern "C" __attribute__((visibility("default"))) int HalvFrontEndStart(int argc, char** argv) {
  using namespace platform::qtfront;
  if (Renderer::g_renderer) return 1;
  if (!DisplayReachable()) return 0;
  g_argc = argc;
  g_argv = argv;
  // Qt takes the user's locale for the whole process; the program formats
  // and parses numbers and dates the C way, so that locale is given back.
  std::string locale = std::setlocale(LC_ALL, nullptr);
  g_app = new QApplication(g_argc, g_argv);
  std::setlocale(LC_ALL, locale.c_str());
  // Menus, message boxes and Qt's own dialogs in the face of the forms, at
  // Qt's size.
  QFont face = QApplication::font();
  face.setFamilies(MapFont(platform::ui::Font{}).families());
  QApplication::setFont(face);
  QApplication::setQuitOnLastWindowClosed(false);
  Renderer::g_renderer = new Renderer;
  return 1;
}

extern "C" __attribute__((visibility("default"))) void HalvFrontEndStop() {
  using namespace platform::qtfront;
  delete Renderer::g_renderer;
  Renderer::g_renderer = nullptr;
  delete g_app;
  g_app = nullptr;
}
