#include "platform/ui/pages.h"

#include "platform/ui/input.h"

namespace platform::ui {
namespace {

// The index `forward` or back of `index` among `count`; -1 past an end
// without `wrap`.
int Beside(int index, int count, bool forward, bool wrap) {
  if (count <= 0) return -1;
  int next = index + (forward ? 1 : -1);
  if (next >= 0 && next < count) return next;
  if (!wrap) return -1;
  return forward ? 0 : count - 1;
}

// Left and Right as a tab row takes them: the tab beside, no wrapping.
int ArrowStep(const Input& input) {
  if (input.message != kUiKey) return 0;
  if (input.arg == kKeyLeft) return -1;
  if (input.arg == kKeyRight) return 1;
  return 0;
}

}  // namespace

Page::Page(Component* owner, Control* notebook, std::string caption) : Control(owner, notebook, caption) {
  SetCaption(std::move(caption));
  SetAlign(Align::Client);
}

// ---------------------------------------------------------------------------

PageList::PageList(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

PageList::~PageList() {
  // The pages are owned here; free them while the notebook is whole.
  FreeOwned();
}

Page* PageList::GetPage(int index) const {
  return index >= 0 && index < PageCount() ? pages_[index] : nullptr;
}

Page* PageList::GetPage(std::string_view caption) const {
  for (Page* p : pages_)
    if (SameText(p->Caption(), caption)) return p;
  return nullptr;
}

std::vector<std::string> PageList::PageNames() const {
  std::vector<std::string> names;
  for (Page* p : pages_) names.push_back(p->Caption());
  return names;
}

Page* PageList::AddPage(std::string caption) {
  Page* page = new Page(this, this, std::move(caption));
  pages_.push_back(page);
  page->SetVisible(false);
  if (page_index_ < 0) ShowPage(0);
  Changed("Pages");
  return page;
}

void PageList::DeletePage(int index) {
  Page* page = GetPage(index);
  if (!page) return;
  pages_.erase(pages_.begin() + index);
  int next = page_index_;
  if (page_index_ == index) next = index < PageCount() ? index : PageCount() - 1;
  else if (page_index_ > index) next = page_index_ - 1;
  page_index_ = -1;
  Free(page);
  ShowPage(next);
  Changed("Pages");
}

void PageList::ShowPage(int index) {
  if (index < -1 || index >= PageCount()) return;
  for (int i = 0; i < PageCount(); ++i) pages_[i]->SetVisible(i == index);
  if (index == page_index_) return;
  page_index_ = index;
  Changed("PageIndex");
}

// ---------------------------------------------------------------------------

Notebook::Notebook(Component* owner, Control* parent, std::string name) : PageList(owner, parent, std::move(name)) {}

void Notebook::SetPageIndex(int index) {
  if (index >= 0 && index < PageCount()) ShowPage(index);
}

void Notebook::SetActivePage(std::string_view caption) {
  for (int i = 0; i < PageCount(); ++i)
    if (SameText(pages_[i]->Caption(), caption)) ShowPage(i);
}

// ---------------------------------------------------------------------------

TabSet::TabSet(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void TabSet::SetTabs(std::vector<std::string> tabs) {
  tabs_ = std::move(tabs);
  if (tab_index_ >= static_cast<int>(tabs_.size())) tab_index_ = tabs_.empty() ? -1 : 0;
  Changed("Tabs");
}

bool TabSet::SetTabIndex(int index) {
  if (index < -1 || index >= static_cast<int>(tabs_.size())) return false;
  if (index == tab_index_) return true;
  bool allow = true;
  if (OnChange) OnChange(*this, index, allow);
  if (!allow) return false;
  tab_index_ = index;
  Changed("TabIndex");
  return true;
}

bool TabSet::SelectNext(bool forward, bool wrap) {
  int next = Beside(tab_index_, static_cast<int>(tabs_.size()), forward, wrap);
  return next >= 0 && SetTabIndex(next);
}

void TabSet::UserInput(const Input& input) {
  if (int step = ArrowStep(input)) {
    SelectNext(step > 0, false);
    return;
  }
  if (input.message == kUiSelect) {
    if (input.arg >= 0) SetTabIndex(static_cast<int>(input.arg));
    return;
  }
  Control::UserInput(input);
}

// ---------------------------------------------------------------------------

TabbedNotebook::TabbedNotebook(Component* owner, Control* parent, std::string name)
    : PageList(owner, parent, std::move(name)) {}

Rect TabbedNotebook::ClientRect() const {
  int w = Width(), h = Height();
  Rect r{kFrame, kTabRowHeight, w - kFrame, h - kFrame};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool TabbedNotebook::SetPageIndex(int index) {
  if (index < 0 || index >= PageCount()) return false;
  if (index == page_index_) return true;
  bool allow = true;
  if (OnChange) OnChange(*this, index, allow);
  if (!allow) return false;
  ShowPage(index);
  return true;
}

bool TabbedNotebook::SetActivePage(std::string_view caption) {
  for (int i = 0; i < PageCount(); ++i)
    if (SameText(pages_[i]->Caption(), caption)) return SetPageIndex(i);
  return false;
}

bool TabbedNotebook::SelectNext(bool forward, bool wrap) {
  int next = Beside(page_index_, PageCount(), forward, wrap);
  return next >= 0 && SetPageIndex(next);
}

void TabbedNotebook::UserInput(const Input& input) {
  if (int step = ArrowStep(input)) {
    SelectNext(step > 0, false);
    return;
  }
  if (input.message == kUiSelect) {
    SetPageIndex(static_cast<int>(input.arg));
    return;
  }
  Control::UserInput(input);
}

}  // namespace platform::ui
