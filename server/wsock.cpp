#include "server/wsock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "foundation/serverconfig.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "server/eventcounters.h"
#include "server/filecache.h"

namespace ws = platform::winsock;

bool WinsockStarted = false;
bool ServerListening = false;
int32_t OpenConnections = 0;
ws::WSADATA WinsockData{};

namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The socket unit's start and exit.
struct WSockUnit {
  WSockUnit() { FifoCreate(ScratchFifo, true); }
  ~WSockUnit() {
    FifoFree(ScratchFifo);
    WinsockCleanup();
  }
} wsock_unit;

std::string Dotted(uint32_t network_address) {
  in_addr a{};
  a.s_addr = network_address;
  return ws::inet_ntoa(a);
}

}  // namespace

// ---------------------------------------------------------------------------
// Unit routines

bool WinsockStartup() {
  WinsockStarted = ws::WSAStartup(ws::MAKEWORD(1, 1), &WinsockData) == 0;
  return WinsockStarted;
}

void WinsockCleanup() {
  WinsockStarted = false;
  OpenConnections = 0;
  while (ws::WSACleanup() != 0) {
    if (ws::WSAGetLastError() != ws::WSAEINPROGRESS) break;
    SleepMs(100);
  }
}

namespace {
// A zero-terminated text of a fixed field, cut to a short string's 255.
template <size_t N>
std::string FixedText(const char (&text)[N]) {
  std::string s(text, strnlen(text, N));
  if (s.size() > ShortString::kMax) s.resize(ShortString::kMax);
  return s;
}
}  // namespace

std::string WinsockDescription() { return FixedText(WinsockData.szDescription); }
std::string WinsockSystemStatus() { return FixedText(WinsockData.szSystemStatus); }

std::string WinsockErrorName(int error) { return ws::WinsockErrorName(error); }

void SocketErrorBox(std::string_view text) {
  platform::MessageBox(std::string(text), "Halvorine", platform::MsgKind::Error, platform::MsgButtons::Ok);
}

bool CloseSocketHard(int32_t socket) {
  linger off{};
  off.l_onoff = 0;
  ws::setsockopt(socket, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  unsigned long on = 1;
  ws::ioctlsocket(socket, FIONBIO, &on);
  // What was queued for sending still goes out before the close.
  ws::shutdown(socket, ws::SD_SEND);
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (ws::closesocket(socket) == 0) return true;
    if (ws::WSAGetLastError() != ws::WSAEINPROGRESS) return true;
    SleepMs(50);
  }
  return false;
}

// ---------------------------------------------------------------------------
// TSock

TSock::TSock(TServer* owner, int32_t slot, std::string_view temp_dir)
    : Owner(owner), Slot(slot), SocketNum(-1), Port(0), SockAddr{}, Connected(false), Time(0), Busy(false),
      SendFile(-1), FileOpen(false), FileInProgress(false), BytesSent(0),
      FileSize(0), FileRead(0), Percent(0), KillSent(false), InputFifo(nullptr), OutputFifo(nullptr),
      AwaitingCompletion(false), ReadPaused(false), Info{} {
  Address.clear();
  PeerAddress.clear();
  FileName.clear();
  SockAddr.sin_family = AF_INET;
  TouchActivity();
  // The buffers outside code reads keep their addresses for the slot's life.
  ToCString(temp_dir_buf_, temp_dir, sizeof temp_dir_buf_);
  std::memset(user_buf_, 0, sizeof user_buf_);
  std::memset(password_buf_, 0, sizeof password_buf_);
  std::memset(sent_user_buf_, 0, sizeof sent_user_buf_);
  Info.TempDir = temp_dir_buf_;
  Info.User = user_buf_;
  Info.Password = password_buf_;
  Info.SentUser = sent_user_buf_;
}

TSock::~TSock() {
  if (SendFile >= 0 && !SharedFile) ::close(SendFile);
  if (InputFifo) FifoFree(InputFifo);
  if (OutputFifo) FifoFree(OutputFifo);
}

void TSock::TouchActivity() {
  if (!Busy) Time = platform::Now();
}

void TSock::MarkBusy() { Busy = true; }

