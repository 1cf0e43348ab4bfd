// Request accessors: what an extension or the page engine may read of the
// request on its slot, read in place from the engine's records.
#include <cstring>

#include "interface/tandrelstate.h"
#include "server/httpparse.h"

using namespace tandrel;

namespace {

// The slot's header lines; empty when the slot's record has no list.
const THeaderLines& HeaderLinesOf(const THTTP* server, int32_t cid) {
  static const THeaderLines none;
  const THeaderLines* lines = server->Requests[cid].HeaderLines;
  return lines ? *lines : none;
}

// The status, and on 0 with a buffer the text that pick gives.
template <typename Pick>
TConnStatus Answer(char* buffer, int32_t cid, Pick&& pick) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    if (status == 0 && buffer) CopyText(buffer, pick(*server));
    return status;
  });
}

}  // namespace

TANDREL_EXPORT TConnStatus GetMethod(char* buffer, int32_t cid) {
  return Answer(buffer, cid, [cid](THTTP& s) { return MethodText(s.Requests[cid].Method); });
}

TANDREL_EXPORT TConnStatus GetRequest(char* buffer, int32_t cid) {
  return Answer(buffer, cid, [cid](THTTP& s) { return s.Requests[cid].Request; });
}

TANDREL_EXPORT TConnStatus GetHTTPVersion(char* buffer, int32_t cid) {
  return Answer(buffer, cid, [cid](THTTP& s) { return VersionText(s.Requests[cid].Version); });
}

TANDREL_EXPORT TConnStatus GetRemoteIp(char* buffer, int32_t cid) {
  return Answer(buffer, cid, [cid](THTTP& s) { return s.Connections[cid]->PeerAddress; });
}

TANDREL_EXPORT TConnStatus GetHeaderCnt(int32_t* count, int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    int32_t n = status == 0 ? static_cast<int32_t>(HeaderLinesOf(server, cid).size()) : 0;
    if (count) *count = n;
    return status;
  });
}

// An index outside 0..count-1 gives an empty buffer and 1.
TANDREL_EXPORT TConnStatus GetHeaderLine(char* buffer, int32_t index, int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    if (status != 0 || !buffer) return status;
    const THeaderLines& lines = HeaderLinesOf(server, cid);
    if (index < 0 || static_cast<std::size_t>(index) >= lines.size()) {
      buffer[0] = '\0';
      return 1;
    }
    CopyText(buffer, lines[static_cast<std::size_t>(index)]);
    return 0;
  });
}

// The value after the first "=" of the first line whose name before it
// equals name, ASCII case folded; 3 with an empty buffer when there is no
// such line or its value is empty.
TANDREL_EXPORT TConnStatus GetHeaderValue(char* buffer, const char* name, int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    if (status != 0 || !name || !buffer) {
      if (buffer) buffer[0] = '\0';
      return status;
    }
    std::string_view key(name, strnlen(name, 255));
    std::string_view value = HeaderValue(HeaderLinesOf(server, cid), key);
    CopyText(buffer, value);
    return value.empty() ? 3 : 0;
  });
}

namespace {

// The directory exports: attached and a buffer given, else 1.
uint8_t DirectoryAnswer(char* buffer, const ShortString THTTP::*field) {
  return Guarded<uint8_t>(1, [&]() -> uint8_t {
    THTTP* server = AttachedServer();
    if (!server || !buffer) return 1;
    CopyText(buffer, (server->*field).view());
    return 0;
  });
}

}  // namespace

TANDREL_EXPORT uint8_t GetTempDir(char* buffer) { return DirectoryAnswer(buffer, &THTTP::TempDir); }

TANDREL_EXPORT uint8_t GetHomeDir(char* buffer) { return DirectoryAnswer(buffer, &THTTP::HomeDir); }

// Checks the range only: a free slot gives the realm of its last request.
TANDREL_EXPORT uint8_t GetRealmName(char* buffer, int32_t cid) {
  return Guarded<uint8_t>(1, [&]() -> uint8_t {
    THTTP* server = AttachedServer();
    if (!server || !buffer || cid < 1 || cid > kMaxSlots) return 1;
    CopyText(buffer, server->Requests[cid].Realm.view());
    return 0;
  });
}
