// The base of the control layer: components with owners and names, controls
// with a parent, bounds, visibility, font and the common events, and the
// change notification a renderer listens to.
//
// The layer is a model: every property lives here and nothing needs a
// display. A front end (none yet) mirrors the model: it listens to the change
// notifications below, draws, and turns what the user does into messages in
// our queue (input.h); the model reacts to those messages when the loop
// dispatches them. Loop thread only.
//
// Ownership: a component with an owner belongs to it and is freed with it.
// Create it with new, or make it a member of its owner (a member leaves its
// owner's list when it is destroyed, before the owner is). Events are plain
// std::function members; they fire as soon as they are assigned, so set
// the design-time properties first and assign the handlers after.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/ascii.h"

namespace platform::ui {

class Control;
class Form;
class PopupMenu;
struct Input;

// ---------------------------------------------------------------------------
// Geometry, colours, fonts

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

// Right and bottom are exclusive.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// 0x00BBGGRR, or a system colour (kSystemColor + index).
using Color = uint32_t;
constexpr Color kSystemColor = 0x80000000;
constexpr Color clBlack = 0x000000;
constexpr Color clMaroon = 0x000080;
constexpr Color clGreen = 0x008000;
constexpr Color clNavy = 0x800000;
constexpr Color clGray = 0x808080;
constexpr Color clSilver = 0xC0C0C0;
constexpr Color clRed = 0x0000FF;
constexpr Color clBlue = 0xFF0000;
constexpr Color clWhite = 0xFFFFFF;
constexpr Color clWindow = kSystemColor | 5;
constexpr Color clWindowText = kSystemColor | 8;
constexpr Color clBtnFace = kSystemColor | 15;
constexpr Color clBtnText = kSystemColor | 18;

// The RGB value of a colour; system colours take the classic grey palette
// (button face $C0C0C0, window white, texts black).
HALV_EXPORT Color ColorToRGB(Color color);

struct Font {
  std::string name = "System";
  int size = 10;  // points
  Color color = clWindowText;
  bool bold = false;
  bool italic = false;
  bool operator==(const Font&) const = default;
};

using ascii::CompareText;
using ascii::LowerCase;
using ascii::SameText;
using ascii::UpperCase;

// ---------------------------------------------------------------------------
// Change notification: the hook for a renderer (and for tests).
//
// Each change of a property that shows on screen calls every observer with
// the component and the property's name ("Caption", "Text", "Checked",
// "Items", "ItemIndex", "Cells", "Bounds", "Visible", "Enabled", ...).
// A few names are events rather than properties: "Created", "Destroyed"
// (the component is about to go; drop every reference to it), "Shown",
// "Hidden", "ModalBegin", "ModalEnd", "Popup" (a pop-up menu opens),
// "Dismissed" (it closes), "Paint"
// (a canvas has new drawing) and "Focus". Observers run synchronously, so a
// renderer that repaints in its observer shows progress bars and captions
// at once, even while no loop runs.
using ChangeObserver = std::function<void(class Component& component, std::string_view what)>;
HALV_EXPORT int AddChangeObserver(ChangeObserver observer);
HALV_EXPORT void RemoveChangeObserver(int id);

// ---------------------------------------------------------------------------

// Sender-only events.
using NotifyEvent = std::function<void(class Component& sender)>;

class HALV_EXPORT Component {
 public:
  explicit Component(Component* owner, std::string name = {});
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  Component* Owner() const { return owner_; }

  // The components this one owns, in creation order.
  const std::vector<Component*>& Components() const { return owned_; }
  // The owned component of that name (ASCII case ignored), or nullptr.
  Component* FindComponent(std::string_view name) const;
  template <class T>
  T* Find(std::string_view name) const {
    return dynamic_cast<T*>(FindComponent(name));
  }

  // Unique within the process and never reused; user-action messages name
  // their target by it.
  uint64_t Id() const { return id_; }
  static Component* FromId(uint64_t id);

  intptr_t Tag = 0;

  // Runs once before the component is freed by its owner or by Free(),
  // while the whole object still exists. Forms fire OnDestroy here.
  virtual void BeforeDestruction();

 protected:
  // Tells the observers that `what` changed.
  void Changed(std::string_view what);

  // A property setter: stores the value and tells the observers, unless it
  // is the value the property has.
  template <class T, class V>
  void Assign(T& field, const V& value, std::string_view what) {
    if (field == value) return;
    field = value;
    Changed(what);
  }