void TSock::MarkIdle() {
  Busy = false;
  Time = platform::Now();
}

// ---------------------------------------------------------------------------
// TServer: listening and socket events

TServer::TServer() {
  Address.clear();
  hwnd_ = platform::CreateWindowHandle([this](const platform::MSG& msg) {
    if (msg.message == WM_SOCKET) {
      OnSocketMessage(msg);
    } else if (msg.message == WM_OVERLOAD_SOCKET) {
      OnOverloadSocket(msg);
    } else if (msg.message == platform::WM_TIMER && msg.wParam == kLingerTimer) {
      CloseLingering(false);
    } else if (msg.message == platform::WM_TIMER && msg.wParam == kAcceptTimer) {
      ResumeAccepting();
    } else if (OtherMessage) {
      OtherMessage(msg);
    }
  });
}

TServer::~TServer() {
  CloseLingering(true);
  FreeSlots();
  platform::DestroyWindowHandle(hwnd_);
}

void TServer::FreeSlots() {
  for (TSock*& s : Connections) {
    if (!s) continue;
    if (s->Connected && s->SocketNum >= 0) ws::closesocket(s->SocketNum);
    delete s;
    s = nullptr;
  }
}

void TServer::Log(int32_t slot, int32_t socket, std::string_view text) {
  if (LogProc) LogProc(slot, socket, text);
}

void TServer::Raise(const TServerEvent& event, void* sender, int32_t cid) {
  if (event) event(sender, cid);
}

void TServer::Init(TLogProc log, int32_t requested_slots, int32_t backlog, std::string_view temp_dir) {
  LogProc = std::move(log);
  // A new set of slot objects for each run; the last run's are closed.
  CloseLingering(true);
  FreeSlots();
  accept_paused_ = false;
  platform::KillTimer(hwnd_, kAcceptTimer);
  TSock* listener = new TSock(this, 0, temp_dir);
  Connections[0] = listener;
  listener->Address = Address.view();
  listener->Port = Port;
  Listening = false;
  MaxSockets = std::clamp<int32_t>(requested_slots, 0, kMaxSlots);
  MaxPersistentSockets = MaxSockets / 3;
  for (int32_t i = 1; i <= MaxSockets; ++i) Connections[i] = new TSock(this, i, temp_dir);
  ServerListening = ListenSocket(listener, backlog);
  Waiting = false;
}

bool TServer::FillAddress(TSock* slot, std::string_view host, ShortString& address, int32_t port,
                          std::string_view service) {
  bool ok = true;
  uint32_t addr = 0;
  if (!host.empty()) {
    if (!ws::ResolveHost(std::string(host), addr)) {
      SocketErrorBox("Can't find host " + std::string(host));
      ok = false;
    }
    address = Dotted(addr);
  } else if (!address.empty()) {
    // Only a dotted IPv4 address is taken; anything else cannot be bound.
    std::string text = address.str();
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    addr = parsed.s_addr;
  } else {
    ok = false;
  }
  uint16_t net_port = 0;
  if (!service.empty()) {
    net_port = ws::ResolveService(std::string(service));
    if (net_port == 0) SocketErrorBox("Can't find port for service " + std::string(service));
  } else if (port != 0) {
    net_port = htons(static_cast<uint16_t>(port));
  } else {
    ok = false;
  }
  slot->SockAddr.sin_family = AF_INET;
  slot->SockAddr.sin_addr.s_addr = addr;
  slot->SockAddr.sin_port = net_port;
  slot->Port = ntohs(net_port);
  return ok;
}

