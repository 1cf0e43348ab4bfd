// TIncludeForm, the small modal dialog in which the settings dialog adds or
// edits one entry of its include, alias or MIME list. It has no wording of
// its own: the caller sets the caption, both labels and both fields before
// each showing, and switches it between its text form (two text fields,
// the first upper-casing what is typed) and its type form (the first field
// as typed, and the drop-down list MimeBox in place of the second).
//
// Modal results: 1 OK (also Enter), 2 Cancel (also Esc and the close box).
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/form.h"

class TIncludeForm : public platform::ui::Form {
 public:
  explicit TIncludeForm(platform::ui::Component* owner);
  ~TIncludeForm() override;

  platform::ui::Label* Label1;
  platform::ui::Edit* TokenEdit;
  platform::ui::Label* Label2;
  platform::ui::Edit* ReplaceEdit;
  platform::ui::ComboBox* MimeBox;  // the offered types, sorted; hidden in the text form
  platform::ui::Button* OKButton;
  platform::ui::Button* CancelButton;

  void FormShow(platform::ui::Component& sender);
  void Button1Click(platform::ui::Component& sender);
  void CancelButtonClick(platform::ui::Component& sender);

  // The type form (MimeBox instead of ReplaceEdit, typed case kept) or the
  // text form.
  void SetTypeForm(bool on);
};

extern TIncludeForm* IncludeForm;
