// The connection state machine of THTTP: one slot's request from its first
// byte to the end of its answer, with the authentication against the
// password table and the realm table of the interface library.
//
// Kept apart from the slot records (httpunit.cpp) because it calls the
// interface library's exports: programs that only build the engine's state
// need not link the library.
#include <cstddef>
#include <cstring>
#include <string>

#include "foundation/security.h"
#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "server/eventcounters.h"
#include "server/filecache.h"
#include "server/fileresolve.h"
#include "server/httpparse.h"
#include "server/httpreply.h"
#include "server/httpunit.h"

namespace {

constexpr int64_t kCorkedBodyMax = 256 * 1024;

// A short string as the realm store's exports take it: a length byte and
// the text, the layout ShortString has.
const unsigned char* AsShortText(const ShortString& s) { return reinterpret_cast<const unsigned char*>(&s); }
static_assert(sizeof(ShortString) == sizeof(THalvShortString) && offsetof(ShortString, len) == 0);

std::string SlotFile(const ShortString& temp_dir, const char* prefix, int32_t slot) {
  return temp_dir.str() + prefix + std::to_string(slot) + ".HTM";
}

}  // namespace

void THTTP::EngineLog(int32_t slot, std::string_view text) {
  if (!HttpLogProc) return;
  TSock* c = slot >= 0 && slot <= kMaxSlots ? Connections[slot] : nullptr;
  HttpLogProc(slot, c ? c->SocketNum : 0, EscapeControlChars(text));
}

// The realm check: a client address that is recorded with a user name and
// now brings no valid user is refused. Every other request refreshes or
// records the client.
bool THTTP::RealmRefuses(int32_t slot) {
  TRequestRecord& rq = Requests[slot];
  TSock* c = Connections[slot];
  const bool with_user = !rq.User.empty();
  ShortString upper_realm = rq.Realm;
  UpcaseShortString(upper_realm);
  if (GetRealmCnt() == 0 || GetRealmIndex(AsShortText(upper_realm)) == -1) AddRealm(AsShortText(upper_realm));

  TUserItem* item = nullptr;
  if (GetUserItem(&item, AsShortText(c->PeerAddress), AsShortText(rq.Realm)) && item) {
    if (!with_user && item->UserName[0] != 0) return true;
    item->LastAccess = platform::Now();
    std::memcpy(item->UserName, &rq.User, 1 + rq.User.size());
    UpdateUserItem(item, AsShortText(c->PeerAddress), AsShortText(rq.Realm));
    return false;
  }
  if (AddUserItem(AsShortText(rq.User), AsShortText(c->PeerAddress), AsShortText(rq.Realm)) == 1)
    CountEvent(evLogins);
  if (LoginsSampleProc) LoginsSampleProc(with_user ? 1 : 0, 1);
  return false;
}

// The header is read: authenticate, record the client, and dispatch.
void THTTP::BeginRequest(int32_t slot) {
  TRequestRecord& rq = Requests[slot];
  TReplyRecord& rp = Replies[slot];
  TSock* c = Connections[slot];
  TLookupWait lookups;

  rq.Realm = kRealmWord;
  ToCString(c->Info.SentUser, rq.User.view(), 80);
  if (!rq.User.empty()) {
    std::string error;
    if (!CheckPassword(rq.User, rq.Password, &error)) {
      // A store that cannot answer refuses: the request counts as anonymous.
      if (!error.empty()) EngineLog(slot, "Password check failed in the security store: " + error);
      rq.User.clear();
    }
  }
  ToCString(c->Info.User, rq.User.view(), 80);
  ToCString(c->Info.Password, rq.Password.view(), 80);
  if (RequestShownProc) RequestShownProc(slot, c->PeerAddress.view(), rq.Method, rq.Request.view());
  if (HitsSampleProc) HitsSampleProc(rq.User.empty() ? 0 : 1, 1);

  const bool refused = RealmRefuses(slot);
  if (refused) {
    rp.Status = 401;
    rq.Method = rmHead;
  }
  DispatchRequest(slot, refused);
}

