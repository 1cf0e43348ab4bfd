// TProgressForm, "Working...": a small window that stays on top while work
// runs on the GUI thread without a message loop; its caption says what is
// being done and its gauge how far it got. Shown without a modal loop.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/form.h"

class TProgressForm : public platform::ui::Form {
 public:
  explicit TProgressForm(platform::ui::Component* owner);
  ~TProgressForm() override;

  platform::ui::Panel* Panel1;
  platform::ui::Gauge* Gauge;
};

// The program's progress window; nullptr until the program block made it.
extern TProgressForm* ProgressForm;
