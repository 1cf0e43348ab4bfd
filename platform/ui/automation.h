// Helpers for tests that drive forms as a user would: each posts the action
// (input.h) and pumps the queue until it is empty, so the action and
// whatever it set off have run when the helper returns.
//
// A helper whose action opens a modal form returns only when that form is
// closed: queue the actions that close it first, or answer it with a
// ModalResponder.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/ui/input.h"

namespace platform::ui {

class Form;

namespace automation {

// Dispatches every message queued (and every timer due) until none is left.
HALV_EXPORT void Pump();
// Dispatches messages, waiting for them, until done() holds or `ms`
// milliseconds have passed; returns done().
HALV_EXPORT bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 3000);

HALV_EXPORT void Click(const Control& control);
void DblClick(const Control& control);
HALV_EXPORT void Type(const Control& control, std::string_view text);
HALV_EXPORT void ReplaceText(const Control& control, std::string text);
HALV_EXPORT void Key(const Control& control, int key);
HALV_EXPORT void Choose(const Control& control, int index);
HALV_EXPORT void ChooseMenu(const MenuItem& item);
HALV_EXPORT void CloseBox(const Form& form);

// While alive, runs `respond` each time the form (by name, ASCII case
// ignored; empty: any form) begins a modal showing, before its modal loop
// takes the first message. The responder usually posts the user's actions.
class HALV_EXPORT ModalResponder {
 public:
  ModalResponder(std::string form_name, std::function<void(Form&)> respond);
  ~ModalResponder();
  ModalResponder(const ModalResponder&) = delete;
  ModalResponder& operator=(const ModalResponder&) = delete;
  int Count() const { return count_; }

 private:
  int observer_ = 0;
  int count_ = 0;
};

}  // namespace automation
}  // namespace platform::ui
