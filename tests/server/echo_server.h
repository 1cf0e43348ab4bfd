// A small server on TServer for the socket-layer tests: it echoes each line
// it reads, and a line "FILE <path>" makes it send that file in blocks and
// close. Also the client side and the pump the tests share.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/msgloop.h"
#include "server/wsock.h"
#include "tests/support/free_port.h"

namespace echo {

using testsupport::FreePort;

// Dispatches messages until done() or the timeout; true when done.
inline bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    platform::MSG msg;
    if (platform::PeekMessage(msg, 0, 0, 0, platform::PM_REMOVE)) {
      platform::DispatchMessage(msg);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

inline void PumpFor(int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  PumpUntil([&] { return std::chrono::steady_clock::now() > until; }, ms + 1000);
}

// A blocking client with a receive timeout.
struct Client {
  int fd = -1;
  explicit Client(int port, int timeout_ms = 5000) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ~Client() { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  void Send(const std::string& s) const { (void)::send(fd, s.data(), s.size(), MSG_NOSIGNAL); }
  // Everything until the server closes (or the timeout).
  std::string ReadAll(int pause_ms = 0) const {
    std::string out;
    char buf[65536];
    for (;;) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      if (pause_ms) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }
    return out;
  }
  std::string ReadSome(size_t want) const {
    std::string out;
    char buf[4096];
    while (out.size() < want) {
      ssize_t n = ::recv(fd, buf, std::min(sizeof buf, want - out.size()), 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
};

struct LogLine {
  int32_t slot;
  int32_t socket;
  std::string text;
};

// The echo server's handlers over a TServer.
class Server {
 public:
  explicit Server(int port, int slots = 4, const std::string& address = "127.0.0.1", int backlog = 5) {
    srv.Address = address;
    srv.Port = port;
    srv.OnRead = [this](void*, int32_t cid) { Read(cid); };
    srv.OnWrite = [this](void*, int32_t cid) { Write(cid); };
    srv.OnTimeOut = [this](void*, int32_t cid) {
      ++timeouts;
      srv.DisconnectSlot(cid);
    };
    srv.OnDisconnect = [this](void*, int32_t cid) { srv.DisconnectSlot(cid); };
    srv.OnAccept = [this](void*, int32_t) { ++accepted; };
    srv.Init([this](int32_t s, int32_t sock, std::string_view t) { log.push_back({s, sock, std::string(t)}); },
             slots, backlog, "/tmp/");
  }

  void Read(int32_t cid) {
    TSock* c = srv.Connections[cid];
    ShortString line;
    while (FifoTakeLine(c->InputFifo, line)) {
      std::string text = line.str();
      if (text.rfind("FILE ", 0) == 0) {
        if (!srv.OpenSendFile(cid, text.substr(5), true)) srv.DisconnectSlot(cid);
        return;
      }
      FifoCreate(c->OutputFifo);
      FifoAppendLine(c->OutputFifo, text);
      srv.FlushOutput(cid);
    }
  }

  void Write(int32_t cid) {
    TSock* c = srv.Connections[cid];
    if (c->OutputFifo && c->OutputFifo->Count > 0) {
      srv.FlushOutput(cid);
    } else if (c->FileInProgress) {
      srv.SendNextBlock(cid);
    }
  }

  bool HasLog(const std::string& text) const {
    for (const auto& l : log)
      if (l.text == text) return true;
    return false;
  }

  TServer srv;
  std::vector<LogLine> log;
  int accepted = 0;
  int timeouts = 0;
};

}  // namespace echo
