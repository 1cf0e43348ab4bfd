#include "platform/ui/menus.h"

#include <algorithm>

#include "platform/ui/form.h"
#include "platform/ui/input.h"

namespace platform::ui {

MenuItem::MenuItem(Component* owner, MenuItem* parent, std::string name, std::string caption)
    : Component(owner, std::move(name)), caption_(std::move(caption)) {
  if (parent) parent->Add(this);
}

MenuItem::~MenuItem() {
  for (MenuItem* item : items_) item->parent_ = nullptr;
  if (parent_) parent_->Remove(this);
}

void MenuItem::SetCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  Changed("Caption");
}

void MenuItem::SetChecked(bool on) { Assign(checked_, on, "Checked"); }

void MenuItem::SetEnabled(bool on) { Assign(enabled_, on, "Enabled"); }

void MenuItem::SetVisible(bool on) { Assign(visible_, on, "Visible"); }

Menu* MenuItem::GetMenu() const {
  const MenuItem* item = this;
  while (item->parent_) item = item->parent_;
  return item->menu_;
}

MenuItem* MenuItem::Item(int index) const {
  return index >= 0 && index < Count() ? items_[index] : nullptr;
}

void MenuItem::Add(MenuItem* item) { Insert(Count(), item); }

void MenuItem::Insert(int index, MenuItem* item) {
  if (!item || item == this || index < 0 || index > Count()) return;
  for (const MenuItem* p = this; p; p = p->parent_)
    if (p == item) return;  // no cycles
  if (item->parent_) item->parent_->Remove(item);
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  Changed("Items");
}

void MenuItem::Remove(MenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
  Changed("Items");
}

int MenuItem::IndexOf(const MenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void MenuItem::Click() {
  if (OnClick) OnClick(*this);
}

bool MenuItem::AcceptsInput() const {
  for (const MenuItem* p = this; p; p = p->parent_)
    if (!p->enabled_ || !p->visible_) return false;
  Menu* menu = GetMenu();
  if (auto* popup = dynamic_cast<PopupMenu*>(menu)) return popup->IsOpen();
  if (auto* main = dynamic_cast<MainMenu*>(menu)) {
    Form* form = main->GetForm();
    return form && form->AcceptsInput();
  }
  return false;
}

void MenuItem::HandleInput(const Input& input) {
  if (input.message != kUiMenuCommand || !AcceptsInput()) return;
  // An item with a submenu opens it; a separator does nothing.
  if (IsSeparator() || !items_.empty()) return;
  if (auto* popup = dynamic_cast<PopupMenu*>(GetMenu())) popup->Dismiss();
  Click();
}

// ---------------------------------------------------------------------------

Menu::Menu(Component* owner, std::string name) : Component(owner, std::move(name)), root_(nullptr, nullptr) {
  root_.menu_ = this;
}

MainMenu::MainMenu(Component* owner, std::string name) : Menu(owner, std::move(name)) {}

Form* MainMenu::GetForm() const {
  for (Form* f : AllForms())
    if (f->GetMenu() == this) return f;
  return nullptr;
}

PopupMenu::PopupMenu(Component* owner, std::string name) : Menu(owner, std::move(name)) {}

void PopupMenu::Popup(int x, int y, Control* over) {
  if (OnPopup) OnPopup(*this);
  point_ = {x, y};
  over_id_ = over ? over->Id() : 0;
  open_ = true;
  Changed("Popup");
}

void PopupMenu::Dismiss() {
  if (!open_) return;
  open_ = false;
  Changed("Dismissed");
}

Control* PopupMenu::PopupComponent() const { return dynamic_cast<Control*>(FromId(over_id_)); }

void PopupMenu::HandleInput(const Input& input) {
  if (input.message == kUiCloseBox) Dismiss();
}

}  // namespace platform::ui
