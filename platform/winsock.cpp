#include "platform/winsock.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform::winsock {
namespace {

struct Sock {
  bool listening = false;
  bool connected = false;
  bool nonblocking = false;
  HWND hwnd = 0;
  UINT msg = 0;
  long mask = 0;
  // Every window and message this socket ever notified, for the purge at close.
  std::vector<std::pair<HWND, UINT>> targets;
  // Re-enabling state.
  bool read_pending = false;    // FD_READ posted, no recv since
  bool accept_pending = false;  // FD_ACCEPT posted, no accept since
  bool write_armed = false;     // FD_WRITE due once the socket is writable
  bool end_seen = false;        // end of stream or reset observed
  bool watched = false;         // known to the loop (its events may be 0)
  bool lingers = false;         // SO_LINGER set on
};

// Loop thread only.
std::unordered_map<int, Sock>& Sockets() {
  static auto* sockets = new std::unordered_map<int, Sock>;
  return *sockets;
}

thread_local int last_error = 0;
std::atomic<int> startups{0};
std::atomic<int> startup_failure{0};

int Fail(int error) {
  last_error = error;
  return SOCKET_ERROR;
}
int FailErrno() { return Fail(ErrorFromErrno(errno)); }

Sock* Find(SOCKET s) {
  auto it = Sockets().find(s);
  return it == Sockets().end() ? nullptr : &it->second;
}

short Interest(const Sock& k) {
  if (k.mask == 0) return 0;
  if (k.listening) return (k.mask & FD_ACCEPT) && !k.accept_pending ? POLLIN : 0;
  if (!k.connected) return 0;
  // A client that shut down its writing side may still read what it asked
  // for: FD_WRITE stays due after the end of its stream.
  if (k.end_seen) return (k.mask & FD_WRITE) && k.write_armed ? POLLOUT : 0;
  short ev = 0;
  // POLLIN also reports the end of the stream, which is looked at only
  // while no FD_READ waits for its recv: FD_CLOSE follows the data.
  // POLLRDHUP tells the two apart without a look at the data.
  if (k.mask & FD_READ) {
    if (!k.read_pending) ev |= POLLIN | POLLRDHUP;
  } else if (k.mask & FD_CLOSE) {
    ev |= POLLRDHUP;
  }
  if ((k.mask & FD_WRITE) && k.write_armed) ev |= POLLOUT;
  return ev;
}

void OnEvents(SOCKET s, short revents);

void UpdateInterest(SOCKET s, Sock& k) {
  short ev = Interest(k);
  // Events 0 pause the watch: errors and hang-ups wait too.
  if (k.watched) {
    SetFdEvents(s, ev);
  } else if (ev != 0) {
    k.watched = true;
    WatchFd(s, ev, [s](short revents) { OnEvents(s, revents); });
  }
}

void Notify(SOCKET s, Sock& k, long event, int error) {
  if (!PostMessage(k.hwnd, k.msg, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(event, error))) {
    k.mask = 0;  // the window is gone
  }
}

void OnEvents(SOCKET s, short revents) {
  Sock* k = Find(s);
  if (k == nullptr) {
    UnwatchFd(s);
    return;
  }
  if (k->listening) {
    if ((revents & (POLLIN | POLLERR | POLLHUP)) && (k->mask & FD_ACCEPT) && !k->accept_pending) {
      k->accept_pending = true;
      Notify(s, *k, FD_ACCEPT, 0);
    }
    UpdateInterest(s, *k);
    return;
  }
  if (k->write_armed && (k->mask & FD_WRITE) && (revents & (POLLOUT | POLLERR | POLLHUP))) {
    k->write_armed = false;
    Notify(s, *k, FD_WRITE, 0);
  }
  if (!k->end_seen && k->mask != 0 && (revents & (POLLIN | POLLRDHUP | POLLERR | POLLHUP))) {
    if (k->mask & FD_READ) {
      if (!k->read_pending) {
        char byte;
        // Readable with the stream still open: data waits.
        ssize_t n = (revents & (POLLRDHUP | POLLERR | POLLHUP)) == 0 ? 1 : ::recv(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
          k->read_pending = true;
          Notify(s, *k, FD_READ, 0);
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          int error = n == 0 ? 0 : ErrorFromErrno(errno);
          k->end_seen = true;
          if (k->mask & FD_CLOSE) Notify(s, *k, FD_CLOSE, error);
        }
      }
    } else {
      // No FD_READ selected: there is no data to offer first.
      int so_error = 0;
      socklen_t len = sizeof so_error;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len);
      k->end_seen = true;
      Notify(s, *k, FD_CLOSE, so_error == 0 ? 0 : ErrorFromErrno(so_error));
    }
  }
  UpdateInterest(s, *k);
}

