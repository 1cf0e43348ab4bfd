// TStopServerForm, the modal dialog "Stop Server": abort every connection
// (preselected), or stop accepting new ones and let the active ones finish.
// The second choice is offered only while the server's listening socket is
// open. Modal results: 1 finish the active connections, 2 abort them all,
// -1 (No) do not stop. The form asks for no close box; the frame's close
// box, where the window system gives one, answers as No does.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/form.h"

class TServer;

class TStopServerForm : public platform::ui::Form {
 public:
  // server: the engine whose listening socket decides the choices.
  TStopServerForm(platform::ui::Component* owner, const TServer* server);
  ~TStopServerForm() override;

  platform::ui::Label* Label1;        // "Are you sure you want to:"
  platform::ui::RadioButton* RadioButton2;
  platform::ui::Label* Label2;        // "Abort all connections?"
  platform::ui::RadioButton* RadioButton1;
  platform::ui::Label* Label3;        // the three lines of the graceful choice
  platform::ui::Label* Label4;
  platform::ui::Label* Label5;
  platform::ui::Button* YesButton;
  platform::ui::Button* NoButton;
  platform::ui::Button* Button3;      // "Help", always disabled

  void FormShow(platform::ui::Component& sender);
  void YesButtonClick(platform::ui::Component& sender);
  void NoButtonClick(platform::ui::Component& sender);
  void FormClose(platform::ui::Component& sender, platform::ui::CloseAction& action);

 private:
  const TServer* server_;
  bool answered_ = false;  // Yes or No ended this showing
};
