// A free loopback port for a test server. The port is only free when asked:
// another process may take it before the server binds, so a port handed out
// once in this process is not handed out again, and a failed probe is tried
// again.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <set>

namespace testsupport {

inline int FreePort() {
  static std::mutex lock;
  static std::set<int> given;
  std::lock_guard<std::mutex> hold(lock);
  for (int attempt = 0; attempt < 50; ++attempt) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) continue;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    ::close(s);
    int port = ntohs(a.sin_port);
    if (ok && port != 0 && given.insert(port).second) return port;
  }
  return 0;
}

}  // namespace testsupport