// Forgets whatever the table still holds for a descriptor number that the
// system hands out again (a socket closed behind our back).
void Forget(int fd) {
  auto it = Sockets().find(fd);
  if (it == Sockets().end()) return;
  for (auto [hwnd, msg] : it->second.targets) PurgePostedMessages(hwnd, msg, static_cast<WPARAM>(fd));
  Sockets().erase(it);
  UnwatchFd(fd);
}

void InstallDestroyHook() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  AddWindowDestroyHook([](HWND hwnd) {
    for (auto& [s, k] : Sockets()) {
      if (k.hwnd != hwnd || k.mask == 0) continue;
      k.mask = 0;
      UpdateInterest(s, k);
    }
  });
}

Sock& Register(int fd) {
  Forget(fd);
  InstallDestroyHook();
  return Sockets()[fd];
}

bool SetNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

void CopyText(char* dest, size_t size, const char* text) {
  std::strncpy(dest, text, size - 1);
  dest[size - 1] = '\0';
}

}  // namespace

// ---------------------------------------------------------------------------

int WSAStartup(uint16_t versionRequested, WSADATA* data) {
  if (int failure = startup_failure.load(); failure != 0) return failure;
  const int major = versionRequested & 0xFF;
  const int minor = (versionRequested >> 8) & 0xFF;
  if (major < 1) return WSAVERNOTSUPPORTED;
  if (data == nullptr) return WSAEFAULT;
  std::memset(data, 0, sizeof *data);
  data->wVersion = (major == 1 && minor == 0) ? MAKEWORD(1, 0) : MAKEWORD(1, 1);
  data->wHighVersion = MAKEWORD(1, 1);
  CopyText(data->szDescription, sizeof data->szDescription, kDescription);
  CopyText(data->szSystemStatus, sizeof data->szSystemStatus, kSystemStatus);
  data->iMaxSockets = 32767;
  data->iMaxUdpDg = 65467;
  data->lpVendorInfo = nullptr;
  startups.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int n = startups.load();
  while (n > 0 && !startups.compare_exchange_weak(n, n - 1)) {
  }
  if (n <= 0) return Fail(WSANOTINITIALISED);
  return 0;
}

void SetStartupFailureForTests(int error) { startup_failure.store(error); }

int WSAGetLastError() { return last_error; }
void WSASetLastError(int error) { last_error = error; }

int ErrorFromErrno(int err) {
  switch (err) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;  // EWOULDBLOCK is the same number
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
  }
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events) {
  Sock* k = Find(s);
  if (k == nullptr) return Fail(WSAENOTSOCK);
  if (events != 0 && !IsWindowHandle(hwnd)) return Fail(WSAEINVAL);
  if (!SetNonBlocking(s, true)) return FailErrno();
  k->nonblocking = true;
  k->hwnd = hwnd;
  k->msg = msg;
  k->mask = events & (FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
  if (k->mask != 0) {
    std::pair<HWND, UINT> target{hwnd, msg};
    bool known = false;
    for (const auto& t : k->targets) known = known || t == target;
    if (!known) k->targets.push_back(target);
  }
  // A new selection reports afresh whatever holds now.
  k->read_pending = false;
  k->accept_pending = false;
  k->end_seen = false;
  k->write_armed = k->connected;
  UpdateInterest(s, *k);
  return 0;
}

SOCKET socket(int af, int type, int protocol) {
  if (startups.load() <= 0) {
    last_error = WSANOTINITIALISED;
    return INVALID_SOCKET;
  }
  int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    FailErrno();
    return INVALID_SOCKET;
  }
  Register(fd);
  return fd;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  if (Find(s) == nullptr) return Fail(WSAENOTSOCK);
  if (name == nullptr || namelen <= 0) return Fail(WSAEFAULT);
  // The broadcast address (also what inet_addr gives for bad text) is no
  // local address a stream socket can take; Linux would let it bind.
  if (name->sa_family == AF_INET && namelen >= static_cast<int>(sizeof(sockaddr_in)) &&
      reinterpret_cast<const sockaddr_in*>(name)->sin_addr.s_addr == INADDR_NONE) {
    int type = 0;
    socklen_t len = sizeof type;
    if (::getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM) return Fail(WSAEADDRNOTAVAIL);
  }
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(s, name, static_cast<socklen_t>(namelen)) != 0) return FailErrno();
  return 0;
}

