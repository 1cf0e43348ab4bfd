// The console's handlers of the engine's socket events, and the nested
// message pump that ends each of them.
//
// The engine raises OnAccept, OnRead, OnWrite, OnDisconnect and OnTimeOut
// per connection slot; the handlers prepare a slot for a new client, log
// the event and run the slot's state machine. Each ends with
// PumpNonSocketMessages, which keeps the window alive during long work but
// leaves WM_USER to WM_USER+9 (socket events, completions) queued, so that
// those handlers never nest.
//
// The main window owns one THttpEvents and one TAppSocketState (bound to
// its engine's console link); until it exists, a program (a test server)
// may own them itself. GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "console/statshistory.h"
#include "server/httpunit.h"
#include "server/wsock.h"

// The main window's state that the socket handlers and the socket layer
// read. StopAccepting and ExitPending are the flags the socket layer
// consults in its server's console link; the fields here refer to them.
struct TAppSocketState {
  explicit TAppSocketState(TConsoleLink& link) : StopAccepting(link.StopAccepting), ExitPending(link.ExitPending) {}
  TAppSocketState(const TAppSocketState&) = delete;
  TAppSocketState& operator=(const TAppSocketState&) = delete;

  bool& StopAccepting;           // no new connections
  bool& ExitPending;             // exit asked for inside the pump
  int32_t PumpDepth = 0;         // nesting of PumpNonSocketMessages
  bool LogToWindow = true;       // [Log] Local: the log window is filled
  int32_t TotalConnections = 0;  // accepted since the program started
};

// What the handlers show; each may be empty.
struct TSocketEventViews {
  // A line of the log window (the console's LogEvent).
  std::function<void(int32_t slot, int32_t socket, std::string_view text)> LogEvent;
  // Column 1 of the slot's connection-list row: the client's address.
  std::function<void(int32_t slot, std::string_view peer)> ShowPeer;
  // The tool bar's count of accepted connections.
  std::function<void(int32_t total)> ShowTotalConnections;
  // The slot's progress column.
  std::function<void(int32_t slot)> ShowProgress;
};

// Dispatches what the queue holds with identifiers 0 to 0x3FF, then 0x40A
// to 0x7FFFFFFF, counting the nesting in PumpDepth.
void PumpNonSocketMessages(TAppSocketState& app);

class THttpEvents {
 public:
  THttpEvents(THTTP& http, TAppSocketState& app, TSocketEventViews views = {});
  THttpEvents(const THttpEvents&) = delete;
  THttpEvents& operator=(const THttpEvents&) = delete;

  // Binds the engine's five events to the handlers (OnDisconnect and
  // OnTimeOut both to HTTPDisconnect) and its LogToWindowProc to the state.
  void Bind();

  // A client was taken into the slot: a fresh request and reply record,
  // no added header lines, no kill-sent file.
  void HTTPAccept(void* sender, int32_t slot);
  // Data arrived: an idle slot starts a request; the state machine runs.
  void HTTPRead(void* sender, int32_t slot);
  // The socket takes more: the state machine runs while the answer is sent.
  void HTTPWrite(void* sender, int32_t slot);
  // The client closed, the connection failed or timed out, the answer is
  // complete or the stop aborts it. Nothing while an extension or the page
  // engine still works for the slot; a POST in progress gets its end call.
  void HTTPDisconnect(void* sender, int32_t slot);

  void PumpNonSocketMessages() { ::PumpNonSocketMessages(app_); }

 private:
  bool ValidSlot(int32_t slot) const;
  void Log(int32_t slot, const char* text);

  THTTP& http_;
  TAppSocketState& app_;
  TSocketEventViews views_;
};

// Feeds the engine's request statistics into the console's histories: each
// request adds (with user, 1) to the four Hits histories, each newly seen
// client to the four Logins histories. The histories must outlive the
// engine's use of them.
void BindStatHistories(THTTP& http, std::span<TStatHistory, 4> hits, std::span<TStatHistory, 4> logins);
