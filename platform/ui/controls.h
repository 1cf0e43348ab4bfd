// The standard controls: panel, label, group box, buttons, edits, check
// boxes, radio buttons and groups, list and combo boxes, memo, gauge, image.
//
// Event rules (those of the class library the forms were written for):
//  - a check box's click toggles it and fires OnClick; setting Checked from
//    code fires OnClick too when the state changes;
//  - a radio button fires OnClick when it becomes checked (by a click or by
//    code) and unchecks the radio buttons beside it, which fire nothing;
//  - an edit fires OnChange whenever its text changes, typed or set;
//    CharCase and MaxLength act on what the user types, not on code;
//  - a list box fires OnClick for each item the user clicks (the item is
//    selected first) and OnDblClick after that click for a double click;
//    setting ItemIndex from code fires nothing;
//  - a combo box fires OnChange when the user chooses another item; code
//    setting ItemIndex fires nothing;
//  - a radio group fires OnClick when its ItemIndex changes, by the user or
//    by code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/ui/component.h"

namespace platform::ui {

enum class Alignment { Left, Right, Center };
enum class Bevel { None, Lowered, Raised };

class HALV_EXPORT Panel : public Control {
 public:
  Panel(Component* owner, Control* parent, std::string name = {});
  Bevel BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(Bevel bevel);
  Bevel BevelInner() const { return bevel_inner_; }
  void SetBevelInner(Bevel bevel);
  int BevelWidth() const { return bevel_width_; }
  void SetBevelWidth(int width);

 private:
  Bevel bevel_outer_ = Bevel::Raised;
  Bevel bevel_inner_ = Bevel::None;
  int bevel_width_ = 1;
};

class HALV_EXPORT GroupBox : public Control {
 public:
  GroupBox(Component* owner, Control* parent, std::string name = {});
};

class HALV_EXPORT Label : public Control {
 public:
  Label(Component* owner, Control* parent, std::string name = {});
  Alignment GetAlignment() const { return alignment_; }
  void SetAlignment(Alignment alignment);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool on);

 private:
  Alignment alignment_ = Alignment::Left;
  bool transparent_ = false;
};

// A push button. A click sets the form's modal result to the button's
// (when not mrNone), then fires OnClick. Enter on the form presses the
// default button (or the focused button), Esc the cancel button.
class HALV_EXPORT Button : public Control {
 public:
  // Ok: the standard OK button with its check-mark picture (caption "OK",
  // modal result mrOk, default button).
  enum class Kind { Custom, Ok };

  Button(Component* owner, Control* parent, std::string name = {});
  bool Default() const { return default_; }
  void SetDefault(bool on);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool on);
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  Kind GetKind() const { return kind_; }
  void SetKind(Kind kind);
  // The name of its picture ("check" for Kind::Ok, empty for none).
  const std::string& Glyph() const { return glyph_; }

  bool TakesFocus() const override { return true; }

 protected:
  void DoClick() override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modal_result_ = 0;
  Kind kind_ = Kind::Custom;
  std::string glyph_;
};

// A tool-bar button with a picture and a hint; it never takes the focus.
class HALV_EXPORT SpeedButton : public Control {
 public:
  SpeedButton(Component* owner, Control* parent, std::string name = {});
  const std::string& Glyph() const { return glyph_; }
  // The picture by name; num_glyphs pictures side by side (up, disabled...).
  void SetGlyph(std::string glyph, int num_glyphs = 1);
  int NumGlyphs() const { return num_glyphs_; }

 private:
  std::string glyph_;
  int num_glyphs_ = 1;
};

enum class CharCase { Normal, Upper, Lower };

