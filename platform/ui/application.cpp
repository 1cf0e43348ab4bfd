#include "platform/ui/application.h"

#include <cerrno>

#include "platform/msgbox.h"

namespace platform::ui {
namespace {

Application* current = nullptr;

}  // namespace

bool Guarded(const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("Unknown exception.");
  }
  return false;
}

std::string ProgramTitle() {
  if (current) return current->Title();
  return program_invocation_short_name ? program_invocation_short_name : "";
}

Application::Application() : Component(nullptr, "Application") {
  current = this;
  SetErrorReportHandler([this](const std::string& text) { ShowException(text); });
}

Application::~Application() {
  FreeOwned();
  SetErrorReportHandler({});
  if (current == this) current = nullptr;
}

Application* Application::Current() { return current; }

void Application::SetTitle(std::string title) {
  if (title == title_) return;
  title_ = std::move(title);
  Changed("Title");
}

Form* Application::MainForm() const { return dynamic_cast<Form*>(FromId(main_form_id_)); }

void Application::SetMainForm(Form* form) { main_form_id_ = form ? form->Id() : 0; }

void Application::Adopt(Form* form) {
  if (!MainForm()) main_form_id_ = form->Id();
  form->FinishCreate();
}

int Application::Run() {
  if (show_main_form_) {
    if (Form* form = MainForm()) Guarded([form] { form->Show(); });
  }
  while (!terminated_) {
    MSG msg;
    if (!GetMessage(msg)) {
      terminated_ = true;
      exit_code_ = static_cast<int>(msg.wParam);
      break;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
  }
  return exit_code_;
}

void Application::Terminate(int exit_code) { PostQuitMessage(exit_code); }

void Application::ProcessMessages() {
  const bool hold_back = InSocketOrCompletionHandler();
  for (;;) {
    MSG msg;
    bool got = hold_back ? PeekMessage(msg, 0, 0, WM_USER - 1, PM_REMOVE) ||
                               PeekMessage(msg, 0, WM_USER + 10, 0xFFFFFFFF, PM_REMOVE)
                         : PeekMessage(msg, 0, 0, 0, PM_REMOVE);
    if (!got) return;
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      exit_code_ = static_cast<int>(msg.wParam);
      return;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
  }
}

void Application::ShowException(const std::string& text) {
  MessageBox(text, title_, MsgKind::Error, MsgButtons::Ok);
}

}  // namespace platform::ui
