#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace platform {
namespace {

// Strips trailing separators, leaving the root as "/".
std::string WithoutTrailingSlashes(std::string_view path) {
  std::string s(path);
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// Writes all of data, retrying short writes and interrupted calls.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::atomic<unsigned> temp_counter{0};

// WriteFileAtomic's temporary files of target: the directory they lie in,
// and their names' prefix, after which come the writer's process id, "-"
// and a number.
std::string AtomicTempDirectory(const std::string& target) { return DirectoryPart(target); }
std::string AtomicTempPrefix(const std::string& target) { return "." + FileNamePart(target) + ".tmp-"; }

// The file a write of path replaces: the one a symbolic link points to.
std::string WriteTarget(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string target = real;
      std::free(real);
      return target;
    }
  }
  return path;
}

// The process id in name when it reads prefix + pid + suffix, followed by
// one or more digits when numbered; 0 otherwise.
pid_t PidInName(std::string_view name, std::string_view prefix, std::string_view suffix, bool numbered) {
  if (!name.starts_with(prefix)) return 0;
  name.remove_prefix(prefix.size());
  size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
  if (digits == 0 || name[0] == '0') return 0;
  long long pid = 0;
  auto [end, ec] = std::from_chars(name.data(), name.data() + digits, pid);
  if (ec != std::errc() || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return 0;
  std::string_view rest = name.substr(digits);
  if (!rest.starts_with(suffix)) return 0;
  rest.remove_prefix(suffix.size());
  if (numbered) {
    if (rest.empty()) return 0;
    for (char c : rest)
      if (c < '0' || c > '9') return 0;
  } else if (!rest.empty()) {
    return 0;
  }
  return static_cast<pid_t>(pid);
}

// A process that no longer runs. One that runs under another user still
// answers (EPERM), and a number that came to another process is taken
// for the one that wrote the file.
bool ProcessEnded(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

int RemoveEnded(const std::string& dir, std::string_view prefix, std::string_view suffix, bool numbered) {
  const std::string where = dir.empty() ? "." : dir;
  DIR* d = ::opendir(where.c_str());
  if (!d) return 0;
  int removed = 0;
  while (const dirent* e = ::readdir(d)) {
    pid_t pid = PidInName(e->d_name, prefix, suffix, numbered);
    if (pid == 0 || !ProcessEnded(pid)) continue;
    std::string path = AddTrailingSlash(where) + e->d_name;
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

}  // namespace

std::string NormalizePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return out;
}

std::string DirectoryPart(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash + 1));
}

std::string FileNamePart(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string AddTrailingSlash(std::string_view path) {
  std::string s(path);
  if (!s.empty() && s.back() != '/') s.push_back('/');
  return s;
}

std::string WithOneTrailingSlash(std::string_view path) {
  if (path.empty()) return {};
  std::string s = WithoutTrailingSlashes(path);
  if (s != "/") s.push_back('/');
  return s;
}

std::string ProgramDirectory() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return DirectoryPart(std::string_view(buf.data(), static_cast<size_t>(n)));
    buf.resize(buf.size() * 2);
  }
}

std::string GetCurrentDir() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return buf.data();
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
}

bool SetCurrentDir(const std::string& dir) { return !dir.empty() && ::chdir(dir.c_str()) == 0; }

int SetHandleCount(int n) {
  auto clamp = [](rlim_t v) { return v == RLIM_INFINITY || v > static_cast<rlim_t>(INT_MAX) ? INT_MAX : static_cast<int>(v); };
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return 0;
  if (n > 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < static_cast<rlim_t>(n)) {
    rlimit want = lim;
    want.rlim_cur = static_cast<rlim_t>(n);
    if (lim.rlim_max != RLIM_INFINITY && want.rlim_cur > lim.rlim_max) want.rlim_cur = lim.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &want) == 0) lim = want;
  }
  return clamp(lim.rlim_cur);
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace {
bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
}  // namespace

bool SameFileIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && SameTime(a.st_ctim, b.st_ctim);
}

bool SameFileVersion(const struct stat& a, const struct stat& b) {
  return SameFileIdentity(a, b) && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim);
}

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FileSize(const std::string& path) {
  struct stat st{};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  return static_cast<int64_t>(st.st_size);
}

bool CreateDirectories(const std::string& path) {
  std::string target = WithoutTrailingSlashes(path);
  if (target.empty()) return false;
  if (target == "/") return true;
  if (IsDirectory(target)) return true;
  // Create each missing level from the top down; a level another process
  // creates at the same moment counts as made.
  for (size_t pos = target.find('/', 1);; pos = target.find('/', pos + 1)) {
    std::string level = target.substr(0, pos);
    if (!level.empty() && level.back() != '/' && ::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos) break;
  }
  return IsDirectory(target);
}

bool DeleteFile(const std::string& path) { return !path.empty() && ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: check, then rename.
  struct stat st{};
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = error;
    return std::nullopt;
  }
  std::string data;
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      errno = saved;
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, const std::function<void()>& before_rename) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  // Replace the file a symbolic link points to, not the link.
  const std::string target = WriteTarget(path);
  struct stat st{};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  std::string temp = AtomicTempDirectory(target) + AtomicTempPrefix(target) + std::to_string(::getpid()) + "-" +
                     std::to_string(temp_counter.fetch_add(1));
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data) && (!exists || ::fchmod(fd, st.st_mode & 07777) == 0) && ::fdatasync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && before_rename) before_rename();
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  if (ok) saved = errno;
  ::unlink(temp.c_str());
  errno = saved;
  return false;
}

int RemoveFilesOfEndedProcesses(const std::string& dir, std::string_view prefix, std::string_view suffix) {
  return RemoveEnded(dir, prefix, suffix, false);
}

int RemoveAtomicWriteLeftovers(const std::string& path) {
  if (path.empty()) return 0;
  const std::string target = WriteTarget(path);
  return RemoveEnded(AtomicTempDirectory(target), AtomicTempPrefix(target), "-", true);
}

}  // namespace platform
