#include "platform/winsock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/loop_helpers.h"

namespace platform::winsock {
namespace {

using platform::testing::DrainQueue;
using platform::testing::PumpFor;
using platform::testing::PumpUntil;
using platform::testing::Recorder;

constexpr UINT kSocketMessage = WM_USER + 1;
constexpr long kAllEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;  // 43

// A POSIX client connected to 127.0.0.1:port (blocking).
int Connect(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const std::string& text) {
  ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// The listener of the system: WinSock socket on 127.0.0.1, port chosen by
// the kernel, all four events selected to a recording window.
class Sockets : public ::testing::Test {
 protected:
  void SetUp() override {
    DrainQueue();
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    listener = winsock::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(listener, INVALID_SOCKET) << WinsockErrorName(WSAGetLastError());
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(winsock::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(winsock::listen(listener, 5), 0);
    int len = sizeof a;
    ASSERT_EQ(winsock::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    port = ntohs(a.sin_port);
    ASSERT_EQ(WSAAsyncSelect(listener, win.hwnd, kSocketMessage, kAllEvents), 0);
  }
  void TearDown() override {
    for (int fd : clients) ::close(fd);
    for (SOCKET s : accepted) closesocket(s);
    if (listener != INVALID_SOCKET) closesocket(listener);
    DrainQueue();
    WSACleanup();
  }

  // Events seen so far for socket s, in order.
  std::vector<long> Events(SOCKET s) const {
    std::vector<long> ev;
    for (const MSG& m : win.seen)
      if (m.message == kSocketMessage && m.wParam == static_cast<WPARAM>(s)) ev.push_back(WSAGETSELECTEVENT(m.lParam));
    return ev;
  }
  size_t Count(SOCKET s, long event) const {
    size_t n = 0;
    for (long e : Events(s)) n += e == event;
    return n;
  }
  bool WaitFor(SOCKET s, long event, size_t count = 1) {
    return PumpUntil([&] { return Count(s, event) >= count; });
  }

  int NewClient() {
    int fd = Connect(port);
    EXPECT_GE(fd, 0);
    clients.push_back(fd);
    return fd;
  }
  // Connects a client and accepts it after its FD_ACCEPT.
  SOCKET AcceptOne(int* client_out = nullptr) {
    size_t before = Count(listener, FD_ACCEPT);
    int client = NewClient();
    if (client_out) *client_out = client;
    EXPECT_TRUE(WaitFor(listener, FD_ACCEPT, before + 1));
    sockaddr_in peer{};
    int len = sizeof peer;
    SOCKET s = winsock::accept(listener, reinterpret_cast<sockaddr*>(&peer), &len);
    EXPECT_NE(s, INVALID_SOCKET) << WinsockErrorName(WSAGetLastError());
    if (s != INVALID_SOCKET) accepted.push_back(s);
    return s;
  }
  void Close(SOCKET s) {
    EXPECT_EQ(closesocket(s), 0);
    std::erase(accepted, s);
  }

  Recorder win;
  SOCKET listener = INVALID_SOCKET;
  uint16_t port = 0;
  std::vector<int> clients;
  std::vector<SOCKET> accepted;
};

// ---------------------------------------------------------------------------
// Re-enabling rules

TEST_F(Sockets, AcceptIsAnnouncedOnceUntilAcceptIsCalled) {
  NewClient();
  ASSERT_TRUE(WaitFor(listener, FD_ACCEPT));
  NewClient();
  PumpFor(100);
  EXPECT_EQ(Count(listener, FD_ACCEPT), 1u);
  SOCKET first = winsock::accept(listener, nullptr, nullptr);
  ASSERT_NE(first, INVALID_SOCKET);
  accepted.push_back(first);
  // The second connection still waits: accept re-armed the notification.
  ASSERT_TRUE(WaitFor(listener, FD_ACCEPT, 2));
  SOCKET second = winsock::accept(listener, nullptr, nullptr);
  ASSERT_NE(second, INVALID_SOCKET);
  accepted.push_back(second);
  // Nothing pending: accept fails with would-block and re-arms again.
  EXPECT_EQ(winsock::accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  PumpFor(50);
  EXPECT_EQ(Count(listener, FD_ACCEPT), 2u);
  NewClient();
  EXPECT_TRUE(WaitFor(listener, FD_ACCEPT, 3));
}

TEST_F(Sockets, AcceptedSocketInheritsTheSelectionAndIsNonBlocking) {
  sockaddr_in peer{};
  int client = -1;
  SOCKET s = AcceptOne(&client);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_TRUE(::fcntl(s, F_GETFL) & O_NONBLOCK);
  char buf[16];
  EXPECT_EQ(winsock::recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  SendAll(client, "hi");
  ASSERT_TRUE(WaitFor(s, FD_READ));
  for (const MSG& m : win.seen) {
    if (m.wParam != static_cast<WPARAM>(s)) continue;
    EXPECT_EQ(m.hwnd, win.hwnd);
    EXPECT_EQ(m.message, kSocketMessage);
    EXPECT_EQ(WSAGETSELECTERROR(m.lParam), 0);
  }
  int len = sizeof peer;
  ASSERT_EQ(winsock::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &len), 0);
  EXPECT_EQ(winsock::inet_ntoa(peer.sin_addr), "127.0.0.1");
}

TEST_F(Sockets, OneWriteNotificationAfterAccept) {
  SOCKET s = AcceptOne();
  ASSERT_NE(s, INVALID_SOCKET);
  ASSERT_TRUE(WaitFor(s, FD_WRITE));
  // Sends that do not block re-enable nothing.
  EXPECT_EQ(winsock::send(s, "abc", 3, 0), 3);
  PumpFor(100);
  EXPECT_EQ(Events(s), std::vector<long>{FD_WRITE});
}

TEST_F(Sockets, ReadNotificationWaitsForRecvAndComesAgainOnlyWhileDataRemains) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  SendAll(client, "0123456789");
  ASSERT_TRUE(WaitFor(s, FD_READ));
  // More data, but no recv yet: no second FD_READ.
  SendAll(client, "abcdef");
  PumpFor(100);
  EXPECT_EQ(Count(s, FD_READ), 1u);
  char buf[64];
  ASSERT_EQ(winsock::recv(s, buf, 4, 0), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  ASSERT_TRUE(WaitFor(s, FD_READ, 2));
  ASSERT_EQ(winsock::recv(s, buf, sizeof buf, 0), 12);
  EXPECT_EQ(std::string(buf, 12), "456789abcdef");
  PumpFor(100);
  EXPECT_EQ(Count(s, FD_READ), 2u);  // nothing left: nothing more
  SendAll(client, "x");
  ASSERT_TRUE(WaitFor(s, FD_READ, 3));
  EXPECT_EQ(Count(s, FD_CLOSE), 0u);
}

TEST_F(Sockets, ARecvOfZeroBytesDoesNotReenableReading) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  SendAll(client, "GET / HTTP/1.0");
  ASSERT_TRUE(WaitFor(s, FD_READ));
  char buf[64];
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(winsock::recv(s, buf, 0, 0), 0);
    PumpFor(40);
  }
  EXPECT_EQ(Count(s, FD_READ), 1u);
  // Selecting again reports the waiting data afresh.
  ASSERT_EQ(WSAAsyncSelect(s, win.hwnd, kSocketMessage, kAllEvents), 0);
  ASSERT_TRUE(WaitFor(s, FD_READ, 2));
  EXPECT_EQ(winsock::recv(s, buf, sizeof buf, 0), 14);
}

TEST_F(Sockets, WriteNotificationOnlyAfterAWouldBlock) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  ASSERT_TRUE(WaitFor(s, FD_WRITE));
  int small = 4096;
  ASSERT_EQ(winsock::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  std::vector<char> block(16384, 'z');
  long total = 0;
  // Fill until a send would block and the kernel, having moved what it
  // could to the peer, frees no more space.
  for (;;) {
    int n = winsock::send(s, block.data(), static_cast<int>(block.size()), 0);
    if (n != SOCKET_ERROR) {
      total += n;
      ASSERT_LT(total, 64L << 20) << "the socket never filled";
      continue;
    }
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    pollfd p{s, POLLOUT, 0};
    if (::poll(&p, 1, 250) == 0) break;  // long enough on a loaded machine
  }
  PumpFor(60);
  EXPECT_EQ(Count(s, FD_WRITE), 1u);  // still full: nothing yet
  // The peer drains everything; space comes free.
  std::vector<char> sink(65536);
  long drained = 0;
  while (drained < total) {
    ssize_t n = ::recv(client, sink.data(), sink.size(), 0);
    ASSERT_GT(n, 0);
    drained += n;
  }
  ASSERT_TRUE(WaitFor(s, FD_WRITE, 2));
  PumpFor(60);
  EXPECT_EQ(Count(s, FD_WRITE), 2u);
}

TEST_F(Sockets, CloseComesOnceAndOnlyAfterTheDataWasRead) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  SendAll(client, "last words");
  ASSERT_TRUE(WaitFor(s, FD_READ));
  ::shutdown(client, SHUT_WR);
  PumpFor(100);
  EXPECT_EQ(Count(s, FD_CLOSE), 0u);  // the data is not read yet
  char buf[64];
  ASSERT_EQ(winsock::recv(s, buf, 4, 0), 4);
  ASSERT_TRUE(WaitFor(s, FD_READ, 2));  // data remains: FD_READ before FD_CLOSE
  EXPECT_EQ(Count(s, FD_CLOSE), 0u);
  ASSERT_EQ(winsock::recv(s, buf, sizeof buf, 0), 6);
  ASSERT_TRUE(WaitFor(s, FD_CLOSE));
  PumpFor(100);
  EXPECT_EQ(Count(s, FD_CLOSE), 1u);
  EXPECT_EQ(Count(s, FD_READ), 2u);
  std::vector<long> ev = Events(s);
  EXPECT_EQ(ev.back(), FD_CLOSE);
  for (const MSG& m : win.seen)
    if (m.wParam == static_cast<WPARAM>(s) && WSAGETSELECTEVENT(m.lParam) == FD_CLOSE) {
      EXPECT_EQ(WSAGETSELECTERROR(m.lParam), 0);
    }
  EXPECT_EQ(winsock::recv(s, buf, sizeof buf, 0), 0);  // end of stream
}

TEST_F(Sockets, AResetIsAnnouncedWithItsError) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  ASSERT_TRUE(WaitFor(s, FD_WRITE));
  linger hard{1, 0};
  ASSERT_EQ(::setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
  ::close(client);
  std::erase(clients, client);
  ASSERT_TRUE(WaitFor(s, FD_CLOSE));
  for (const MSG& m : win.seen)
    if (m.wParam == static_cast<WPARAM>(s) && WSAGETSELECTEVENT(m.lParam) == FD_CLOSE) {
      EXPECT_EQ(WSAGETSELECTERROR(m.lParam), WSAECONNRESET);
    }
  // Sending to the reset peer fails; no SIGPIPE ends the process.
  EXPECT_EQ(winsock::send(s, "x", 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
  PumpFor(50);
  EXPECT_EQ(Count(s, FD_CLOSE), 1u);
}

TEST_F(Sockets, AClosedSocketsQueuedMessagesNeverReachItsSuccessor) {
  int client = -1;
  SOCKET old_socket = AcceptOne(&client);
  ASSERT_TRUE(WaitFor(old_socket, FD_WRITE));
  SendAll(client, "pending");
  ::shutdown(client, SHUT_WR);
  // Let FD_READ reach the queue without dispatching it.
  MSG m;
  bool queued = false;
  for (int i = 0; i < 300 && !queued; ++i) {
    queued = PeekMessage(m, 0, kSocketMessage, kSocketMessage, PM_NOREMOVE) &&
             m.wParam == static_cast<WPARAM>(old_socket);
    if (!queued) usleep(5000);
  }
  ASSERT_TRUE(queued);
  win.seen.clear();
  NewClient();  // its descriptor is taken before the old one comes free
  Close(old_socket);
  ASSERT_TRUE(WaitFor(listener, FD_ACCEPT));
  // The next socket gets the same descriptor number.
  SOCKET next = winsock::accept(listener, nullptr, nullptr);
  ASSERT_NE(next, INVALID_SOCKET);
  accepted.push_back(next);
  EXPECT_EQ(next, old_socket) << "descriptor numbers were not reused; the check below is weaker";
  PumpFor(150);
  EXPECT_EQ(Events(next), std::vector<long>{FD_WRITE});
}

TEST_F(Sockets, DestroyingTheWindowCancelsTheSelection) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  {
    Recorder other;
    ASSERT_EQ(WSAAsyncSelect(s, other.hwnd, kSocketMessage, kAllEvents), 0);
    SendAll(client, "data");
    ASSERT_TRUE(PumpUntil([&] { return other.Count(kSocketMessage) >= 2; }));  // FD_WRITE, FD_READ
  }
  // The data waits and the window is gone: nothing is posted, nothing spins.
  char buf[8];
  EXPECT_EQ(winsock::recv(s, buf, 2, 0), 2);
  PumpFor(60);
  MSG m;
  EXPECT_FALSE(PeekMessage(m, 0, 0, 0, PM_NOREMOVE));
}

TEST_F(Sockets, SelectingNothingCancelsNotifications) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  ASSERT_TRUE(WaitFor(s, FD_WRITE));
  ASSERT_EQ(WSAAsyncSelect(s, 0, 0, 0), 0);
  SendAll(client, "ignored");
  PumpFor(80);
  EXPECT_EQ(Count(s, FD_READ), 0u);
  EXPECT_TRUE(::fcntl(s, F_GETFL) & O_NONBLOCK);
  unsigned long avail = 0;
  ASSERT_EQ(ioctlsocket(s, FIONREAD, &avail), 0);
  EXPECT_EQ(avail, 7u);
}

// ---------------------------------------------------------------------------
// Calls

TEST_F(Sockets, BindSetsReuseAddressAndAPortInUseIsRefused) {
  SOCKET other = winsock::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(other, INVALID_SOCKET);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  EXPECT_EQ(winsock::bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
  EXPECT_EQ(WinsockErrorName(WSAGetLastError()), "WSAEADDRINUSE");
  int reuse = 0;
  socklen_t len = sizeof reuse;
  ASSERT_EQ(::getsockopt(other, SOL_SOCKET, SO_REUSEADDR, &reuse, &len), 0);
  EXPECT_EQ(reuse, 1);
  EXPECT_EQ(closesocket(other), 0);
}

TEST_F(Sockets, ABadAddressFailsAtBind) {
  SOCKET other = winsock::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr("10.255.255.254.1");  // not an address: INADDR_NONE
  EXPECT_EQ(a.sin_addr.s_addr, INADDR_NONE);
  EXPECT_EQ(winsock::bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
  closesocket(other);
}

TEST_F(Sockets, CallsOnAnUnknownSocketReportNotASocket) {
  char buf[4];
  EXPECT_EQ(winsock::recv(-1, buf, 4, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(winsock::send(12345, buf, 4, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(closesocket(-1), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(WSAAsyncSelect(-1, win.hwnd, kSocketMessage, kAllEvents), SOCKET_ERROR);
  EXPECT_EQ(winsock::accept(-1, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(Sockets, BlockingModeIsRefusedWhileSelected) {
  unsigned long off = 0, on = 1;
  EXPECT_EQ(ioctlsocket(listener, FIONBIO, &off), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(ioctlsocket(listener, FIONBIO, &on), 0);
  SOCKET plain = winsock::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_FALSE(::fcntl(plain, F_GETFL) & O_NONBLOCK);
  EXPECT_EQ(ioctlsocket(plain, FIONBIO, &on), 0);
  EXPECT_TRUE(::fcntl(plain, F_GETFL) & O_NONBLOCK);
  EXPECT_EQ(ioctlsocket(plain, FIONBIO, &off), 0);
  EXPECT_FALSE(::fcntl(plain, F_GETFL) & O_NONBLOCK);
  closesocket(plain);
}

TEST_F(Sockets, HardCloseOfAnAcceptedSocket) {
  int client = -1;
  SOCKET s = AcceptOne(&client);
  linger soft{0, 0};
  EXPECT_EQ(winsock::setsockopt(s, SOL_SOCKET, SO_LINGER, &soft, sizeof soft), 0);
  unsigned long on = 1;
  EXPECT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
  EXPECT_EQ(winsock::send(s, "bye", 3, 0), 3);
  EXPECT_EQ(winsock::shutdown(s, SD_SEND), 0);
  Close(s);
  char buf[8];
  EXPECT_EQ(::recv(client, buf, sizeof buf, 0), 3);
  EXPECT_EQ(::recv(client, buf, sizeof buf, 0), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

// ---------------------------------------------------------------------------
// Start-up, errors, names and addresses

TEST(Winsock, StartupFillsTheFixedTextsAndCounts) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(data.wHighVersion, MAKEWORD(1, 1));
  EXPECT_STREQ(data.szDescription, kDescription);
  EXPECT_STREQ(data.szSystemStatus, kSystemStatus);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), 0);
  // Everything started is cleaned up: a further clean-up and sockets fail.
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(winsock::socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(Winsock, StartupFailureCanBeInjected) {
  SetStartupFailureForTests(WSASYSNOTREADY);
  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), WSASYSNOTREADY);
  SetStartupFailureForTests(0);
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(WSACleanup(), 0);
}

TEST(Winsock, LastErrorBelongsToEachThread) {
  WSASetLastError(WSAEWOULDBLOCK);
  int other = -1;
  std::thread t([&] { other = WSAGetLastError(); });
  t.join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST(Winsock, ErrnoValuesMapToWinsockNumbers) {
  const std::pair<int, int> table[] = {
      {EWOULDBLOCK, 10035}, {EAGAIN, 10035},     {EINPROGRESS, 10036}, {EADDRINUSE, 10048},
      {ECONNRESET, 10054},  {EPIPE, 10054},      {ENOTSOCK, 10038},    {EBADF, 10038},
      {ECONNREFUSED, 10061}, {EADDRNOTAVAIL, 10049}, {EINVAL, 10022},  {EMFILE, 10024},
      {EINTR, 10004},       {EFAULT, 10014},     {EALREADY, 10037},    {EMSGSIZE, 10040},
      {ENOPROTOOPT, 10042}, {EAFNOSUPPORT, 10047}, {ENETUNREACH, 10051}, {ECONNABORTED, 10053},
      {ENOBUFS, 10055},     {EISCONN, 10056},    {ENOTCONN, 10057},    {ETIMEDOUT, 10060},
      {EHOSTUNREACH, 10065}, {EACCES, 10013},    {ENAMETOOLONG, 10063}, {0, 10022},
  };
  for (auto [err, wsa] : table) EXPECT_EQ(ErrorFromErrno(err), wsa) << "errno " << err;
}

TEST(Winsock, ErrorNamesCoverExactlyTheListedNumbers) {
  std::vector<int> named = {10004, 10009, 10014, 10022, 10024, 10091, 10092, 10093, 11001, 11002, 11003, 11004};
  for (int n = 10035; n <= 10071; ++n) named.push_back(n);
  for (int n : named) {
    std::string name = WinsockErrorName(n);
    EXPECT_EQ(name.rfind("WSA", 0), 0u) << n << " -> " << name;
  }
  const std::pair<int, const char*> samples[] = {
      {10004, "WSAEINTR"},          {10009, "WSAEBADF"},           {10014, "WSAEFAULT"},
      {10022, "WSAEINVAL"},         {10024, "WSAEMFILE"},          {10035, "WSAEWOULDBLOCK"},
      {10036, "WSAEINPROGRESS"},    {10048, "WSAEADDRINUSE"},      {10054, "WSAECONNRESET"},
      {10061, "WSAECONNREFUSED"},   {10071, "WSAEREMOTE"},         {10091, "WSASYSNOTREADY"},
      {10092, "WSAVERNOTSUPPORTED"}, {10093, "WSANOTINITIALISED"}, {11001, "WSAHOST_NOT_FOUND"},
      {11004, "WSANO_DATA"},
  };
  for (auto [n, text] : samples) EXPECT_EQ(WinsockErrorName(n), text);
  for (int n : {10013, 10034, 10072, 10090, 10094, 11000, 11005, 0, -1})
    EXPECT_EQ(WinsockErrorName(n), std::to_string(n));
}

TEST(Winsock, AddressTexts) {
  EXPECT_EQ(inet_addr("127.0.0.1"), htonl(0x7F000001));
  EXPECT_EQ(inet_addr("192.168.1.20"), htonl(0xC0A80114));
  EXPECT_EQ(inet_addr("0.0.0.0"), 0u);
  EXPECT_EQ(inet_addr(""), INADDR_NONE);
  EXPECT_EQ(inet_addr("localhost"), INADDR_NONE);
  EXPECT_EQ(inet_addr("1.2.3.256"), INADDR_NONE);
  EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
  in_addr a{};
  for (const char* text : {"10.0.1.2", "0.0.0.0", "255.255.255.255", "100.20.3.99", "127.0.0.1"}) {
    a.s_addr = inet_addr(text);
    EXPECT_EQ(winsock::inet_ntoa(a), text);
  }
}

TEST(Winsock, HostAndServiceLookups) {
  uint32_t address = 0;
  ASSERT_TRUE(ResolveHost("127.0.0.1", address));
  EXPECT_EQ(address, htonl(0x7F000001));
  ASSERT_TRUE(ResolveHost("localhost", address));
  EXPECT_EQ(address, htonl(0x7F000001));
  EXPECT_FALSE(ResolveHost("", address));
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(ResolveService("http"), htons(80));
  EXPECT_EQ(ResolveService("no-such-service-here"), 0);
  EXPECT_EQ(WSAGetLastError(), WSANO_DATA);
  EXPECT_EQ(ResolveService(""), 0);
}

}  // namespace
}  // namespace platform::winsock
