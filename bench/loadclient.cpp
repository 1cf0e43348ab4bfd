// A small HTTP/1.0 load client: a fixed number of concurrent clients, each
// connecting, sending one GET, reading the answer to the server's close and
// starting again, for a fixed time. One thread, non-blocking sockets, epoll.
//
//   loadclient --port N [--host 127.0.0.1] [--path /] [--clients 64] [--seconds 10]
//   loadclient --port N --hold C  opens C connections that send nothing and
//                                 keeps them until standard input ends
//   loadclient --free-port      prints a port the kernel picks, then exits
//
// Prints one line: requests, failures, seconds, requests per second, bytes
// received per second (MB/s) and the 99th percentile of the time from
// connect to the server's close (ms). An answer counts when it begins with an "HTTP/1.x 200" status line and has
// at least the header's blank line; anything else (a refused connection, a
// reset, another status) is a failure.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string path = "/";
  int clients = 64;
  double seconds = 10;
  int hold = 0;
};

struct Conn {
  int fd = -1;
  std::size_t sent = 0;
  std::string got;
  std::chrono::steady_clock::time_point opened;
};

int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

bool Answered(const std::string& got) {
  return got.size() >= 12 && got.compare(0, 7, "HTTP/1.") == 0 && got.compare(8, 4, " 200") == 0 &&
         got.find("\r\n\r\n") != std::string::npos;
}

class Load {
 public:
  explicit Load(const Options& o) : o_(o), conns_(o.clients) {
    request_ = "GET " + o.path + " HTTP/1.0\r\n\r\n";
    addr_.sin_family = AF_INET;
    addr_.sin_port = htons(static_cast<uint16_t>(o.port));
    inet_pton(AF_INET, o.host.c_str(), &addr_.sin_addr);
    ep_ = epoll_create1(EPOLL_CLOEXEC);
  }
  ~Load() {
    for (Conn& c : conns_)
      if (c.fd >= 0) ::close(c.fd);
    ::close(ep_);
  }

  void Run() {
    auto start = std::chrono::steady_clock::now();
    auto end = start + std::chrono::duration<double>(o_.seconds);
    for (int i = 0; i < o_.clients; ++i) Open(i);
    std::vector<epoll_event> events(static_cast<std::size_t>(o_.clients));
    while (std::chrono::steady_clock::now() < end) {
      int n = epoll_wait(ep_, events.data(), o_.clients, 100);
      for (int k = 0; k < n; ++k) Step(static_cast<int>(events[k].data.u32), events[k].events);
      // Each finished client starts its next request.
      for (int i = 0; i < o_.clients; ++i)
        if (conns_[i].fd < 0) Open(i);
    }
    elapsed_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  long Requests() const { return ok_; }
  double Bytes() const { return static_cast<double>(bytes_); }
  double P99Ms() {
    if (latencies_.empty()) return 0;
    std::size_t k = latencies_.size() * 99 / 100;
    std::nth_element(latencies_.begin(), latencies_.begin() + static_cast<long>(k), latencies_.end());
    return latencies_[k] * 1000;
  }
  long Failures() const { return failed_; }
  double Elapsed() const { return elapsed_; }

 private:
  void Open(int i) {
    Conn& c = conns_[i];
    c = Conn{};
    c.opened = std::chrono::steady_clock::now();
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int r = ::connect(c.fd, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_);
    if (r != 0 && errno != EINPROGRESS) {
      ::close(c.fd);
      c.fd = -1;
      ++failed_;
      return;
    }
    epoll_event ev{};
    ev.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
    ev.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(ep_, EPOLL_CTL_ADD, c.fd, &ev);
  }

  void Finish(int i, bool ok) {
    Conn& c = conns_[i];
    epoll_ctl(ep_, EPOLL_CTL_DEL, c.fd, nullptr);
    ::close(c.fd);
    c.fd = -1;
    if (ok) {
      ++ok_;
      bytes_ += c.got.size();
      latencies_.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - c.opened).count());
    } else {
      ++failed_;
    }
  }

  void Step(int i, uint32_t events) {
    Conn& c = conns_[i];
    if (c.fd < 0) return;
    if (c.sent < request_.size() && (events & EPOLLOUT)) {
      ssize_t n = ::send(c.fd, request_.data() + c.sent, request_.size() - c.sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) return Finish(i, false);
      if (n > 0) c.sent += static_cast<std::size_t>(n);
      if (c.sent == request_.size()) {
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u32 = static_cast<uint32_t>(i);
        epoll_ctl(ep_, EPOLL_CTL_MOD, c.fd, &ev);
      }
    }
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
      char buf[16384];
      for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
          c.got.append(buf, static_cast<std::size_t>(n));
          continue;
        }
        if (n == 0) return Finish(i, Answered(c.got));
        if (errno == EAGAIN) return;
        return Finish(i, false);
      }
    }
  }

  Options o_;
  std::vector<Conn> conns_;
  std::string request_;
  sockaddr_in addr_{};
  int ep_ = -1;
  long ok_ = 0;
  long failed_ = 0;
  std::size_t bytes_ = 0;
  std::vector<double> latencies_;
  double elapsed_ = 0;
};

// Idle connections: connected, never sending, held until standard input ends.
int Hold(const Options& o) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(o.port));
  inet_pton(AF_INET, o.host.c_str(), &addr.sin_addr);
  std::vector<int> fds;
  for (int i = 0; i < o.hold; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      std::perror("connect");
      return 1;
    }
    fds.push_back(fd);
  }
  std::printf("held %d\n", o.hold);
  std::fflush(stdout);
  char buf[64];
  while (::read(0, buf, sizeof buf) > 0) {
  }
  for (int fd : fds) ::close(fd);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: loadclient --port N [--host A] [--path P] [--clients C] [--seconds S]\n"
               "       loadclient --port N [--host A] --hold C\n"
               "       loadclient --free-port\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--free-port") {
      int p = FreePort();
      if (p == 0) return 1;
      std::printf("%d\n", p);
      return 0;
    }
    if (i + 1 >= argc) return Usage();
    std::string v = argv[++i];
    if (a == "--port")
      o.port = std::atoi(v.c_str());
    else if (a == "--host")
      o.host = v;
    else if (a == "--path")
      o.path = v;
    else if (a == "--clients")
      o.clients = std::atoi(v.c_str());
    else if (a == "--seconds")
      o.seconds = std::atof(v.c_str());
    else if (a == "--hold")
      o.hold = std::atoi(v.c_str());
    else
      return Usage();
  }
  if (o.port < 1 || o.port > 65535 || o.clients < 1 || o.seconds <= 0) return Usage();
  if (o.hold > 0) return Hold(o);
  Load load(o);
  load.Run();
  double rps = load.Elapsed() > 0 ? load.Requests() / load.Elapsed() : 0;
  double mbps = load.Elapsed() > 0 ? load.Bytes() / load.Elapsed() / 1e6 : 0;
  std::printf("requests %ld failures %ld seconds %.2f rps %.1f mbps %.1f p99ms %.2f\n", load.Requests(),
              load.Failures(), load.Elapsed(), rps, mbps, load.P99Ms());
  return load.Requests() > 0 ? 0 : 1;
}
