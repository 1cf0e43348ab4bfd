// Whether every caption of a form fits its control as the window front end
// draws it: the caption's width in the font the control's widget has (its
// mnemonic marks taken out), against the control's width less what the
// widget's style keeps for its frame, margins and indicator. The widgets are
// found by the ids of their controls, which the front end gives them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStyleOptionHeader>
#include <QStyleOptionToolButton>
#include <QTabBar>
#include <QTableWidget>
#include <QToolButton>
#include <string>
#include <vector>

#include "platform/msgloop.h"
#include "tests/display/widgets.h"
#include "platform/ui/automation.h"
#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/pages.h"
#include "platform/ui/windows.h"
#include "tests/display/xdisplay.h"

namespace captionfit {

namespace ui = platform::ui;

inline QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The caption as it shows: "&x" is an underlined x, "&&" one "&".
inline QString Shown(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    else if (caption[i] == '&') continue;
    out += caption[i];
  }
  return Q(out);
}

struct Misfit {
  std::string form, control, caption, font;
  int need = 0;
  int room = 0;
};

inline std::ostream& operator<<(std::ostream& out, const Misfit& m) {
  return out << m.form << "." << m.control << " \"" << m.caption << "\" (" << m.font << "): needs " << m.need
             << " px, has " << m.room << " (" << m.need - m.room << " short)";
}

// The visible window of the form.
inline QWidget* WindowOf(const ui::Form& form) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == Q(form.Name()) && w->isVisible()) return w;
  return nullptr;
}

class Checker {
 public:
  explicit Checker(const ui::Form& form) : form_(form), window_(WindowOf(form)) {}

  // Every control of the form, the pages of its notebooks whichever shows.
  void Run() {
    ASSERT_NE(window_, nullptr) << form_.Name() << " shows no window";
    for (ui::Control* c : form_.Controls()) Walk(*c);
  }

  std::vector<Misfit> misfits;
  std::vector<std::string> missing;  // controls without a widget of their name
  int checked = 0;

 private:
  void Walk(ui::Control& c) {
    if (!c.Visible() && !dynamic_cast<ui::Page*>(&c)) return;
    Check(c);
    for (ui::Control* child : c.Controls()) Walk(*child);
  }

  void Fit(const ui::Control& c, const QString& caption, const QFont& font, int need, int room) {
    ++checked;
    if (need <= room) return;
    QFontInfo info(font);
    misfits.push_back({form_.Name(), c.Name(), caption.toStdString(),
                       info.family().toStdString() + (info.bold() ? " bold " : " ") +
                           std::to_string(info.pixelSize()) + " px",
                       need, room});
  }

  QWidget* WidgetOf(const ui::Control& c) const { return displaytest::WidgetOf(c, window_); }

  static int Width(const QFont& font, const QString& text) { return QFontMetrics(font).horizontalAdvance(text); }

  // Controls that show a caption of their own (pages show theirs as their
  // notebook's tabs).
  static bool Captioned(const ui::Control& c) {
    bool text = dynamic_cast<const ui::Label*>(&c) || dynamic_cast<const ui::Panel*>(&c) ||
                dynamic_cast<const ui::Button*>(&c) || dynamic_cast<const ui::CheckBox*>(&c) ||
                dynamic_cast<const ui::RadioButton*>(&c) || dynamic_cast<const ui::GroupBox*>(&c) ||
                dynamic_cast<const ui::SpeedButton*>(&c);
    return (text && !c.Caption().empty()) || dynamic_cast<const ui::RadioGroup*>(&c) ||
           dynamic_cast<const ui::StringGrid*>(&c) || dynamic_cast<const ui::TabSet*>(&c) ||
           dynamic_cast<const ui::TabbedNotebook*>(&c);
  }

