// WinSock 1.1 on POSIX sockets, inside the message loop.
//
// The calls keep their WinSock names inside platform::winsock; qualify them
// (winsock::socket, winsock::recv...), since the POSIX functions of the same
// names are visible too. Sockets are plain descriptors; failures return
// SOCKET_ERROR (or INVALID_SOCKET) and leave a WinSock error number for
// WSAGetLastError (per thread). The POSIX byte-order helpers htons, ntohs,
// htonl and ntohl, sockaddr_in, INADDR_ANY and INADDR_NONE, SOL_SOCKET,
// SO_LINGER with struct linger, FIONBIO and FIONREAD are used as they stand.
//
// WSAAsyncSelect turns socket events into posted messages: wParam is the
// socket, the low word of lParam the event, the high word an error number
// (0 normally). Events come as WinSock 1.1 re-enables them:
//   FD_ACCEPT  when a connection is pending; again only after accept.
//   FD_READ    when data is waiting; again only after a recv asking for at
//              least one byte, and only when data still waits then (a recv
//              of 0 bytes re-enables nothing).
//   FD_WRITE   once when an accepted socket is connected; again only after
//              a send failed with WSAEWOULDBLOCK, once space is free.
//   FD_CLOSE   once, when the peer closed or reset the connection, and only
//              after the data that came before it was offered by FD_READ
//              (it waits while an FD_READ is unanswered).
// Selecting again (a new WSAAsyncSelect) re-enables every event, so a
// reader that paused after a short recv resumes by selecting again.
// Accepted sockets inherit the listener's selection (window, message and
// events) and its non-blocking mode. closesocket also drops the socket's
// notifications still queued, since Linux hands the same descriptor number
// to the next socket at once.
//
// Everything here runs on the loop's thread; no threads of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

#include "platform/export.h"
#include "platform/msgloop.h"

HALV_EXPORT_BEGIN
namespace platform::winsock {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// WSAAsyncSelect events.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CLOSE = 0x20;

// shutdown directions.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr LPARAM WSAMAKESELECTREPLY(long event, int error) {
  return static_cast<LPARAM>((static_cast<uint32_t>(error & 0xFFFF) << 16) | (event & 0xFFFF));
}
constexpr long WSAGETSELECTEVENT(LPARAM lParam) { return static_cast<long>(lParam & 0xFFFF); }
constexpr int WSAGETSELECTERROR(LPARAM lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }

constexpr uint16_t MAKEWORD(uint8_t low, uint8_t high) {
  return static_cast<uint16_t>(low | (high << 8));
}

// Error numbers.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
  uint16_t wVersion;
  uint16_t wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};

// The fixed texts WSAStartup puts into WSADATA.
constexpr const char* kDescription = "Halvorine sockets 1.1 over POSIX sockets";
constexpr const char* kSystemStatus = "Running";

// Starts the use of sockets: 0, or the error number (WSAVERNOTSUPPORTED for
// a version below 1.0, WSAEFAULT without data). Counts; each successful
// start wants one WSACleanup. Version 1.1 is what is offered.
int WSAStartup(uint16_t versionRequested, WSADATA* data);
// 0, or SOCKET_ERROR with WSANOTINITIALISED when nothing was started.
int WSACleanup();
// For tests: makes WSAStartup fail with this error number (0: succeed again).
void SetStartupFailureForTests(int error);

int WSAGetLastError();
void WSASetLastError(int error);
// The WinSock number for a POSIX errno; WSAEINVAL when there is none.
int ErrorFromErrno(int err);

// Selects notification of events to hwnd with message msg (events 0
// cancels); makes the socket non-blocking.
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events);

// socket() fails with WSANOTINITIALISED before WSAStartup.
SOCKET socket(int af, int type, int protocol);
// Sets SO_REUSEADDR first, so a restarted listener binds while old
// connections linger.
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
int recv(SOCKET s, void* buf, int len, int flags);
// Never raises SIGPIPE; a send to a closed peer fails with WSAECONNRESET.
int send(SOCKET s, const void* buf, int len, int flags);
// Sends up to count bytes of the open file fd from *offset on, advancing
// *offset, without copying them through the program (not a WinSock 1.1
// call; it follows send's rules: WSAEWOULDBLOCK re-enables FD_WRITE). 0 when
// the file ends before its offset.
int SendFileBytes(SOCKET s, int fd, int64_t* offset, int count);
// The bytes given to a stream socket that it has not sent yet (not a
// WinSock 1.1 call). While the peer's window is full they stay as they are;
// they fall once the peer reads and the window opens.
int UnsentBytes(SOCKET s);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen);
// FIONBIO (0 is refused with WSAEINVAL while events are selected) and
// FIONREAD.
int ioctlsocket(SOCKET s, unsigned long cmd, unsigned long* argp);
int closesocket(SOCKET s);

// The first IPv4 address of a host name (network order); false with
// WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY or WSANO_DATA in the last
// error. An empty name is not found.
bool ResolveHost(const std::string& name, uint32_t& address);
// The port of a service (network order) for protocol proto; 0 when unknown
// (last error WSANO_DATA).
uint16_t ResolveService(const std::string& name, const std::string& proto = "tcp");

// Dotted text (or the shorter Berkeley forms) to an address in network
// order; INADDR_NONE when it is not an address.
uint32_t inet_addr(const char* text);
std::string inet_ntoa(in_addr address);

// The WinSock name of an error number ("WSAEWOULDBLOCK"), for the numbers
// 10004, 10009, 10014, 10022, 10024, 10035..10071, 10091..10093 and
// 11001..11004; any other number (10013 too) is given as its decimal text.
std::string WinsockErrorName(int error);

}  // namespace platform::winsock
HALV_EXPORT_END