bool TServer::ListenSocket(TSock* listener, int32_t backlog) {
  if (backlog <= 0) backlog = 25;
  // Each message names, after the system's own words, the call, the
  // address and port, and the system's error text.
  const std::string where = listener->Address.str() + ":" + std::to_string(listener->Port);
  auto system_text = [](int error) { return std::string(std::strerror(error)); };
  int32_t s = ws::socket(AF_INET, SOCK_STREAM, 0);
  int error = errno;
  listener->SocketNum = s;
  if (s == ws::INVALID_SOCKET) {
    SocketErrorBox("[" + WinsockErrorName(ws::WSAGetLastError()) + "] Socket failed. socket() for " + where + ": " +
                   system_text(error));
    return false;
  }
  auto fail = [&](const std::string& text) {
    SocketErrorBox(text);
    ws::closesocket(s);
    listener->SocketNum = -1;
    return false;
  };
  const std::string given = " (address \"" + listener->Address.str() + "\", port " + std::to_string(listener->Port);
  if (listener->Address.empty() || listener->Port == 0) return fail("Host address and port not specified." + given + ")");
  // A port outside 1..65535 has no usable low 16 bits.
  if (listener->Port < 1 || listener->Port > 65535)
    return fail("FillSocket failed." + given + ": the port is outside 1 to 65535)");
  if (!FillAddress(listener, "", listener->Address, listener->Port & 0xFFFF, ""))
    return fail("FillSocket failed." + given + ": the address is not a dotted IPv4 address)");
  if (ws::bind(s, reinterpret_cast<const sockaddr*>(&listener->SockAddr), sizeof(sockaddr_in)) != 0) {
    error = errno;
    return fail("[" + WinsockErrorName(ws::WSAGetLastError()) + "] Bind failed. bind(" + where + "): " +
                system_text(error));
  }
  if (ws::listen(s, backlog) != 0) {
    error = errno;
    return fail("Listen failed. listen(" + where + ", backlog " + std::to_string(backlog) + "): " + system_text(error));
  }
  ws::WSAAsyncSelect(s, hwnd_, WM_SOCKET, kSelectedEvents);
  listener->Connected = true;
  Log(0, s, "Listening...");
  Listening = true;
  return true;
}

int32_t TServer::FindSlotBySocket(int32_t socket) const {
  for (int32_t i = 1; i <= MaxSockets; ++i)
    if (Connections[i] && Connections[i]->SocketNum == socket) return i;
  return 0;
}

int32_t TServer::FindFreeSlot() const {
  for (int32_t i = 1; i <= MaxSockets; ++i)
    if (Connections[i] && Connections[i]->SocketNum == -1 && !LateCallOutstanding[i]) return i;
  return 0;
}

int32_t TServer::AcceptConnection() {
  TSock* listener = Connections[0];
  if (!listener || listener->SocketNum < 0) return 0;
  int32_t slot = FindFreeSlot();
  sockaddr_in peer{};
  int len = sizeof peer;
  int32_t s = ws::accept(listener->SocketNum, reinterpret_cast<sockaddr*>(&peer), &len);
  if (s == ws::INVALID_SOCKET) {
    AcceptFailed(errno);
    return 0;
  }
  if (slot == 0) {
    slot = ReclaimSlot(peer.sin_addr.s_addr);
    if (slot == 0) {
      AnswerOverloaded(s);
      return 0;
    }
  }
  TSock* c = Connections[slot];
  c->SockAddr = peer;
  c->SocketNum = s;
  CountEvent(evSocketsOpened);
  c->PeerAddress = Dotted(c->SockAddr.sin_addr.s_addr);
  // A listener bound to one address accepts on that address only.
  sockaddr_in local = listener->SockAddr;
  int local_len = sizeof local;
  if (local.sin_addr.s_addr != INADDR_ANY || ws::getsockname(s, reinterpret_cast<sockaddr*>(&local), &local_len) == 0)
    c->Address = Dotted(local.sin_addr.s_addr);
  c->Connected = true;
  c->AcceptedAt = c->MovedAt = platform::MonotonicSeconds();
  c->UnsentWhenBlocked = -1;
  c->KillSent = false;
  c->Percent = 0;
  c->ReadPaused = false;
  c->Info.Marker = 3;
  c->Info.Closed = 0;
  c->Info.Socket = s;
  c->Info.ClientIp = c->SockAddr.sin_addr.s_addr;
  c->Info.Cid = slot;
  c->Info.CallContext = 1;
  c->Info.SkipEngine = 0;
  c->Info.UnloadAfterCall = 0;
  ++OpenConnections;
  return slot;
}