// Dispatch by method and URL kind; refused: the realm check refused the
// request, which is then answered 401.
void THTTP::DispatchRequest(int32_t slot, bool refused) {
  TRequestRecord& rq = Requests[slot];
  TReplyRecord& rp = Replies[slot];
  TSock* c = Connections[slot];
  uint8_t& state = ConnState[slot];

  switch (rq.Method) {
    case rmGet:
    case rmHead: {
      std::string_view url = rq.Request.view();
      if (refused) {
        state = csHeader;
      } else if (UrlNeedsLogin(url) && rq.User.empty()) {
        rp.Status = 401;
        state = csHeader;
      } else if (!url.empty() && url.front() == '$') {
        rp.FileName = SlotFile(TempDir, "DLL", slot);
        int32_t r = 404;
        if (OutsideCalls) {
          // A page left by an earlier client of this slot must never pass
          // for this one's.
          platform::DeleteFile(rp.FileName.str());
          r = OutsideCalls->CallExtensionPage(*this, slot, c->SocketNum, true);
        }
        if (r == 2) {
          state = csWaiting;
        } else {
          rp.Status = r;
          if (rp.Status == 200 && !IsRegularFile(rp.FileName.str())) rp.Status = 404;
          state = csServe;
        }
      } else if (UrlIsUnsafe(url)) {
        // ".." or a control character: 404 without asking the file system,
        // and no default document either.
        EngineLog(slot, "URL with a \"..\" segment or a control character -> 404");
        rp.FileName.clear();
        rp.Status = 404;
        state = csHeader;
      } else {
        ResolveFile(slot);
        state = csServe;
      }
      break;
    }
    case rmPost:
      PostPhase[slot] = ppBegin;
      state = csPostBody;
      break;
    default:
      rp.Status = 501;
      state = csHeader;
      break;
  }
}

void THTTP::ResolveFile(int32_t slot) {
  TRequestRecord& rq = Requests[slot];
  TReplyRecord& rp = Replies[slot];
  TFileResolution r = ResolveFileName(HomeDir.view(), rq.Request.view());
  rq.Request = r.Request;
  rp.FileName = r.FileName;
  EngineLog(slot, "Requested File " + r.Requested);
  if (r.TooLong || !IsRegularFile(r.FileName)) {
    rp.Status = 404;
    return;
  }
  std::string error;
  bool allowed = CheckAccess(FullPath(r.FileName), rq.User.view(), Connections[slot]->PeerAddress.view(), &error);
  // A store that cannot answer refuses.
  if (!allowed && !error.empty()) EngineLog(slot, "Access check failed in the security store: " + error);
  rp.Status = allowed ? 200 : 401;
}

// The request cannot be read: it is answered 400 and the connection ends.
void THTTP::AnswerBadRequest(int32_t slot, const char* reason) {
  TRequestRecord& rq = Requests[slot];
  EngineLog(slot, reason);
  // No password check was made, so the name sent is nobody's.
  rq.User.clear();
  rq.Password.clear();
  Replies[slot].FileName.clear();
  Replies[slot].Status = 400;
  ConnState[slot] = csHeader;
}

// The answer ends with its header: the console's disconnect handler, bound
// to OnDisconnect, closes the connection.
void THTTP::EndAfterHeader(int32_t slot) {
  if (OnDisconnect) OnDisconnect(this, slot);
}

// csRequest: reads what arrived of the header; once it is complete, the
// request is authenticated and dispatched. False while the header is
// incomplete: nothing else happens in this call.
bool THTTP::RequestStep(int32_t slot) {
  TSock* c = Connections[slot];
  RequestLogHooks hooks;
  hooks.log = [this, slot](std::string_view line) {
    if (HttpLogProc) HttpLogProc(slot, Connections[slot]->SocketNum, line);
  };
  hooks.log_headers = [this] {
    return LogToWindowProc && LogToWindowProc() && ConfigIni &&
           ConfigIni->ReadBool(settings::kLog, settings::kHeaders, settings::request::kHeaders);
  };
  FifoCreate(c->InputFifo);
  HeaderResult h = ReadRequestHeader(Requests[slot], c->InputFifo, hooks);
  if (h.bad()) {
    AnswerBadRequest(slot, h.reason);
  } else if (!h.complete()) {
    return false;
  } else {
    BeginRequest(slot);
  }
  return true;
}

// csPostBody: the body goes to the extension library in its three phases;
// each phase may follow the one before in the same call.
void THTTP::PostBodyStep(int32_t slot) {
  TReplyRecord& rp = Replies[slot];
  uint8_t& state = ConnState[slot];
  if (PostPhase[slot] == ppBegin) {
    std::string_view url = Requests[slot].Request.view();
    if (url.empty() || url.front() != '$') {
      // Only extension libraries take a POST body.
      EngineLog(slot, "POST to a URL that is not an extension call -> 404");
      rp.Status = 404;
      state = csHeader;
    } else {
      rp.FileName = SlotFile(TempDir, "DLL", slot);
      bool taken = false;
      if (OutsideCalls) {
        platform::DeleteFile(rp.FileName.str());
        taken = OutsideCalls->CallPostBegin(*this, slot, Connections[slot]->SocketNum, true);
      }
      if (taken) {
        PostPhase[slot] = ppResume;
      } else {
        rp.Status = 404;
        state = csHeader;
      }
    }
  }
  if (state == csPostBody && PostPhase[slot] == ppResume) {
    bool done = false;
    OutsideCalls->CallPostResume(*this, slot, done);
    if (done) PostPhase[slot] = ppEnd;
  }
  if (state == csPostBody && PostPhase[slot] == ppEnd) {
    int32_t r = OutsideCalls->CallPostEnd(*this, slot);
    if (r == 2) {
      state = csWaiting;
    } else {
      rp.Status = r;
      state = r == 200 ? csServe : csHeader;
    }
  }
}

