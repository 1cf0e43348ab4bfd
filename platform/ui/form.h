// Forms: top-level windows with a caption, a border, a position on the
// headless screen, a window state, modal showing with a modal result, and
// the form events in the order a Windows user sees them:
//   first showing: OnResize, OnShow;  closing: OnClose (with its action),
//   then OnHide;  freeing: OnDestroy.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/export.h"
#include "platform/msgloop.h"
#include "platform/ui/component.h"

namespace platform::ui {

class MainMenu;

enum class BorderStyle { None, Single, Sizeable, Dialog };
enum class WindowState { Normal, Maximized, Minimized };
enum class FormPosition { Designed, Default, ScreenCenter };
enum class CloseAction { None, Hide, Free, Minimize };

// Modal results (the dialog-result numbers); any other non-zero value,
// -1 included, ends a modal showing as well.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;

using CloseEvent = std::function<void(Component& sender, CloseAction& action)>;

// The headless screen: its size (a front end sets the real one) and the
// fixed frame metrics that turn client sizes into outer ones.
struct ScreenInfo {
  int width = 1024;
  int height = 768;
  int caption_height = 19;   // caption bar, Single, Sizeable and Dialog borders
  int menu_height = 19;      // a main menu bar
  int sizeable_frame = 4;    // per side
  int dialog_frame = 3;
  int single_frame = 1;
};
HALV_EXPORT ScreenInfo& Screen();

class HALV_EXPORT Form : public Control {
 public:
  explicit Form(Component* owner, std::string name = {});
  ~Form() override;

  // The form's window: WM_CLOSE to it closes the form (a signal's close);
  // other messages go to the handler set for them.
  HWND Handle() const { return hwnd_; }
  void SetMessageHandler(UINT message, std::function<void(const MSG&)> handler);

  BorderStyle GetBorderStyle() const { return border_style_; }
  void SetBorderStyle(BorderStyle style);
  // The close box (and the other caption buttons); without it only code,
  // its buttons or a signal close the form.
  bool CloseBox() const { return close_box_; }
  void SetCloseBox(bool on);
  FormPosition Position() const { return position_; }
  void SetPosition(FormPosition position) { position_ = position; }
  bool StayOnTop() const { return stay_on_top_; }
  void SetStayOnTop(bool on);

  // Bounds are the outer rectangle in screen coordinates (what MoveWindow
  // sets and the window rectangle reads); the client area lies inside the
  // frame, the caption bar and the menu bar.
  void SetBounds(int left, int top, int width, int height) override;
  Rect ClientRect() const override;
  void SetClientSize(int width, int height);
  void SetClientWidth(int width) { SetClientSize(width, ClientHeight()); }
  void SetClientHeight(int height) { SetClientSize(ClientWidth(), height); }
  // Frame widths: left/right, and top (frame + caption + menu)/bottom.
  Rect NonClientInsets() const;

  WindowState GetWindowState() const { return window_state_; }
  void SetWindowState(WindowState state);
  // The bounds of the normal state, whatever the state is now.
  Rect NormalBounds() const { return window_state_ == WindowState::Normal ? BoundsRect() : normal_bounds_; }

  // Showing and hiding fire OnShow and OnHide; hiding first takes the focus
  // from the active control, so it sees its exit. Hiding a modal form ends
  // its modal showing (mrCancel unless a result is set).
  void SetVisible(bool visible) override;
  // Shows the form and runs a modal loop (other forms disabled meanwhile)
  // until the modal result is non-zero and OnClose lets it close; returns
  // the result. Throws for a form that is already visible.
  int ShowModal();
  bool Modal() const { return modal_; }
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  // Asks the form to close: a modal form gets the result mrCancel; any
  // other fires OnClose (action Hide by default) and acts on the action.
  // Closing the application's main form terminates the application.
  void Close();
  // Frees the form once the messages queued now are dispatched (only for a
  // form made with new).
  void Release();

  // The control with the focus. Named while the form is hidden, it is the
  // one each showing starts on; else a showing starts on the first control
  // in tab order (OnShow may move it).
  Control* ActiveControl() const;
  void SetActiveControl(Control* control);

  // Ctrl+Tab or Ctrl+PgDn (forward), Ctrl+Shift+Tab or Ctrl+PgUp (back):
  // the page beside in the tabbed notebook that holds `from`, else in the
  // form's tab set, with their change handlers. False for other keys.
  bool PageKey(int key, Control* from);

  MainMenu* GetMenu() const;
  void SetMenu(MainMenu* menu);

  // True while a modal form (not this one) keeps it from taking input.
  bool DisabledByModal() const { return disabled_by_modal_ > 0; }
  bool AcceptsInput() const override;

  // Fires OnCreate once, its errors shown as the standard error report.
  // Application::CreateForm calls it; a form made otherwise calls it when
  // built.
  void FinishCreate();
  void BeforeDestruction() override;

  NotifyEvent OnCreate;
  NotifyEvent OnShow;
  NotifyEvent OnHide;
  NotifyEvent OnResize;
  NotifyEvent OnDestroy;
  CloseEvent OnClose;

 protected:
  void HandleInput(const Input& input) override;
  void Resized() override;

 private:
  friend class Control;
  void MoveFocus(Control* to);
  void DefaultKey(int key);
  void DoShow();
  void DoHide();
  // OnClose with its action; false when the action is None.
  bool QueryClose(CloseAction& action);
  void FireResize();

  HWND hwnd_ = 0;
  std::map<UINT, std::function<void(const MSG&)>> message_handlers_;
  BorderStyle border_style_ = BorderStyle::Sizeable;
  bool close_box_ = true;
  FormPosition position_ = FormPosition::Designed;
  bool stay_on_top_ = false;
  WindowState window_state_ = WindowState::Normal;
  Rect normal_bounds_;
  bool shown_once_ = false;
  bool created_ = false;
  bool modal_ = false;
  int modal_result_ = mrNone;
  int disabled_by_modal_ = 0;
  int resize_depth_ = 0;
  uint64_t active_control_id_ = 0;
  uint64_t named_control_id_ = 0;  // ActiveControl as set while hidden
  uint64_t entered_id_ = 0;  // the control that had its OnEnter and not yet its OnExit
  uint64_t menu_id_ = 0;
};

// Every form alive, in creation order.
HALV_EXPORT std::vector<Form*> AllForms();

}  // namespace platform::ui
