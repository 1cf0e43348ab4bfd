// THeaderForm: the window "Header", a snapshot of one connection's request
// as a two-column table (what is filled in: TApp::ConnectionListDblClick).
// A new one opens for each double click on a busy row of the connection
// list, not modally; it is freed when it is closed (its OK button or close
// box), else with the main window.
//
// A double click on a cell opens the pop-up menu Menu over that cell with
// the cell's whole text as its one item, so a long value can be read in
// full; choosing the item does nothing.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/menus.h"

class THeaderForm : public platform::ui::Form {
 public:
  explicit THeaderForm(platform::ui::Component* owner);

  platform::ui::StringGrid* HeaderList;
  platform::ui::Button* OKButton;
  platform::ui::PopupMenu* Menu;
  platform::ui::MenuItem* MenuItem;

  void FormCreate(platform::ui::Component& sender);
  void HeaderListDblClick(platform::ui::Component& sender);
  void MenuPopup(platform::ui::Component& sender);
  void OKButtonClick(platform::ui::Component& sender);
};
