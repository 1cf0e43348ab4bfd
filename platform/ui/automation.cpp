#include "platform/ui/automation.h"

#include "platform/ui/component.h"
#include "platform/ui/form.h"
#include "platform/ui/menus.h"

namespace platform::ui::automation {

void Pump() {
  MSG msg;
  while (PeekMessage(msg, 0, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Left for the loop that owns it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, uint32_t ms) {
  bool expired = false;
  HWND deadline = CreateWindowHandle([&](const MSG& m) {
    if (m.message == WM_TIMER) expired = true;
  });
  SetTimer(deadline, 1, ms);
  while (!done() && !expired) {
    MSG msg;
    if (!GetMessage(msg)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
  }
  DestroyWindowHandle(deadline);
  return done();
}

void Click(const Control& control) {
  PostClick(control);
  Pump();
}

void DblClick(const Control& control) {
  PostDblClick(control);
  Pump();
}

void Type(const Control& control, std::string_view text) {
  PostType(control, text);
  Pump();
}

void ReplaceText(const Control& control, std::string text) {
  PostReplaceText(control, std::move(text));
  Pump();
}

void Key(const Control& control, int key) {
  PostKey(control, key);
  Pump();
}

void Choose(const Control& control, int index) {
  PostChoose(control, index);
  Pump();
}

void ChooseMenu(const MenuItem& item) {
  PostMenu(item);
  Pump();
}

void CloseBox(const Form& form) {
  PostCloseBox(form);
  Pump();
}

ModalResponder::ModalResponder(std::string form_name, std::function<void(Form&)> respond) {
  observer_ = AddChangeObserver([this, name = std::move(form_name), respond = std::move(respond)](
                                    Component& component, std::string_view what) {
    if (what != "ModalBegin") return;
    auto* form = dynamic_cast<Form*>(&component);
    if (!form || (!name.empty() && !SameText(form->Name(), name))) return;
    ++count_;
    respond(*form);
  });
}

ModalResponder::~ModalResponder() { RemoveChangeObserver(observer_); }

}  // namespace platform::ui::automation