int listen(SOCKET s, int backlog) {
  Sock* k = Find(s);
  if (k == nullptr) return Fail(WSAENOTSOCK);
  if (::listen(s, backlog) != 0) return FailErrno();
  k->listening = true;
  UpdateInterest(s, *k);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
  Sock* listener = Find(s);
  if (listener == nullptr) {
    last_error = WSAENOTSOCK;
    return INVALID_SOCKET;
  }
  // The call itself re-enables FD_ACCEPT, whatever it finds.
  listener->accept_pending = false;
  UpdateInterest(s, *listener);
  if (addr != nullptr && (addrlen == nullptr || *addrlen < static_cast<int>(sizeof(sockaddr_in)))) {
    last_error = WSAEFAULT;
    return INVALID_SOCKET;
  }
  socklen_t len = addrlen ? static_cast<socklen_t>(*addrlen) : 0;
  const int flags = SOCK_CLOEXEC | (listener->nonblocking ? SOCK_NONBLOCK : 0);
  int fd;
  do {
    fd = ::accept4(s, addr, addr ? &len : nullptr, flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailErrno();
    return INVALID_SOCKET;
  }
  if (addrlen != nullptr && addr != nullptr) *addrlen = static_cast<int>(len);
  // Register may rehash the table: copy what the new socket inherits first.
  const Sock inherited = *listener;
  Sock& k = Register(fd);
  k.connected = true;
  k.nonblocking = inherited.nonblocking;
  k.lingers = inherited.lingers;  // the new socket takes the listener's options
  k.hwnd = inherited.hwnd;
  k.msg = inherited.msg;
  k.mask = inherited.mask;
  if (k.mask != 0) k.targets.push_back({k.hwnd, k.msg});
  // A fresh connection can be written to at once: its one FD_WRITE.
  if (k.mask & FD_WRITE) Notify(fd, k, FD_WRITE, 0);
  UpdateInterest(fd, k);
  return fd;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  if (Find(s) == nullptr) return Fail(WSAENOTSOCK);
  if (name == nullptr || namelen == nullptr || *namelen <= 0) return Fail(WSAEFAULT);
  socklen_t len = static_cast<socklen_t>(*namelen);
  if (::getsockname(s, name, &len) != 0) return FailErrno();
  *namelen = static_cast<int>(len);
  return 0;
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
  if (Find(s) == nullptr) return Fail(WSAENOTSOCK);
  if (name == nullptr || namelen == nullptr || *namelen <= 0) return Fail(WSAEFAULT);
  socklen_t len = static_cast<socklen_t>(*namelen);
  if (::getpeername(s, name, &len) != 0) return FailErrno();
  *namelen = static_cast<int>(len);
  return 0;
}

int recv(SOCKET s, void* buf, int len, int flags) {
  Sock* k = Find(s);
  if (k == nullptr) return Fail(WSAENOTSOCK);
  if (len < 0 || (len > 0 && buf == nullptr)) return Fail(WSAEFAULT);
  // Only a recv that can take data re-enables FD_READ: a reader asking for
  // nothing would otherwise get FD_READ after FD_READ for the same bytes.
  if (len > 0 && k->read_pending) {
    k->read_pending = false;
    UpdateInterest(s, *k);
  }
  ssize_t n;
  do {
    n = ::recv(s, buf, static_cast<size_t>(len), flags);
  } while (n < 0 && errno == EINTR && !k->nonblocking);
  if (n < 0) return FailErrno();
  return static_cast<int>(n);
}

namespace {
// One sending call, repeated after a signal on a blocking socket; a full
// buffer re-enables FD_WRITE.
template <class Call>
int Sending(SOCKET s, Sock& k, Call call) {
  ssize_t n;
  do {
    n = call();
  } while (n < 0 && errno == EINTR && !k.nonblocking);
  if (n < 0) {
    int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      k.write_armed = true;
      UpdateInterest(s, k);
    }
    return Fail(ErrorFromErrno(err));
  }
  return static_cast<int>(n);
}
}  // namespace

