// TNewIPForm, "IP Address": the dialog that asks for one address pattern.
// Ok ends it with 1, Cancel with 2; there is no close box.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/form.h"

class TNewIPForm : public platform::ui::Form {
 public:
  explicit TNewIPForm(platform::ui::Component* owner);
  ~TNewIPForm() override;

  platform::ui::Label* Label1;  // "IP Address"
  platform::ui::Edit* IPAddrEdit;
  platform::ui::Button* OkButton;
  platform::ui::Button* Button2;  // "Cancel"

  void OkButtonClick(platform::ui::Component& sender);
  void Button2Click(platform::ui::Component& sender);
};

// The program's address dialog; nullptr until the program block made it.
extern TNewIPForm* NewIPForm;
