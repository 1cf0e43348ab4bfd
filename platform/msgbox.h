// Message boxes. The system asks a question or reports a fault through
// MessageBox; whoever draws the screen installs a handler that shows the box
// and returns the button chosen. Without one (no display, a headless run)
// the box is written as one line to standard error and takes its default
// button, so a box never blocks a server that nobody watches.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/export.h"

HALV_EXPORT_BEGIN
namespace platform {

// The icon of a box.
enum class MsgKind { Plain, Information, Warning, Error, Confirmation };

// The buttons of a box, left to right; the first is the default.
enum class MsgButtons { Ok, OkCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };

// Button ids, with the numbers the Windows dialog results have.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

struct MessageBoxRequest {
  std::string text;
  std::string caption;
  MsgKind kind = MsgKind::Plain;
  MsgButtons buttons = MsgButtons::Ok;
};

// Returns the id of the button chosen (one of the box's buttons).
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// The button ids of a set, left to right.
std::vector<int> ButtonIds(MsgButtons buttons);
int DefaultButton(MsgButtons buttons);

// "plain", "information", "warning", "error", "confirmation".
const char* KindName(MsgKind kind);
// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"; "?" otherwise.
const char* ButtonName(int id);

// Shows a box through the installed handler and returns the button chosen.
// An answer that is not one of the box's buttons counts as the default.
// The handler runs on the calling thread, without any lock held.
int MessageBox(const std::string& text, const std::string& caption, MsgKind kind = MsgKind::Plain,
               MsgButtons buttons = MsgButtons::Ok);

// Installs a handler for every later box of the process; an empty handler
// restores the headless default. Returns the handler it replaces (empty
// when it was the default).
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The headless answer: one line on standard error, e.g.
//   message box [error] Halvorine: Can't load MORVEX32.DLL! -> OK
// (line breaks in the text shown as blanks), then the default button.
int HeadlessMessageBox(const MessageBoxRequest& request);

// For tests: while alive, answers boxes from a queue and records each box
// shown. With the queue empty a box takes its default button. Restores the
// previous handler when destroyed. Not meant to be nested across threads.
class MessageBoxScript {
 public:
  MessageBoxScript();
  ~MessageBoxScript();
  MessageBoxScript(const MessageBoxScript&) = delete;
  MessageBoxScript& operator=(const MessageBoxScript&) = delete;

  // Queues the answer to the next box that has no answer yet.
  void Answer(int button_id);
  // The boxes shown so far, oldest first.
  std::vector<MessageBoxRequest> Shown() const;
  size_t PendingAnswers() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  MessageBoxHandler previous_;
};

}  // namespace platform
HALV_EXPORT_END
