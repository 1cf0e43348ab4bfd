#include "platform/ui/filectrls.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/files.h"
#include "platform/ui/input.h"

namespace platform::ui {
namespace {

namespace fs = std::filesystem;

// An absolute, normalised path without a trailing "/" (the root stays).
std::string Absolute(const std::string& path) {
  std::string p = NormalizePath(path);
  if (p.empty() || p.front() != '/') p = GetCurrentDir() + "/" + p;
  std::string normal = fs::path(p).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal.empty() ? "/" : normal;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 1;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

bool NameLess(const std::string& a, const std::string& b) {
  int c = CompareText(a, b);
  return c != 0 ? c < 0 : a < b;
}

}  // namespace

DriveBox::DriveBox(Component* owner, Control* parent, std::string name)
    : Control(owner, parent, std::move(name)), drives_{"/"} {
  SetColor(clWindow);
}

void DriveBox::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(drives_.size()) || index == item_index_) return;
  item_index_ = index;
  Changed("ItemIndex");
  if (OnChange) OnChange(*this);
}

void DriveBox::UserInput(const Input& input) {
  if (input.message == kUiSelect) {
    SetItemIndex(static_cast<int>(input.arg));
    return;
  }
  Control::UserInput(input);
}

// ---------------------------------------------------------------------------

DirectoryTree::DirectoryTree(Component* owner, Control* parent, std::string name)
    : Control(owner, parent, std::move(name)), directory_(Absolute(GetCurrentDir())) {
  SetColor(clWindow);
}

void DirectoryTree::SetDirectory(const std::string& path) {
  std::string dir = Absolute(path);
  if (!IsDirectory(dir) || !SetCurrentDir(dir)) throw std::runtime_error("Directory not found: " + dir);
  directory_ = dir;
  Changed("Directory");
  if (OnChange) OnChange(*this);
}

std::vector<std::string> DirectoryTree::SubDirectories(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
  if (ec) return names;
  for (const fs::directory_entry& entry : it) {
    std::string name = entry.path().filename().string();
    if (name.empty() || name.front() == '.') continue;
    std::error_code type_ec;
    if (entry.is_directory(type_ec)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), NameLess);
  return names;
}

std::vector<DirectoryTree::Node> DirectoryTree::VisibleNodes() const {
  std::vector<Node> nodes;
  nodes.push_back({0, "/", "/", true});
  std::vector<std::string> parts = Split(directory_);
  auto emit = [&](auto& self, const std::string& dir, int level, size_t depth) -> void {
    std::vector<std::string> names = SubDirectories(dir);
    // The way down is shown even through a directory the list leaves out.
    if (depth < parts.size() && std::find(names.begin(), names.end(), parts[depth]) == names.end()) {
      names.push_back(parts[depth]);
      std::sort(names.begin(), names.end(), NameLess);
    }
    for (const std::string& name : names) {
      bool on_path = depth < parts.size() && name == parts[depth];
      std::string child = Join(dir, name);
      nodes.push_back({level, name, child, on_path});
      if (on_path) self(self, child, level + 1, depth + 1);
    }
  };
  emit(emit, "/", 1, 0);
  return nodes;
}

void DirectoryTree::UserInput(const Input& input) {
  if (input.message == kUiChooseDirectory) {
    SetDirectory(input.text);
    return;
  }
  // A moving key chooses the directory it reaches, as a click on it would.
  int key = static_cast<int>(input.arg & ~kKeyCtrl);
  if (input.message == kUiKey && IsListMovingKey(key)) {
    std::vector<Node> nodes = VisibleNodes();
    auto here = std::find_if(nodes.begin(), nodes.end(), [&](const Node& n) { return n.path == directory_; });
    int at = here == nodes.end() ? -1 : static_cast<int>(here - nodes.begin());
    int target = ListKeyTarget(key, at, static_cast<int>(nodes.size()), ClientHeight() / kItemHeight);
    if (target >= 0 && target != at) SetDirectory(nodes[static_cast<size_t>(target)].path);
    return;
  }
  Control::UserInput(input);
}

}  // namespace platform::ui