class HALV_EXPORT Edit : public Control {
 public:
  Edit(Component* owner, Control* parent, std::string name = {});
  const std::string& Text() const { return text_; }
  // Fires OnChange when the text differs.
  void SetText(std::string text);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool on);
  CharCase GetCharCase() const { return char_case_; }
  void SetCharCase(CharCase c) { char_case_ = c; }
  // 0: no limit.
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int n) { max_length_ = n < 0 ? 0 : n; }

  bool TakesFocus() const override { return true; }

  NotifyEvent OnChange;

 protected:
  void UserInput(const Input& input) override;
  virtual void DoChange();
  // Typed text through CharCase, cut to what MaxLength leaves room for
  // beside `kept` characters.
  std::string Typed(std::string_view text, size_t kept) const;

 private:
  std::string text_;
  bool read_only_ = false;
  CharCase char_case_ = CharCase::Normal;
  int max_length_ = 0;
};

// A number field with up and down arrows. The text is typed freely; the
// arrows step the value within the bounds, and when the field is left a
// number outside them is replaced by the nearest bound (a text that is no
// number stays as it is). Bounds apply only when MaxValue differs from
// MinValue.
class HALV_EXPORT SpinEdit : public Edit {
 public:
  SpinEdit(Component* owner, Control* parent, std::string name = {});
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  void SetMinValue(int v) { min_ = v; }
  void SetMaxValue(int v) { max_ = v; }
  int Increment() const { return increment_; }
  void SetIncrement(int v) { increment_ = v; }
  // The text as a number; MinValue when it is none.
  int Value() const;
  void SetValue(int value);

 protected:
  void UserInput(const Input& input) override;
  void DoExit() override;

 private:
  int Checked(int value) const;

  int min_ = 0;
  int max_ = 0;
  int increment_ = 1;
};

class HALV_EXPORT CheckBox : public Control {
 public:
  CheckBox(Component* owner, Control* parent, std::string name = {});
  bool Checked() const { return checked_; }
  void SetChecked(bool on);
  bool TakesFocus() const override { return true; }

 protected:
  void UserClick() override;

 private:
  bool checked_ = false;
};

class HALV_EXPORT RadioButton : public Control {
 public:
  RadioButton(Component* owner, Control* parent, std::string name = {});
  bool Checked() const { return checked_; }
  void SetChecked(bool on);
  bool TakesFocus() const override { return true; }

 protected:
  void UserClick() override;

 private:
  bool checked_ = false;
};

// A framed group of radio choices, one item chosen (or none: -1).
class HALV_EXPORT RadioGroup : public Control {
 public:
  RadioGroup(Component* owner, Control* parent, std::string name = {});
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);
  void AddItem(std::string item);
  // Removes an item; the chosen one moves with its item, or goes.
  void DeleteItem(int index);
  int ItemIndex() const { return item_index_; }
  void SetItemIndex(int index);
  int Columns() const { return columns_; }
  void SetColumns(int n);
  bool TakesFocus() const override { return true; }

 protected:
  void UserInput(const Input& input) override;

 private:
  std::vector<std::string> items_;
  int item_index_ = -1;
  int columns_ = 1;
};

// The items of a list box: texts, each with an optional object the list
// keeps alive until the item goes.
struct ListItem {
  std::string text;
  std::shared_ptr<void> object;
  bool selected = false;
};

class HALV_EXPORT ListBox : public Control {
 public:
  ListBox(Component* owner, Control* parent, std::string name = {});

  int Count() const { return static_cast<int>(items_.size()); }
  // "" outside the list.
  const std::string& Item(int index) const;
  std::vector<std::string> Texts() const;
  // Adds at the end, or in its sorted place; returns the index.
  int Add(std::string text, std::shared_ptr<void> object = nullptr);
  // Ignored outside 0..Count().
  void Insert(int index, std::string text, std::shared_ptr<void> object = nullptr);
  void Delete(int index);
  void Clear();
  // The first item of that text (ASCII case ignored), or -1.
  int IndexOf(std::string_view text) const;
  const std::shared_ptr<void>& Object(int index) const;
  template <class T>
  T* ObjectAs(int index) const {
    return static_cast<T*>(Object(index).get());
  }

  // Sorted lists keep their items in ASCII case-insensitive order.
  bool Sorted() const { return sorted_; }
  void SetSorted(bool on);
  bool MultiSelect() const { return multi_select_; }
  void SetMultiSelect(bool on);

