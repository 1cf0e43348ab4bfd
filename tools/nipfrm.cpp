#include "tools/nipfrm.h"

namespace ui = platform::ui;

TNewIPForm* NewIPForm = nullptr;

TNewIPForm::TNewIPForm(ui::Component* owner) : ui::Form(owner, "NewIPForm") {
  SetCaption("IP Address");
  SetBorderStyle(ui::BorderStyle::Dialog);
  SetCloseBox(false);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetClientSize(233, 97);
  Label1 = new ui::Label(this, this, "Label1");
  Label1->SetBounds(12, 12, 120, 16);
  Label1->SetCaption("IP Address");
  IPAddrEdit = new ui::Edit(this, this, "IPAddrEdit");
  IPAddrEdit->SetBounds(12, 30, 209, 24);
  OkButton = new ui::Button(this, this, "OkButton");
  OkButton->SetBounds(34, 62, 75, 25);
  OkButton->SetCaption("Ok");
  OkButton->SetDefault(true);
  Button2 = new ui::Button(this, this, "Button2");
  Button2->SetBounds(124, 62, 75, 25);
  Button2->SetCaption("Cancel");
  OkButton->OnClick = [this](ui::Component& sender) { OkButtonClick(sender); };
  Button2->OnClick = [this](ui::Component& sender) { Button2Click(sender); };
}

TNewIPForm::~TNewIPForm() {
  if (NewIPForm == this) NewIPForm = nullptr;
}

void TNewIPForm::OkButtonClick(ui::Component&) { SetModalResult(ui::mrOk); }

void TNewIPForm::Button2Click(ui::Component&) { SetModalResult(ui::mrCancel); }
