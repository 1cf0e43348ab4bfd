#include "server/extcalls.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "server/accesslog.h"
#include "server/bytefifo.h"
#include "server/eventcounters.h"

namespace {

// Zero-fills a library buffer behind the text, so the text always ends in a
// NUL and a library reading past it finds zeros.
void PutBuffer(char (&buffer)[256], std::string_view text) {
  std::memset(buffer, 0, sizeof buffer);
  std::size_t n = std::min<std::size_t>(text.size(), sizeof buffer - 1);
  std::memcpy(buffer, text.data(), n);
}

std::string_view BufferText(const char (&buffer)[256]) { return std::string_view(buffer, strnlen(buffer, 255)); }

}  // namespace

int32_t ExtensionResultStatus(int32_t result) {
  if (result == 0) return 404;
  if (result == 1) return 200;
  return result;
}

TExtensionCalls::TExtensionCalls(THTTP& http, TExtensionCache& cache) : Http(http), Cache(cache) {}

std::string TExtensionCalls::ExtensionOutputName(int32_t slot) const {
  return Http.TempDir.str() + "DLL" + std::to_string(slot) + ".HTM";
}

TSock* TExtensionCalls::Slot(int32_t slot) const {
  if (slot < 1 || slot > kMaxSlots || slot > Http.MaxSockets) return nullptr;
  return Http.Connections[slot];
}

bool TExtensionCalls::Awaits(int32_t slot, TCompletionKind kind) const {
  TSock* c = Slot(slot);
  return c && c->AwaitingCompletion && awaiting_[slot] == kind;
}

TCompletionKind TExtensionCalls::AwaitedKind(int32_t slot) const {
  return slot >= 1 && slot <= kMaxSlots ? awaiting_[slot] : ckNone;
}

void TExtensionCalls::SetAwaiting(int32_t slot, TCompletionKind kind) {
  if (slot < 1 || slot > kMaxSlots) return;
  awaiting_[slot] = kind;
}

// The request and file names in these lines come from the client and the
// library: control characters are written as %XX, as in every log line.
void TExtensionCalls::Log(int32_t slot, std::string_view text) const {
  if (!Http.HttpLogProc) return;
  TSock* c = Slot(slot);
  Http.HttpLogProc(slot, c ? c->SocketNum : -1, EscapeControlChars(text));
}

void TExtensionCalls::ShowRow(int32_t entry) const {
  if (Http.ExtensionRowProc) Http.ExtensionRowProc(entry);
}

void TExtensionCalls::FillCallBuffers(int32_t slot) {
  PutBuffer(file_buf_[slot], Http.Replies[slot].FileName.view());
  PutBuffer(request_buf_[slot], Http.Requests[slot].Request.view());
}

// The library may have named another output file (or rewritten the
// request); both fields take the buffers' text up to the first NUL.
void TExtensionCalls::TakeBuffers(int32_t slot) {
  Http.Requests[slot].Request = BufferText(request_buf_[slot]);
  Http.Replies[slot].FileName = BufferText(file_buf_[slot]);
  if (TSock* c = Slot(slot)) c->FileName = Http.Replies[slot].FileName.view();
}

// The end of a call: the library's use is released, and it is unloaded
// when it asked for that. By name, since the entry may have moved while
// the library ran.
void TExtensionCalls::FinishCall(int32_t slot, std::string_view name, bool count_thread) {
  TSock* c = Slot(slot);
  bool unload = c && c->Info.UnloadAfterCall == 1;
  if (int32_t entry = Cache.Finish(name, count_thread, unload)) ShowRow(entry);
}

int32_t TExtensionCalls::CallExtensionPage(int32_t slot, int32_t socket, bool in_request) {
  TSock* c = Slot(slot);
  if (!c) return 404;
  std::string name = ExtensionLibraryName(Http.Requests[slot].Request.view());
  Http.ExtensionName[slot] = name;
  Log(slot, "Calling " + name + " - " + Http.Requests[slot].Request.str());
  int32_t entry = 0;
  TExtensionSlot found;
  if (!Cache.Acquire(name, entry, &found)) return 404;
  TMakePage make_page = found.MakePage;
  if (!make_page) {
    if (int32_t now = Cache.Finish(name, false, false)) ShowRow(now);
    return 404;
  }
  FillCallBuffers(slot);
  // A page left from an earlier client of this slot must never be sent.
  platform::DeleteFile(ExtensionOutputName(slot));
  ShowRow(entry);
  c->Info.CallContext = 0;
  c->MarkBusy();
  int32_t r = make_page(file_buf_[slot], request_buf_[slot], &c->Info);
  if (r == 2) {
    AwaitLateCall(slot, entry);
    return 2;
  }
  c->AwaitingCompletion = false;
  SetAwaiting(slot, ckNone);
  TakeBuffers(slot);
  c->MarkIdle();
  FinishCall(slot, name, false);
  return ExtensionResultStatus(r);
}

