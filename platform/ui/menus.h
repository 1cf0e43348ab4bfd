// Main menus, pop-up menus and their items.
//
// An item belongs to its owner (the form, usually) like any component and
// sits in a menu tree under a parent item. A caption of "-" makes a
// separator; "&" marks the accelerator letter.
#pragma once

#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/ui/component.h"

namespace platform::ui {

class Menu;

class HALV_EXPORT MenuItem : public Component {
 public:
  // Appends the item to parent's items (when given).
  MenuItem(Component* owner, MenuItem* parent, std::string name = {}, std::string caption = {});
  ~MenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool IsSeparator() const { return caption_ == "-"; }
  bool Checked() const { return checked_; }
  void SetChecked(bool on);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  bool Visible() const { return visible_; }
  void SetVisible(bool on);

  MenuItem* Parent() const { return parent_; }
  // The menu the tree belongs to (nullptr for a loose item).
  Menu* GetMenu() const;
  int Count() const { return static_cast<int>(items_.size()); }
  MenuItem* Item(int index) const;
  const std::vector<MenuItem*>& Items() const { return items_; }
  void Add(MenuItem* item);
  void Insert(int index, MenuItem* item);
  // Takes the item out of this one's items (it is not freed).
  void Remove(MenuItem* item);
  int IndexOf(const MenuItem* item) const;

  // Fires OnClick, as choosing the item does.
  void Click();
  // True when a user could choose it now: it and its parents are enabled
  // and visible, and its menu is on screen (a main menu on a form taking
  // input, a pop-up menu while open).
  bool AcceptsInput() const;

  NotifyEvent OnClick;

 protected:
  void HandleInput(const Input& input) override;

 private:
  friend class Menu;
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  bool visible_ = true;
  MenuItem* parent_ = nullptr;
  Menu* menu_ = nullptr;  // set on the root item only
  std::vector<MenuItem*> items_;
};

class HALV_EXPORT Menu : public Component {
 public:
  // The root item: its items are the menu's top line.
  MenuItem& Items() { return root_; }
  const MenuItem& Items() const { return root_; }

 protected:
  Menu(Component* owner, std::string name);

 private:
  MenuItem root_;
};

// The menu bar of a form (Form::SetMenu).
class HALV_EXPORT MainMenu : public Menu {
 public:
  explicit MainMenu(Component* owner, std::string name = {});
  // The form that shows it, or nullptr.
  Form* GetForm() const;
};

// A menu that opens at a screen point: by code (Popup), or on the right
// button over a control whose pop-up menu it is, when AutoPopup is on.
class HALV_EXPORT PopupMenu : public Menu {
 public:
  explicit PopupMenu(Component* owner, std::string name = {});
  bool AutoPopup() const { return auto_popup_; }
  void SetAutoPopup(bool on) { auto_popup_ = on; }
  // Fires OnPopup, then opens the menu at (x, y) until an item is chosen
  // or the menu is dismissed. The control it opened over, if any.
  void Popup(int x, int y, Control* over = nullptr);
  void Dismiss();
  bool IsOpen() const { return open_; }
  Point PopupPoint() const { return point_; }
  Control* PopupComponent() const;

  NotifyEvent OnPopup;

 protected:
  void HandleInput(const Input& input) override;

 private:
  friend class MenuItem;
  bool auto_popup_ = true;
  bool open_ = false;
  Point point_;
  uint64_t over_id_ = 0;
};

}  // namespace platform::ui
