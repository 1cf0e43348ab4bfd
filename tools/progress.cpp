#include "tools/progress.h"

namespace ui = platform::ui;

TProgressForm* ProgressForm = nullptr;

TProgressForm::TProgressForm(ui::Component* owner) : ui::Form(owner, "ProgressForm") {
  SetCaption("Working...");
  SetBorderStyle(ui::BorderStyle::Dialog);
  SetCloseBox(false);
  SetStayOnTop(true);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetClientSize(197, 29);
  Panel1 = new ui::Panel(this, this, "Panel1");
  Panel1->SetAlign(ui::Align::Client);
  Panel1->SetBevelOuter(ui::Bevel::Raised);
  Gauge = new ui::Gauge(this, Panel1, "Gauge");
  Gauge->SetAlign(ui::Align::Client);
  Gauge->SetForeColor(ui::clBlue);
  Gauge->SetProgress(0);
}

TProgressForm::~TProgressForm() {
  if (ProgressForm == this) ProgressForm = nullptr;
}
