#include "platform/changestamp.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/msgloop.h"

namespace platform {
namespace {

constexpr uint32_t kDirMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kFileMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
constexpr size_t kMaxWatches = 256;

// File systems whose every change passes through this kernel; nullopt when
// the directory cannot be looked at.
std::optional<bool> LocalFileSystem(const std::string& dir) {
  struct statfs fs {};
  if (::statfs(dir.c_str(), &fs) != 0) return std::nullopt;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlay
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
      return true;
    default:
      return false;
  }
}

struct Prefix {
  std::string name;
  uint64_t last = 0;  // stamp of the last change of a name beginning with it
};

struct Dir {
  int wd = -1;
  uint64_t self = 0;  // stamp of the watch's start or the directory's own change
  std::vector<Prefix> prefixes;
};

struct File {
  const Dir* dir = nullptr;  // its directory's watch (null: look it up again)
  size_t prefix = 0;         // its name among the directory's prefixes
  int wd = -1;         // -1: not watched (missing when last asked)
  uint64_t last = 0;   // stamp of the watch's start or the file's last change
  uint64_t seen = 0;   // its name's stamp when the watch was (re)made
};

struct State {
  std::mutex mu;
  bool started = false;
  int fd = -1;
  uint64_t counter = 0;
  uint64_t overflow = 0;   // stamp of the last lost notice: everything changed
  bool in_loop = false;    // the message loop reads the notices as they come
  std::unordered_map<std::string, Dir> dirs;
  std::unordered_map<std::string, File> files;
  std::unordered_set<std::string> unusable;  // directories on other file systems
};

// Never destroyed: any thread may ask while the program exits. A forked
// child starts afresh: the notice queue it inherited is its parent's, and
// reading it would take the parent's notices away.
std::atomic<State*> state{nullptr};

State& S() {
  State* s = state.load(std::memory_order_acquire);
  if (s != nullptr) [[likely]] return *s;
  static std::once_flag once;
  std::call_once(once, [] {
    state.store(new State, std::memory_order_release);
    ::pthread_atfork(nullptr, nullptr, [] {
      State* inherited = state.load(std::memory_order_relaxed);
      if (inherited->fd >= 0) ::close(inherited->fd);
      state.store(new State, std::memory_order_relaxed);  // the inherited one is left behind
    });
  });
  return *state.load(std::memory_order_acquire);
}

void Apply(State& s, const inotify_event& ev) {
  if (ev.mask & IN_Q_OVERFLOW) {
    s.overflow = ++s.counter;
    return;
  }
  const bool gone = (ev.mask & kGone) != 0;
  for (auto it = s.dirs.begin(); it != s.dirs.end();) {
    Dir& d = it->second;
    if (d.wd != ev.wd) {
      ++it;
      continue;
    }
    if (gone) {
      // The next look watches the directory (or what has its name) afresh.
      if (!(ev.mask & IN_IGNORED)) ::inotify_rm_watch(s.fd, d.wd);
      for (auto& [path, f] : s.files)
        if (f.dir == &d) f.dir = nullptr;
      it = s.dirs.erase(it);
      s.overflow = ++s.counter;
      continue;
    }
    if (ev.len > 0) {
      std::string_view name(ev.name);
      for (Prefix& p : d.prefixes)
        if (name.starts_with(p.name)) p.last = s.counter + 1;
      ++s.counter;
    }
    ++it;
  }
  for (auto& [path, f] : s.files) {
    if (f.wd != ev.wd) continue;
    f.last = ++s.counter;
    if (gone) f.wd = -1;
  }
}

void Drain(State& s) {
  alignas(inotify_event) char buf[4096];
  for (;;) {
    ssize_t n = ::read(s.fd, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
      Apply(s, *ev);
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
}

}  // namespace

uint64_t ChangeStamp(const std::string& path) {
  if (path.empty() || path[0] != '/' || path.back() == '/') return 0;
  State& s = S();
  std::lock_guard lock(s.mu);
  if (!s.started) {
    s.started = true;
    s.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  if (s.fd < 0) return 0;
  if (DispatchPass() == 0) {
    Drain(s);
  } else if (!s.in_loop) {
    // Inside a handler, so on the loop's thread: from now on the loop reads
    // the notices whenever it collects ready descriptors, before the
    // handlers of what it collected run. What came before is read now.
    s.in_loop = true;
    WatchFd(s.fd, POLLIN, [](short) {
      State& st = S();
      std::lock_guard inner(st.mu);
      Drain(st);
    });
    Drain(s);
  }

  // A file asked about before, its watches standing.
  if (auto known = s.files.find(path); known != s.files.end()) {
    const File& f = known->second;
    if (f.dir != nullptr && f.wd >= 0) {
      const uint64_t name_last = f.dir->prefixes[f.prefix].last;
      if (f.seen == name_last) return std::max({s.overflow, f.dir->self, name_last, f.last});
    }
  }

  const size_t slash = path.rfind('/');
  const std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  const std::string base = path.substr(slash + 1);
  auto d_it = s.dirs.find(dir);
  if (d_it == s.dirs.end()) {
    if (s.dirs.size() + s.files.size() >= kMaxWatches) return 0;
    if (s.unusable.count(dir) != 0) return 0;
    const std::optional<bool> local = LocalFileSystem(dir);
    if (!local) return 0;
    if (!*local) {
      if (s.unusable.size() < kMaxWatches) s.unusable.insert(dir);
      return 0;
    }
    const int wd = ::inotify_add_watch(s.fd, dir.c_str(), kDirMask);
    if (wd < 0) return 0;
    d_it = s.dirs.emplace(dir, Dir{wd, ++s.counter, {}}).first;
  }
  Dir& d = d_it->second;
  auto p = std::find_if(d.prefixes.begin(), d.prefixes.end(), [&](const Prefix& x) { return x.name == base; });
  if (p == d.prefixes.end()) {
    d.prefixes.push_back(Prefix{base, ++s.counter});
    p = d.prefixes.end() - 1;
  }
  const uint64_t name_last = p->last;

  // The file's own watch sees writes through any of its names; it is made
  // again after its name changed hands.
  auto [f_it, fresh] = s.files.try_emplace(path);
  File& f = f_it->second;
  if (fresh || f.seen != name_last || f.wd < 0) {
    if (fresh && s.dirs.size() + s.files.size() > kMaxWatches) {
      s.files.erase(f_it);
      return 0;
    }
    const int wd = ::inotify_add_watch(s.fd, path.c_str(), kFileMask);
    if (wd != f.wd) f.last = ++s.counter;
    f.wd = wd < 0 ? -1 : wd;
    f.seen = name_last;
  }
  f.dir = &d;
  f.prefix = static_cast<size_t>(p - d.prefixes.begin());
  return std::max({s.overflow, d.self, name_last, f.last});
}

}  // namespace platform
