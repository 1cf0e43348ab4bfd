// The application object: the title (the task-bar text, separate from the
// main form's caption), the forms, the main message loop, and the standard
// error report.
//
// While an Application exists, an error that escapes an event handler
// (any message the loop dispatches) is shown as an error box captioned with
// the title, and the handler's remaining steps do not run.
#pragma once

#include <string>
#include <utility>

#include "platform/export.h"
#include "platform/ui/form.h"

namespace platform::ui {

class HALV_EXPORT Application : public Component {
 public:
  Application();
  // Frees the forms it owns, last created first (each fires OnDestroy),
  // and gives the error report back to its default.
  ~Application() override;

  // The one alive, or nullptr.
  static Application* Current();

  const std::string& Title() const { return title_; }
  void SetTitle(std::string title);

  // The first form made with CreateForm, unless set.
  Form* MainForm() const;
  void SetMainForm(Form* form);
  bool ShowMainForm() const { return show_main_form_; }
  void SetShowMainForm(bool on) { show_main_form_ = on; }

  // Makes a form owned by the application (T's constructor takes the owner
  // first) and fires its OnCreate.
  template <class T, class... Args>
  T* CreateForm(Args&&... args) {
    T* form = new T(this, std::forward<Args>(args)...);
    Adopt(form);
    return form;
  }

  // Shows the main form and runs the loop until WM_QUIT (Terminate, or the
  // main form closing); returns the quit's exit code.
  int Run();
  // Asks the loop to end.
  void Terminate(int exit_code = 0);
  // True once the loop took the quit request.
  bool Terminated() const { return terminated_; }
  // Dispatches what is queued now without waiting. Inside a socket or
  // completion handler it leaves WM_USER..WM_USER+9 queued, as modal loops
  // do. Taking the quit request marks the application terminated.
  void ProcessMessages();

  // The standard error report: an error box with the text.
  void ShowException(const std::string& text);

 private:
  void Adopt(Form* form);

  std::string title_;
  uint64_t main_form_id_ = 0;
  bool show_main_form_ = true;
  bool terminated_ = false;
  int exit_code_ = 0;
};

// Runs fn; an error escaping it goes to the standard error report. False
// when it failed.
HALV_EXPORT bool Guarded(const std::function<void()>& fn);

// The caption for boxes of the running program: the application's title,
// or the program's file name without an application.
HALV_EXPORT std::string ProgramTitle();

}  // namespace platform::ui
