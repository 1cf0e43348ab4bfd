// The listening server and its connection slots (unit WSock).
//
// TServer listens on one address and port, accepts connections into up to
// 255 slots (TSock), answers "502 Overloaded" when none is free, queues each
// slot's received bytes in its input FIFO and turns socket notifications
// into five events. Out of descriptors, it stops asking for connections
// until one of its sockets closes or a moment has passed. Sending, closing,
// the idle check and the stop with its own message loop are here too.
// Everything runs on the loop's thread.
//
// The interface library reads TServer and TSock in place (slot table,
// Connected, PeerAddress, KillSent), so this is the one declaration both
// modules compile.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <memory>
#include <vector>

#include "foundation/shortstring.h"
#include "interface/tandrel.h"
#include "platform/datetime.h"

struct OpenFile;     // server/filecache.h
struct OpenFailure;
#include "platform/msgloop.h"
#include "platform/winsock.h"
#include "server/bytefifo.h"

class TServer;

constexpr int32_t kMaxSlots = 255;
constexpr int32_t kSendBlockSize = 16384;
constexpr platform::UINT WM_SOCKET = platform::WM_USER + 1;
// Notifications of an overload socket that is being closed gracefully.
constexpr platform::UINT WM_OVERLOAD_SOCKET = platform::WM_USER + 2;
constexpr long kSelectedEvents = 43;  // FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE
constexpr int32_t kIdleTimeoutSeconds = 300;

// Sender is the server, or the slot when a receive, send or file send of
// that slot raises OnTimeOut.
using TServerEvent = std::function<void(void* sender, int32_t cid)>;
using TLogProc = std::function<void(int32_t slot, int32_t socket, std::string_view text)>;

// The console state that the socket layer consults: each server keeps one,
// and the console that owns the server sets it.
struct TConsoleLink {
  bool StopAccepting = false;  // FD_ACCEPT is left queued while set
  bool ExitPending = false;    // after each socket message: run ExitCommand
  std::function<void()> ExitCommand;
  std::function<void(int32_t slot)> ClearConnectionRow;
};

class TSock {
 public:
  TSock(TServer* owner, int32_t slot, std::string_view temp_dir);
  ~TSock();
  TSock(const TSock&) = delete;
  TSock& operator=(const TSock&) = delete;

  void TouchActivity();
  void MarkBusy();
  void MarkIdle();

  TServer* Owner;
  int32_t Slot;
  int32_t SocketNum;     // -1: free slot
  ShortString Address;   // listener: bind address; connection: local address
  int32_t Port;          // listener: port in host order; 0 for connections
  sockaddr_in SockAddr;  // listener: bind address; connection: the client's
  ShortString PeerAddress;
  bool Connected;
  platform::TDateTime Time;  // last activity
  double AcceptedAt = 0;     // monotonic seconds at the accept
  // Monotonic seconds when the answer last moved (the socket took bytes of
  // it), or of the accept; and the bytes the socket held unsent when it
  // last took no more (-1: it never refused any).
  double MovedAt = 0;
  int64_t UnsentWhenBlocked = -1;
  bool Busy;                 // an extension call or engine run is in progress
  ShortString FileName;      // the file being sent
  int SendFile;              // descriptor of the open file, -1 when none
  std::shared_ptr<const std::string> FileBytes;  // or its bytes, for a small file held in memory
  std::shared_ptr<const OpenFile> SharedFile;    // or a descriptor (SendFile is its fd)
  bool FileOpen;
  bool FileInProgress;
  int64_t BytesSent;
  int64_t FileSize;
  int64_t FileRead;  // bytes of the file handed to the socket so far
  int32_t Percent;
  bool KillSent;  // delete the file when it is closed
  TByteFifo* InputFifo;
  TByteFifo* OutputFifo;
  bool AwaitingCompletion;
  bool ReadPaused;  // a read found the input FIFO full; see ResumeReading
  TConnectionInfo Info;

 private:
  char temp_dir_buf_[256];
  char user_buf_[80];
  char password_buf_[80];
  char sent_user_buf_[80];
};

class TServer {
 public:
  TServer();
  ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  // Creates the slot objects and listens. requested_slots is capped at 255.
  void Init(TLogProc log, int32_t requested_slots, int32_t backlog, std::string_view temp_dir);

  // The window that receives the socket messages.
  platform::HWND Handle() const { return hwnd_; }

  int32_t FindSlotBySocket(int32_t socket) const;
  // The first slot without a connection and without a late call; 0 when none.
  int32_t FindFreeSlot() const;
  int32_t AcceptConnection();
  void OnSocketMessage(const platform::MSG& msg);
  // FD_READ: what the socket holds goes into the slot's input FIFO.
  void ReadEvent(int32_t socket);
  // FD_CLOSE, with the error it came with.
  void CloseEvent(int32_t socket, int error);