int send(SOCKET s, const void* buf, int len, int flags) {
  Sock* k = Find(s);
  if (k == nullptr) return Fail(WSAENOTSOCK);
  if (len < 0 || (len > 0 && buf == nullptr)) return Fail(WSAEFAULT);
  return Sending(s, *k, [&] { return ::send(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL); });
}

int SendFileBytes(SOCKET s, int fd, int64_t* offset, int count) {
  Sock* k = Find(s);
  if (k == nullptr) return Fail(WSAENOTSOCK);
  if (offset == nullptr || count < 0) return Fail(WSAEFAULT);
  off_t off = static_cast<off_t>(*offset);
  int n = Sending(s, *k, [&] { return ::sendfile(s, fd, &off, static_cast<size_t>(count)); });
  if (n >= 0) *offset = static_cast<int64_t>(off);
  return n;
}

int UnsentBytes(SOCKET s) {
  if (Find(s) == nullptr) return Fail(WSAENOTSOCK);
  int unsent = 0;
  if (::ioctl(s, SIOCOUTQNSD, &unsent) != 0) return FailErrno();
  return unsent;
}

int shutdown(SOCKET s, int how) {
  if (Find(s) == nullptr) return Fail(WSAENOTSOCK);
  if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
  if (::shutdown(s, how) != 0) return FailErrno();
  return 0;
}

int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen) {
  Sock* k = Find(s);
  if (k == nullptr) return Fail(WSAENOTSOCK);
  if (optval == nullptr || optlen < 0) return Fail(WSAEFAULT);
  const bool linger_option = level == SOL_SOCKET && optname == SO_LINGER && optlen >= static_cast<int>(sizeof(linger));
  const bool linger_on = linger_option && static_cast<const linger*>(optval)->l_onoff != 0;
  // Lingering off where it never was on changes nothing.
  if (linger_option && !linger_on && !k->lingers) return 0;
  if (::setsockopt(s, level, optname, optval, static_cast<socklen_t>(optlen)) != 0) return FailErrno();
  if (linger_option) k->lingers = linger_on;
  return 0;
}

int ioctlsocket(SOCKET s, unsigned long cmd, unsigned long* argp) {
  Sock* k = Find(s);
  if (k == nullptr) return Fail(WSAENOTSOCK);
  if (argp == nullptr) return Fail(WSAEFAULT);
  if (cmd == FIONBIO) {
    const bool on = *argp != 0;
    if (!on && k->mask != 0) return Fail(WSAEINVAL);  // selected sockets stay non-blocking
    if (on == k->nonblocking) return 0;
    if (!SetNonBlocking(s, on)) return FailErrno();
    k->nonblocking = on;
    return 0;
  }
  if (cmd == FIONREAD) {
    int avail = 0;
    if (::ioctl(s, FIONREAD, &avail) != 0) return FailErrno();
    *argp = static_cast<unsigned long>(avail);
    return 0;
  }
  return Fail(WSAEINVAL);
}

int closesocket(SOCKET s) {
  if (Find(s) == nullptr) return Fail(WSAENOTSOCK);
  UnwatchFdToClose(s);
  Forget(s);
  // Linux frees the descriptor even when close reports EINTR.
  if (::close(s) != 0 && errno != EINTR) return FailErrno();
  return 0;
}

// ---------------------------------------------------------------------------

bool ResolveHost(const std::string& name, uint32_t& address) {
  if (name.empty()) {
    last_error = WSAHOST_NOT_FOUND;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    switch (rc) {
      case EAI_AGAIN: last_error = WSATRY_AGAIN; break;
      case EAI_NONAME: last_error = WSAHOST_NOT_FOUND; break;
#ifdef EAI_NODATA
      case EAI_NODATA: last_error = WSANO_DATA; break;
#endif
#ifdef EAI_ADDRFAMILY
      case EAI_ADDRFAMILY: last_error = WSANO_DATA; break;
#endif
      default: last_error = WSANO_RECOVERY; break;
    }
    if (result) ::freeaddrinfo(result);
    return false;
  }
  address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(result);
  return true;
}

uint16_t ResolveService(const std::string& name, const std::string& proto) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (name.empty() || ::getservbyname_r(name.c_str(), proto.c_str(), &entry, buffer, sizeof buffer, &found) != 0 ||
      found == nullptr) {
    last_error = WSANO_DATA;
    return 0;
  }
  return static_cast<uint16_t>(found->s_port);  // already in network order
}

