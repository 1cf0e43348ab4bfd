#include "platform/ui/component.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/input.h"
#include "platform/ui/menus.h"

namespace platform::ui {
namespace {

std::unordered_map<uint64_t, Component*>& Registry() {
  static auto* registry = new std::unordered_map<uint64_t, Component*>;
  return *registry;
}

uint64_t next_id = 0;

// While a notification runs, a removed observer is only emptied (the list
// is compacted when the outermost notification ends) and an added one waits
// for the next notification.
struct Observers {
  int next = 0;
  int depth = 0;
  bool emptied = false;
  std::vector<std::pair<int, ChangeObserver>> list;
};

Observers& TheObservers() {
  static auto* observers = new Observers;
  return *observers;
}

const Font& DefaultFont() {
  static const Font font;
  return font;
}

}  // namespace

// ---------------------------------------------------------------------------

Color ColorToRGB(Color color) {
  if ((color & kSystemColor) == 0) return color & 0xFFFFFF;
  switch (color & 0xFF) {
    case 5: return clWhite;    // window
    case 8: return clBlack;    // window text
    case 15: return clSilver;  // button face
    case 18: return clBlack;   // button text
  }
  return clGray;
}

int AddChangeObserver(ChangeObserver observer) {
  Observers& o = TheObservers();
  o.list.emplace_back(++o.next, std::move(observer));
  return o.next;
}

void RemoveChangeObserver(int id) {
  Observers& o = TheObservers();
  if (o.depth == 0) {
    std::erase_if(o.list, [id](const auto& entry) { return entry.first == id; });
    return;
  }
  for (auto& entry : o.list) {
    if (entry.first != id) continue;
    entry.second = nullptr;
    o.emptied = true;
  }
}

// ---------------------------------------------------------------------------

Component::Component(Component* owner, std::string name) : name_(std::move(name)), owner_(owner) {
  id_ = ++next_id;
  Registry().emplace(id_, this);
  if (owner_) owner_->owned_.push_back(this);
}

Component::~Component() {
  FreeOwned();
  Changed("Destroyed");
  if (owner_) std::erase(owner_->owned_, this);
  Registry().erase(id_);
}

Component* Component::FindComponent(std::string_view name) const {
  for (Component* c : owned_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

Component* Component::FromId(uint64_t id) {
  auto it = Registry().find(id);
  return it == Registry().end() ? nullptr : it->second;
}

void Component::BeforeDestruction() {}

void Component::Changed(std::string_view what) {
  Observers& o = TheObservers();
  const std::size_t count = o.list.size();
  if (count == 0) return;
  struct Depth {
    Observers& o;
    explicit Depth(Observers& x) : o(x) { ++o.depth; }
    ~Depth() {
      if (--o.depth == 0 && o.emptied) {
        o.emptied = false;
        std::erase_if(o.list, [](const auto& entry) { return !entry.second; });
      }
    }
  } depth(o);
  for (std::size_t i = 0; i < count && i < o.list.size(); ++i) {
    // A copy: an observer added meanwhile may move the list.
    ChangeObserver observer = o.list[i].second;
    if (observer) observer(*this, what);
  }
}

void Component::HandleInput(const Input&) {}

void Component::FreeOwned() {
  while (!owned_.empty()) Free(owned_.back());
}

void Free(Component* component) {
  if (!component) return;
  if (!component->before_destruction_done_) {
    component->before_destruction_done_ = true;
    Guarded([component] { component->BeforeDestruction(); });
  }
  delete component;
}

// ---------------------------------------------------------------------------

Control::Control(Component* owner, Control* parent, std::string name) : Component(owner, std::move(name)) {
  if (parent) SetParent(parent);
}

Control::~Control() {
  FreeOwned();
  for (Control* child : children_) child->parent_ = nullptr;
  children_.clear();
  if (parent_) parent_->RemoveChild(this);
}

void Control::RemoveChild(Control* child) {
  std::erase(children_, child);
  if (child->align_ != Align::None) Realign();
}

void Control::SetParent(Control* parent) {
  if (parent == parent_) return;
  for (Control* p = parent; p; p = p->parent_)
    if (p == this) throw std::invalid_argument("A control cannot be its own parent");
  if (parent_) parent_->RemoveChild(this);
  parent_ = parent;
  if (parent_) {
    parent_->children_.push_back(this);
    if (align_ != Align::None) parent_->Realign();
  }
  Changed("Parent");
}

Form* Control::ParentForm() const {
  const Control* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<Form*>(const_cast<Control*>(c));
}

void Control::SetBounds(int left, int top, int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  Rect r{left, top, left + width, top + height};
  if (r == bounds_) return;
  bool resized = r.Width() != bounds_.Width() || r.Height() != bounds_.Height();
  bounds_ = r;
  Changed("Bounds");
  if (resized) Resized();
  if (parent_ && align_ != Align::None && !parent_->realigning_) parent_->Realign();
}

Point Control::ClientToScreen(Point p) const {
  const Control* c = this;
  while (c) {
    if (const Form* f = dynamic_cast<const Form*>(c)) {
      Rect in = f->NonClientInsets();
      p.x += f->Left() + in.left;
      p.y += f->Top() + in.top;
      break;
    }
    p.x += c->Left();
    p.y += c->Top();
    c = c->parent_;
  }
  return p;
}

void Control::SetAlign(Align align) {
  if (align == align_) return;
  align_ = align;
  Changed("Align");
  if (parent_) parent_->Realign();
}

void Control::Resized() { Realign(); }

void Control::Realign() {
  if (realigning_) return;
  realigning_ = true;
  struct Reset {
    bool* flag;
    ~Reset() { *flag = false; }
  } reset{&realigning_};
  Rect r = ClientRect();
  auto place = [&](Align which) {
    for (Control* c : std::vector<Control*>(children_)) {
      if (c->align_ != which || !c->visible_) continue;
      int w = c->Width(), h = c->Height();
      switch (which) {
        case Align::Top:
          c->SetBounds(r.left, r.top, r.Width(), h);
          r.top = std::min(r.bottom, r.top + h);
          break;
        case Align::Bottom:
          c->SetBounds(r.left, r.bottom - h, r.Width(), h);
          r.bottom = std::max(r.top, r.bottom - h);
          break;
        case Align::Left:
          c->SetBounds(r.left, r.top, w, r.Height());
          r.left = std::min(r.right, r.left + w);
          break;
        case Align::Right:
          c->SetBounds(r.right - w, r.top, w, r.Height());
          r.right = std::max(r.left, r.right - w);
          break;
        case Align::Client:
          c->SetBounds(r.left, r.top, r.Width(), r.Height());
          break;
        case Align::None:
          break;
      }
    }
  };
  place(Align::Top);
  place(Align::Bottom);
  place(Align::Left);
  place(Align::Right);
  place(Align::Client);
}

void Control::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Changed("Visible");
  if (parent_ && align_ != Align::None) parent_->Realign();
}

bool Control::Showing() const {
  const Control* top = this;
  for (const Control* c = this; c; c = c->parent_) {
    if (!c->visible_) return false;
    top = c;
  }
  return dynamic_cast<const Form*>(top) != nullptr;
}

void Control::SetEnabled(bool enabled) { Assign(enabled_, enabled, "Enabled"); }

void Control::SetCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  Changed("Caption");
}

void Control::SetHint(std::string hint) {
  if (hint == hint_) return;
  hint_ = std::move(hint);
  Changed("Hint");
}

void Control::SetShowHint(bool show) { Assign(show_hint_, show, "ShowHint"); }

const Font& Control::GetFont() const {
  if (has_font_) return font_;
  if (parent_) return parent_->GetFont();
  return DefaultFont();
}

void Control::SetFont(Font font) {
  font_ = std::move(font);
  has_font_ = true;
  Changed("Font");
}

void Control::SetParentFont(bool parent_font) {
  if (parent_font == !has_font_) return;
  if (!parent_font) font_ = GetFont();
  has_font_ = !parent_font;
  Changed("Font");
}

void Control::SetColor(Color color) { Assign(color_, color, "Color"); }

PopupMenu* Control::GetPopupMenu() const { return dynamic_cast<PopupMenu*>(FromId(popup_menu_id_)); }

void Control::SetPopupMenu(PopupMenu* menu) {
  popup_menu_id_ = menu ? menu->Id() : 0;
  Changed("PopupMenu");
}

namespace {
bool EnabledChain(const Control* c) {
  for (; c; c = c->Parent())
    if (!c->Enabled()) return false;
  return true;
}
}  // namespace

bool Control::CanFocus() const {
  Form* form = ParentForm();
  return TakesFocus() && form && Showing() && EnabledChain(this);
}

bool Control::Focused() const {
  Form* form = ParentForm();
  return form && form->ActiveControl() == this;
}

void Control::SetFocus() {
  if (!CanFocus()) throw std::runtime_error("Cannot focus a disabled or invisible window");
  ParentForm()->MoveFocus(this);
}

bool Control::AcceptsInput() const {
  if (!Showing() || !EnabledChain(this)) return false;
  Form* form = ParentForm();
  return form && !form->DisabledByModal();
}

void Control::HandleInput(const Input& input) {
  if (!AcceptsInput()) return;
  if (TakesFocus() && input.message != kUiContextMenu && input.message != kUiPaint) {
    Form* form = ParentForm();
    if (form && form->ActiveControl() != this) {
      form->MoveFocus(this);
      if (!AcceptsInput()) return;  // the exit handler of the control left may have changed things
    }
  }
  // The form's page keys come before the control's own.
  if (Form* form = ParentForm(); form && input.message == kUiKey && form->PageKey(static_cast<int>(input.arg), this))
    return;
  UserInput(input);
}

void Control::UserInput(const Input& input) {
  switch (input.message) {
    case kUiClick:
      UserClick();
      break;
    case kUiDblClick:
      UserClick();
      DoDblClick();
      break;
    case kUiKey:
      if (input.arg == kKeyReturn || input.arg == kKeyEscape) {
        if (Form* form = ParentForm()) form->DefaultKey(static_cast<int>(input.arg));
      }
      break;
    case kUiContextMenu:
      if (PopupMenu* menu = GetPopupMenu(); menu && menu->AutoPopup()) {
        Point p = ClientToScreen({PairLow(input.arg), PairHigh(input.arg)});
        menu->Popup(p.x, p.y, this);
      }
      break;
    default:
      break;
  }
}

void Control::DoClick() {
  if (OnClick) OnClick(*this);
}

void Control::DoDblClick() {
  if (OnDblClick) OnDblClick(*this);
}

void Control::DoEnter() {
  if (OnEnter) OnEnter(*this);
}

void Control::DoExit() {
  if (OnExit) OnExit(*this);
}

}  // namespace platform::ui