// Every slot is taken: a connection that makes no progress gives way, one
// still reading its request long after its accept (trickling bytes does not
// keep it) or one whose answer has not moved for as long (its client reads
// nothing). It is closed without an answer, as the idle check closes one;
// the one stuck longest goes first, a reader counted from its accept and an
// answer from when it last moved. An address that holds more than half of
// the slots may only trade one of its own, and only after twice the wait,
// so that reconnecting again and again takes no other address's slot and
// other addresses come first.
int32_t TServer::ReclaimSlot(uint32_t from) {
  const bool own_only = SlotsHeldBy(from) * 2 > MaxSockets;
  const double wait = own_only ? 2 * kReclaimAfterSeconds : kReclaimAfterSeconds;
  const double now = platform::MonotonicSeconds();
  int32_t oldest = 0;
  double oldest_since = 0;
  for (int32_t i = 1; i <= MaxSockets; ++i) {
    TSock* c = Connections[i];
    // A slot that still owes a late completion (a page's late "$RUN") keeps
    // it until the completion comes, whatever its connection does.
    if (!c || !c->Connected || c->Busy || c->AwaitingCompletion || LateCallOutstanding[i]) continue;
    if (own_only && c->SockAddr.sin_addr.s_addr != from) continue;
    const bool answering = c->FileInProgress || (c->OutputFifo && c->OutputFifo->Count > 0);
    double since;
    if (answering)
      since = c->MovedAt;
    else if (ReadingRequest && ReadingRequest(i))
      since = c->AcceptedAt;
    else
      continue;
    if (now - since <= wait || (answering && StillTaken(c, now))) continue;
    if (oldest == 0 || since < oldest_since) {
      oldest = i;
      oldest_since = since;
    }
  }
  if (oldest == 0) return 0;
  Log(oldest, Connections[oldest]->SocketNum, "TimeOut");
  Raise(OnTimeOut, this, oldest);
  return Connections[oldest]->SocketNum == -1 ? oldest : 0;
}

// The socket takes no more of the answer until its client has read a good
// part of what it holds, so a slow reader can leave the answer unmoved for
// long. Whether the client took bytes since the socket last refused more:
// the socket has sent more of what it held (what was in flight then being
// acknowledged changes nothing). The answer then counts as moved now.
bool TServer::StillTaken(TSock* c, double now) {
  const int unsent = ws::UnsentBytes(c->SocketNum);
  if (unsent < 0 || c->UnsentWhenBlocked < 0 || unsent >= c->UnsentWhenBlocked) return false;
  c->MovedAt = now;
  c->UnsentWhenBlocked = unsent;
  return true;
}

int32_t TServer::SlotsHeldBy(uint32_t address) const {
  int32_t n = 0;
  for (int32_t i = 1; i <= MaxSockets; ++i)
    n += Connections[i] && Connections[i]->Connected && Connections[i]->SockAddr.sin_addr.s_addr == address;
  return n;
}

// Out of descriptors (or socket memory), accept fails and the connection
// stays queued, so the listener would report it again at once: the server
// stops asking for connections until one of its sockets closes or for a
// short while, and says so once per spell.
void TServer::AcceptFailed(int system_error) {
  const int error = ws::WSAGetLastError();
  if (error != ws::WSAEMFILE && error != ws::WSAENOBUFS) return;
  TSock* listener = Connections[0];
  const double now = platform::MonotonicSeconds();
  if (now - exhausted_at_ > kExhaustionSpellGap) {
    Log(0, listener->SocketNum,
        "[" + WinsockErrorName(error) + "] Accept failed. accept(" + listener->Address.str() + ":" +
            std::to_string(listener->Port) + "): " + std::strerror(system_error) +
            "; new connections wait until a socket closes");
  }
  exhausted_at_ = now;
  accept_paused_ = true;
  resume_at_ = now + kAcceptPauseMs / 1000.0;
  ws::WSAAsyncSelect(listener->SocketNum, hwnd_, WM_SOCKET, 0);
  platform::SetTimer(hwnd_, kAcceptTimer, kAcceptPauseMs);
}

void TServer::ResumeAccepting() {
  if (!accept_paused_) return;
  accept_paused_ = false;
  platform::KillTimer(hwnd_, kAcceptTimer);
  TSock* listener = Connections[0];
  // Selecting again reports a connection that is already waiting.
  if (listener && listener->Connected && listener->SocketNum >= 0)
    ws::WSAAsyncSelect(listener->SocketNum, hwnd_, WM_SOCKET, kSelectedEvents);
}

