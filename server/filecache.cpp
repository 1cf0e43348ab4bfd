#include "server/filecache.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <limits>
#include <unordered_map>

#include "platform/datetime.h"
#include "platform/files.h"
#include "server/fileresolve.h"

OpenFile::~OpenFile() { ::close(fd); }

namespace {

constexpr size_t kCacheBytesMax = 4 * 1024 * 1024;
constexpr time_t kSettledSeconds = 2;
constexpr size_t kOpenFilesMax = 32;

// Loop thread only, like the slots that send what they hold.
struct BytesEntry {
  struct stat st;  // the version the bytes were read from
  std::shared_ptr<const std::string> bytes;
};
std::unordered_map<std::string, BytesEntry> byte_entries;
size_t cached_bytes = 0;

struct OpenEntry {
  struct stat st;  // the file it was opened as
  std::shared_ptr<const OpenFile> file;
  double used;
};
std::unordered_map<std::string, OpenEntry> open_entries;

bool Idle(const OpenEntry& e, double now) { return now - e.used > kOpenIdleSeconds && e.file.use_count() == 1; }

bool Settled(const struct stat& st) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - st.st_mtim.tv_sec > kSettledSeconds && now.tv_sec - st.st_ctim.tv_sec > kSettledSeconds;
}

void KeepBytes(const std::string& path, const struct stat& st, const std::shared_ptr<const std::string>& bytes) {
  if (auto it = byte_entries.find(path); it != byte_entries.end()) {
    cached_bytes -= it->second.bytes->size();
    byte_entries.erase(it);
  }
  if (cached_bytes + bytes->size() > kCacheBytesMax) {
    byte_entries.clear();
    cached_bytes = 0;
  }
  cached_bytes += bytes->size();
  byte_entries.emplace(path, BytesEntry{st, bytes});
  open_entries.erase(path);
}

void KeepOpen(const std::string& path, const struct stat& st, const std::shared_ptr<const OpenFile>& file,
              double now) {
  open_entries.erase(path);
  SweepIdleOpenFiles(now);
  if (open_entries.size() >= kOpenFilesMax) open_entries.clear();
  open_entries.emplace(path, OpenEntry{st, file, now});
}

ServedFile Failed(const char* call, int error) {
  ServedFile out;
  out.failure = {call, error};
  return out;
}

}  // namespace

ServedFile OpenServedFile(const std::string& path, bool keep) {
  ServedFile out;
  const double now = platform::MonotonicSeconds();
  struct stat st;
  // What the name showed when the answer was chosen: a kept entry of that
  // very file serves without another call.
  if (keep && RegularFileStat(path, st)) {
    if (auto it = byte_entries.find(path); it != byte_entries.end() && platform::SameFileVersion(it->second.st, st)) {
      out.bytes = it->second.bytes;
      out.size = static_cast<off_t>(out.bytes->size());
      return out;
    }
    // A small file kept open while it was fresh goes to memory once still.
    const bool to_memory = st.st_size <= kCachedFileMax && Settled(st);
    if (auto it = open_entries.find(path);
        !to_memory && it != open_entries.end() && platform::SameFileIdentity(it->second.st, st)) {
      it->second.used = now;
      out.file = it->second.file;
      out.size = st.st_size;
      return out;
    }
  }
  // Non-blocking, so that a FIFO put in the file's place cannot hold the
  // open; it is no regular file, and never read.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(path.c_str(), kFlags);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
    // Out of descriptors: those kept that no slot sends from give way, and
    // the open is tried once more.
    SweepIdleOpenFiles(std::numeric_limits<double>::infinity());
    fd = ::open(path.c_str(), kFlags);
  }
  if (fd < 0) {
    // Gone, or no file one can open (a socket): nothing to send.
    if (errno == ENOENT || errno == ENOTDIR || errno == ENXIO) return Failed(nullptr, errno);
    return Failed("open", errno);
  }
  auto file = std::make_shared<const OpenFile>(fd);
  struct stat opened;
  if (::fstat(fd, &opened) != 0) return Failed("fstat", errno);
  if (!S_ISREG(opened.st_mode)) return Failed(nullptr, 0);
  out.size = opened.st_size;
  if (keep && opened.st_size <= kCachedFileMax && Settled(opened)) {
    std::string data(static_cast<size_t>(opened.st_size), '\0');
    size_t got = 0;
    while (got < data.size()) {
      ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Failed("read", errno);
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    // Cut while it was read: what was read is sent, and not kept.
    const bool whole = got == data.size();
    data.resize(got);
    out.bytes = std::make_shared<const std::string>(std::move(data));
    out.size = static_cast<off_t>(got);
    if (whole) KeepBytes(path, opened, out.bytes);
    return out;
  }
  if (keep) KeepOpen(path, opened, file, now);
  out.file = std::move(file);
  return out;
}

void SweepIdleOpenFiles() { SweepIdleOpenFiles(platform::MonotonicSeconds()); }

void SweepIdleOpenFiles(double now) {
  std::erase_if(open_entries, [now](const auto& entry) { return Idle(entry.second, now); });
}
