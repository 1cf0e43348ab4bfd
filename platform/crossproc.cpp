#include "platform/crossproc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <unordered_map>

namespace platform {
namespace {

// One datagram, one message. Both ends run on the same machine, so the
// fields travel in native order.
struct Datagram {
  uint32_t magic;
  uint32_t message;
  uint64_t wParam;
  int64_t lParam;
};
constexpr uint32_t kMagic = 0x564C4148;  // "HALV"

socklen_t ChannelAddress(HWND hwnd, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string name = "halvorine-" + std::to_string(::getuid()) + "-" + std::to_string(hwnd);
  // Abstract namespace: the name starts after a NUL and is not a file.
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// Loop thread only.
std::unordered_map<HWND, int>& Channels() {
  static auto* channels = new std::unordered_map<HWND, int>;
  return *channels;
}

void ReadChannel(HWND hwnd, int fd) {
  for (;;) {
    Datagram d{};
    iovec iov{&d, sizeof d};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr mh{};
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    mh.msg_control = control;
    mh.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(fd, &mh, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // drained
    }
    bool same_user = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&mh); c != nullptr; c = CMSG_NXTHDR(&mh, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
        ucred cred;
        std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
        same_user = cred.uid == ::getuid();
      }
    }
    if (!same_user || n != static_cast<ssize_t>(sizeof d) || (mh.msg_flags & MSG_TRUNC) || d.magic != kMagic) continue;
    PostMessage(hwnd, d.message, static_cast<WPARAM>(d.wParam), static_cast<LPARAM>(d.lParam));
  }
}

void InstallChannelHook() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  AddWindowDestroyHook([](HWND hwnd) { DisableExternalMessages(hwnd); });
}

// Signals.
int signal_pipe[2] = {-1, -1};
std::atomic<HWND> signal_window{0};
bool handlers_installed = false;
struct sigaction previous_term, previous_int, previous_hup;

void OnSignal(int sig) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(sig);
  ssize_t ignored = ::write(signal_pipe[1], &byte, 1);
  (void)ignored;  // a full pipe already holds a wake-up
  errno = saved;
}

void ReadSignals(short) {
  unsigned char bytes[64];
  ssize_t n;
  while ((n = ::read(signal_pipe[0], bytes, sizeof bytes)) > 0 || (n < 0 && errno == EINTR)) {
    HWND target = signal_window.load();
    for (ssize_t i = 0; i < n; ++i) {
      if (target == 0) continue;
      if (bytes[i] == SIGTERM || bytes[i] == SIGINT)
        PostMessage(target, WM_CLOSE, 0, 0);
      else if (bytes[i] == SIGHUP)
        PostMessage(target, kCycleLogsMessage, 0, 0);
    }
  }
}

}  // namespace

bool EnableExternalMessages(HWND hwnd) {
  if (!IsWindowHandle(hwnd)) return false;
  if (Channels().count(hwnd) != 0) return true;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  sockaddr_un addr;
  socklen_t len = ChannelAddress(hwnd, addr);
  if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &one, sizeof one) != 0 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    ::close(fd);
    return false;
  }
  InstallChannelHook();
  Channels()[hwnd] = fd;
  WatchFd(fd, POLLIN, [hwnd, fd](short) { ReadChannel(hwnd, fd); });
  return true;
}

void DisableExternalMessages(HWND hwnd) {
  auto it = Channels().find(hwnd);
  if (it == Channels().end()) return;
  UnwatchFd(it->second);
  ::close(it->second);
  Channels().erase(it);
}

bool PostMessageToHandle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr;
  socklen_t len = ChannelAddress(hwnd, addr);
  Datagram d{kMagic, msg, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)};
  ssize_t n;
  do {
    n = ::sendto(fd, &d, sizeof d, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), len);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof d);
}

void RouteSignalsTo(HWND mainWindow) {
  static bool pipe_ready = false;
  if (!pipe_ready) {
    if (::pipe2(signal_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
    pipe_ready = true;
    WatchFd(signal_pipe[0], POLLIN, ReadSignals);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
  }
  signal_window.store(mainWindow);
  if (mainWindow != 0 && !handlers_installed) {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, &previous_term);
    ::sigaction(SIGINT, &sa, &previous_int);
    ::sigaction(SIGHUP, &sa, &previous_hup);
    handlers_installed = true;
  } else if (mainWindow == 0 && handlers_installed) {
    ::sigaction(SIGTERM, &previous_term, nullptr);
    ::sigaction(SIGINT, &previous_int, nullptr);
    ::sigaction(SIGHUP, &previous_hup, nullptr);
    handlers_installed = false;
  }
}

}  // namespace platform