// The 97 bytes go out at once; the socket then waits, without holding up
// the server, for its client to close (or for a few seconds), so that the
// client's unread request does not turn the close into a reset that could
// destroy the answer.
void TServer::AnswerOverloaded(int32_t s) {
  Log(0, 0, "502 Overloaded");
  unsigned long on = 1;
  ws::ioctlsocket(s, FIONBIO, &on);
  static const char* const lines[] = {"HTTP/1.0 502 Overloaded\r\n", "Content-type: text/html\r\n", "\r\n",
                                      "<h1>502 Service Temporarily Overloaded</h1>\r\n"};
  for (const char* line : lines) ws::send(s, line, static_cast<int>(std::strlen(line)), 0);
  ws::shutdown(s, ws::SD_SEND);
  ws::WSAAsyncSelect(s, hwnd_, WM_OVERLOAD_SOCKET, platform::winsock::FD_READ | platform::winsock::FD_CLOSE);
  // Clients that never close must not hold a descriptor each: no more such
  // sockets wait than there are slots (one when there are none), and the
  // oldest is closed at once for a new one.
  const std::size_t most = static_cast<std::size_t>(std::max<int32_t>(MaxSockets, 1));
  bool first_changed = lingering_.empty();
  while (lingering_.size() >= most) {
    CloseSocketHard(lingering_.front().socket);
    lingering_.erase(lingering_.begin());
    first_changed = true;
  }
  lingering_.push_back({s, platform::MonotonicSeconds() + OverloadLingerSeconds});
  if (first_changed) ArmLingerTimer();
}

void TServer::OnOverloadSocket(const platform::MSG& msg) {
  int32_t s = static_cast<int32_t>(msg.wParam);
  auto it = std::find_if(lingering_.begin(), lingering_.end(), [s](const Lingering& l) { return l.socket == s; });
  if (it == lingering_.end()) return;
  long event = ws::WSAGETSELECTEVENT(msg.lParam);
  if (event == ws::FD_READ) {
    char sink[4096];
    int n = ws::recv(s, sink, sizeof sink, 0);
    if (n != 0 && !(n < 0 && ws::WSAGetLastError() == ws::WSAEWOULDBLOCK)) {
      CloseLingering(false);
      return;
    }
  }
  CloseSocketHard(s);
  lingering_.erase(it);
  CloseLingering(false);
  ArmLingerTimer();
  ResumeAccepting();
}

// Closes the overload sockets whose wait is over (all of them when asked).
void TServer::CloseLingering(bool all) {
  if (lingering_.empty()) return;
  double now = platform::MonotonicSeconds();
  const std::size_t had = lingering_.size();
  for (auto it = lingering_.begin(); it != lingering_.end();) {
    if (all || now >= it->deadline) {
      CloseSocketHard(it->socket);
      it = lingering_.erase(it);
    } else {
      ++it;
    }
  }
  if (lingering_.size() == had) return;
  ArmLingerTimer();
  ResumeAccepting();
}

// The timer that closes the overload sockets on time when nothing else
// happens: due at the first one's end of wait. Waits begin in order, so the
// first is the oldest.
void TServer::ArmLingerTimer() {
  if (lingering_.empty()) {
    platform::KillTimer(hwnd_, kLingerTimer);
    return;
  }
  const double left = lingering_.front().deadline - platform::MonotonicSeconds();
  platform::SetTimer(hwnd_, kLingerTimer, static_cast<uint32_t>(std::max(0.0, left) * 1000.0) + 1);
}

