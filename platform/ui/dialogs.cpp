#include "platform/ui/dialogs.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "platform/files.h"
#include "platform/stdlines.h"
#include "platform/ui/application.h"
#include "platform/ui/input.h"

namespace platform::ui {
namespace {

std::mutex handler_mutex;

OpenFileHandler& OpenHandler() {
  static OpenFileHandler handler;
  return handler;
}

DirectoryHandler& DirHandler() {
  static DirectoryHandler handler;
  return handler;
}

void HeadlessLine(const std::string& what) {
  WriteLine(stderr, what + " -> cancelled");
}

std::optional<std::string> AskOpenFile(const OpenFileRequest& request) {
  OpenFileHandler handler;
  {
    std::lock_guard lock(handler_mutex);
    handler = OpenHandler();
  }
  if (handler) return handler(request);
  HeadlessLine("open-file dialog [" + request.title + "] in " + request.initial_dir);
  return std::nullopt;
}

std::optional<std::string> AskDirectory(const DirectoryRequest& request) {
  DirectoryHandler handler;
  {
    std::lock_guard lock(handler_mutex);
    handler = DirHandler();
  }
  if (handler) return handler(request);
  HeadlessLine("directory dialog [" + request.caption + "] at " + request.directory);
  return std::nullopt;
}

// `path` made absolute against `base` (or the current directory), with
// "." and ".." resolved and no trailing "/" (the root stays "/").
std::string Resolve(const std::string& path, const std::string& base) {
  std::string p = NormalizePath(path);
  if (p.empty() || p.front() != '/') {
    std::string b = NormalizePath(base);
    if (b.empty() || b.front() != '/') b = GetCurrentDir() + (b.empty() ? "" : "/" + b);
    p = b + "/" + p;
  }
  std::string normal = std::filesystem::path(p).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal.empty() ? "/" : normal;
}

}  // namespace

const char* const kCreateDirectoryQuestion = "The specified directory does not exist. Create it?";

// ---------------------------------------------------------------------------

std::string DialogCaption(MsgKind kind) {
  switch (kind) {
    case MsgKind::Information: return "Information";
    case MsgKind::Warning: return "Warning";
    case MsgKind::Error: return "Error";
    case MsgKind::Confirmation: return "Confirm";
    case MsgKind::Plain: break;
  }
  return ProgramTitle();
}

void ShowMessage(const std::string& text) { MessageBox(text, ProgramTitle(), MsgKind::Plain, MsgButtons::Ok); }

int MessageDlg(const std::string& text, MsgKind kind, MsgButtons buttons) {
  return MessageBox(text, DialogCaption(kind), kind, buttons);
}

OpenFileHandler SetOpenFileHandler(OpenFileHandler handler) {
  std::lock_guard lock(handler_mutex);
  OpenFileHandler previous = std::move(OpenHandler());
  OpenHandler() = std::move(handler);
  return previous;
}

DirectoryHandler SetDirectoryHandler(DirectoryHandler handler) {
  std::lock_guard lock(handler_mutex);
  DirectoryHandler previous = std::move(DirHandler());
  DirHandler() = std::move(handler);
  return previous;
}

// ---------------------------------------------------------------------------

OpenDialog::OpenDialog(Component* owner, std::string name) : Component(owner, std::move(name)) {}

bool OpenDialog::Execute() {
  std::optional<std::string> answer = AskOpenFile(request_);
  if (!answer || answer->empty()) return false;
  request_.file_name = Resolve(*answer, request_.initial_dir);
  return true;
}

bool SelectDirectory(std::string& directory, SelectDirOptions options) {
  DirectoryRequest request;
  request.directory = directory.empty() ? GetCurrentDir() : Resolve(directory, "");
  for (;;) {
    std::optional<std::string> answer = AskDirectory(request);
    if (!answer || answer->empty()) return false;
    std::string chosen = Resolve(*answer, request.directory);
    if (!IsDirectory(chosen)) {
      // The dialog stays open unless the user may, and agrees to, create it.
      if (!options.allow_create) continue;
      if (options.prompt && MessageDlg(kCreateDirectoryQuestion, MsgKind::Confirmation, MsgButtons::YesNo) != IDYES)
        continue;
      if (options.perform_create && !CreateDirectories(chosen))
        throw std::runtime_error("Unable to create directory " + chosen);
    }
    directory = chosen;
    return true;
  }
}

// ---------------------------------------------------------------------------

struct DialogScript::State {
  std::mutex mutex;
  std::deque<std::optional<std::string>> open_answers;
  std::deque<std::optional<std::string>> dir_answers;
  std::vector<OpenFileRequest> open_requests;
  std::vector<DirectoryRequest> dir_requests;
};

DialogScript::DialogScript() : state_(std::make_shared<State>()) {
  std::shared_ptr<State> state = state_;
  previous_open_ = SetOpenFileHandler([state](const OpenFileRequest& request) -> std::optional<std::string> {
    std::lock_guard lock(state->mutex);
    state->open_requests.push_back(request);
    if (state->open_answers.empty()) return std::nullopt;
    auto answer = std::move(state->open_answers.front());
    state->open_answers.pop_front();
    return answer;
  });
  previous_dir_ = SetDirectoryHandler([state](const DirectoryRequest& request) -> std::optional<std::string> {
    std::lock_guard lock(state->mutex);
    state->dir_requests.push_back(request);
    if (state->dir_answers.empty()) return std::nullopt;
    auto answer = std::move(state->dir_answers.front());
    state->dir_answers.pop_front();
    return answer;
  });
}

DialogScript::~DialogScript() {
  SetOpenFileHandler(std::move(previous_open_));
  SetDirectoryHandler(std::move(previous_dir_));
}

void DialogScript::AnswerOpenFile(std::string path) {
  std::lock_guard lock(state_->mutex);
  state_->open_answers.emplace_back(std::move(path));
}

void DialogScript::CancelOpenFile() {
  std::lock_guard lock(state_->mutex);
  state_->open_answers.emplace_back(std::nullopt);
}

void DialogScript::AnswerDirectory(std::string path) {
  std::lock_guard lock(state_->mutex);
  state_->dir_answers.emplace_back(std::move(path));
}

void DialogScript::CancelDirectory() {
  std::lock_guard lock(state_->mutex);
  state_->dir_answers.emplace_back(std::nullopt);
}

const std::vector<OpenFileRequest>& DialogScript::OpenFileRequests() const { return state_->open_requests; }
const std::vector<DirectoryRequest>& DialogScript::DirectoryRequests() const { return state_->dir_requests; }

// ---------------------------------------------------------------------------

FindDialog::FindDialog(Component* owner, std::string name) : Component(owner, std::move(name)) {}

void FindDialog::SetFindText(std::string text) {
  if (text == find_text_) return;
  find_text_ = std::move(text);
  Changed("Text");
}

bool FindDialog::Execute() {
  if (!visible_) {
    visible_ = true;
    Changed("Shown");
  }
  return true;
}

void FindDialog::CloseDialog() {
  if (!visible_) return;
  visible_ = false;
  Changed("Hidden");
  if (OnClose) OnClose(*this);
}

void FindDialog::HandleInput(const Input& input) {
  if (!visible_) return;
  switch (input.message) {
    case kUiSetText:
      SetFindText(input.text);
      break;
    case kUiClick:
      if (OnFind) OnFind(*this);
      break;
    case kUiCloseBox:
      CloseDialog();
      break;
    default:
      break;
  }
}

}  // namespace platform::ui
