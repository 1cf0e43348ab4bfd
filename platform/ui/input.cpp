#include "platform/ui/input.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/ui/canvas.h"
#include "platform/ui/component.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/filectrls.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/menus.h"

namespace platform::ui {
namespace {

// Texts travelling with kUiSetText and kUiChooseDirectory; lParam holds the
// key. Any thread may post, so the table has its lock.
struct Payloads {
  std::mutex mutex;
  uint64_t next = 0;
  std::unordered_map<uint64_t, std::string> texts;
};

Payloads& ThePayloads() {
  static auto* payloads = new Payloads;
  return *payloads;
}

bool CarriesText(UINT message) { return message == kUiSetText || message == kUiChooseDirectory; }

std::string TakePayload(LPARAM key) {
  Payloads& p = ThePayloads();
  std::lock_guard lock(p.mutex);
  auto it = p.texts.find(static_cast<uint64_t>(key));
  if (it == p.texts.end()) return {};
  std::string text = std::move(it->second);
  p.texts.erase(it);
  return text;
}

}  // namespace

HWND InputWindow() {
  static HWND hwnd = CreateWindowHandle([](const MSG& msg) { DispatchInput(msg.message, msg.wParam, msg.lParam); });
  return hwnd;
}

bool PostInput(UINT message, const Component& target, LPARAM arg) {
  return PostMessage(InputWindow(), message, static_cast<WPARAM>(target.Id()), arg);
}

bool PostInputText(UINT message, const Component& target, std::string text) {
  Payloads& p = ThePayloads();
  uint64_t key;
  {
    std::lock_guard lock(p.mutex);
    key = ++p.next;
    p.texts.emplace(key, std::move(text));
  }
  if (PostInput(message, target, static_cast<LPARAM>(key))) return true;
  TakePayload(static_cast<LPARAM>(key));
  return false;
}

void DispatchInput(uint32_t message, uint64_t target, intptr_t arg) {
  Input input;
  input.message = message;
  input.arg = arg;
  if (CarriesText(message)) input.text = TakePayload(arg);
  Component* component = Component::FromId(target);
  if (!component) return;  // freed since the action was posted
  if (message == kUiRelease) {
    Free(component);
    return;
  }
  component->HandleInput(input);
}

bool IsListMovingKey(int key) { return ListKeyTarget(key, -1, 1, 1) == 0; }

int ListKeyTarget(int key, int current, int count, int page) {
  if (count <= 0) return -1;
  int last = count - 1;
  int step = std::max(1, page - 1);
  int target;
  switch (key) {
    case kKeyUp:
    case kKeyLeft: target = current - 1; break;
    case kKeyDown:
    case kKeyRight: target = current + 1; break;
    case kKeyPageUp: target = current - step; break;
    case kKeyPageDown: target = current + step; break;
    case kKeyHome: return 0;
    case kKeyEnd: return last;
    default: return -1;
  }
  return current < 0 ? 0 : std::clamp(target, 0, last);
}

void PostClick(const Control& control) { PostInput(kUiClick, control); }
void PostDblClick(const Control& control) { PostInput(kUiDblClick, control, -1); }
void PostFocus(const Control& control) { PostInput(kUiFocus, control); }

void PostType(const Control& control, std::string_view text) {
  for (char c : text) PostInput(kUiChar, control, static_cast<unsigned char>(c));
}

void PostReplaceText(const Control& control, std::string text) {
  PostInputText(kUiSetText, control, std::move(text));
}

void PostKey(const Control& control, int key) { PostInput(kUiKey, control, key); }
void PostChoose(const Control& control, int index) { PostInput(kUiSelect, control, index); }
void PostToggleSelect(const ListBox& list, int index) { PostInput(kUiToggleSelect, list, index); }
void PostDblClickItem(const ListBox& list, int index) { PostInput(kUiDblClick, list, index); }
void PostSelectCell(const StringGrid& grid, int col, int row) { PostInput(kUiSelectCell, grid, PackPair(col, row)); }
void PostDblClickCell(const StringGrid& grid, int col, int row) { PostInput(kUiDblClick, grid, PackPair(col, row)); }
void PostSpin(const SpinEdit& field, bool up) { PostInput(kUiKey, field, up ? kKeyUp : kKeyDown); }
void PostMenu(const MenuItem& item) { PostInput(kUiMenuCommand, item); }

void PostContextMenu(const Control& control) {
  PostInput(kUiContextMenu, control, PackPair(control.Width() / 2, control.Height() / 2));
}

void PostDismissPopup(const PopupMenu& menu) { PostInput(kUiCloseBox, menu); }
void PostCloseBox(const Form& form) { PostInput(kUiCloseBox, form); }
void PostResize(const Form& form, int width, int height) { PostInput(kUiResize, form, PackPair(width, height)); }
void PostMove(const Form& form, int left, int top) { PostInput(kUiMove, form, PackPair(left, top)); }
void PostWindowState(const Form& form, WindowState state) {
  PostInput(kUiWindowState, form, static_cast<LPARAM>(state));
}
void PostChooseDirectory(const DirectoryTree& tree, std::string path) {
  PostInputText(kUiChooseDirectory, tree, std::move(path));
}
void PostPaint(const PaintBox& box) { PostInput(kUiPaint, box); }
void PostFindText(const FindDialog& dialog, std::string text) { PostInputText(kUiSetText, dialog, std::move(text)); }
void PostFindNext(const FindDialog& dialog) { PostInput(kUiClick, dialog); }
void PostCloseBox(const FindDialog& dialog) { PostInput(kUiCloseBox, dialog); }

}  // namespace platform::ui
