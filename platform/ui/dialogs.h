// Message boxes and the common dialogs (open file, select directory, find).
//
// Message boxes go through platform::MessageBox, so its handler decides how
// they show (headless: a line on standard error and the default button;
// tests: platform::MessageBoxScript).
//
// The open-file and directory dialogs are services: the model keeps what
// the dialog asks and what it answers, a handler plays the user. A front
// end installs handlers that show real dialogs (running RunModalLoop, so
// the loop's rules hold); without one the dialog is written as a line on
// standard error and counts as cancelled. Tests answer them with a
// DialogScript. The find dialog is non-modal and lives in the model like a
// form: its text and "Find Next" are user input (input.h).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/msgbox.h"
#include "platform/ui/component.h"

namespace platform::ui {

// ---------------------------------------------------------------------------
// Message boxes

// A plain box with OK, captioned with the application title.
HALV_EXPORT void ShowMessage(const std::string& text);
// A box of that kind, captioned "Information", "Warning", "Error" or
// "Confirm" (plain boxes: the application title); the button chosen.
HALV_EXPORT int MessageDlg(const std::string& text, MsgKind kind, MsgButtons buttons);
// The caption MessageDlg gives a kind.
std::string DialogCaption(MsgKind kind);

// ---------------------------------------------------------------------------
// Open-file and directory dialogs

struct OpenFileRequest {
  std::string title;
  std::string filter;  // "Name|*.a;*.b|Other|*.*"
  int filter_index = 1;
  std::string initial_dir;
  std::string file_name;
};

struct DirectoryRequest {
  std::string caption = "Select Directory";
  std::string directory;  // where the dialog opens
};

// Return the path the user chose (as typed: relative paths count from the
// dialog's directory), or nullopt for Cancel.
using OpenFileHandler = std::function<std::optional<std::string>(const OpenFileRequest&)>;
using DirectoryHandler = std::function<std::optional<std::string>(const DirectoryRequest&)>;

// Install a handler for every later dialog; an empty one restores the
// headless default. Return the handler replaced.
HALV_EXPORT OpenFileHandler SetOpenFileHandler(OpenFileHandler handler);
HALV_EXPORT DirectoryHandler SetDirectoryHandler(DirectoryHandler handler);

// The open-file dialog.
class HALV_EXPORT OpenDialog : public Component {
 public:
  explicit OpenDialog(Component* owner, std::string name = {});
  const std::string& Title() const { return request_.title; }
  void SetTitle(std::string t) { request_.title = std::move(t); }
  const std::string& Filter() const { return request_.filter; }
  void SetFilter(std::string f) { request_.filter = std::move(f); }
  int FilterIndex() const { return request_.filter_index; }
  void SetFilterIndex(int i) { request_.filter_index = i; }
  const std::string& InitialDir() const { return request_.initial_dir; }
  void SetInitialDir(std::string d) { request_.initial_dir = std::move(d); }
  // After Execute: the full path chosen.
  const std::string& FileName() const { return request_.file_name; }
  void SetFileName(std::string f) { request_.file_name = std::move(f); }
  // True when the user chose a file; FileName then holds its absolute,
  // normalised path. Cancel leaves FileName as it was.
  bool Execute();

 private:
  OpenFileRequest request_;
};

struct SelectDirOptions {
  bool allow_create = false;    // a directory that does not exist may be typed
  bool perform_create = false;  // ... and is created, with its parents
  bool prompt = false;          // ... after "Create it?" is answered Yes
};

// The "Select Directory" dialog with its "Directory &Name:" field and
// "&Directories:" list, opened on `directory`. On OK with a directory that
// does not exist: without allow_create the dialog stays open; with it and
// prompt, the box "The specified directory does not exist. Create it?"
// (Yes/No) asks first, and No keeps the dialog open; with perform_create
// it is made (a failure throws). True when a directory was chosen:
// `directory` then holds it, absolute, without a trailing "/" (the root
// stays "/").
HALV_EXPORT bool SelectDirectory(std::string& directory, SelectDirOptions options = {});

extern const char* const kCreateDirectoryQuestion;

// For tests: while alive, answers the open-file and directory dialogs from
// queues and records every request. An empty queue means Cancel. Restores
// the previous handlers when destroyed.
class HALV_EXPORT DialogScript {
 public:
  DialogScript();
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  void AnswerOpenFile(std::string path);
  void CancelOpenFile();
  void AnswerDirectory(std::string path);
  void CancelDirectory();

  const std::vector<OpenFileRequest>& OpenFileRequests() const;
  const std::vector<DirectoryRequest>& DirectoryRequests() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  OpenFileHandler previous_open_;
  DirectoryHandler previous_dir_;
};

// ---------------------------------------------------------------------------
// The find dialog

enum FindOption : unsigned {
  frDown = 1u << 0,
  frMatchCase = 1u << 1,
  frWholeWord = 1u << 2,
  frHideMatchCase = 1u << 3,
  frHideWholeWord = 1u << 4,
  frHideUpDown = 1u << 5,
};

// Non-modal: Execute opens it and returns; each "Find Next" the user
// presses fires OnFind with the text typed; it stays open until the user
// closes it or code calls CloseDialog.
class HALV_EXPORT FindDialog : public Component {
 public:
  explicit FindDialog(Component* owner, std::string name = {});
  const std::string& FindText() const { return find_text_; }
  void SetFindText(std::string text);
  unsigned Options() const { return options_; }
  void SetOptions(unsigned options) { options_ = options; }
  bool Visible() const { return visible_; }
  bool Execute();
  void CloseDialog();

  NotifyEvent OnFind;
  NotifyEvent OnClose;

 protected:
  void HandleInput(const Input& input) override;

 private:
  std::string find_text_;
  unsigned options_ = frDown;
  bool visible_ = false;
};

}  // namespace platform::ui
