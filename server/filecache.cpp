#include "server/filecache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <unordered_map>

#include "server/fileresolve.h"

namespace {

constexpr size_t kCacheBytesMax = 4 * 1024 * 1024;
constexpr time_t kSettledSeconds = 2;

struct Entry {
  dev_t dev;
  ino_t ino;
  off_t size;
  timespec mtime;
  timespec ctime;
  std::shared_ptr<const std::string> bytes;
};

bool Same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool Shows(const Entry& e, const struct stat& st) {
  return e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size && Same(e.mtime, st.st_mtim) &&
         Same(e.ctime, st.st_ctim);
}

// Loop thread only, like the slots that send the bytes.
std::unordered_map<std::string, Entry> entries;
size_t cached_bytes = 0;

}  // namespace

std::shared_ptr<const std::string> CachedFileBytes(const std::string& path) {
  struct stat st;
  if (!RegularFileStat(path, st) || st.st_size > kCachedFileMax) return nullptr;
  auto it = entries.find(path);
  if (it != entries.end() && Shows(it->second, st)) return it->second.bytes;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec - st.st_mtim.tv_sec <= kSettledSeconds || now.tv_sec - st.st_ctim.tv_sec <= kSettledSeconds)
    return nullptr;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat opened;
  std::string data;
  bool whole = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_ino == st.st_ino &&
               opened.st_dev == st.st_dev;
  if (whole) {
    data.resize(static_cast<size_t>(opened.st_size));
    size_t got = 0;
    while (got < data.size()) {
      ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    whole = got == data.size();
  }
  ::close(fd);
  // Only a whole read of the very state that was looked at is kept.
  if (!whole || !Shows(Entry{opened.st_dev, opened.st_ino, opened.st_size, opened.st_mtim, opened.st_ctim, nullptr}, st))
    return nullptr;
  if (it != entries.end()) {
    cached_bytes -= it->second.bytes->size();
    entries.erase(it);
  }
  if (cached_bytes + data.size() > kCacheBytesMax) {
    entries.clear();
    cached_bytes = 0;
  }
  auto bytes = std::make_shared<const std::string>(std::move(data));
  cached_bytes += bytes->size();
  entries.emplace(path, Entry{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, bytes});
  return bytes;
}

// ---------------------------------------------------------------------------

OpenFile::~OpenFile() { ::close(fd); }

namespace {

constexpr size_t kOpenFilesMax = 32;
constexpr time_t kOpenIdleSeconds = 5;  // a descriptor unused this long is closed

struct OpenEntry {
  dev_t dev;
  ino_t ino;
  timespec ctime;
  std::shared_ptr<const OpenFile> file;
  time_t used;
};

std::unordered_map<std::string, OpenEntry> open_entries;

time_t MonotonicNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec;
}

}  // namespace

std::shared_ptr<const OpenFile> CachedOpenFile(const std::string& path, off_t& size) {
  struct stat st;
  if (!RegularFileStat(path, st)) return nullptr;
  const time_t now = MonotonicNow();
  auto it = open_entries.find(path);
  if (it != open_entries.end()) {
    OpenEntry& e = it->second;
    if (e.dev == st.st_dev && e.ino == st.st_ino && Same(e.ctime, st.st_ctim)) {
      e.used = now;
      size = st.st_size;
      return e.file;
    }
    open_entries.erase(it);
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto file = std::make_shared<const OpenFile>(fd);
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) return nullptr;
  size = opened.st_size;
  // Kept only when it is the file that was looked at; descriptors idle for a
  // while are closed, so that a deleted file's space is not held for long.
  if (opened.st_dev == st.st_dev && opened.st_ino == st.st_ino && Same(opened.st_ctim, st.st_ctim)) {
    std::erase_if(open_entries, [now](const auto& entry) { return now - entry.second.used > kOpenIdleSeconds; });
    if (open_entries.size() >= kOpenFilesMax) open_entries.clear();
    open_entries.emplace(path, OpenEntry{st.st_dev, st.st_ino, st.st_ctim, file, now});
  }
  return file;
}