  int32_t SockRecv(int32_t slot, void* buffer, int32_t size);
  // flags: MSG_MORE when more bytes follow at once (they share a segment).
  int32_t SockSend(int32_t slot, const void* buffer, int32_t length, int32_t flags = 0);
  bool FlushOutput(int32_t slot, bool more_follows = false);
  void ReleaseOutputFifo(int32_t slot);
  // False when no regular file could be opened; why then tells the
  // failed call, or none when there is no regular file at the name.
  bool OpenSendFile(int32_t slot, std::string_view name, bool start_now, OpenFailure* why = nullptr);
  bool SendNextBlock(int32_t slot);
  bool SendFileBlocks(int32_t slot);
  void CloseSendFile(int32_t slot, bool keep_state);
  void CloseSlotSocket(int32_t slot);
  void DisconnectSlot(int32_t slot);
  void CheckIdleTimeouts();
  void Stop(bool abort);

  // Reading pauses while a slot's input FIFO has no room; once its reader
  // has taken bytes, this selects the socket again so reading goes on.
  void ResumeReading(int32_t slot);

  // Whether a slot is still reading its request (header or body). When no
  // slot is free, a slot stuck for more than kReclaimAfterSeconds is closed
  // for the new client: still reading that long after its accept, or its
  // answer not moved for that long (the socket took none of it and its
  // client read nothing). The one stuck longest goes first. A client whose
  // address already holds more than half of the slots may only take one of
  // its own address's, stuck for twice as long.
  std::function<bool(int32_t)> ReadingRequest;
  static constexpr double kReclaimAfterSeconds = 10.0;

  // Messages for the server's window other than socket messages.
  std::function<void(const platform::MSG&)> OtherMessage;

  TServerEvent OnAccept, OnRead, OnWrite, OnTimeOut, OnDisconnect;
  TConsoleLink Console;
  ShortString Address;
  int32_t Port = 0;
  TLogProc LogProc;
  bool IgnoreClose = false;
  bool Waiting = false;
  int32_t MaxSockets = 0;
  int32_t MaxPersistentSockets = 0;
  TSock* Connections[kMaxSlots + 1] = {};
  // Slots on which an extension call that answered "later" has not
  // completed. Such a slot takes no new connection, so that the call's
  // completion and the file it writes reach no other client. Set from the
  // page engine's thread too; kept across starts, as the call runs on.
  std::atomic<bool> LateCallOutstanding[kMaxSlots + 1] = {};
  bool Listening = false;

  // Stop loop pacing: the sleep when the queue is empty, the idle passes
  // after which a graceful stop aborts, and the wall-clock cap.
  int32_t StopIdleSleepMs = 250;
  int32_t StopIdlePassLimit = 400;
  double StopWallClockCap = 100.0;
  // How long an overload answer's socket may wait for its client to close;
  // at most MaxSockets of them wait.
  double OverloadLingerSeconds = 5.0;

 private:
  bool ListenSocket(TSock* listener, int32_t backlog);
  bool FillAddress(TSock* slot, std::string_view host, ShortString& address, int32_t port,
                   std::string_view service);
  int32_t ReclaimSlot(uint32_t from);
  bool StillTaken(TSock* c, double now);
  int32_t SlotsHeldBy(uint32_t address) const;
  void AnswerOverloaded(int32_t socket);
  void AcceptFailed(int system_error);
  void ResumeAccepting();
  void OnOverloadSocket(const platform::MSG& msg);
  void CloseLingering(bool all);
  void ArmLingerTimer();
  void FreeSlots();
  void Log(int32_t slot, int32_t socket, std::string_view text);
  void Raise(const TServerEvent& event, void* sender, int32_t cid);

  // Timers of the server's window.
  static constexpr uintptr_t kLingerTimer = 1;  // overload sockets whose wait is over
  static constexpr uintptr_t kAcceptTimer = 2;  // accepting again after a pause
  // Out of descriptors, the pause before the listener is asked again, and
  // the quiet after which a further failure is logged again.
  static constexpr uint32_t kAcceptPauseMs = 250;
  static constexpr double kExhaustionSpellGap = 10.0;

  platform::HWND hwnd_ = 0;
  bool accept_paused_ = false;
  double resume_at_ = 0;
  double exhausted_at_ = -1e9;
  struct Lingering {
    int32_t socket;
    double deadline;
  };
  std::vector<Lingering> lingering_;
};

// Unit state, read by the console.
extern bool WinsockStarted;
extern bool ServerListening;
extern int32_t OpenConnections;
extern platform::winsock::WSADATA WinsockData;

bool WinsockStartup();
void WinsockCleanup();
std::string WinsockDescription();
std::string WinsockSystemStatus();
std::string WinsockErrorName(int error);
void SocketErrorBox(std::string_view text);
// Lingering off, non-blocking, shut down for writing, closed; retried while
// WSAEINPROGRESS. False only when every one of 100 attempts met it.
bool CloseSocketHard(int32_t socket);
