#include "platform/qtfront/fonts.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <string_view>

namespace platform::qtfront {

namespace {

struct Substitute {
  std::string_view form_font;  // as the forms name it, ASCII case ignored
  const char* family;          // metric-compatible face (fonts-liberation2)
  const char* fallback;        // where that is missing (fonts-dejavu-core)
  bool bold;                   // the form font is a bold face by nature
};

constexpr const char* kSans = "Liberation Sans";
constexpr const char* kMono = "Liberation Mono";
constexpr const char* kSerif = "Liberation Serif";

// The forms were laid out for the classic sans, fixed-pitch and serif faces;
// the Liberation faces keep their widths, so captions fit where they were
// designed to. DejaVu, about an eighth wider, only stands in when they are
// missing. "System" is the bold dialog face.
constexpr Substitute kSubstitutes[] = {
    {"System", kSans, "DejaVu Sans", true},
    {"MS Sans Serif", kSans, "DejaVu Sans", false},
    {"Arial", kSans, "DejaVu Sans", false},
    {"Helvetica", kSans, "DejaVu Sans", false},
    {"Small Fonts", kSans, "DejaVu Sans", false},
    {"Courier", kMono, "DejaVu Sans Mono", false},
    {"Courier New", kMono, "DejaVu Sans Mono", false},
    {"Fixedsys", kMono, "DejaVu Sans Mono", false},
    {"Terminal", kMono, "DejaVu Sans Mono", false},
    {"Times New Roman", kSerif, "DejaVu Serif", false},
    {"MS Serif", kSerif, "DejaVu Serif", false},
};

}  // namespace

QFont MapFont(const ui::Font& font) {
  const Substitute* pick = &kSubstitutes[1];
  bool bold = font.bold;
  for (const Substitute& s : kSubstitutes) {
    if (ui::SameText(s.form_font, font.name)) {
      pick = &s;
      bold = bold || s.bold;
      break;
    }
  }
  QFont f;
  f.setFamilies({QString::fromLatin1(pick->family), QString::fromLatin1(pick->fallback)});
  f.setStyleHint(pick->family == kMono ? QFont::Monospace : pick->family == kSerif ? QFont::Serif : QFont::SansSerif);
  int points = font.size > 0 ? font.size : 8;
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 96.0 / 72.0))));
  f.setBold(bold);
  f.setItalic(font.italic);
  return f;
}

}  // namespace platform::qtfront
