#include "platform/ui/controls.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "platform/ui/form.h"
#include "platform/ui/input.h"

namespace platform::ui {
namespace {

const std::string& EmptyString() {
  static const std::string empty;
  return empty;
}

bool ValidIndex(int index, size_t count) { return index >= 0 && static_cast<size_t>(index) < count; }

// Removes item `index` of a list with a chosen item: the choice goes with
// its item and moves down with the ones behind it. False for a bad index.
template <class Item>
bool EraseItem(std::vector<Item>& items, int& item_index, int index) {
  if (!ValidIndex(index, items.size())) return false;
  items.erase(items.begin() + index);
  if (item_index == index)
    item_index = -1;
  else if (item_index > index)
    --item_index;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

Panel::Panel(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void Panel::SetBevelOuter(Bevel bevel) { Assign(bevel_outer_, bevel, "Bevel"); }

void Panel::SetBevelInner(Bevel bevel) { Assign(bevel_inner_, bevel, "Bevel"); }

void Panel::SetBevelWidth(int width) {
  width = std::max(1, width);
  if (width == bevel_width_) return;
  bevel_width_ = width;
  Changed("Bevel");
}

GroupBox::GroupBox(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

Label::Label(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void Label::SetAlignment(Alignment alignment) { Assign(alignment_, alignment, "Alignment"); }

void Label::SetTransparent(bool on) { Assign(transparent_, on, "Transparent"); }

// ---------------------------------------------------------------------------

Button::Button(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void Button::SetDefault(bool on) { Assign(default_, on, "Default"); }

void Button::SetCancel(bool on) { Assign(cancel_, on, "Cancel"); }

void Button::SetKind(Kind kind) {
  kind_ = kind;
  if (kind == Kind::Ok) {
    SetCaption("OK");
    modal_result_ = mrOk;
    SetDefault(true);
    glyph_ = "check";
  } else {
    glyph_.clear();
  }
  Changed("Glyph");
}

void Button::DoClick() {
  if (modal_result_ != mrNone) {
    if (Form* form = ParentForm()) form->SetModalResult(modal_result_);
  }
  Control::DoClick();
}

SpeedButton::SpeedButton(Component* owner, Control* parent, std::string name)
    : Control(owner, parent, std::move(name)) {}

void SpeedButton::SetGlyph(std::string glyph, int num_glyphs) {
  glyph_ = std::move(glyph);
  num_glyphs_ = std::max(1, num_glyphs);
  Changed("Glyph");
}

// ---------------------------------------------------------------------------

Edit::Edit(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {
  SetColor(clWindow);
}

void Edit::SetText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  Changed("Text");
  DoChange();
}

void Edit::SetReadOnly(bool on) { Assign(read_only_, on, "ReadOnly"); }

void Edit::DoChange() {
  if (OnChange) OnChange(*this);
}

std::string Edit::Typed(std::string_view text, size_t kept) const {
  // A single-line field takes a pasted text up to its first line break.
  size_t eol = text.find_first_of("\r\n");
  std::string s(text.substr(0, eol));
  if (char_case_ == CharCase::Upper) s = UpperCase(s);
  if (char_case_ == CharCase::Lower) s = LowerCase(s);
  if (max_length_ > 0) {
    size_t room = kept >= static_cast<size_t>(max_length_) ? 0 : max_length_ - kept;
    if (s.size() > room) s.resize(room);
  }
  return s;
}

void Edit::UserInput(const Input& input) {
  switch (input.message) {
    case kUiChar: {
      if (read_only_) return;
      char ch = static_cast<char>(input.arg);
      if (ch == static_cast<char>(kKeyBack)) {
        if (text_.empty()) return;
        std::string s = text_;
        s.pop_back();
        SetText(std::move(s));
        return;
      }
      if (static_cast<unsigned char>(ch) < 32) return;
      std::string typed = Typed(std::string(1, ch), text_.size());
      if (!typed.empty()) SetText(text_ + typed);
      return;
    }
    case kUiSetText:
      if (!read_only_) SetText(Typed(input.text, 0));
      return;
    default:
      Control::UserInput(input);
  }
}

// ---------------------------------------------------------------------------

SpinEdit::SpinEdit(Component* owner, Control* parent, std::string name) : Edit(owner, parent, std::move(name)) {
  SetText("0");
}

int SpinEdit::Value() const {
  const std::string& t = Text();
  size_t b = t.find_first_not_of(' ');
  size_t e = t.find_last_not_of(' ');
  if (b == std::string::npos) return min_;
  std::string_view s(t.data() + b, e - b + 1);
  bool negative = false;
  if (s.front() == '+' || s.front() == '-') {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 10) return min_;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return min_;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return min_;
  return static_cast<int>(v);
}

int SpinEdit::Checked(int value) const {
  if (max_ == min_) return value;
  return std::clamp(value, std::min(min_, max_), std::max(min_, max_));
}

void SpinEdit::SetValue(int value) { SetText(std::to_string(Checked(value))); }

void SpinEdit::UserInput(const Input& input) {
  if (input.message == kUiKey && (input.arg == kKeyUp || input.arg == kKeyDown)) {
    if (ReadOnly()) return;
    long long v = static_cast<long long>(Value()) + (input.arg == kKeyUp ? increment_ : -increment_);
    SetValue(static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)));
    return;
  }
  if (input.message == kUiChar) {
    // Typing takes digits and signs only; a paste is not filtered.
    char ch = static_cast<char>(input.arg);
    bool control = static_cast<unsigned char>(ch) < 32;
    if (!control && !std::isdigit(static_cast<unsigned char>(ch)) && ch != '+' && ch != '-') return;
  }
  Edit::UserInput(input);
}

void SpinEdit::DoExit() {
  int v = Value();
  if (Checked(v) != v) SetValue(v);
  Edit::DoExit();
}

// ---------------------------------------------------------------------------

CheckBox::CheckBox(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void CheckBox::SetChecked(bool on) {
  if (on == checked_) return;
  checked_ = on;
  Changed("Checked");
  DoClick();
}

void CheckBox::UserClick() { SetChecked(!checked_); }

RadioButton::RadioButton(Component* owner, Control* parent, std::string name)
    : Control(owner, parent, std::move(name)) {}

void RadioButton::SetChecked(bool on) {
  if (on == checked_) return;
  checked_ = on;
  Changed("Checked");
  if (!on) return;
  if (Control* parent = Parent()) {
    for (Control* c : parent->Controls()) {
      auto* sibling = dynamic_cast<RadioButton*>(c);
      if (!sibling || sibling == this || !sibling->checked_) continue;
      sibling->checked_ = false;
      sibling->Changed("Checked");
    }
  }
  DoClick();
}

void RadioButton::UserClick() { SetChecked(true); }

RadioGroup::RadioGroup(Component* owner, Control* parent, std::string name)
    : Control(owner, parent, std::move(name)) {}

void RadioGroup::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  if (!ValidIndex(item_index_, items_.size())) item_index_ = -1;
  Changed("Items");
}

void RadioGroup::AddItem(std::string item) {
  items_.push_back(std::move(item));
  Changed("Items");
}

void RadioGroup::DeleteItem(int index) {
  if (!EraseItem(items_, item_index_, index)) return;
  Changed("Items");
}

void RadioGroup::SetItemIndex(int index) {
  if (index != -1 && !ValidIndex(index, items_.size())) return;
  if (index == item_index_) return;
  item_index_ = index;
  Changed("ItemIndex");
  DoClick();
}

void RadioGroup::SetColumns(int n) {
  n = std::max(1, n);
  if (n == columns_) return;
  columns_ = n;
  Changed("Columns");
}

void RadioGroup::UserInput(const Input& input) {
  if (input.message == kUiSelect) {
    if (ValidIndex(static_cast<int>(input.arg), items_.size())) SetItemIndex(static_cast<int>(input.arg));
    return;
  }
  Control::UserInput(input);
}

// ---------------------------------------------------------------------------

ListBox::ListBox(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {
  SetColor(clWindow);
}

const std::string& ListBox::Item(int index) const {
  return ValidIndex(index, items_.size()) ? items_[index].text : EmptyString();
}

std::vector<std::string> ListBox::Texts() const {
  std::vector<std::string> texts;
  texts.reserve(items_.size());
  for (const ListItem& item : items_) texts.push_back(item.text);
  return texts;
}

int ListBox::Add(std::string text, std::shared_ptr<void> object) {
  int pos = Count();
  if (sorted_) {
    auto it = std::upper_bound(items_.begin(), items_.end(), text,
                               [](const std::string& t, const ListItem& item) { return CompareText(t, item.text) < 0; });
    pos = static_cast<int>(it - items_.begin());
  }
  items_.insert(items_.begin() + pos, ListItem{std::move(text), std::move(object), false});
  if (item_index_ >= pos) ++item_index_;
  Changed("Items");
  return pos;
}

void ListBox::Insert(int index, std::string text, std::shared_ptr<void> object) {
  if (index < 0 || index > Count()) return;
  if (sorted_) {  // a sorted list keeps its order
    Add(std::move(text), std::move(object));
    return;
  }
  items_.insert(items_.begin() + index, ListItem{std::move(text), std::move(object), false});
  if (item_index_ >= index) ++item_index_;
  Changed("Items");
}

void ListBox::Delete(int index) {
  if (!EraseItem(items_, item_index_, index)) return;
  Changed("Items");
}

void ListBox::Clear() {
  if (items_.empty() && item_index_ == -1) return;
  items_.clear();
  item_index_ = -1;
  Changed("Items");
}

int ListBox::IndexOf(std::string_view text) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameText(items_[i].text, text)) return static_cast<int>(i);
  return -1;
}

const std::shared_ptr<void>& ListBox::Object(int index) const {
  static const std::shared_ptr<void> none;
  return ValidIndex(index, items_.size()) ? items_[index].object : none;
}

void ListBox::Resort() {
  const ListItem* current = ValidIndex(item_index_, items_.size()) ? &items_[item_index_] : nullptr;
  std::vector<size_t> order(items_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [this](size_t a, size_t b) { return CompareText(items_[a].text, items_[b].text) < 0; });
  std::vector<ListItem> sorted;
  sorted.reserve(items_.size());
  int new_index = -1;
  for (size_t i : order) {
    if (&items_[i] == current) new_index = static_cast<int>(sorted.size());
    sorted.push_back(std::move(items_[i]));
  }
  items_ = std::move(sorted);
  item_index_ = new_index;
  Changed("Items");
}

void ListBox::SetSorted(bool on) {
  if (on == sorted_) return;
  sorted_ = on;
  if (on) Resort();
}

void ListBox::SetMultiSelect(bool on) {
  if (on == multi_select_) return;
  multi_select_ = on;
  for (ListItem& item : items_) item.selected = false;
  Changed("Selected");
}

void ListBox::SetItemIndex(int index) {
  if (!ValidIndex(index, items_.size())) index = -1;
  if (index == item_index_) return;
  item_index_ = index;
  Changed("ItemIndex");
}

bool ListBox::Selected(int index) const {
  if (!ValidIndex(index, items_.size())) return false;
  return multi_select_ ? items_[index].selected : index == item_index_;
}

void ListBox::SetSelected(int index, bool on) {
  if (!ValidIndex(index, items_.size())) return;
  if (multi_select_) {
    if (items_[index].selected == on) return;
    items_[index].selected = on;
    Changed("Selected");
  } else if (on) {
    SetItemIndex(index);
  } else if (index == item_index_) {
    SetItemIndex(-1);
  }
}

int ListBox::SelCount() const {
  if (!multi_select_) return item_index_ >= 0 ? 1 : 0;
  return static_cast<int>(std::count_if(items_.begin(), items_.end(), [](const ListItem& i) { return i.selected; }));
}

void ListBox::ClickItem(int index, bool toggle) {
  if (!ValidIndex(index, items_.size())) return;
  if (multi_select_) {
    if (toggle) {
      items_[index].selected = !items_[index].selected;
    } else {
      for (ListItem& item : items_) item.selected = false;
      items_[index].selected = true;
    }
    Changed("Selected");
  }
  if (item_index_ != index) {
    item_index_ = index;
    Changed("ItemIndex");
  }
  DoClick();
}

void ListBox::UserInput(const Input& input) {
  int index = static_cast<int>(input.arg);
  switch (input.message) {
    case kUiSelect:
      ClickItem(index, false);
      return;
    case kUiToggleSelect:
      ClickItem(index, multi_select_);
      return;
    case kUiDblClick:
      ClickItem(index, false);
      DoDblClick();
      return;
    case kUiKey:
      if (!UserKey(index)) Control::UserInput(input);
      return;
    default:
      Control::UserInput(input);
  }
}

// The platform's extended-selection keyboard: a moving key makes its item
// the current one and, as a click on it would, the only one selected; with
// Ctrl a multi-select list moves only its focus frame. Space chooses the
// focused item alone, Ctrl+Space toggles it. A key that changes nothing
// runs no handler.
bool ListBox::UserKey(int key) {
  bool ctrl = (key & kKeyCtrl) != 0;
  key &= ~kKeyCtrl;
  if (key == kKeySpace) {
    if (multi_select_ && ValidIndex(item_index_, items_.size())) {
      if (ctrl || SelCount() != 1 || !Selected(item_index_)) ClickItem(item_index_, ctrl);
    }
    return true;
  }
  if (!IsListMovingKey(key)) return false;
  int target = ListKeyTarget(key, item_index_, Count(), ClientHeight() / std::max(1, item_height_));
  if (target < 0) return true;
  if (multi_select_ && ctrl) {
    SetItemIndex(target);
  } else if (target != item_index_ || (multi_select_ && (SelCount() != 1 || !Selected(target)))) {
    ClickItem(target, false);
  }
  return true;
}

// ---------------------------------------------------------------------------

ComboBox::ComboBox(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {
  SetColor(clWindow);
}

void ComboBox::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  if (sorted_)
    std::stable_sort(items_.begin(), items_.end(),
                     [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  item_index_ = -1;
  Changed("Items");
}

int ComboBox::Add(std::string text) {
  int pos = static_cast<int>(items_.size());
  if (sorted_) {
    auto it = std::upper_bound(items_.begin(), items_.end(), text,
                               [](const std::string& t, const std::string& item) { return CompareText(t, item) < 0; });
    pos = static_cast<int>(it - items_.begin());
  }
  items_.insert(items_.begin() + pos, std::move(text));
  if (item_index_ >= pos) ++item_index_;
  Changed("Items");
  return pos;
}

void ComboBox::Delete(int index) {
  if (!EraseItem(items_, item_index_, index)) return;
  Changed("Items");
}

void ComboBox::Clear() {
  items_.clear();
  item_index_ = -1;
  Changed("Items");
}

int ComboBox::IndexOf(std::string_view text) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameText(items_[i], text)) return static_cast<int>(i);
  return -1;
}

void ComboBox::SetSorted(bool on) {
  if (on == sorted_) return;
  sorted_ = on;
  if (!on) return;
  std::string current = Text();
  bool had = item_index_ >= 0;
  std::stable_sort(items_.begin(), items_.end(),
                   [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  if (had) item_index_ = static_cast<int>(std::find(items_.begin(), items_.end(), current) - items_.begin());
  Changed("Items");
}

void ComboBox::SetItemIndex(int index) {
  if (!ValidIndex(index, items_.size())) index = -1;
  if (index == item_index_) return;
  item_index_ = index;
  Changed("ItemIndex");
}

std::string ComboBox::Text() const { return item_index_ >= 0 ? items_[item_index_] : std::string(); }

void ComboBox::UserInput(const Input& input) {
  if (input.message == kUiSelect) {
    int index = static_cast<int>(input.arg);
    if (!ValidIndex(index, items_.size()) || index == item_index_) return;
    SetItemIndex(index);
    if (OnChange) OnChange(*this);
    return;
  }
  Control::UserInput(input);
}

// ---------------------------------------------------------------------------

Memo::Memo(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {
  SetColor(clWindow);
}

void Memo::Add(std::string line) {
  // Line breaks inside the text start new lines, as in the edit control.
  size_t start = 0;
  for (;;) {
    size_t brk = line.find_first_of("\r\n", start);
    if (brk == std::string::npos) {
      lines_.push_back(line.substr(start));
      break;
    }
    lines_.push_back(line.substr(start, brk - start));
    start = brk + (line.compare(brk, 2, "\r\n") == 0 ? 2 : 1);
  }
  LinesChanged();
}

void Memo::Delete(int index) {
  if (!ValidIndex(index, lines_.size())) return;
  lines_.erase(lines_.begin() + index);
  LinesChanged();
}

void Memo::Clear() {
  lines_.clear();
  LinesChanged();
}

std::string Memo::Text() const {
  std::string text;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) text += "\r\n";
    text += lines_[i];
  }
  return text;
}

void Memo::BeginUpdate() { ++update_depth_; }

void Memo::EndUpdate() {
  if (update_depth_ == 0) return;
  if (--update_depth_ == 0 && pending_) {
    pending_ = false;
    Changed("Lines");
  }
}

void Memo::LinesChanged() {
  if (update_depth_ > 0)
    pending_ = true;
  else
    Changed("Lines");
}

// ---------------------------------------------------------------------------

Gauge::Gauge(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void Gauge::SetMinValue(int v) {
  min_ = v;
  if (max_ < min_) max_ = min_;
  progress_ = std::clamp(progress_, min_, max_);
  Changed("Progress");
}

void Gauge::SetMaxValue(int v) {
  max_ = v;
  if (min_ > max_) min_ = max_;
  progress_ = std::clamp(progress_, min_, max_);
  Changed("Progress");
}

void Gauge::SetProgress(int v) {
  v = std::clamp(v, min_, max_);
  if (v == progress_) return;
  progress_ = v;
  Changed("Progress");
}

int Gauge::PercentDone() const {
  if (max_ == min_) return 0;
  return static_cast<int>((static_cast<long long>(progress_) - min_) * 100 / (static_cast<long long>(max_) - min_));
}

void Gauge::SetForeColor(Color c) { Assign(fore_color_, c, "ForeColor"); }

Image::Image(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void Image::SetPicture(Picture picture) {
  picture_ = std::move(picture);
  Changed("Picture");
}

}  // namespace platform::ui