uint32_t inet_addr(const char* text) {
  in_addr a{};
  if (text == nullptr || ::inet_aton(text, &a) == 0) return INADDR_NONE;
  return a.s_addr;
}

std::string inet_ntoa(in_addr address) {
  const auto* octets = reinterpret_cast<const unsigned char*>(&address.s_addr);
  char text[INET_ADDRSTRLEN];
  char* p = text;
  for (int i = 0; i < 4; ++i) {
    unsigned v = octets[i];
    if (i) *p++ = '.';
    if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
    if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
    *p++ = static_cast<char>('0' + v % 10);
  }
  return std::string(text, static_cast<size_t>(p - text));
}

std::string WinsockErrorName(int error) {
  static const std::unordered_map<int, const char*> names = {
      {WSAEINTR, "WSAEINTR"},
      {WSAEBADF, "WSAEBADF"},
      {WSAEFAULT, "WSAEFAULT"},
      {WSAEINVAL, "WSAEINVAL"},
      {WSAEMFILE, "WSAEMFILE"},
      {WSAEWOULDBLOCK, "WSAEWOULDBLOCK"},
      {WSAEINPROGRESS, "WSAEINPROGRESS"},
      {WSAEALREADY, "WSAEALREADY"},
      {WSAENOTSOCK, "WSAENOTSOCK"},
      {WSAEDESTADDRREQ, "WSAEDESTADDRREQ"},
      {WSAEMSGSIZE, "WSAEMSGSIZE"},
      {WSAEPROTOTYPE, "WSAEPROTOTYPE"},
      {WSAENOPROTOOPT, "WSAENOPROTOOPT"},
      {WSAEPROTONOSUPPORT, "WSAEPROTONOSUPPORT"},
      {WSAESOCKTNOSUPPORT, "WSAESOCKTNOSUPPORT"},
      {WSAEOPNOTSUPP, "WSAEOPNOTSUPP"},
      {WSAEPFNOSUPPORT, "WSAEPFNOSUPPORT"},
      {WSAEAFNOSUPPORT, "WSAEAFNOSUPPORT"},
      {WSAEADDRINUSE, "WSAEADDRINUSE"},
      {WSAEADDRNOTAVAIL, "WSAEADDRNOTAVAIL"},
      {WSAENETDOWN, "WSAENETDOWN"},
      {WSAENETUNREACH, "WSAENETUNREACH"},
      {WSAENETRESET, "WSAENETRESET"},
      {WSAECONNABORTED, "WSAECONNABORTED"},
      {WSAECONNRESET, "WSAECONNRESET"},
      {WSAENOBUFS, "WSAENOBUFS"},
      {WSAEISCONN, "WSAEISCONN"},
      {WSAENOTCONN, "WSAENOTCONN"},
      {WSAESHUTDOWN, "WSAESHUTDOWN"},
      {WSAETOOMANYREFS, "WSAETOOMANYREFS"},
      {WSAETIMEDOUT, "WSAETIMEDOUT"},
      {WSAECONNREFUSED, "WSAECONNREFUSED"},
      {WSAELOOP, "WSAELOOP"},
      {WSAENAMETOOLONG, "WSAENAMETOOLONG"},
      {WSAEHOSTDOWN, "WSAEHOSTDOWN"},
      {WSAEHOSTUNREACH, "WSAEHOSTUNREACH"},
      {WSAENOTEMPTY, "WSAENOTEMPTY"},
      {WSAEPROCLIM, "WSAEPROCLIM"},
      {WSAEUSERS, "WSAEUSERS"},
      {WSAEDQUOT, "WSAEDQUOT"},
      {WSAESTALE, "WSAESTALE"},
      {WSAEREMOTE, "WSAEREMOTE"},
      {WSASYSNOTREADY, "WSASYSNOTREADY"},
      {WSAVERNOTSUPPORTED, "WSAVERNOTSUPPORTED"},
      {WSANOTINITIALISED, "WSANOTINITIALISED"},
      {WSAHOST_NOT_FOUND, "WSAHOST_NOT_FOUND"},
      {WSATRY_AGAIN, "WSATRY_AGAIN"},
      {WSANO_RECOVERY, "WSANO_RECOVERY"},
      {WSANO_DATA, "WSANO_DATA"},
  };
  auto it = names.find(error);
  return it == names.end() ? std::to_string(error) : it->second;
}

}  // namespace platform::winsock