bool TExtensionCalls::CallPostBegin(int32_t slot, int32_t socket, bool in_request) {
  TSock* c = Slot(slot);
  if (!c) return false;
  Http.Requests[slot].BodyReceived = 0;
  Log(slot, "PostBegin");
  std::string name = ExtensionLibraryName(Http.Requests[slot].Request.view());
  Http.ExtensionName[slot] = name;
  Log(slot, "Calling " + name + " - " + Http.Requests[slot].Request.str());
  Log(slot, "File In " + Http.Replies[slot].FileName.str());
  int32_t entry = 0;
  TExtensionSlot found;
  if (!Cache.Acquire(name, entry, &found)) return false;
  TPostBegin post_begin = found.PostBegin;
  if (!post_begin) {
    if (int32_t now = Cache.Finish(name, false, false)) ShowRow(now);
    return false;
  }
  FillCallBuffers(slot);
  platform::DeleteFile(ExtensionOutputName(slot));
  ShowRow(entry);
  c->Info.CallContext = 0;
  c->MarkBusy();
  CountEvent(evBeginPost);
  // From here POSTEND is owed, whatever POSTBEGIN answers; the use counted
  // above is released when POSTEND has run.
  Http.PostInProgress[slot] = 1;
  int32_t r = post_begin(file_buf_[slot], request_buf_[slot], slot, &c->Info);
  c->MarkIdle();
  return r == 1;
}

void TExtensionCalls::CallPostResume(int32_t slot, bool& done) {
  done = false;
  TSock* c = Slot(slot);
  if (!c) return;
  Log(slot, "PostResume");
  TPostResume post_resume = Cache.PostResume(Http.ExtensionName[slot].view());
  if (!post_resume) return;
  TRequestRecord& req = Http.Requests[slot];
  TByteFifo* fifo = c->InputFifo;
  int32_t count = fifo ? fifo->Count : 0;
  // With a valid Content-Length the body is exactly that many bytes: it is
  // complete when they have arrived, and bytes beyond it are not body. The
  // line-feed rule (a body ends with its first line end) is only for a
  // request that gave no length.
  bool has_length = req.ContentLength >= 0;
  if (has_length) {
    int64_t remaining = std::max<int64_t>(req.ContentLength - req.BodyReceived, 0);
    count = static_cast<int32_t>(std::min<int64_t>(count, remaining));
    req.BodyReceived += count;
    if (req.BodyReceived >= req.ContentLength) done = true;
  } else {
    req.BodyReceived += count;
    const uint8_t* first = fifo ? fifo->Data + fifo->Start - 1 : nullptr;
    if (count > 0 && first[count - 1] == '\n' && !req.Multipart) {
      done = true;
      --count;
    }
    // Without a length the body still ends at the largest one.
    if (req.BodyReceived >= kContentLengthMax) done = true;
    if (count > 0 && first[count - 1] == '\r' && !req.Multipart) --count;
  }
  Log(slot, "Content: [" + std::to_string(count) + ":" + std::to_string(req.BodyReceived) + ":" +
                std::to_string(has_length ? req.ContentLength : 0) + "]");
  c->MarkBusy();
  if (count > 0) post_resume(count, fifo->Data + fifo->Start - 1, slot, &c->Info);
  c->MarkIdle();
  FifoReset(fifo);
  Http.ResumeReading(slot);
}

int32_t TExtensionCalls::CallPostEnd(int32_t slot) {
  TSock* c = Slot(slot);
  if (!c) return 404;
  Log(slot, "PostEnd");
  if (!Http.PostInProgress[slot]) return 404;
  std::string name = Http.ExtensionName[slot].str();
  int32_t entry = 0;
  TPostEnd post_end = Cache.PostEnd(name, entry);
  if (!post_end) {
    // The use POSTBEGIN's call counted goes with the POST.
    if (int32_t now = Cache.Finish(name, false, false)) ShowRow(now);
    Http.PostInProgress[slot] = 0;
    return 404;
  }
  if (c->Info.Closed == 1) c->Info.CallContext = 1;
  c->MarkBusy();
  CountEvent(evEndPost);
  int32_t r = ExtensionResultStatus(post_end(file_buf_[slot], slot, &c->Info));
  if (r == 2) {
    AwaitLateCall(slot, entry);
  } else {
    c->MarkIdle();
    TakeBuffers(slot);
    FinishCall(slot, name, false);
  }
  Log(slot, "File Out " + Http.Replies[slot].FileName.str());
  Http.PostInProgress[slot] = 0;
  return r;
}