void TServer::OnSocketMessage(const platform::MSG& msg) {
  int32_t socket = static_cast<int32_t>(msg.wParam);
  long event = ws::WSAGETSELECTEVENT(msg.lParam);
  switch (event) {
    case ws::FD_READ:
      ReadEvent(socket);
      break;
    case ws::FD_WRITE: {
      int32_t slot = FindSlotBySocket(socket);
      if (slot != 0 && OnWrite) {
        Connections[slot]->TouchActivity();
        OnWrite(this, slot);
      }
      break;
    }
    case ws::FD_ACCEPT: {
      if (Console.StopAccepting) break;
      int32_t slot = AcceptConnection();
      if (slot != 0) {
        Connections[slot]->TouchActivity();
        Raise(OnAccept, this, slot);
      }
      break;
    }
    case ws::FD_CLOSE:
      CloseEvent(socket, ws::WSAGETSELECTERROR(msg.lParam));
      break;
    default:
      break;
  }
  CloseLingering(false);
  // Timers come only when the queue is empty; a busy server looks itself.
  if (accept_paused_ && platform::MonotonicSeconds() >= resume_at_) ResumeAccepting();
  if (Console.ExitPending && Console.ExitCommand) Console.ExitCommand();
}

void TServer::ReadEvent(int32_t socket) {
  int32_t slot = FindSlotBySocket(socket);
  if (slot == 0) return;
  TSock* c = Connections[slot];
  FifoCreate(c->InputFifo);
  FifoCompact(c->InputFifo);
  FifoReset(ScratchFifo);
  int32_t room = kFifoCapacity - FifoEndIndex(c->InputFifo);
  int32_t n = room > 0 ? SockRecv(slot, ScratchFifo->Data, room) : 0;
  // A full FIFO pauses reading until its reader has taken bytes.
  c->ReadPaused = room <= 0;
  ScratchFifo->Count = n;
  if (n > 0) c->TouchActivity();
  if (c->Connected && n > 0) {
    ScratchFifo->Start = 1;
    FifoAppendFifo(c->InputFifo, ScratchFifo);
  }
  Raise(OnRead, this, slot);
  ResumeReading(slot);
}

void TServer::CloseEvent(int32_t socket, int error) {
  int32_t slot = FindSlotBySocket(socket);
  if (slot == 0) return;
  TSock* c = Connections[slot];
  if (c->AwaitingCompletion) {
    c->Info.Closed = 1;
    return;
  }
  c->TouchActivity();
  // A client that closed its writing side after its request still gets
  // the answer under way; a failed send or the idle check ends it.
  if (error == 0 && (c->FileInProgress || (c->OutputFifo && c->OutputFifo->Count > 0))) {
    c->Info.Closed = 1;
    return;
  }
  Raise(OnDisconnect, this, slot);
  c->Info.Closed = 1;
}

void TServer::ResumeReading(int32_t slot) {
  if (slot < 1 || slot > MaxSockets) return;
  TSock* c = Connections[slot];
  if (!c || !c->ReadPaused || !c->Connected || !c->InputFifo) return;
  FifoCompact(c->InputFifo);
  if (FifoEndIndex(c->InputFifo) >= kFifoCapacity) return;
  c->ReadPaused = false;
  ws::WSAAsyncSelect(c->SocketNum, hwnd_, WM_SOCKET, kSelectedEvents);
}

int32_t TServer::SockRecv(int32_t slot, void* buffer, int32_t size) {
  TSock* c = Connections[slot];
  if (c->SocketNum == -1 || !c->Connected) {
    SocketErrorBox("SRecv on invalid socket.");
    return 0;
  }
  int n = ws::recv(c->SocketNum, buffer, size, 0);
  if (n > 0) return n;
  if (n == 0) return 0;
  if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) Raise(OnTimeOut, c, slot);
  return 0;
}

// ---------------------------------------------------------------------------
// Sending and closing

int32_t TServer::SockSend(int32_t slot, const void* buffer, int32_t length, int32_t flags) {
  TSock* c = Connections[slot];
  if (c->SocketNum == -1 || !c->Connected) {
    SocketErrorBox("SSend on invalid socket.");
    return -1;
  }
  int n = ws::send(c->SocketNum, buffer, length, flags);
  if (n > 0) {
    c->MovedAt = platform::MonotonicSeconds();
  } else if (n == -1 && ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) {
    c->UnsentWhenBlocked = ws::UnsentBytes(c->SocketNum);
  } else if (n == -1) {
    Raise(OnTimeOut, c, slot);
  }
  return n;
}