  // A user action addressed to this component, as the loop dispatches it.
  virtual void HandleInput(const Input& input);

  // Frees the owned components, last first. Called by the destructors of
  // the derived classes that own children, while they are still whole.
  void FreeOwned();

 private:
  friend void DispatchInput(uint32_t message, uint64_t target, intptr_t arg);
  friend void Free(Component* component);

  std::string name_;
  Component* owner_ = nullptr;
  std::vector<Component*> owned_;
  uint64_t id_ = 0;
  bool before_destruction_done_ = false;
};

// BeforeDestruction, then delete. For components made with new.
HALV_EXPORT void Free(Component* component);

// ---------------------------------------------------------------------------

enum class Align { None, Top, Bottom, Left, Right, Client };

class HALV_EXPORT Control : public Component {
 public:
  Control(Component* owner, Control* parent, std::string name = {});
  ~Control() override;

  Control* Parent() const { return parent_; }
  virtual void SetParent(Control* parent);
  // Child controls in creation order.
  const std::vector<Control*>& Controls() const { return children_; }
  // The form this control sits on (itself for a form), or nullptr.
  Form* ParentForm() const;

  // Bounds in the parent's client coordinates.
  int Left() const { return bounds_.left; }
  int Top() const { return bounds_.top; }
  int Width() const { return bounds_.Width(); }
  int Height() const { return bounds_.Height(); }
  Rect BoundsRect() const { return bounds_; }
  virtual void SetBounds(int left, int top, int width, int height);
  void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
  void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
  void SetWidth(int width) { SetBounds(Left(), Top(), width, Height()); }
  void SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }
  // The area children are laid out in, in this control's coordinates.
  virtual Rect ClientRect() const { return {0, 0, Width(), Height()}; }
  int ClientWidth() const { return ClientRect().Width(); }
  int ClientHeight() const { return ClientRect().Height(); }
  // From this control's client coordinates to the headless screen's.
  Point ClientToScreen(Point p) const;

  Align GetAlign() const { return align_; }
  void SetAlign(Align align);

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and so are its parents up to a visible form (a control on no
  // form never shows).
  bool Showing() const;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(std::string caption);

  const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint);
  bool ShowHint() const { return show_hint_; }
  void SetShowHint(bool show);

  // Without a font of its own a control shows its parent's.
  const Font& GetFont() const;
  void SetFont(Font font);
  bool ParentFont() const { return !has_font_; }
  void SetParentFont(bool parent_font);

  Color GetColor() const { return color_; }
  void SetColor(Color color);

  PopupMenu* GetPopupMenu() const;
  void SetPopupMenu(PopupMenu* menu);

  // Focus within the form.
  virtual bool TakesFocus() const { return false; }
  bool CanFocus() const;
  bool Focused() const;
  // Moves the focus here; throws for a control that cannot have it.
  void SetFocus();

  // True when a user could act on it now: showing, enabled up to its form,
  // and the form is not disabled by a modal form.
  virtual bool AcceptsInput() const;

  // Fires OnClick, as a click does, from code.
  void Click() { DoClick(); }

  NotifyEvent OnClick;
  NotifyEvent OnDblClick;
  NotifyEvent OnEnter;
  NotifyEvent OnExit;

 protected:
  friend class Form;

  void HandleInput(const Input& input) override;
  // The user's action once input is accepted and the focus is here.
  virtual void UserInput(const Input& input);
  // What a click of the mouse does (the default fires OnClick).
  virtual void UserClick() { DoClick(); }

  virtual void DoClick();
  virtual void DoDblClick();
  virtual void DoEnter();
  virtual void DoExit();

  // After the size changed: lay out the aligned children.
  virtual void Resized();
  void Realign();

 private:
  void RemoveChild(Control* child);

  Control* parent_ = nullptr;
  std::vector<Control*> children_;
  Rect bounds_;
  Align align_ = Align::None;
  bool visible_ = true;
  bool enabled_ = true;
  bool realigning_ = false;
  std::string caption_;
  std::string hint_;
  bool show_hint_ = false;
  Font font_;
  bool has_font_ = false;
  Color color_ = clBtnFace;
  uint64_t popup_menu_id_ = 0;  // by id: the menu may be freed first
};

}  // namespace platform::ui
