// The request engine THTTP: the listening server plus everything a request
// needs, kept per connection slot in arrays indexed by the slot (1..255;
// index 0 unused). The interface library reads this object in place through
// the reference it is given at attach, so this is the one declaration both
// modules compile.
//
// The slot records live in httpunit.cpp; the connection state machine, which
// calls the interface library's exports, in httpconn.cpp (with
// fileresolve.cpp and httpreply.cpp), so a program that links it links
// libtandrel.so too.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "foundation/shortstring.h"
#include "interface/tandrel.h"
#include "platform/dynlib.h"
#include "server/accesslog.h"
#include "server/httprecords.h"
#include "server/wsock.h"

using THttpLogProc = std::function<void(int32_t slot, int32_t socket, std::string_view text)>;
using TRequestShownProc =
    std::function<void(int32_t slot, std::string_view peer, uint8_t method, std::string_view url)>;
using TExtensionRowProc = std::function<void(int32_t cache_slot)>;
// One request for the statistics: with_user is 1 when it came with a valid
// user, else 0; requests is 1.
using TStatSampleProc = std::function<void(int32_t with_user, int32_t requests)>;

// The two memory figures "$RESOURCE" shows that belong to modules the
// engine does not link: -1 the program's allocation guard
// (AllocatedBytes), -2 the interface library's GetMemoryUsed. Unset: that
// figure answers empty. Read on the page engine's thread.
struct TResourceSources {
  std::atomic<int64_t (*)()> ProgramAllocatedBytes{nullptr};
  std::atomic<int32_t (*)()> InterfaceMemoryUsed{nullptr};
};

class THTTP;
class TOutsideLibraries;
class TEventLog;

// The engine's calls into outside code: extension libraries ("$" URLs and
// POST bodies) and the page engine. The units that make these calls install
// them in THTTP::OutsideCalls; while none are installed, a "$" URL and a
// POST are answered 404 and HTML pages are sent as they are.
class TOutsideCalls {
 public:
  virtual ~TOutsideCalls() = default;
  // MAKEPAGE for a GET or HEAD of a "$" URL: an HTTP status, or 2 when the
  // call finishes later (the slot then waits in csWaiting).
  virtual int32_t CallExtensionPage(THTTP& engine, int32_t slot, int32_t socket, bool in_request) = 0;
  // POSTBEGIN: true when the library takes the body.
  virtual bool CallPostBegin(THTTP& engine, int32_t slot, int32_t socket, bool in_request) = 0;
  // POSTRESUME with the bytes in the input FIFO; done is set when the body
  // is complete.
  virtual void CallPostResume(THTTP& engine, int32_t slot, bool& done) = 0;
  // POSTEND: an HTTP status, or 2 when the call finishes later.
  virtual int32_t CallPostEnd(THTTP& engine, int32_t slot) = 0;
  // The page engine for a 200 "text/html" answer: true when it runs in the
  // background (the slot then waits in csWaiting).
  virtual bool RunEngine(THTTP& engine, int32_t slot) = 0;
};

class THTTP : public TServer {
 public:
  THTTP();
  ~THTTP();

  THttpLogProc HttpLogProc;
  TRequestShownProc RequestShownProc;
  TExtensionRowProc ExtensionRowProc;
  platform::LibraryHandle EngineLibrary = nullptr;  // MORVEX32.DLL; null: not loaded
  TEngineMakeFile EngineMakeFile = nullptr;
  TEngineMakeFileThread EngineMakeFileThread = nullptr;
  TEngineHeapSize EngineHeapSize = nullptr;
  ShortString HomeDir{};
  int32_t RunFileCounter[kMaxSlots + 1] = {};
  TRequestRecord Requests[kMaxSlots + 1] = {};
  TReplyRecord Replies[kMaxSlots + 1] = {};
  uint8_t ConnState[kMaxSlots + 1] = {};  // TConnState
  uint8_t PostPhase[kMaxSlots + 1] = {};  // TPostPhase
  ShortStr<12> ExtensionName[kMaxSlots + 1] = {};
  int32_t ExtensionSlot[kMaxSlots + 1] = {};
  uint8_t PostInProgress[kMaxSlots + 1] = {};
  TEngineJob* EngineJobs[kMaxSlots + 1] = {};
  TAccessLog AccessLog;
  ShortString TempDir{};
  ShortString MapsDir{};
  ShortString DataDir{};
  ShortString DbDir{};