bool TServer::FlushOutput(int32_t slot, bool more_follows) {
  TSock* c = Connections[slot];
  for (;;) {
    if (!c->OutputFifo || c->OutputFifo->Count == 0) {
      ReleaseOutputFifo(slot);
      return true;
    }
    int32_t n = std::min(c->OutputFifo->Count, kSendBlockSize);
    int32_t r = SockSend(slot, c->OutputFifo->Data + c->OutputFifo->Start - 1, n, more_follows ? MSG_MORE : 0);
    if (r == -1) {
      if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) ReleaseOutputFifo(slot);
      return false;
    }
    if (c->OutputFifo) {
      c->OutputFifo->Start += r;
      c->OutputFifo->Count -= r;
    }
  }
}

void TServer::ReleaseOutputFifo(int32_t slot) {
  TSock* c = Connections[slot];
  if (slot > MaxPersistentSockets) {
    if (c->OutputFifo) FifoFree(c->OutputFifo);
  } else {
    FifoReset(c->OutputFifo);
  }
}

bool TServer::OpenSendFile(int32_t slot, std::string_view name, bool start_now, OpenFailure* why) {
  TSock* c = Connections[slot];
  if (c->FileOpen) CloseSendFile(slot, false);
  // The regular file the name shows now: a small settled one from memory,
  // a larger one from a descriptor kept open (a file to be deleted after
  // sending never is).
  ServedFile f = OpenServedFile(std::string(name), !c->KillSent);
  if (!f.ok()) {
    if (why) *why = f.failure;
    return false;
  }
  CountEvent(evFilesOpened);
  c->FileBytes = std::move(f.bytes);
  c->SharedFile = std::move(f.file);
  c->SendFile = c->SharedFile ? c->SharedFile->fd : -1;
  c->FileName = name;
  c->FileInProgress = true;
  c->FileOpen = true;
  c->BytesSent = 0;
  c->FileRead = 0;
  c->FileSize = f.size;
  c->Percent = 0;
  if (start_now) SendNextBlock(slot);
  return true;
}

bool TServer::SendNextBlock(int32_t slot) {
  TSock* c = Connections[slot];
  return c->Connected ? SendFileBlocks(slot) : false;
}

// The file goes from the page cache to the socket (sendfile), as much at a
// time as the socket takes.
bool TServer::SendFileBlocks(int32_t slot) {
  TSock* c = Connections[slot];
  for (;;) {
    if (c->FileOpen && c->FileRead >= c->FileSize) CloseSendFile(slot, true);
    if (!c->FileOpen) {
      Raise(OnTimeOut, c, slot);
      return true;
    }
    if (c->SocketNum == -1 || !c->Connected) {
      SocketErrorBox("SSend on invalid socket.");
      return false;
    }
    const int64_t left = c->FileSize - c->FileRead;
    int32_t r;
    if (c->FileBytes) {
      r = ws::send(c->SocketNum, c->FileBytes->data() + c->FileRead, static_cast<int>(left), 0);
      if (r > 0) c->FileRead += r;
    } else {
      r = ws::SendFileBytes(c->SocketNum, c->SendFile, &c->FileRead, static_cast<int>(std::min<int64_t>(left, 1 << 30)));
    }
    const int error = r < 0 ? ws::WSAGetLastError() : 0;
    if (error == ws::WSAEWOULDBLOCK) {
      c->UnsentWhenBlocked = ws::UnsentBytes(c->SocketNum);
      return false;
    }
    if (r == 0 || error == ws::WSAEINVAL) {
      // The file shrank or cannot be read (sendfile's EINVAL): what was
      // promised cannot be sent, so the connection ends here.
      CloseSendFile(slot, false);
      Raise(OnTimeOut, c, slot);
      return true;
    }
    if (r < 0) {
      Raise(OnTimeOut, c, slot);
      return false;
    }
    c->BytesSent += r;
    c->MovedAt = platform::MonotonicSeconds();
    c->Percent = c->FileSize > 0 ? static_cast<int32_t>(c->BytesSent * 100 / c->FileSize) : 0;
  }
}

void TServer::CloseSendFile(int32_t slot, bool keep_state) {
  TSock* c = Connections[slot];
  if (c->FileOpen) {
    CountEvent(evFilesClosed);
    c->FileBytes.reset();
    c->SharedFile.reset();
    c->SendFile = -1;
    c->FileOpen = false;
  }
  if (c->KillSent) {
    platform::DeleteFile(c->FileName.str());
    c->KillSent = false;
  }
  if (!keep_state) {
    c->FileInProgress = false;
    c->FileName.clear();
  }
}

