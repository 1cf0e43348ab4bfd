// The drive box and the directory tree, over the Linux file system. There
// are no drive letters: the one drive is "/".
#pragma once

#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/ui/component.h"

namespace platform::ui {

class HALV_EXPORT DriveBox : public Control {
 public:
  DriveBox(Component* owner, Control* parent, std::string name = {});
  // The drives offered: {"/"}.
  const std::vector<std::string>& Drives() const { return drives_; }
  const std::string& Drive() const { return drives_[item_index_]; }
  int ItemIndex() const { return item_index_; }
  // Fires OnChange when the drive changes.
  void SetItemIndex(int index);
  bool TakesFocus() const override { return true; }

  NotifyEvent OnChange;

 protected:
  void UserInput(const Input& input) override;

 private:
  std::vector<std::string> drives_;
  int item_index_ = 0;
};

// The directory tree shows the path from the root down to its directory,
// each level's subdirectories beside it, and the directory's own
// subdirectories below. Entries whose name begins with "." are left out.
class HALV_EXPORT DirectoryTree : public Control {
 public:
  struct Node {
    int level = 0;      // the root is 0
    std::string name;   // "/" for the root
    std::string path;   // absolute, without a trailing "/" (the root: "/")
    bool expanded = false;
    bool operator==(const Node&) const = default;
  };

  // Starts at the current directory.
  DirectoryTree(Component* owner, Control* parent, std::string name = {});

  const std::string& Directory() const { return directory_; }
  // Moves to `path` (relative paths from the current directory) and makes
  // it the process's current directory; OnChange fires. Throws, changing
  // nothing, when it is not a directory that can be entered.
  void SetDirectory(const std::string& path);
  // The drive's root: "/".
  std::string Drive() const { return "/"; }
  void SetDrive(const std::string& drive) { SetDirectory(drive.empty() ? "/" : drive); }

  // The subdirectory names of `path`, sorted (ASCII, case ignored).
  static std::vector<std::string> SubDirectories(const std::string& path);
  // What the tree shows now, top to bottom.
  std::vector<Node> VisibleNodes() const;

  bool TakesFocus() const override { return true; }

  NotifyEvent OnChange;

 protected:
  void UserInput(const Input& input) override;

 private:
  static constexpr int kItemHeight = 16;  // a row, for Page Up and Page Down
  std::string directory_;
};

}  // namespace platform::ui
