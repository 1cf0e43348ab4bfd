#include "console/about.h"

#include "console/app.h"

namespace ui = platform::ui;

TAbout::TAbout(ui::Component* owner) : ui::Form(owner, "About") {
  SetBorderStyle(ui::BorderStyle::None);
  SetPosition(ui::FormPosition::ScreenCenter);
  SetClientSize(418, 326);

  Panel = new ui::Panel(this, this, "Panel");
  Panel->SetAlign(ui::Align::Client);
  Panel->SetBevelWidth(5);
  Picture = new ui::Image(this, Panel, "Picture");
  Picture->SetAlign(ui::Align::Client);
  Picture->SetPicture(ui::Picture{"about", 408, 316});

  // A column 86 pixels wide over the picture's right part.
  const int column = 5 + 408 - 86;
  const ui::Font label_font{"MS Sans Serif", 8, ui::clWhite, true};
  VersionLabel = new ui::Label(this, Panel, "VersionLabel");
  VersionLabel->SetBounds(column, 236, 86, 13);
  VersionLabel->SetAlignment(ui::Alignment::Center);
  VersionLabel->SetTransparent(true);
  VersionLabel->SetFont(label_font);
  VersionLabel->SetCaption("Version");
  VerLabel = new ui::Label(this, Panel, "VerLabel");
  VerLabel->SetBounds(column, 252, 86, 13);
  VerLabel->SetAlignment(ui::Alignment::Center);
  VerLabel->SetTransparent(true);
  VerLabel->SetFont(label_font);
  OKButton = new ui::Button(this, Panel, "OKButton");
  OKButton->SetBounds(column + 5, 284, 75, 25);
  OKButton->SetCaption("OK");

  SplashTimer = new ui::Timer(this, "SplashTimer");
  SplashTimer->SetEnabled(false);
  SplashTimer->SetInterval(5000);

  SplashTimer->SetOnTimer([this](ui::Component& sender) { SplashTimerTimer(sender); });
  OKButton->OnClick = [this](ui::Component& sender) { OKButtonClick(sender); };
}

TAbout::~TAbout() {
  if (Splash == this) Splash = nullptr;
  if (AboutBox == this) AboutBox = nullptr;
}

void TAbout::ShowSplash() {
  SetWidth(kSplashWidth);
  SetStayOnTop(true);
  Show();
  release_ = false;
  SplashTimer->SetEnabled(true);
}

void TAbout::ReleaseSplash() {
  if (release_) {
    SplashTimer->SetEnabled(false);
    Release();
    return;
  }
  release_ = true;
}

void TAbout::SplashTimerTimer(ui::Component&) {
  SplashTimer->SetEnabled(false);
  ReleaseSplash();
}

void TAbout::OKButtonClick(ui::Component&) { SetModalResult(ui::mrOk); }
