// Calls into extension libraries: a GET or HEAD of a "$" URL (MAKEPAGE),
// a POST to one (POSTBEGIN, POSTRESUME per batch of body bytes, POSTEND),
// and the completion message WM_USER+3 of a call that finishes later.
//
// For the state machine (one TExtensionCalls per THTTP, on its window
// thread):
//  - GET/HEAD of "$...": set the reply's FileName to ExtensionOutputName,
//    then CallExtensionPage. 2: state csWaiting; otherwise the status (a 200
//    whose file does not exist is a 404), state csServe.
//  - POST to "$...": the same FileName, then CallPostBegin (false: 404,
//    csHeader); CallPostResume on every arrival of body bytes until done;
//    then CallPostEnd (2: csWaiting; 200: csServe; other: csHeader).
//  - The console's disconnect handler calls PostEndOnDisconnect first: a
//    POST still in progress gets its POSTEND with the closed flag.
//  - The window's handler passes WM_USER+3 to OnExtensionDone. It acts only
//    on a slot that awaits an extension's completion, sets csServe and the
//    status, then runs the two continuations below.
//
// The completion names only the slot, so a slot has at most one call that
// answered "later" and has not completed. From that answer to its
// completion the slot takes no new connection (TServer::LateCallOutstanding)
// and no further call. A completion that no call waits for any more (a
// "$RUN" tag's, one after the stop gave up waiting, a stray one) ends the
// late call it belongs to, if any, and is dropped with one log line.
//
// The continuations must be set before the first completion can arrive:
//   ProcessConnection(slot)  runs the state machine once for the slot;
//   Disconnect(slot)         the console's disconnect handler, called after
//                            it when the slot's client has gone.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/msgloop.h"
#include "server/extcache.h"
#include "server/httpunit.h"

constexpr platform::UINT WM_EXTENSION_DONE = platform::WM_USER + 3;
constexpr platform::UINT WM_ENGINE_DONE = platform::WM_USER + 4;

// What a slot waits for while TSock.AwaitingCompletion is set.
enum TCompletionKind : uint8_t { ckNone = 0, ckExtension = 1, ckEngine = 2 };

// 404 for 0, 200 for 1, any other value as it is.
int32_t ExtensionResultStatus(int32_t result);

class TExtensionCalls {
 public:
  explicit TExtensionCalls(THTTP& http, TExtensionCache& cache = ExtensionCache);
  TExtensionCalls(const TExtensionCalls&) = delete;
  TExtensionCalls& operator=(const TExtensionCalls&) = delete;

  std::function<void(int32_t slot)> ProcessConnection;
  std::function<void(int32_t slot)> Disconnect;

  // TempDir + "DLL" + slot + ".HTM": the output file of a "$" request.
  std::string ExtensionOutputName(int32_t slot) const;

  // The HTTP status, or 2 when the library finishes later (the slot then
  // awaits WM_USER+3 and stays busy). socket and in_request are the
  // caller's; the call reads the slot's own records.
  int32_t CallExtensionPage(int32_t slot, int32_t socket, bool in_request);
  // True when POSTBEGIN accepted the POST (answered 1).
  bool CallPostBegin(int32_t slot, int32_t socket, bool in_request);
  // Passes the input FIFO's bytes to POSTRESUME and empties the FIFO; done
  // is set when the body is complete.
  void CallPostResume(int32_t slot, bool& done);
  // The HTTP status, or 2 when the library finishes later.
  int32_t CallPostEnd(int32_t slot);
  // For the console's disconnect handler: when a POST is in progress on
  // the slot, marks the client closed and calls POSTEND (its result is not
  // used). True when POSTEND was owed.
  bool PostEndOnDisconnect(int32_t slot);

  void OnExtensionDone(const platform::MSG& msg);

  // Completion bookkeeping, shared with the page-engine hook.
  bool Awaits(int32_t slot, TCompletionKind kind) const;
  void SetAwaiting(int32_t slot, TCompletionKind kind);
  // What the slot last waited for, even after an abort gave up waiting.
  TCompletionKind AwaitedKind(int32_t slot) const;

  // A "$RUN" call on the slot, from any thread. BeginRunCall is false, and
  // the library must not be called, while a late call is outstanding on the
  // slot. EndRunCall takes the library's answer: for a 2 the call stays
  // outstanding, holding the use of library name, until its completion;
  // false then, since there is no page to include. True otherwise, with the
  // use already released.
  bool BeginRunCall(int32_t slot);
  bool EndRunCall(int32_t slot, int32_t result, std::string_view name, std::string_view out_file);
  // The cache's table was cleared: late calls still outstanding hold no use
  // in the new one.
  void ForgetLateUses();

  // The slot's connection object when slot is 1..MaxSockets and has one.
  TSock* Slot(int32_t slot) const;

  // Copies the slot's FileName and Request into the library buffers, as
  // every call does before it enters the library.
  void FillCallBuffers(int32_t slot);

  void Log(int32_t slot, std::string_view text) const;
  void ShowRow(int32_t entry) const;

  THTTP& Http;
  TExtensionCache& Cache;

 private:
  // The writable buffers handed to the library as output file name and
  // request text. They live as long as this object, so a library that
  // finishes later may still write into them.
  void TakeBuffers(int32_t slot);
  void FinishCall(int32_t slot, std::string_view name, bool count_thread);
  // A direct call answered 2: the slot awaits its completion.
  void AwaitLateCall(int32_t slot, int32_t entry);
  void EndLateCall(int32_t slot);
  void DropCompletion(int32_t slot);

  // The slot's late call, guarded by late_lock_ since a "$RUN" call runs on
  // the page engine's thread. lcEarly: its completion came while the
  // library had not yet returned.
  enum TLateCall : uint8_t { lcNone, lcRunning, lcEarly, lcOutstanding };
  std::mutex late_lock_;
  TLateCall late_[kMaxSlots + 1] = {};
  std::string late_library_[kMaxSlots + 1];  // whose use the call holds; empty: none
  std::string late_file_[kMaxSlots + 1];     // its output file, nobody's once dropped

  TCompletionKind awaiting_[kMaxSlots + 1] = {};
  char file_buf_[kMaxSlots + 1][256] = {};
  char request_buf_[kMaxSlots + 1][256] = {};
};
