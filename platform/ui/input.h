// User input as messages.
//
// Everything a user does (click, type, choose, double click, close box,
// menu choice, resizing a window) is posted into the program's queue and
// takes effect when the loop dispatches it, so that input obeys the loop's
// rules: a nested pump or a modal loop dispatches it in order with the
// rest, and socket handlers never nest because of it. A front end calls
// these functions for the input it collects; tests call them and pump.
//
// The messages go to one input window of the layer, wParam naming the
// target component by its id, so a target freed meanwhile is skipped.
// Their identifiers lie in 0x0390..0x03A1, inside the range the nested pump
// dispatches and far from the socket and completion range
// WM_USER..WM_USER+9. WM_CLOSE to a form's own handle (a signal's close)
// closes the form as well.
//
// At dispatch an action on a control that is hidden, disabled, on a hidden
// page or on a form disabled by a modal form is dropped: a user could not
// have done it. A click, choice or keystroke on a control that takes the
// focus moves the focus there first, so the control left sees its exit
// (a number field corrects its value) before the new one acts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/msgloop.h"

namespace platform::ui {

class Component;
class Control;
class Form;
class ListBox;
class StringGrid;
class SpinEdit;
class MenuItem;
class PopupMenu;
class DirectoryTree;
class FindDialog;
class PaintBox;

enum class WindowState;

constexpr UINT kUiClick = 0x0390;            // lParam unused
constexpr UINT kUiDblClick = 0x0391;         // lParam: item index (lists), packed cell (grids)
constexpr UINT kUiChar = 0x0392;             // lParam: the character (8 = backspace)
constexpr UINT kUiSetText = 0x0393;          // lParam: payload (the whole new text)
constexpr UINT kUiKey = 0x0394;              // lParam: key code below
constexpr UINT kUiFocus = 0x0395;            // the user moves the focus here
constexpr UINT kUiSelect = 0x0396;           // lParam: item, tab or page index
constexpr UINT kUiToggleSelect = 0x0397;     // lParam: item index (multi-select lists)
constexpr UINT kUiMenuCommand = 0x0398;      // wParam: the menu item
constexpr UINT kUiContextMenu = 0x0399;      // right button: an auto pop-up menu opens
constexpr UINT kUiCloseBox = 0x039A;         // a window's close box; a pop-up menu dismissed
constexpr UINT kUiResize = 0x039B;           // lParam: packed outer width and height
constexpr UINT kUiMove = 0x039C;             // lParam: packed left and top
constexpr UINT kUiWindowState = 0x039D;      // lParam: WindowState
constexpr UINT kUiChooseDirectory = 0x039E;  // lParam: payload (the path)
constexpr UINT kUiRelease = 0x039F;          // a form's deferred free
constexpr UINT kUiSelectCell = 0x03A0;       // lParam: packed cell
constexpr UINT kUiPaint = 0x03A1;            // a paint box's exposure
constexpr UINT kUiScriptStep = 0x03A2;       // the headless console's next command

// Key codes (the virtual-key numbers).
constexpr int kKeyBack = 0x08;
constexpr int kKeyTab = 0x09;
constexpr int kKeyReturn = 0x0D;
constexpr int kKeyEscape = 0x1B;
constexpr int kKeySpace = 0x20;
constexpr int kKeyPageUp = 0x21;
constexpr int kKeyPageDown = 0x22;
constexpr int kKeyEnd = 0x23;
constexpr int kKeyHome = 0x24;
constexpr int kKeyLeft = 0x25;
constexpr int kKeyUp = 0x26;
constexpr int kKeyRight = 0x27;
constexpr int kKeyDown = 0x28;
// Added to a key code when Ctrl or Shift is held.
constexpr int kKeyCtrl = 0x10000;
constexpr int kKeyShift = 0x20000;

// Where a moving key takes the current item of a list of `count` items
// showing `page` rows: Up, Down, Home, End, Page Up and Page Down (Left and
// Right as Up and Down); from no current item any of them goes to the first.
// -1 when the list is empty or the key is not one of these.
int ListKeyTarget(int key, int current, int count, int page);
// Whether ListKeyTarget moves by key.
bool IsListMovingKey(int key);

// Two 16-bit numbers in one lParam (a cell's column and row, a size).
constexpr LPARAM PackPair(int low, int high) {
  return static_cast<LPARAM>((static_cast<uint32_t>(high) & 0xFFFF) << 16 | (static_cast<uint32_t>(low) & 0xFFFF));
}
// Each half reads back as a signed 16-bit number.
constexpr int PairLow(LPARAM v) { return static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFF); }
constexpr int PairHigh(LPARAM v) { return static_cast<int16_t>((static_cast<uint32_t>(v) >> 16) & 0xFFFF); }

// A user action as a component receives it.
struct Input {
  UINT message = 0;
  LPARAM arg = 0;
  std::string text;  // the payload of kUiSetText and kUiChooseDirectory
};

// The window the input messages go to (created on first use).
HWND InputWindow();

// Posts one action; true when it was queued.
HALV_EXPORT bool PostInput(UINT message, const Component& target, LPARAM arg = 0);
bool PostInputText(UINT message, const Component& target, std::string text);

// The actions by kind. Each posts; nothing happens before the loop
// dispatches.
HALV_EXPORT void PostClick(const Control& control);
void PostDblClick(const Control& control);
HALV_EXPORT void PostFocus(const Control& control);
// One kUiChar per character (each is a change of the text).
void PostType(const Control& control, std::string_view text);
// The whole text replaced at once (select all, then paste): one change.
HALV_EXPORT void PostReplaceText(const Control& control, std::string text);
HALV_EXPORT void PostKey(const Control& control, int key);
// Chooses item, tab or page `index` (list box, combo box, radio group, tab
// set, notebooks, drive box).
HALV_EXPORT void PostChoose(const Control& control, int index);
// Ctrl+click on an item of a multi-select list box.
HALV_EXPORT void PostToggleSelect(const ListBox& list, int index);
HALV_EXPORT void PostDblClickItem(const ListBox& list, int index);
HALV_EXPORT void PostSelectCell(const StringGrid& grid, int col, int row);
HALV_EXPORT void PostDblClickCell(const StringGrid& grid, int col, int row);
HALV_EXPORT void PostSpin(const SpinEdit& field, bool up);
HALV_EXPORT void PostMenu(const MenuItem& item);
HALV_EXPORT void PostContextMenu(const Control& control);
HALV_EXPORT void PostDismissPopup(const PopupMenu& menu);
HALV_EXPORT void PostCloseBox(const Form& form);
HALV_EXPORT void PostResize(const Form& form, int width, int height);
HALV_EXPORT void PostMove(const Form& form, int left, int top);
void PostWindowState(const Form& form, WindowState state);
HALV_EXPORT void PostChooseDirectory(const DirectoryTree& tree, std::string path);
HALV_EXPORT void PostPaint(const PaintBox& box);
// The find dialog: its text typed, "Find Next" pressed, its close box.
HALV_EXPORT void PostFindText(const FindDialog& dialog, std::string text);
HALV_EXPORT void PostFindNext(const FindDialog& dialog);
HALV_EXPORT void PostCloseBox(const FindDialog& dialog);

// Called by the input window for each of its messages.
void DispatchInput(uint32_t message, uint64_t target, intptr_t arg);

}  // namespace platform::ui
