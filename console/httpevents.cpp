#include "console/httpevents.h"

#include "interface/tandrel.h"
#include "platform/msgloop.h"

void PumpNonSocketMessages(TAppSocketState& app) {
  ++app.PumpDepth;
  platform::MSG msg;
  while (platform::PeekMessage(msg, 0, 0, platform::WM_USER - 1, platform::PM_REMOVE)) {
    platform::TranslateMessage(msg);
    platform::DispatchMessage(msg);
  }
  while (platform::PeekMessage(msg, 0, platform::WM_USER + 10, 0x7FFFFFFF, platform::PM_REMOVE)) {
    platform::TranslateMessage(msg);
    platform::DispatchMessage(msg);
  }
  --app.PumpDepth;
}

THttpEvents::THttpEvents(THTTP& http, TAppSocketState& app, TSocketEventViews views)
    : http_(http), app_(app), views_(std::move(views)) {}

void THttpEvents::Bind() {
  http_.OnAccept = [this](void* sender, int32_t slot) { HTTPAccept(sender, slot); };
  http_.OnRead = [this](void* sender, int32_t slot) { HTTPRead(sender, slot); };
  http_.OnWrite = [this](void* sender, int32_t slot) { HTTPWrite(sender, slot); };
  http_.OnDisconnect = [this](void* sender, int32_t slot) { HTTPDisconnect(sender, slot); };
  http_.OnTimeOut = [this](void* sender, int32_t slot) { HTTPDisconnect(sender, slot); };
  http_.LogToWindowProc = [this] { return app_.LogToWindow; };
}

bool THttpEvents::ValidSlot(int32_t slot) const {
  return slot >= 1 && slot <= http_.MaxSockets && http_.Connections[slot] != nullptr;
}

void THttpEvents::Log(int32_t slot, const char* text) {
  if (views_.LogEvent) views_.LogEvent(slot, http_.Connections[slot]->SocketNum, text);
}

void THttpEvents::HTTPAccept(void* /*sender*/, int32_t slot) {
  if (ValidSlot(slot)) {
    TSock* c = http_.Connections[slot];
    Log(slot, "Accept");
    if (views_.ShowPeer) views_.ShowPeer(slot, c->PeerAddress.view());
    ResetSlotRecord(http_.Requests[slot]);
    http_.ConnState[slot] = csIdle;
    http_.PostInProgress[slot] = 0;
    http_.Replies[slot].DirectReturn = 0;
    ClearReplyFile(http_.Replies[slot]);
    // Lines an extension added for the slot's previous client must not
    // reach this one.
    ClearHeaderLines(slot);
    c->KillSent = false;
    c->FileName.clear();
    c->AwaitingCompletion = false;
    ++app_.TotalConnections;
    if (views_.ShowTotalConnections) views_.ShowTotalConnections(app_.TotalConnections);
  }
  PumpNonSocketMessages();
}

void THttpEvents::HTTPRead(void* /*sender*/, int32_t slot) {
  if (ValidSlot(slot) && http_.Connections[slot]->Connected) {
    Log(slot, "FD_READ");
    if (http_.ConnState[slot] == csIdle) http_.ConnState[slot] = csRequest;
    http_.ProcessConnection(slot);
  }
  PumpNonSocketMessages();
}

void THttpEvents::HTTPWrite(void* /*sender*/, int32_t slot) {
  if (ValidSlot(slot) && (http_.ConnState[slot] == csFlush || http_.ConnState[slot] == csSendFile)) {
    Log(slot, "FD_WRITE");
    http_.ProcessConnection(slot);
    if (http_.Connections[slot]->Connected && views_.ShowProgress) views_.ShowProgress(slot);
  }
  PumpNonSocketMessages();
}

void THttpEvents::HTTPDisconnect(void* /*sender*/, int32_t slot) {
  if (ValidSlot(slot) && !http_.Connections[slot]->AwaitingCompletion) {
    TSock* c = http_.Connections[slot];
    Log(slot, "FD_CLOSE");
    if (http_.PostInProgress[slot]) {
      c->Info.Closed = 1;
      if (http_.OutsideCalls)
        http_.OutsideCalls->CallPostEnd(http_, slot);
      else
        http_.PostInProgress[slot] = 0;
    }
    http_.DisconnectSlot(slot);
    http_.ConnState[slot] = csIdle;
  }
  PumpNonSocketMessages();
}

void BindStatHistories(THTTP& http, std::span<TStatHistory, 4> hits, std::span<TStatHistory, 4> logins) {
  auto feed = [](std::span<TStatHistory, 4> histories) {
    return [histories](int32_t with_user, int32_t requests) {
      const int32_t values[2] = {with_user, requests};
      for (TStatHistory& h : histories) h.AddSample(values);
    };
  };
  http.HitsSampleProc = feed(hits);
  http.LoginsSampleProc = feed(logins);
}
