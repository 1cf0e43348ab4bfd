#include "tools/ncfrm.h"

#include "tools/preffrm.h"

namespace ui = platform::ui;

TNewConfFrm* NewConfFrm = nullptr;

TNewConfFrm::TNewConfFrm(ui::Component* owner) : ui::Form(owner, "NewConfFrm") {
  SetCaption("New Conference");
  SetBorderStyle(ui::BorderStyle::Dialog);
  SetCloseBox(false);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetClientSize(317, 106);
  SetFont(ui::Font{"System", 10});

  Label1 = new ui::Label(this, this, "Label1");
  Label1->SetBounds(8, 12, 40, 16);
  Label1->SetCaption("Name");
  NewConfName = new ui::Edit(this, this, "NewConfName");
  NewConfName->SetBounds(56, 8, 121, 24);
  NewConfName->SetCharCase(ui::CharCase::Upper);
  Label2 = new ui::Label(this, this, "Label2");
  Label2->SetBounds(8, 44, 40, 16);
  Label2->SetCaption("Path");
  NewConfPath = new ui::Edit(this, this, "NewConfPath");
  NewConfPath->SetBounds(56, 40, 225, 24);  // a path keeps its case
  ConfigFileBrowse = new ui::SpeedButton(this, this, "ConfigFileBrowse");
  ConfigFileBrowse->SetBounds(284, 40, 23, 24);
  ConfigFileBrowse->SetCaption("...");
  OKButton = new ui::Button(this, this, "OKButton");
  OKButton->SetBounds(72, 72, 81, 27);
  OKButton->SetCaption("OK");
  OKButton->SetDefault(true);
  CancelButton = new ui::Button(this, this, "CancelButton");
  CancelButton->SetBounds(164, 72, 81, 27);
  CancelButton->SetCaption("Cancel");
  CancelButton->SetCancel(true);

  OnCreate = [this](ui::Component& s) { FormCreate(s); };
  OnShow = [this](ui::Component& s) { FormShow(s); };
  OKButton->OnClick = [this](ui::Component& s) { OKButtonClick(s); };
  CancelButton->OnClick = [this](ui::Component& s) { CancelButtonClick(s); };
  ConfigFileBrowse->OnClick = [this](ui::Component& s) { ConfigFileBrowseClick(s); };
  NewConfFrm = this;
}

TNewConfFrm::~TNewConfFrm() {
  if (NewConfFrm == this) NewConfFrm = nullptr;
}

void TNewConfFrm::FormCreate(ui::Component&) {
#ifdef HALV_LIBMANAGER
  SetCaption("New File Library");
#endif
}

void TNewConfFrm::FormShow(ui::Component&) { NewConfName->SetFocus(); }

void TNewConfFrm::OKButtonClick(ui::Component&) { SetModalResult(1); }

void TNewConfFrm::CancelButtonClick(ui::Component&) { SetModalResult(2); }

void TNewConfFrm::ConfigFileBrowseClick(ui::Component&) {
  BrowseDirectoryInto(*NewConfPath);
}