  // The current item (in a multi-select list: the one with the focus frame).
  int ItemIndex() const { return item_index_; }
  void SetItemIndex(int index);
  bool Selected(int index) const;
  void SetSelected(int index, bool on);
  int SelCount() const;

  int ItemHeight() const { return item_height_; }
  void SetItemHeight(int h) { item_height_ = h; }

  bool TakesFocus() const override { return true; }

 protected:
  void UserInput(const Input& input) override;
  void UserClick() override {}  // a click on no item does nothing

 private:
  void ClickItem(int index, bool toggle);
  // True when the key was the list's own.
  bool UserKey(int key);
  void Resort();

  std::vector<ListItem> items_;
  bool sorted_ = false;
  bool multi_select_ = false;
  int item_index_ = -1;
  int item_height_ = 16;
};

// A drop-down list the user chooses from (no typing).
class HALV_EXPORT ComboBox : public Control {
 public:
  ComboBox(Component* owner, Control* parent, std::string name = {});
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);
  int Add(std::string text);
  void Delete(int index);
  void Clear();
  int IndexOf(std::string_view text) const;
  bool Sorted() const { return sorted_; }
  void SetSorted(bool on);
  int ItemIndex() const { return item_index_; }
  void SetItemIndex(int index);
  // The chosen item's text; "" when none is chosen.
  std::string Text() const;
  bool TakesFocus() const override { return true; }

  NotifyEvent OnChange;

 protected:
  void UserInput(const Input& input) override;

 private:
  std::vector<std::string> items_;
  bool sorted_ = false;
  int item_index_ = -1;
};

enum class ScrollBars { None, Horizontal, Vertical, Both };

class HALV_EXPORT Memo : public Control {
 public:
  Memo(Component* owner, Control* parent, std::string name = {});
  const std::vector<std::string>& Lines() const { return lines_; }
  int Count() const { return static_cast<int>(lines_.size()); }
  void Add(std::string line);
  void Delete(int index);
  void Clear();
  // The lines joined with CR LF.
  std::string Text() const;
  // Between BeginUpdate and the matching EndUpdate the observers hear of
  // the lines once, at the end.
  void BeginUpdate();
  void EndUpdate();
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool on) { read_only_ = on; }
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool on) { word_wrap_ = on; }
  ScrollBars GetScrollBars() const { return scroll_bars_; }
  void SetScrollBars(ScrollBars s) { scroll_bars_ = s; }
  bool TakesFocus() const override { return true; }

 private:
  void LinesChanged();

  std::vector<std::string> lines_;
  int update_depth_ = 0;
  bool pending_ = false;
  bool read_only_ = false;
  bool word_wrap_ = true;
  ScrollBars scroll_bars_ = ScrollBars::None;
};

// A progress bar. Every change is announced at once ("Progress"), so a
// renderer shows it even while no loop runs.
class HALV_EXPORT Gauge : public Control {
 public:
  Gauge(Component* owner, Control* parent, std::string name = {});
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int Progress() const { return progress_; }
  void SetMinValue(int v);
  void SetMaxValue(int v);
  // Kept within MinValue..MaxValue.
  void SetProgress(int v);
  // 0..100.
  int PercentDone() const;
  Color ForeColor() const { return fore_color_; }
  void SetForeColor(Color c);

 private:
  int min_ = 0;
  int max_ = 100;
  int progress_ = 0;
  Color fore_color_ = clBlack;
};

// A picture: its size and where it came from; the pixels are the
// renderer's business.
struct Picture {
  std::string source;
  int width = 0;
  int height = 0;
};

class HALV_EXPORT Image : public Control {
 public:
  Image(Component* owner, Control* parent, std::string name = {});
  const Picture& GetPicture() const { return picture_; }
  void SetPicture(Picture picture);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool on) { stretch_ = on; }

 private:
  Picture picture_;
  bool stretch_ = false;
};

}  // namespace platform::ui
