#include "platform/ui/form.h"

#include <algorithm>
#include <stdexcept>

#include "platform/ui/application.h"
#include "platform/ui/controls.h"
#include "platform/ui/input.h"
#include "platform/ui/menus.h"
#include "platform/ui/pages.h"

namespace platform::ui {
namespace {

std::vector<Form*>& FormList() {
  static auto* forms = new std::vector<Form*>;
  return *forms;
}

// A depth-first walk of a control's descendants in creation order.
template <class Fn>
Control* FindDescendant(const Control& root, const Fn& match) {
  for (Control* c : root.Controls()) {
    if (match(*c)) return c;
    if (Control* found = FindDescendant(*c, match)) return found;
  }
  return nullptr;
}

constexpr int kMaxResizeDepth = 8;

}  // namespace

ScreenInfo& Screen() {
  static ScreenInfo screen;
  return screen;
}

std::vector<Form*> AllForms() { return FormList(); }

Form::Form(Component* owner, std::string name) : Control(owner, nullptr, std::move(name)) {
  visible_ = false;
  has_font_ = true;
  hwnd_ = CreateWindowHandle([this](const MSG& msg) {
    if (msg.message == WM_CLOSE) {
      Close();
      return;
    }
    auto it = message_handlers_.find(msg.message);
    if (it != message_handlers_.end() && it->second) {
      auto handler = it->second;  // the handler may replace itself
      handler(msg);
    }
  });
  FormList().push_back(this);
  SetClientSize(320, 240);
}

Form::~Form() {
  FreeOwned();
  std::erase(FormList(), this);
  DestroyWindowHandle(hwnd_);
}

void Form::SetMessageHandler(UINT message, std::function<void(const MSG&)> handler) {
  if (handler)
    message_handlers_[message] = std::move(handler);
  else
    message_handlers_.erase(message);
}

void Form::SetBorderStyle(BorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  Changed("BorderStyle");
  Resized();  // the client area changes with the frame
}

void Form::SetCloseBox(bool on) { Assign(close_box_, on, "CloseBox"); }

void Form::SetStayOnTop(bool on) { Assign(stay_on_top_, on, "StayOnTop"); }

Rect Form::NonClientInsets() const {
  const ScreenInfo& s = Screen();
  int frame = 0;
  switch (border_style_) {
    case BorderStyle::None: frame = 0; break;
    case BorderStyle::Single: frame = s.single_frame; break;
    case BorderStyle::Sizeable: frame = s.sizeable_frame; break;
    case BorderStyle::Dialog: frame = s.dialog_frame; break;
  }
  int top = frame;
  if (border_style_ != BorderStyle::None) top += s.caption_height;
  if (MainMenu* menu = GetMenu()) {
    const auto& items = menu->Items().Items();
    if (std::any_of(items.begin(), items.end(), [](const MenuItem* i) { return i->Visible(); }))
      top += s.menu_height;
  }
  return {frame, top, frame, frame};
}

Rect Form::ClientRect() const {
  Rect in = NonClientInsets();
  return {0, 0, std::max(0, Width() - in.left - in.right), std::max(0, Height() - in.top - in.bottom)};
}

void Form::SetBounds(int left, int top, int width, int height) {
  if (window_state_ != WindowState::Normal) {
    // Moving a maximized or minimized window changes where it returns to.
    normal_bounds_ = {left, top, left + std::max(0, width), top + std::max(0, height)};
    return;
  }
  Control::SetBounds(left, top, width, height);
}

void Form::SetClientSize(int width, int height) {
  Rect in = NonClientInsets();
  SetBounds(Left(), Top(), std::max(0, width) + in.left + in.right, std::max(0, height) + in.top + in.bottom);
}

void Form::SetWindowState(WindowState state) {
  if (state == window_state_) return;
  if (window_state_ == WindowState::Normal) normal_bounds_ = BoundsRect();
  window_state_ = state;
  Changed("WindowState");
  switch (state) {
    case WindowState::Maximized: {
      Rect in = NonClientInsets();
      const ScreenInfo& s = Screen();
      Control::SetBounds(-in.left, -in.left, s.width + in.left + in.right, s.height + in.left + in.bottom);
      break;
    }
    case WindowState::Normal:
      Control::SetBounds(normal_bounds_.left, normal_bounds_.top, normal_bounds_.Width(), normal_bounds_.Height());
      break;
    case WindowState::Minimized:
      // The model keeps the restored rectangle; only the state shows it is iconic.
      break;
  }
}

void Form::Resized() {
  Realign();
  FireResize();
}

void Form::FireResize() {
  if (!OnResize || resize_depth_ >= kMaxResizeDepth) return;
  ++resize_depth_;
  struct Depth {
    int* d;
    ~Depth() { --*d; }
  } depth{&resize_depth_};
  OnResize(*this);
}

void Form::SetVisible(bool visible) {
  if (visible == visible_) return;
  if (visible) {
    DoShow();
    return;
  }
  if (modal_) {
    // A modal form is hidden by the end of its modal loop.
    if (modal_result_ == mrNone) modal_result_ = mrCancel;
    return;
  }
  DoHide();
}

void Form::DoShow() {
  if (!shown_once_) {
    shown_once_ = true;
    if (position_ == FormPosition::ScreenCenter && window_state_ == WindowState::Normal) {
      const ScreenInfo& s = Screen();
      Control::SetBounds((s.width - Width()) / 2, (s.height - Height()) / 2, Width(), Height());
    }
    // The window is created now, with its size: the first resize.
    Realign();
    FireResize();
  }
  visible_ = true;
  // Each showing starts on the named control or the first in tab order,
  // not where the last one ended.
  active_control_id_ = named_control_id_;
  Changed("Visible");
  Changed("Shown");
  if (OnShow) OnShow(*this);
  if (!visible_) return;
  Control* active = ActiveControl();
  if (active && active->CanFocus()) {
    if (entered_id_ != active->Id()) {
      entered_id_ = active->Id();
      active->DoEnter();
    }
  } else if (Control* first = FindDescendant(*this, [](const Control& c) { return c.CanFocus(); })) {
    MoveFocus(first);
  }
}

void Form::DoHide() {
  // The active control loses the focus with its form.
  if (Control* active = ActiveControl(); active && entered_id_ == active->Id()) {
    entered_id_ = 0;
    active->DoExit();
  }
  entered_id_ = 0;
  visible_ = false;
  Changed("Visible");
  Changed("Hidden");
  if (OnHide) OnHide(*this);
}

bool Form::QueryClose(CloseAction& action) {
  if (OnClose) OnClose(*this, action);
  return action != CloseAction::None;
}

int Form::ShowModal() {
  if (visible_ || modal_) throw std::logic_error("Cannot make a visible window modal");
  // The forms on screen take no input while this one is up; forms shown
  // later (from within) do.
  std::vector<uint64_t> disabled;
  for (Form* f : FormList()) {
    if (f == this || !f->visible_) continue;
    ++f->disabled_by_modal_;
    disabled.push_back(f->Id());
  }
  struct Restore {
    Form* self;
    std::vector<uint64_t>* ids;
    ~Restore() {
      self->modal_ = false;
      for (uint64_t id : *ids)
        if (Form* f = dynamic_cast<Form*>(FromId(id))) --f->disabled_by_modal_;
    }
  } restore{this, &disabled};

  modal_ = true;
  modal_result_ = mrNone;
  DoShow();
  Changed("ModalBegin");
  bool ended = RunModalLoop([this] {
    if (modal_result_ == mrNone) return false;
    CloseAction action = CloseAction::Hide;
    bool closes = true;
    Guarded([&] { closes = QueryClose(action); });
    if (!closes) modal_result_ = mrNone;
    return closes;
  });
  if (!ended && modal_result_ == mrNone) modal_result_ = mrCancel;  // the application is ending
  int result = modal_result_;
  modal_ = false;
  if (visible_) Guarded([this] { DoHide(); });
  Changed("ModalEnd");
  return result;
}

void Form::Close() {
  if (modal_) {
    modal_result_ = mrCancel;
    return;
  }
  CloseAction action = CloseAction::Hide;
  if (!QueryClose(action)) return;
  if (Application* app = Application::Current(); app && app->MainForm() == this) {
    app->Terminate();
    return;
  }
  switch (action) {
    case CloseAction::Hide:
      SetVisible(false);
      break;
    case CloseAction::Minimize:
      SetWindowState(WindowState::Minimized);
      break;
    case CloseAction::Free:
      Release();
      break;
    case CloseAction::None:
      break;
  }
}

void Form::Release() { PostInput(kUiRelease, *this); }

Control* Form::ActiveControl() const {
  Control* c = dynamic_cast<Control*>(FromId(active_control_id_));
  return c && c->ParentForm() == this ? c : nullptr;
}

void Form::SetActiveControl(Control* control) {
  if (control && control->ParentForm() != this) throw std::invalid_argument("The control is not on this form");
  if (visible_ && control && control->CanFocus()) {
    MoveFocus(control);
    return;
  }
  active_control_id_ = control ? control->Id() : 0;
  if (!visible_) named_control_id_ = active_control_id_;
}

bool Form::PageKey(int key, Control* from) {
  bool forward = key == (kKeyCtrl | kKeyTab) || key == (kKeyCtrl | kKeyPageDown);
  if (!forward && key != (kKeyCtrl | kKeyShift | kKeyTab) && key != (kKeyCtrl | kKeyPageUp)) return false;
  TabbedNotebook* notebook = nullptr;
  for (Control* c = from; c && c != this && !notebook; c = c->Parent()) notebook = dynamic_cast<TabbedNotebook*>(c);
  TabSet* tabs = dynamic_cast<TabSet*>(from);
  if (!notebook && !tabs)
    tabs = dynamic_cast<TabSet*>(FindDescendant(*this, [](const Control& c) {
      return dynamic_cast<const TabSet*>(&c) && c.AcceptsInput();
    }));
  if (notebook) notebook->SelectNext(forward);
  else if (tabs) tabs->SelectNext(forward);
  // The focus left on a page that went stays with the tabs.
  Control* active = ActiveControl();
  if (active && !active->CanFocus()) {
    Control* keep = notebook ? static_cast<Control*>(notebook) : tabs;
    MoveFocus(keep && keep->CanFocus() ? keep : nullptr);
  }
  return true;
}

void Form::MoveFocus(Control* to) {
  Control* from = ActiveControl();
  if (from == to) return;
  if (from && entered_id_ == from->Id()) {
    entered_id_ = 0;
    from->DoExit();
  }
  active_control_id_ = to ? to->Id() : 0;
  if (to && visible_) {
    entered_id_ = to->Id();
    to->DoEnter();
  }
  Changed("Focus");
}

void Form::DefaultKey(int key) {
  Button* button = nullptr;
  if (key == kKeyReturn) {
    button = dynamic_cast<Button*>(ActiveControl());
    if (!button)
      button = dynamic_cast<Button*>(FindDescendant(*this, [](const Control& c) {
        auto* b = dynamic_cast<const Button*>(&c);
        return b && b->Default() && b->AcceptsInput();
      }));
  } else if (key == kKeyEscape) {
    button = dynamic_cast<Button*>(FindDescendant(*this, [](const Control& c) {
      auto* b = dynamic_cast<const Button*>(&c);
      return b && b->Cancel() && b->AcceptsInput();
    }));
  }
  if (button && button->AcceptsInput()) static_cast<Control*>(button)->DoClick();
}

MainMenu* Form::GetMenu() const { return dynamic_cast<MainMenu*>(FromId(menu_id_)); }

void Form::SetMenu(MainMenu* menu) {
  uint64_t id = menu ? menu->Id() : 0;
  if (id == menu_id_) return;
  menu_id_ = id;
  Changed("Menu");
  Resized();  // the menu bar takes its height from the client area
}

bool Form::AcceptsInput() const { return visible_ && Enabled() && !DisabledByModal(); }

void Form::FinishCreate() {
  if (created_) return;
  created_ = true;
  Changed("Created");
  Guarded([this] {
    if (OnCreate) OnCreate(*this);
  });
}

void Form::BeforeDestruction() {
  if (OnDestroy) OnDestroy(*this);
}

void Form::HandleInput(const Input& input) {
  switch (input.message) {
    case kUiCloseBox:
      // A modal form's frame has its close box whatever the form asks.
      if (AcceptsInput() && (close_box_ || modal_) && border_style_ != BorderStyle::None) Close();
      return;
    case kUiResize:
      if (AcceptsInput() && border_style_ == BorderStyle::Sizeable && window_state_ == WindowState::Normal)
        SetBounds(Left(), Top(), PairLow(input.arg), PairHigh(input.arg));
      return;
    case kUiMove:
      if (AcceptsInput() && window_state_ == WindowState::Normal)
        SetBounds(PairLow(input.arg), PairHigh(input.arg), Width(), Height());
      return;
    case kUiWindowState:
      if (AcceptsInput()) {
        int s = static_cast<int>(input.arg);
        if (s >= 0 && s <= 2) SetWindowState(static_cast<WindowState>(s));
      }
      return;
    case kUiKey:
      if (AcceptsInput() && !PageKey(static_cast<int>(input.arg), nullptr)) DefaultKey(static_cast<int>(input.arg));
      return;
    default:
      Control::HandleInput(input);
  }
}

}  // namespace platform::ui
