#include "platform/qtfront/fonts.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace platform::qtfront {

namespace {

struct Substitute {
  std::string_view form_font;  // as the forms name it, ASCII case ignored
  const char* family;          // a family Debian ships (fonts-dejavu-core)
  bool bold;                   // the form font is a bold face by nature
};

// Proportional sans faces become DejaVu Sans, fixed-pitch ones DejaVu Sans
// Mono, serif ones DejaVu Serif. "System" is the bold dialog face.
constexpr Substitute kSubstitutes[] = {
    {"System", "DejaVu Sans", true},
    {"MS Sans Serif", "DejaVu Sans", false},
    {"Arial", "DejaVu Sans", false},
    {"Helvetica", "DejaVu Sans", false},
    {"Small Fonts", "DejaVu Sans", false},
    {"Courier", "DejaVu Sans Mono", false},
    {"Courier New", "DejaVu Sans Mono", false},
    {"Fixedsys", "DejaVu Sans Mono", false},
    {"Terminal", "DejaVu Sans Mono", false},
    {"Times New Roman", "DejaVu Serif", false},
    {"MS Serif", "DejaVu Serif", false},
};

}  // namespace

QFont MapFont(const ui::Font& font) {
  const char* family = "DejaVu Sans";
  bool bold = font.bold;
  for (const Substitute& s : kSubstitutes) {
    if (ui::SameText(s.form_font, font.name)) {
      family = s.family;
      bold = bold || s.bold;
      break;
    }
  }
  QFont f(QString::fromLatin1(family));
  f.setStyleHint(QFont::SansSerif);
  int points = font.size > 0 ? font.size : 8;
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 96.0 / 72.0))));
  f.setBold(bold);
  f.setItalic(font.italic);
  return f;
}

}  // namespace platform::qtfront
