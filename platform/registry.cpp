#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/ascii.h"
#include "platform/files.h"

namespace platform {
namespace {

using ascii::Lower;

bool SameName(const std::string& a, const std::string& b) {
  return ascii::SameText(a, b);
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return ascii::CompareText(a, b) < 0;
}

std::string EncodeName(const std::string& name) {
  if (name.empty()) return "%";
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '%' || c == '/' || c < 0x20 || c == 0x7f || (i == 0 && c == '.')) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The inverse of EncodeName; a "%" that does not start an escape stands for
// itself, so that hand-made names read as written.
std::string DecodeName(const std::string& file) {
  if (file == "%") return {};
  std::string out;
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '%' && i + 2 < file.size() && HexValue(file[i + 1]) >= 0 && HexValue(file[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(file[i + 1]) * 16 + HexValue(file[i + 2]));
      i += 2;
    } else {
      out += file[i];
    }
  }
  return out;
}

struct Entry {
  std::string file;  // name on disk
  std::string name;  // decoded
  bool is_dir = false;
};

std::vector<Entry> ListEntries(const std::string& dir) {
  std::vector<Entry> out;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string file = e->d_name;
    bool is_dir;
    if (e->d_type == DT_DIR) {
      is_dir = true;
    } else if (e->d_type == DT_REG) {
      is_dir = false;
    } else {
      struct stat st{};
      if (::stat((dir + "/" + file).c_str(), &st) != 0) continue;
      is_dir = S_ISDIR(st.st_mode);
    }
    out.push_back({file, DecodeName(file), is_dir});
  }
  ::closedir(d);
  // Directory order is arbitrary; of two spellings that differ only in case
  // (made by hand) the sorted first one answers.
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.file < b.file; });
  return out;
}

enum class Kind { Key, Value };

std::optional<Entry> FindEntry(const std::string& dir, const std::string& name, Kind kind) {
  for (Entry& e : ListEntries(dir)) {
    if (kind == Kind::Key && !e.is_dir) continue;
    if (kind == Kind::Value && e.is_dir) continue;
    if (SameName(e.name, name)) return std::move(e);
  }
  return std::nullopt;
}

// An exclusive advisory lock on a key's directory while it changes, so that
// two processes writing "Name" and "NAME" at once make one entry.
class DirLock {
 public:
  explicit DirLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~DirLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

}  // namespace

std::string RegistryRoot() {
  auto strip = [](std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  };
  if (const char* r = std::getenv("HALVORINE_REGISTRY"); r && *r) return strip(r);
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return strip(x) + "/halvorine-registry";
  const char* home = std::getenv("HOME");
  return strip(home && *home ? home : "/tmp") + "/.config/halvorine-registry";
}

std::optional<RegistryKey> RegistryKey::Open(const std::string& path, bool create) {
  std::string dir = RegistryRoot();
  if (create ? !CreateDirectories(dir) : !IsDirectory(dir)) return std::nullopt;
  for (const std::string& part : SplitKeyPath(path)) {
    std::optional<Entry> e = FindEntry(dir, part, Kind::Key);
    if (!e && create) {
      DirLock lock(dir);
      if (!lock.ok()) return std::nullopt;
      e = FindEntry(dir, part, Kind::Key);
      if (!e) {
        std::string file = EncodeName(part);
        if (::mkdir((dir + "/" + file).c_str(), 0777) != 0 && errno != EEXIST) return std::nullopt;
        e = Entry{file, part, true};
      }
    }
    if (!e || !IsDirectory(dir + "/" + e->file)) return std::nullopt;
    dir += "/" + e->file;
  }
  return RegistryKey(dir);
}

bool RegistryKey::WriteString(const std::string& name, const std::string& value) {
  DirLock lock(dir_);
  if (!lock.ok()) return false;
  std::optional<Entry> e = FindEntry(dir_, name, Kind::Value);
  if (!e && FindEntry(dir_, name, Kind::Key)) {
    errno = EISDIR;
    return false;
  }
  return WriteFileAtomic(dir_ + "/" + (e ? e->file : EncodeName(name)), value);
}

std::optional<std::string> RegistryKey::ReadString(const std::string& name) const {
  std::optional<Entry> e = FindEntry(dir_, name, Kind::Value);
  if (!e) return std::nullopt;
  return ReadWholeFile(dir_ + "/" + e->file);
}

bool RegistryKey::DeleteValue(const std::string& name) {
  DirLock lock(dir_);
  if (!lock.ok()) return false;
  std::optional<Entry> e = FindEntry(dir_, name, Kind::Value);
  return e && DeleteFile(dir_ + "/" + e->file);
}

std::vector<std::string> RegistryKey::SubKeyNames() const {
  std::vector<std::string> names;
  for (const Entry& e : ListEntries(dir_)) {
    if (!e.is_dir) continue;
    if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameName(n, e.name); })) names.push_back(e.name);
  }
  std::sort(names.begin(), names.end(), LessNoCase);
  return names;
}

}  // namespace platform