// csServe: the default document for a 404, then the page engine for an
// HTML answer.
void THTTP::ServeStep(int32_t slot) {
  TSock* c = Connections[slot];
  TReplyRecord& rp = Replies[slot];
  uint8_t& state = ConnState[slot];
  if (rp.Status == 404 && ConfigIni &&
      ConfigIni->ReadBool(settings::kDirectories, settings::kUseDefaultDoc, settings::request::kUseDefaultDoc)) {
    std::string doc = platform::NormalizePath(
        ConfigIni->ReadString(settings::kDirectories, settings::kDefaultDoc, settings::request::kDefaultDoc));
    if (doc.size() <= ShortString::kMax && IsRegularFile(doc)) {
      rp.FileName = doc;
      rp.Status = 200;
      c->KillSent = false;
    }
  }
  state = csHeader;
  if (rp.Status == 200) {
    std::string type = LookupContentType(rp.FileName.view());
    // The page engine, when one is loaded, expands every HTML answer.
    if (c->Info.SkipEngine == 0 && type == "text/html" && EngineLibrary && OutsideCalls &&
        OutsideCalls->RunEngine(*this, slot))
      state = csWaiting;
  }
}

// Whatever file the name showed when the status was chosen, the one the
// open finds is sent. With none: 404 when no regular file is there, 500
// when one is there but cannot be opened (descriptors, permission). A HEAD
// answer opens it too, so that its header is the one its GET would get.
void THTTP::OpenAnswerFile(int32_t slot) {
  TReplyRecord& rp = Replies[slot];
  if (rp.Status != 200) return;
  OpenFailure why;
  if (OpenSendFile(slot, rp.FileName.view(), false, &why)) return;
  if (!why.call) {
    rp.Status = 404;
    return;
  }
  EngineLog(slot, std::string("Cannot send the file. ") + why.call + "(" + rp.FileName.str() +
                      "): " + std::strerror(why.error));
  rp.Status = 500;
}

// csHeader: the response header and the access-log line.
void THTTP::HeaderStep(int32_t slot) {
  TRequestRecord& rq = Requests[slot];
  TReplyRecord& rp = Replies[slot];
  OpenAnswerFile(slot);
  EngineLog(slot, "Returned: " + std::to_string(rp.Status) + " " + rp.FileName.str());
  WriteResponseHeader(rp, slot, *this);
  TLogEntry entry;
  entry.cid = slot;
  entry.client = Connections[slot]->PeerAddress.view();
  entry.user = rq.User.view();
  ShortString method = MethodText(rq.Method);
  ShortString version = VersionText(rq.Version);
  entry.method = method.view();
  entry.url = rq.ReceivedUrl.view();
  entry.protocol = version.view();
  entry.status = rp.Status;
  entry.content_length = LoggedContentLength(rp.Status, rp.ContentLength);
  entry.referer = rq.Referer.view();
  entry.user_agent = rq.UserAgent.view();
  WriteLogEntry(AccessLog, entry);
  ConnState[slot] = csFlush;
}

// csFlush: the header bytes; once they are out, the file follows, or the
// answer ends with its header.
void THTTP::FlushStep(int32_t slot) {
  TReplyRecord& rp = Replies[slot];
  uint8_t& state = ConnState[slot];
  auto with_body = [&] { return rp.Status == 200 && Requests[slot].Method != rmHead; };
  // A body that follows at once leaves in the header's segment; before a
  // large one the header goes at once (measured: corking it slows a
  // megabyte answer by a sixth, and speeds up smaller ones).
  if (!FlushOutput(slot, with_body() && rp.ContentLength <= kCorkedBodyMax)) return;
  if (with_body()) {
    // HeaderStep opened the file before it wrote the header.
    state = csSendFile;
    SendNextBlock(slot);
  } else {
    EndAfterHeader(slot);
    state = csClose;
  }
}

void THTTP::ProcessConnection(int32_t slot) {
  if (slot < 1 || slot > MaxSockets || !Connections[slot]) return;
  TSock* c = Connections[slot];
  uint8_t& state = ConnState[slot];
  auto check_connected = [&] {
    if (!c->Connected) state = csClose;
  };

  check_connected();
  if (state == csRequest && !RequestStep(slot)) return;
  if (state == csPostBody) PostBodyStep(slot);
  if (state == csServe) ServeStep(slot);
  if (state == csHeader) HeaderStep(slot);
  check_connected();
  if (state == csFlush) FlushStep(slot);
  check_connected();
  if (state == csSendFile) {
    if (!c->FileInProgress || SendNextBlock(slot)) state = csClose;
  }
  check_connected();
  if (state == csClose) state = csIdle;
}
