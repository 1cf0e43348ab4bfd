// The window front end's widgets, found by the ids of their controls.
#pragma once

#include <QApplication>
#include <QWidget>

#include "platform/ui/component.h"

namespace displaytest {

// The front end marks each widget with the id of its control. Looked for
// within one window, or else in every top-level window.
template <class W = QWidget>
W* WidgetOf(const platform::ui::Control& c, const QWidget* within = nullptr) {
  auto in = [&](const QWidget* top) -> W* {
    for (W* w : top->findChildren<W*>())
      if (w->property("halv_component").toULongLong() == c.Id()) return w;
    return nullptr;
  };
  if (within) return in(within);
  for (const QWidget* top : QApplication::topLevelWidgets())
    if (W* w = in(top)) return w;
  return nullptr;
}

}  // namespace displaytest
