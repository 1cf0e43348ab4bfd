// Whether a process holds a descriptor of a file, deleted or not, as its
// /proc entry shows.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testsupport {

inline bool HoldsFile(pid_t pid, const std::string& path) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (target == path || target == path + " (deleted)") return true;
  }
  return false;
}

}  // namespace testsupport
