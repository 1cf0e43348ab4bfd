// TAbout: the product picture with the version, used twice. The program
// block makes one instance without an owner as the start-up splash, and one
// owned by the application as the About box, shown modally.
//
// The splash goes away on the second of two ReleaseSplash calls, whichever
// comes first: its 5-second timer's and the main window's first showing.
// Not shown, its timer never runs and it stays (hidden) until the program
// ends.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/timer.h"

class TAbout : public platform::ui::Form {
 public:
  explicit TAbout(platform::ui::Component* owner);
  ~TAbout() override;

  platform::ui::Panel* Panel;
  platform::ui::Image* Picture;
  platform::ui::Label* VersionLabel;  // "Version"
  platform::ui::Label* VerLabel;      // the version text, set before each showing
  platform::ui::Button* OKButton;
  platform::ui::Timer* SplashTimer;

  // Narrows the window to the picture's left part (the version and the
  // button lie outside), keeps it on top, shows it and starts the timer.
  void ShowSplash();
  // The first call only notes it; the second frees the instance.
  void ReleaseSplash();
  void SplashTimerTimer(platform::ui::Component& sender);
  void OKButtonClick(platform::ui::Component& sender);

  static constexpr int kSplashWidth = 263;

 private:
  bool release_ = false;
};
