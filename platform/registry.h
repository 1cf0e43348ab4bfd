// The per-user registry stand-in: a file tree under one root.
//
// A key is a directory, a string value is a file holding the value's bytes.
// Key paths are written as on Windows ("\Software\Ortelune Software\Halvorine",
// "\" separating the keys). Key and value names compare without regard to
// ASCII case: the first spelling written is the one kept on disk. On disk a
// name is kept as it stands except for "%", "/", control characters and a
// leading "." (written as %XX), and the empty name (written as "%"). Files
// beginning with "." are temporary and never names.
//
// A value and a sub-key of one key cannot share a name (writing such a value
// fails); the system never needs both.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/export.h"

HALV_EXPORT_BEGIN
namespace platform {

// The registry's root directory, without a trailing "/": $HALVORINE_REGISTRY
// when set, else $XDG_CONFIG_HOME/halvorine-registry, else
// ~/.config/halvorine-registry. Read afresh at every call.
std::string RegistryRoot();

class RegistryKey {
 public:
  // Opens the key at `path` under the current root. With `create` the key and
  // any missing parents (and the root) are created; without it a missing key
  // gives nullopt. An empty path, or "\", is the root itself.
  static std::optional<RegistryKey> Open(const std::string& path, bool create = true);

  // The key's directory on disk.
  const std::string& Directory() const { return dir_; }

  // Writes a string value, replacing the file atomically. False when the key
  // is gone or the file system refuses.
  bool WriteString(const std::string& name, const std::string& value);

  // The value's text; nullopt when there is no such value.
  std::optional<std::string> ReadString(const std::string& name) const;

  // True when the value existed and was deleted.
  bool DeleteValue(const std::string& name);

  // The names of the sub-keys, sorted without regard to case.
  std::vector<std::string> SubKeyNames() const;

 private:
  explicit RegistryKey(std::string dir) : dir_(std::move(dir)) {}
  std::string dir_;
};

}  // namespace platform
HALV_EXPORT_END
