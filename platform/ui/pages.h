// Pages: a notebook (pages without tabs of its own), a tab set (a row of
// tabs), and a tabbed notebook (tabs and pages together).
//
// A page is a control; place controls on a page by making it their parent.
// Only the active page shows, so the controls of the others take no input.
// Left and Right on a focused tab row choose the tab beside; the form's
// Ctrl+Tab keys step the tabs too (Form::PageKey).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/ui/component.h"

namespace platform::ui {

// Before the tab or page changes: `allow` starts true; clearing it keeps
// the old one. Fires for a change by the user and for one by code.
using TabChangeEvent = std::function<void(Component& sender, int new_index, bool& allow)>;

class HALV_EXPORT Page : public Control {
 public:
  Page(Component* owner, Control* notebook, std::string caption);
};

// Pages owned by the notebook; their names and captions are the page names.
class HALV_EXPORT PageList : public Control {
 public:
  int PageCount() const { return static_cast<int>(pages_.size()); }
  // nullptr outside the list.
  Page* GetPage(int index) const;
  Page* GetPage(std::string_view caption) const;
  std::vector<std::string> PageNames() const;
  int PageIndex() const { return page_index_; }
  Page* ActivePage() const { return GetPage(page_index_); }
  Page* AddPage(std::string caption);
  // Removes and frees a page. The controls on it stay with their owner,
  // without a parent, so they neither show nor take input.
  void DeletePage(int index);

 protected:
  PageList(Component* owner, Control* parent, std::string name);
  ~PageList() override;
  // Shows page `index` (-1: none) without asking anybody.
  void ShowPage(int index);

  std::vector<Page*> pages_;
  int page_index_ = -1;
};

class HALV_EXPORT Notebook : public PageList {
 public:
  Notebook(Component* owner, Control* parent, std::string name = {});
  void SetPageIndex(int index);
  void SetActivePage(std::string_view caption);
};

class HALV_EXPORT TabSet : public Control {
 public:
  TabSet(Component* owner, Control* parent, std::string name = {});
  const std::vector<std::string>& Tabs() const { return tabs_; }
  void SetTabs(std::vector<std::string> tabs);
  int TabIndex() const { return tab_index_; }
  // Asks OnChange first; false when it refused.
  bool SetTabIndex(int index);
  // The next or previous tab, past the last to the first when `wrap`.
  bool SelectNext(bool forward, bool wrap = true);
  bool TakesFocus() const override { return true; }
  TabChangeEvent OnChange;

 protected:
  void UserInput(const Input& input) override;

 private:
  std::vector<std::string> tabs_;
  int tab_index_ = -1;
};

class HALV_EXPORT TabbedNotebook : public PageList {
 public:
  TabbedNotebook(Component* owner, Control* parent, std::string name = {});
  // Asks OnChange first; false when it refused.
  bool SetPageIndex(int index);
  bool SetActivePage(std::string_view caption);
  // The next or previous page, past the last to the first when `wrap`.
  bool SelectNext(bool forward, bool wrap = true);
  // The pages sit below the tab row, inside a small frame.
  Rect ClientRect() const override;
  bool TakesFocus() const override { return true; }

  static constexpr int kTabRowHeight = 24;
  static constexpr int kFrame = 4;

  TabChangeEvent OnChange;

 protected:
  void UserInput(const Input& input) override;
};

}  // namespace platform::ui
