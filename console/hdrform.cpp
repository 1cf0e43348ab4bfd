#include "console/hdrform.h"

namespace ui = platform::ui;

THeaderForm::THeaderForm(ui::Component* owner) : ui::Form(owner, "Header") {
  SetCaption("Header");
  SetBorderStyle(ui::BorderStyle::Sizeable);
  SetFont(ui::Font{"System", 10});
  SetClientSize(292, 208);

  HeaderList = new ui::StringGrid(this, this, "HeaderList");
  HeaderList->SetAlign(ui::Align::Top);
  HeaderList->SetHeight(161);
  HeaderList->SetColCount(2);
  HeaderList->SetFixedCols(0);
  HeaderList->SetFixedRows(1);
  HeaderList->SetDefaultColWidth(200);
  HeaderList->SetDefaultRowHeight(20);
  HeaderList->SetOptions(ui::goFixedVertLine | ui::goFixedHorzLine | ui::goVertLine | ui::goHorzLine |
                         ui::goColSizing | ui::goColMoving);
  HeaderList->SetScrollBars(ui::StringGrid::Bars::Vertical);

  OKButton = new ui::Button(this, this, "OKButton");
  OKButton->SetKind(ui::Button::Kind::Ok);
  // Centred in the strip below the grid.
  OKButton->SetBounds((292 - 75) / 2, 161 + (208 - 161 - 25) / 2, 75, 25);

  Menu = new ui::PopupMenu(this, "Menu");
  Menu->SetAutoPopup(false);
  MenuItem = new ui::MenuItem(this, &Menu->Items(), "MenuItem");

  HeaderList->OnDblClick = [this](ui::Component& sender) { HeaderListDblClick(sender); };
  Menu->OnPopup = [this](ui::Component& sender) { MenuPopup(sender); };
  OKButton->OnClick = [this](ui::Component& sender) { OKButtonClick(sender); };
  // A viewer is never shown again once closed, so it goes (hidden at once,
  // freed once the messages queued now have run).
  OnClose = [this](ui::Component&, ui::CloseAction& action) {
    Hide();
    action = ui::CloseAction::Free;
  };
  OnCreate = [this](ui::Component& sender) { FormCreate(sender); };
  FinishCreate();
}

void THeaderForm::FormCreate(ui::Component&) { HeaderList->SetPopupMenu(Menu); }

void THeaderForm::HeaderListDblClick(ui::Component&) {
  const int col = HeaderList->Col(), row = HeaderList->Row();
  const ui::Rect cell = HeaderList->CellRect(col, row);
  MenuItem->SetCaption(HeaderList->Cell(col, row));
  Menu->Popup(Left() + cell.left, Top() + cell.top, HeaderList);
}

void THeaderForm::MenuPopup(ui::Component&) {}

void THeaderForm::OKButtonClick(ui::Component&) { Close(); }
