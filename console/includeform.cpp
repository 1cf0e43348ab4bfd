#include "console/includeform.h"

namespace ui = platform::ui;

TIncludeForm* IncludeForm = nullptr;

TIncludeForm::TIncludeForm(ui::Component* owner) : ui::Form(owner, "IncludeForm") {
  SetBorderStyle(ui::BorderStyle::Dialog);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetFont(ui::Font{"System", 10});
  SetClientSize(300, 150);

  Label1 = new ui::Label(this, this, "Label1");
  Label1->SetBounds(12, 10, 276, 16);
  Label1->SetCaption("Token");
  TokenEdit = new ui::Edit(this, this, "TokenEdit");
  TokenEdit->SetBounds(12, 28, 276, 24);
  TokenEdit->SetCharCase(ui::CharCase::Upper);
  Label2 = new ui::Label(this, this, "Label2");
  Label2->SetBounds(12, 58, 276, 16);
  Label2->SetCaption("Replace With");
  ReplaceEdit = new ui::Edit(this, this, "ReplaceEdit");
  ReplaceEdit->SetBounds(12, 76, 276, 24);
  MimeBox = new ui::ComboBox(this, this, "MimeBox");
  MimeBox->SetBounds(12, 76, 276, 24);
  MimeBox->SetSorted(true);
  MimeBox->SetVisible(false);
  OKButton = new ui::Button(this, this, "OKButton");
  OKButton->SetBounds(66, 112, 81, 27);
  OKButton->SetCaption("OK");
  OKButton->SetDefault(true);
  CancelButton = new ui::Button(this, this, "CancelButton");
  CancelButton->SetBounds(153, 112, 81, 27);
  CancelButton->SetCaption("Cancel");
  CancelButton->SetCancel(true);

  OnShow = [this](ui::Component& sender) { FormShow(sender); };
  OKButton->OnClick = [this](ui::Component& sender) { Button1Click(sender); };
  CancelButton->OnClick = [this](ui::Component& sender) { CancelButtonClick(sender); };
}

TIncludeForm::~TIncludeForm() {
  if (IncludeForm == this) IncludeForm = nullptr;
}

void TIncludeForm::FormShow(ui::Component&) { TokenEdit->SetFocus(); }

void TIncludeForm::Button1Click(ui::Component&) { SetModalResult(ui::mrOk); }

void TIncludeForm::CancelButtonClick(ui::Component&) { SetModalResult(ui::mrCancel); }

void TIncludeForm::SetTypeForm(bool on) {
  TokenEdit->SetCharCase(on ? ui::CharCase::Normal : ui::CharCase::Upper);
  ReplaceEdit->SetVisible(!on);
  MimeBox->SetVisible(on);
}
