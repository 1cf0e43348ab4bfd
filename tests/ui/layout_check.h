// Controls that stand out of their parent's client area, where a window
// would cut them: "<name> <left>,<top> <width>x<height> in <parent> <right>x<bottom>"
// (the client area's right and bottom edges, in the parent's coordinates).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/component.h"

namespace platform::ui::testing {

inline void CollectOutside(const Control& parent, std::vector<std::string>& out) {
  const Rect r = parent.ClientRect();
  const int w = r.right, h = r.bottom;
  for (const Control* c : parent.Controls()) {
    if (c->Left() < r.left || c->Top() < r.top || c->Left() + c->Width() > w || c->Top() + c->Height() > h)
      out.push_back(c->Name() + " " + std::to_string(c->Left()) + "," + std::to_string(c->Top()) + " " +
                    std::to_string(c->Width()) + "x" + std::to_string(c->Height()) + " in " + parent.Name() + " " +
                    std::to_string(w) + "x" + std::to_string(h));
    CollectOutside(*c, out);
  }
}

inline std::vector<std::string> ControlsOutsideTheirParents(const Control& form) {
  std::vector<std::string> out;
  CollectOutside(form, out);
  return out;
}

}  // namespace platform::ui::testing
