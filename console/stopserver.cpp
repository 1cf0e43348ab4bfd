#include "console/stopserver.h"

#include "console/app.h"
#include "server/wsock.h"

namespace ui = platform::ui;

TStopServerForm::TStopServerForm(ui::Component* owner, const TServer* server)
    : ui::Form(owner, "StopServerForm"), server_(server) {
  SetCaption("Stop Server");
  SetBorderStyle(ui::BorderStyle::Dialog);
  SetCloseBox(false);
  SetClientSize(311, 193);
  SetFont(ui::Font{"System", 10});

  const ui::Font text_font{"Arial", 9, ui::clBlack};
  auto label = [&](const char* name, int left, int top, const char* caption) {
    auto* l = new ui::Label(this, this, name);
    l->SetBounds(left, top, 260, 16);
    l->SetFont(text_font);
    l->SetCaption(caption);
    return l;
  };
  auto radio = [&](const char* name, int top) {
    auto* r = new ui::RadioButton(this, this, name);
    r->SetBounds(16, top, 17, 17);
    r->SetFont(text_font);
    return r;
  };
  auto button = [&](const char* name, int left, const char* caption) {
    auto* b = new ui::Button(this, this, name);
    b->SetBounds(left, 152, 81, 27);
    b->SetCaption(caption);
    return b;
  };
  Label1 = label("Label1", 16, 12, "Are you sure you want to:");
  RadioButton2 = radio("RadioButton2", 44);
  Label2 = label("Label2", 40, 44, "Abort all connections?");
  RadioButton1 = radio("RadioButton1", 76);
  Label3 = label("Label3", 40, 76, "Stop accepting new connections");
  Label4 = label("Label4", 40, 92, "but continue processing active");
  Label5 = label("Label5", 40, 108, "connections?");
  YesButton = button("YesButton", 16, "Yes");
  NoButton = button("NoButton", 115, "No");
  Button3 = button("Button3", 214, "Help");
  Button3->SetEnabled(false);

  OnShow = [this](ui::Component& sender) { FormShow(sender); };
  OnClose = [this](ui::Component& sender, ui::CloseAction& action) { FormClose(sender, action); };
  YesButton->OnClick = [this](ui::Component& sender) { YesButtonClick(sender); };
  NoButton->OnClick = [this](ui::Component& sender) { NoButtonClick(sender); };
}

TStopServerForm::~TStopServerForm() {
  if (StopServerForm == this) StopServerForm = nullptr;
}

void TStopServerForm::FormShow(ui::Component&) {
  answered_ = false;
  bool listening = server_ && server_->Listening;
  for (ui::Control* c : {static_cast<ui::Control*>(RadioButton1), static_cast<ui::Control*>(Label3),
                         static_cast<ui::Control*>(Label4), static_cast<ui::Control*>(Label5)})
    c->SetEnabled(listening);
  if (!listening) RadioButton2->SetEnabled(true);
  RadioButton2->SetChecked(true);
}

void TStopServerForm::YesButtonClick(ui::Component&) {
  if (RadioButton1->Checked())
    SetModalResult(1);
  else if (RadioButton2->Checked())
    SetModalResult(2);
  answered_ = ModalResult() != ui::mrNone;
}

void TStopServerForm::NoButtonClick(ui::Component&) {
  answered_ = true;
  SetModalResult(-1);
}

// Closed by its frame (the result is Cancel, which here would mean abort):
// nothing stops.
void TStopServerForm::FormClose(ui::Component&, ui::CloseAction&) {
  if (!answered_) SetModalResult(-1);
}
