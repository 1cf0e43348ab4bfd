// The one place that says which installed font stands for each font the
// forms name, keeping the size the form gives.
#pragma once

#include <QFont>

#include "platform/ui/component.h"

namespace platform::qtfront {

// Sizes are points at the forms' 96 pixels per inch, turned into pixels so
// that text fits the forms' pixel layout whatever the screen's resolution.
QFont MapFont(const ui::Font& font);

}  // namespace platform::qtfront