  void Check(ui::Control& c) {
    if (!Captioned(c)) return;
    QWidget* w = WidgetOf(c);
    if (!w) {
      missing.push_back(c.Name().empty() ? "(a control without a name)" : c.Name());
      return;
    }
    const std::string& caption = c.Caption();
    QStyle* style = w->style();
    if (dynamic_cast<ui::Label*>(&c) || dynamic_cast<ui::Panel*>(&c)) {
      // Labels and panels draw their caption in their contents.
      QString text = Shown(caption);
      auto* label = qobject_cast<QLabel*>(w);
      Fit(c, text, w->font(), Width(w->font(), text), label ? label->contentsRect().width() : 0);
    } else if (dynamic_cast<ui::Button*>(&c)) {
      // The style draws the label within the frame, clipped to what the
      // frame (and a default button's indicator) leaves.
      QStyleOptionButton opt;
      opt.initFrom(w);
      if (auto* b = qobject_cast<QPushButton*>(w); b && b->isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
      QRect contents = style->subElementRect(QStyle::SE_PushButtonContents, &opt, w);
      QString text = Shown(caption);
      Fit(c, text, w->font(), Width(w->font(), text), contents.width());
    } else if (dynamic_cast<ui::CheckBox*>(&c) || dynamic_cast<ui::RadioButton*>(&c)) {
      if (auto* b = qobject_cast<QAbstractButton*>(w)) CheckIndicatorButton(c, b);
    } else if (dynamic_cast<ui::SpeedButton*>(&c)) {
      auto* tool = qobject_cast<QToolButton*>(w);
      if (!tool || tool->toolButtonStyle() != Qt::ToolButtonTextOnly) return;  // a picture
      QStyleOptionToolButton opt;
      opt.initFrom(tool);
      opt.text = tool->text();
      opt.toolButtonStyle = Qt::ToolButtonTextOnly;
      QString text = Shown(caption);
      QSize text_size(Width(w->font(), text), QFontMetrics(w->font()).height());
      Fit(c, text, w->font(), style->sizeFromContents(QStyle::CT_ToolButton, &opt, text_size, tool).width(),
          tool->width());
    } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
      if (!box->title().isEmpty()) {
        // The style places the title after a margin; the same margin after it.
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.lineWidth = 1;
        opt.textAlignment = box->alignment();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        QRect title = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
        Fit(c, Shown(caption), box->font(), title.right() + 1 + title.left(), box->width());
      }
      // A radio group's items.
      for (QRadioButton* item : box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
        if (item->isVisibleTo(box)) CheckIndicatorButton(c, item);
    } else if (auto* grid = qobject_cast<QTableWidget*>(w)) {
      CheckTitles(static_cast<ui::StringGrid&>(c), grid);
    } else if (auto* tabs = dynamic_cast<ui::TabSet*>(&c) ? qobject_cast<QTabBar*>(w) : w->findChild<QTabBar*>("tabs")) {
      // The whole row of tabs, at the widths the style gives them: wider
      // than the bar, it scrolls.
      QString all;
      for (int i = 0; i < tabs->count(); ++i) all += (i ? " | " : "") + tabs->tabText(i);
      Fit(c, all, tabs->font(), tabs->sizeHint().width(), tabs->width());
    } else {
      missing.push_back(c.Name() + " (not the widget expected)");
    }
  }

  void CheckIndicatorButton(const ui::Control& c, QAbstractButton* b) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    bool radio = qobject_cast<QRadioButton*>(b) != nullptr;
    QRect contents = b->style()->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents,
                                                &opt, b);
    QString text = Shown(b->text().toStdString());
    Fit(c, text, b->font(), Width(b->font(), text), contents.width());
  }

  // The titles in the fixed rows, each line within its column's header
  // section less the margins the style keeps on both sides.
  void CheckTitles(const ui::StringGrid& g, QTableWidget* t) {
    QHeaderView* header = t->horizontalHeader();
    for (int r = 0; r < g.FixedRows(); ++r) {
      for (int col = g.FixedCols(); col < g.ColCount() && col - g.FixedCols() < t->columnCount(); ++col) {
        QString text = Q(g.Cell(col, r));
        if (text.isEmpty()) continue;
        QStyleOptionHeader opt;
        opt.initFrom(header);
        opt.rect = QRect(0, 0, header->sectionSize(col - g.FixedCols()), header->height());
        opt.text = text;
        QRect label = header->style()->subElementRect(QStyle::SE_HeaderLabel, &opt, header);
        Fit(g, text, header->font(), Width(header->font(), text), header->isHidden() ? 0 : label.width());
      }
    }
  }

  const ui::Form& form_;
  QWidget* window_;
};

// For a test's fixture: the display and the front end in this process, and
// the checks of the forms it shows, collected for one verdict at the end.
class FitCheck : public displaytest::XDisplay {
 protected:
  void OpenWindows() {
    Open();
    static char name[] = "display_fit";
    static char* argv[] = {name, nullptr};
    ASSERT_TRUE(ui::StartWindows(1, argv, "display_fit"));
  }
  void CloseWindows() {
    ui::StopWindows();
    Close();
  }

  // Polls: a window shows through Qt's events, which end no wait of the
  // loop's own.
  static bool WaitShown(const ui::Form& form) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (WindowOf(form) == nullptr && std::chrono::steady_clock::now() < until)
      ui::automation::PumpUntil([] { return false; }, 50);
    return WindowOf(form) != nullptr;
  }

  // The form as it shows now (it may be modal); `as` names it in the report.
  void CheckShown(const ui::Form& form, const std::string& as = {}) {
    ASSERT_TRUE(WaitShown(form)) << form.Name();
    ui::automation::Pump();
    Checker checker(form);
    checker.Run();
    for (Misfit& m : checker.misfits) {
      if (!as.empty()) m.form = as;
      misfits_.push_back(m);
    }
    for (const std::string& name : checker.missing) ADD_FAILURE() << form.Name() << "." << name << " has no widget";
    checked_ += checker.checked;
    forms_ += 1;
    std::printf("%-28s %3d captions checked\n", (as.empty() ? form.Name() : as).c_str(), checker.checked);
    std::fflush(stdout);
  }

  // Shows the form, not modally, checks it and hides it again.
  void Check(ui::Form& form, const std::string& as = {}) {
    form.Show();
    CheckShown(form, as);
    form.Hide();
    ui::automation::Pump();
  }

  // The face the front end draws the named control's text in.
  static std::string Face(const ui::Form& form, const std::string& control) {
    QWidget* window = WindowOf(form);
    QWidget* w = window ? window->findChild<QWidget*>(Q(control)) : nullptr;
    return w ? QFontInfo(w->font()).family().toStdString() : std::string();
  }

  // Every caption seen fits.
  void ExpectAllFit() {
    std::ostringstream report;
    for (const Misfit& m : misfits_) report << "\n  " << m;
    EXPECT_TRUE(misfits_.empty()) << misfits_.size() << " of " << checked_ << " captions do not fit:" << report.str();
    EXPECT_GT(checked_, forms_);
    std::printf("%d forms, %d captions checked\n", forms_, checked_);
  }

  std::vector<Misfit> misfits_;
  int checked_ = 0;
  int forms_ = 0;
};

}  // namespace captionfit