bool TExtensionCalls::PostEndOnDisconnect(int32_t slot) {
  TSock* c = Slot(slot);
  if (!c || !Http.PostInProgress[slot]) return false;
  c->Info.Closed = 1;
  CallPostEnd(slot);
  return true;
}

void TExtensionCalls::AwaitLateCall(int32_t slot, int32_t entry) {
  CountEvent(evThreadsStarted);
  Slot(slot)->AwaitingCompletion = true;
  SetAwaiting(slot, ckExtension);
  Http.ExtensionSlot[slot] = entry;
  std::lock_guard<std::mutex> guard(late_lock_);
  late_[slot] = lcOutstanding;
  late_library_[slot] = Http.ExtensionName[slot].str();
  late_file_[slot] = ExtensionOutputName(slot);
  Http.LateCallOutstanding[slot] = true;
}

void TExtensionCalls::EndLateCall(int32_t slot) {
  std::lock_guard<std::mutex> guard(late_lock_);
  late_[slot] = lcNone;
  late_library_[slot].clear();
  late_file_[slot].clear();
  Http.LateCallOutstanding[slot] = false;
}

bool TExtensionCalls::BeginRunCall(int32_t slot) {
  if (slot < 1 || slot > kMaxSlots) return false;
  std::lock_guard<std::mutex> guard(late_lock_);
  if (late_[slot] != lcNone || Http.LateCallOutstanding[slot]) return false;
  late_[slot] = lcRunning;
  return true;
}

bool TExtensionCalls::EndRunCall(int32_t slot, int32_t result, std::string_view name, std::string_view out_file) {
  std::lock_guard<std::mutex> guard(late_lock_);
  if (result == 2 && late_[slot] == lcRunning) {
    late_[slot] = lcOutstanding;
    late_library_[slot] = name;
    late_file_[slot] = out_file;
    Http.LateCallOutstanding[slot] = true;
    return false;
  }
  late_[slot] = lcNone;
  return true;
}

void TExtensionCalls::ForgetLateUses() {
  std::lock_guard<std::mutex> guard(late_lock_);
  for (std::string& name : late_library_) name.clear();
}

// Nobody waits for this completion. It still ends the late call it belongs
// to: the library's use goes, the slot takes connections again, and the
// page it wrote, which no client gets, is deleted.
void TExtensionCalls::DropCompletion(int32_t slot) {
  std::string library, file;
  if (slot >= 1) {
    std::lock_guard<std::mutex> guard(late_lock_);
    if (late_[slot] == lcRunning) {
      late_[slot] = lcEarly;
    } else if (late_[slot] == lcOutstanding) {
      library.swap(late_library_[slot]);
      file.swap(late_file_[slot]);
      late_[slot] = lcNone;
      Http.LateCallOutstanding[slot] = false;
    }
  }
  if (!library.empty())
    if (int32_t entry = Cache.Finish(library, true, false)) ShowRow(entry);
  if (!file.empty()) platform::DeleteFile(file);
  Log(slot, "Completion dropped: no call on this slot waits for it");
}

void TExtensionCalls::OnExtensionDone(const platform::MSG& msg) {
  // A completion counts only for a slot that awaits one from an extension:
  // a duplicate, a late one after an abort, or one naming a foreign slot is
  // dropped.
  if (msg.wParam < 1 || msg.wParam > static_cast<platform::WPARAM>(kMaxSlots)) {
    DropCompletion(0);
    return;
  }
  int32_t slot = static_cast<int32_t>(msg.wParam);
  if (!Awaits(slot, ckExtension)) {
    DropCompletion(slot);
    return;
  }
  TSock* c = Slot(slot);
  CountEvent(evThreadsFinished);
  int32_t result = static_cast<int32_t>(msg.lParam);
  Http.Replies[slot].Status = ExtensionResultStatus(result);
  c->AwaitingCompletion = false;
  SetAwaiting(slot, ckNone);
  EndLateCall(slot);
  Http.ExtensionSlot[slot] = 0;
  Http.ConnState[slot] = csServe;
  TakeBuffers(slot);
  FinishCall(slot, Http.ExtensionName[slot].view(), true);
  c->MarkIdle();
  if (Http.Replies[slot].Status == 200 && !platform::FileExists(Http.Replies[slot].FileName.str()))
    Http.Replies[slot].Status = 404;
  if (ProcessConnection) ProcessConnection(slot);
  if (!c->Connected && Disconnect) Disconnect(slot);
}
