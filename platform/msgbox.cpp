#include "platform/msgbox.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>

#include "platform/stdlines.h"

namespace platform {
namespace {

std::mutex handler_mutex;

MessageBoxHandler& InstalledHandler() {
  static MessageBoxHandler handler;
  return handler;
}

}  // namespace

std::vector<int> ButtonIds(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok: return {IDOK};
    case MsgButtons::OkCancel: return {IDOK, IDCANCEL};
    case MsgButtons::AbortRetryIgnore: return {IDABORT, IDRETRY, IDIGNORE};
    case MsgButtons::YesNoCancel: return {IDYES, IDNO, IDCANCEL};
    case MsgButtons::YesNo: return {IDYES, IDNO};
    case MsgButtons::RetryCancel: return {IDRETRY, IDCANCEL};
  }
  return {IDOK};
}

int DefaultButton(MsgButtons buttons) { return ButtonIds(buttons).front(); }

const char* KindName(MsgKind kind) {
  switch (kind) {
    case MsgKind::Plain: return "plain";
    case MsgKind::Information: return "information";
    case MsgKind::Warning: return "warning";
    case MsgKind::Error: return "error";
    case MsgKind::Confirmation: return "confirmation";
  }
  return "plain";
}

const char* ButtonName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
  }
  return "?";
}

int HeadlessMessageBox(const MessageBoxRequest& request) {
  int answer = DefaultButton(request.buttons);
  std::string line = "message box [";
  line += KindName(request.kind);
  line += "] ";
  line += request.caption;
  line += ": ";
  line += request.text;
  line += " -> ";
  line += ButtonName(answer);
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  // One write, so that lines of several threads do not interleave.
  WriteLine(stderr, line);
  return answer;
}

int MessageBox(const std::string& text, const std::string& caption, MsgKind kind, MsgButtons buttons) {
  MessageBoxRequest request{text, caption, kind, buttons};
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> lock(handler_mutex);
    handler = InstalledHandler();
  }
  int answer = handler ? handler(request) : HeadlessMessageBox(request);
  std::vector<int> ids = ButtonIds(buttons);
  if (std::find(ids.begin(), ids.end(), answer) == ids.end()) answer = ids.front();
  return answer;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> lock(handler_mutex);
  MessageBoxHandler previous = std::move(InstalledHandler());
  InstalledHandler() = std::move(handler);
  return previous;
}

struct MessageBoxScript::State {
  mutable std::mutex mutex;
  std::deque<int> answers;
  std::vector<MessageBoxRequest> shown;
};

MessageBoxScript::MessageBoxScript() : state_(std::make_shared<State>()) {
  std::shared_ptr<State> state = state_;
  previous_ = SetMessageBoxHandler([state](const MessageBoxRequest& request) {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->shown.push_back(request);
    if (state->answers.empty()) return DefaultButton(request.buttons);
    int answer = state->answers.front();
    state->answers.pop_front();
    return answer;
  });
}

MessageBoxScript::~MessageBoxScript() { SetMessageBoxHandler(std::move(previous_)); }

void MessageBoxScript::Answer(int button_id) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->answers.push_back(button_id);
}

std::vector<MessageBoxRequest> MessageBoxScript::Shown() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->shown;
}

size_t MessageBoxScript::PendingAnswers() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->answers.size();
}

}  // namespace platform
