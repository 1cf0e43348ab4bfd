// A small server on TServer for the socket-layer tests: it echoes each line
// it reads, and a line "FILE <path>" makes it send that file in blocks and
// close. Also the pump and the client the tests share.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/msgloop.h"
#include "server/wsock.h"
#include "tests/support/client.h"
#include "tests/support/free_port.h"

namespace echo {

using testsupport::Client;
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