  // Set by the console's start; each may be empty.
  TStatSampleProc HitsSampleProc;    // every request whose header was read
  TStatSampleProc LoginsSampleProc;  // every client newly seen in its realm
  // Whether the console's on-screen log is on (header lines are then logged
  // when [Log] Headers says so). Empty: off.
  std::function<bool()> LogToWindowProc;
  TOutsideCalls* OutsideCalls = nullptr;
  // Set by the program before the first page is served.
  TResourceSources ResourceSources;

  // The console's variable that holds this engine: the interface library
  // is attached to it at start and reads the engine through it. Null: the
  // library is not attached.
  THTTP** ConsoleField = nullptr;
  // Switches the console's timers on at start and off at stop; may be empty.
  std::function<void(bool enabled)> TimersProc;
  // The extension libraries and the page engine, made by the first Start
  // and kept for the engine's life (a library that finishes late may still
  // write into the buffers it was given).
  std::shared_ptr<TOutsideLibraries> Outside;

  // Brings the engine up: listening, the page engine MORVEX32.DLL, the
  // extension cache, the logs, the slot records, the interface library,
  // the event log and the template descriptor. A start that cannot listen
  // undoes what it did and returns false, leaving the engine stopped.
  // Defined in httpstart.cpp (it links the interface library).
  bool Start(THttpLogProc log, TRequestShownProc shown, TExtensionRowProc row, int32_t slots, int32_t backlog);
  // Takes it down in reverse: mode 0 lets running connections finish, 1
  // aborts them. Only while listening; a stop asked for during a stop (an
  // exit from the stop's own message loop) does nothing.
  void Stop(int32_t mode);

  void ReadHomeDir(int32_t slot, ShortString& out) const { out = HomeDir.view(); }
  void SetHomeDir(int32_t slot, std::string_view dir) { HomeDir = dir; }
  int32_t NextRunFileNumber(int32_t slot) { return RunFileCounter[slot]++; }
  void DeleteRunFiles(int32_t slot);

  // Drives the slot's request from its first byte to the end of its answer:
  // reads the header, authenticates, dispatches, writes the header and the
  // access-log line, then sends. Runs every state it can in one call; a
  // state that waits for the network or outside code stays set for the next
  // event. Slots outside 1..MaxSockets are ignored.
  void ProcessConnection(int32_t slot);

  // File resolution and the access check for a GET or HEAD of a file:
  // sets the reply's FileName and Status (200, 401 or 404) and the working
  // URL Request.
  void ResolveFile(int32_t slot);

  // For a 200 with a body, the file is opened before its header is
  // written, so that the status and length describe what was opened.
  void OpenAnswerFile(int32_t slot);

  // One line to the engine's log, for the slot and its socket. Control
  // characters are written as %XX.
  void EngineLog(int32_t slot, std::string_view text);

 private:
  // The steps of ProcessConnection, one per state.
  bool RequestStep(int32_t slot);
  void PostBodyStep(int32_t slot);
  void ServeStep(int32_t slot);
  void HeaderStep(int32_t slot);
  void FlushStep(int32_t slot);
  void BeginRequest(int32_t slot);
  void DispatchRequest(int32_t slot, bool refused);
  bool RealmRefuses(int32_t slot);
  void AnswerBadRequest(int32_t slot, const char* reason);
  void EndAfterHeader(int32_t slot);

  std::shared_ptr<TEventLog> event_log_;
  bool stopping_ = false;
};

void InitSlotRecord(TRequestRecord& rec, THTTP* engine, int32_t slot);
void ResetSlotRecord(TRequestRecord& rec);
void FreeSlotRecord(TRequestRecord& rec);
void ClearReplyFile(TReplyRecord& reply);
