#include "server/filecache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <unordered_map>

#include "platform/files.h"
#include "server/fileresolve.h"

namespace {

constexpr size_t kCacheBytesMax = 4 * 1024 * 1024;
constexpr time_t kSettledSeconds = 2;

struct Entry {
  struct stat st;  // the version the bytes were read from
  std::shared_ptr<const std::string> bytes;
};

// Loop thread only, like the slots that send the bytes.
std::unordered_map<std::string, Entry> entries;
size_t cached_bytes = 0;

}  // namespace

std::shared_ptr<const std::string> CachedFileBytes(const std::string& path) {
  struct stat st;
  if (!RegularFileStat(path, st) || st.st_size > kCachedFileMax) return nullptr;
  auto it = entries.find(path);
  if (it != entries.end() && platform::SameFileVersion(it->second.st, st)) return it->second.bytes;
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
  if (!whole || !platform::SameFileVersion(opened, st)) return nullptr;
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
  entries.emplace(path, Entry{st, bytes});
  return bytes;
}

// ---------------------------------------------------------------------------

OpenFile::~OpenFile() { ::close(fd); }

namespace {

constexpr size_t kOpenFilesMax = 32;
constexpr time_t kOpenIdleSeconds = 5;  // a descriptor unused this long is closed

struct OpenEntry {
  struct stat st;  // the file it was opened as
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
    if (platform::SameFileIdentity(e.st, st)) {
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
  // Another file put in its place since the look (a rename over it, a
  // link changed) is not the file that was looked at: it is not sent.
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_ino != st.st_ino ||
      opened.st_dev != st.st_dev)
    return nullptr;
  size = opened.st_size;
  // Descriptors idle for a while are closed, so that a deleted file's space
  // is not held for long.
  if (platform::SameFileIdentity(opened, st)) {
    std::erase_if(open_entries, [now](const auto& entry) { return now - entry.second.used > kOpenIdleSeconds; });
    if (open_entries.size() >= kOpenFilesMax) open_entries.clear();
    open_entries.emplace(path, OpenEntry{st, file, now});
  }
  return file;
}
