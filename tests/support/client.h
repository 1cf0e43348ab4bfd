// A raw client connection over loopback, and one whole exchange on it, for
// the suites that talk to a server: the end-to-end, korridan and socket-layer
// tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace testsupport {

class Client {
 public:
  // from: the loopback address to connect from (127.0.0.0/8), or any.
  // rcvbuf: the receive buffer's size, or the system's (0). A blocking read
  // on fd() gives up after 10 seconds.
  explicit Client(int port, const char* from = nullptr, int rcvbuf = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return;
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (rcvbuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    bool ok = true;
    if (from) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ok = ::inet_pton(AF_INET, from, &local.sin_addr) == 1 &&
           ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ok && ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  int fd() const { return fd_; }
  void Send(const std::string& bytes) const {
    std::size_t sent = 0;
    while (connected_ && sent < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
  }
  void ShutWrite() const { ::shutdown(fd_, SHUT_WR); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Closes with a reset instead of an orderly end.
  void Reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }

  // Everything until the server closes, or until nothing came for
  // timeout_ms: timed_out is then set, or without it the text ends in
  // "(timeout)".
  std::string ReadAll(int timeout_ms = 10000, bool* timed_out = nullptr) const {
    std::string out;
    if (timed_out) *timed_out = false;
    char buf[65536];
    for (;;) {
      if (!Wait(timeout_ms)) {
        if (timed_out)
          *timed_out = true;
        else
          out += "(timeout)";
        return out;
      }
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return out;
      out.append(buf, static_cast<std::size_t>(n));
    }
  }
  // Up to want bytes: fewer when the server closes or nothing comes for
  // timeout_ms.
  std::string ReadSome(std::size_t want, int timeout_ms = 10000) const {
    std::string out;
    char buf[4096];
    while (out.size() < want && Wait(timeout_ms)) {
      ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, want - out.size()), 0);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  bool Wait(int timeout_ms) const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) > 0;
  }

  int fd_ = -1;
  bool connected_ = false;
};

// The whole answer to one request, until the server closes (see ReadAll);
// "(connect failed)" when there is no connection.
inline std::string Exchange(int port, const std::string& request, const char* from = nullptr,
                            int timeout_ms = 10000) {
  Client c(port, from);
  if (!c.Connected()) return "(connect failed)";
  c.Send(request);
  return c.ReadAll(timeout_ms);
}

}  // namespace testsupport