void TServer::CloseSlotSocket(int32_t slot) {
  TSock* c = Connections[slot];
  if (c->Connected) {
    if (CloseSocketHard(c->SocketNum)) CountEvent(evSocketsClosed);
  }
  c->Connected = false;
  c->SocketNum = -1;
  // A descriptor is free again (the listener's own close ends the pause).
  ResumeAccepting();
}

void TServer::DisconnectSlot(int32_t slot) {
  TSock* c = Connections[slot];
  if (!c || c->AwaitingCompletion) return;
  CloseSendFile(slot, false);
  if (slot > MaxPersistentSockets) {
    if (c->InputFifo) FifoFree(c->InputFifo);
    if (c->OutputFifo) FifoFree(c->OutputFifo);
  } else {
    FifoReset(c->InputFifo);
    FifoReset(c->OutputFifo);
  }
  if (!c->Connected) return;
  if (slot != 0) --OpenConnections;
  Log(slot, c->SocketNum, "Done");
  if (slot != 0 && Console.ClearConnectionRow) Console.ClearConnectionRow(slot);
  c->ReadPaused = false;
  CloseSlotSocket(slot);
}

// Idle time is measured on the full date-time, so a connection idle over
// midnight or for days is still seen as idle.
void TServer::CheckIdleTimeouts() {
  platform::TDateTime now = platform::Now();
  for (int32_t i = 1; i <= MaxSockets; ++i) {
    TSock* c = Connections[i];
    if (!c || !c->Connected || c->Busy || c->AwaitingCompletion) continue;
    double idle = (now - c->Time) * platform::kSecondsPerDay;
    if (idle > kIdleTimeoutSeconds + 0.0005) {
      Log(i, c->SocketNum, "TimeOut");
      Raise(OnTimeOut, this, i);
    }
  }
  CloseLingering(false);
}

void TServer::Stop(bool abort) {
  TSock* listener = Connections[0];
  if (listener) {
    listener->Connected = true;
    listener->AwaitingCompletion = false;
    DisconnectSlot(0);
  }
  CloseLingering(true);
  SleepMs(200);
  bool was_stopping = Console.StopAccepting;
  Console.StopAccepting = true;
  int idle_passes = 0;
  double started = platform::MonotonicSeconds();
  bool quit = false;
  int quit_code = 0;
  for (;;) {
    bool any = false;
    for (int32_t i = 1; i <= MaxSockets; ++i) {
      TSock* c = Connections[i];
      if (!c) continue;
      if (abort) {
        c->Info.Closed = 1;
        if (c->Connected) Raise(OnTimeOut, this, i);
      }
      any = any || c->Connected;
    }
    if (!any) break;
    double waited = platform::MonotonicSeconds() - started;
    if (waited >= StopWallClockCap) abort = true;
    if (waited >= StopWallClockCap + 5.0) {
      // Aborted connections that still do not end (a completion that never
      // comes) are closed here, so the stop always ends.
      for (int32_t i = 1; i <= MaxSockets; ++i) {
        TSock* c = Connections[i];
        if (!c || !c->Connected) continue;
        c->AwaitingCompletion = false;
        DisconnectSlot(i);
      }
      continue;
    }
    platform::MSG msg;
    if (platform::PeekMessage(msg, 0, 0, 0, platform::PM_REMOVE)) {
      if (msg.message == platform::WM_QUIT) {
        // The program is ending: abort, and hand the request on afterwards.
        quit = true;
        quit_code = static_cast<int>(msg.wParam);
        abort = true;
      } else if (msg.message != platform::WM_TIMER) {
        platform::TranslateMessage(msg);
        platform::DispatchMessage(msg);
      }
    } else {
      SleepMs(StopIdleSleepMs);
      if (++idle_passes >= StopIdlePassLimit) abort = true;
    }
  }
  if (quit) platform::PostQuitMessage(quit_code);
  Console.StopAccepting = was_stopping;
  ServerListening = false;
}
