// The interface library's start, attaching to and detaching from the
// server, the connection check, and the small exports.
#include <algorithm>
#include <cstring>
#include <limits>

#include "foundation/allocguard.h"
#include "foundation/serverconfig.h"
#include "interface/tandrelstate.h"

namespace tandrel {

namespace {

constinit TLibraryState State;

// Frees every list there is, whatever slot count made it.
void FreeAddedLines() {
  std::lock_guard<std::mutex> lines(State.LinesLock);
  for (AddedLineList*& list : State.AddedLines) {
    delete list;
    list = nullptr;
  }
}

}  // namespace

TLibraryState& Library() { return State; }

THTTP* AttachedServer() {
  if (!State.Attached.load(std::memory_order_acquire)) return nullptr;
  THTTP** ref = State.ServerRef.load(std::memory_order_acquire);
  return ref ? *ref : nullptr;
}

TConnStatus CheckConnection(int32_t cid, THTTP*& server) {
  server = nullptr;
  if (cid < 1 || cid > kMaxSlots) return 1;
  THTTP* s = AttachedServer();
  if (!s) return 1;
  // Slots above the slot count have no object.
  if (cid > s->MaxSockets) return 1;
  TSock* sock = s->Connections[cid];
  if (!sock) return 1;
  server = s;
  return sock->Connected ? 0 : 2;
}

TConnStatus CheckConnection(int32_t cid) {
  THTTP* server = nullptr;
  return CheckConnection(cid, server);
}

void CopyText(char* buffer, std::string_view text, std::size_t size) { ToCString(buffer, text, size); }

std::string_view ShortText(const unsigned char* s) {
  if (!s) return {};
  return std::string_view(reinterpret_cast<const char*>(s + 1), s[0]);
}

void PutShortText(unsigned char* out, std::string_view text) {
  if (!out) return;
  std::size_t n = std::min<std::size_t>(text.size(), 255);
  if (n) std::memmove(out + 1, text.data(), n);
  out[0] = static_cast<unsigned char>(n);
}

}  // namespace tandrel

using namespace tandrel;

// Runs once when the library is loaded into a process, before dlopen (or the
// program's start) returns.
__attribute__((constructor)) static void InitServerInterface() {
  GuardedVoid([] {
    // The guard, the counters and the socket unit's scratch buffer are this
    // module's own copies and start with it; the configuration unit opens
    // its own objects on KORRIDAN.INI and MIME.INI beside the host program.
    OpenConfigFiles();
    SetAllocationContext("Tandrel");
    // The library's state and the realm store's lock need no start: they
    // are ready from the module's load.
    CreateRealmStore();
    Library().Attached.store(false);
    FillTemplateDescriptor();
  });
}

TANDREL_EXPORT void LoadServer(THTTP** server) {
  GuardedVoid([server] {
    // Without a variable there is nothing to attach to.
    if (!server) return;
    TLibraryState& state = Library();
    std::lock_guard<std::mutex> load(state.LoadLock);
    state.ServerRef.store(server, std::memory_order_release);
    // Lists of an earlier attach that was never detached go; every slot
    // starts with an empty list.
    FreeAddedLines();
    THTTP* s = *server;
    int32_t slots = s ? std::clamp<int32_t>(s->MaxSockets, 0, kMaxSlots) : 0;
    {
      std::lock_guard<std::mutex> lines(state.LinesLock);
      for (int32_t i = 1; i <= slots; ++i) state.AddedLines[i] = new AddedLineList;
    }
    state.Attached.store(true, std::memory_order_release);
  });
}

TANDREL_EXPORT void UnLoadServer(void) {
  GuardedVoid([] {
    TLibraryState& state = Library();
    std::lock_guard<std::mutex> load(state.LoadLock);
    state.Attached.store(false, std::memory_order_release);
    FreeAddedLines();
  });
}

TANDREL_EXPORT uint8_t GetDLLVer(int32_t* major, int32_t* minor) {
  if (major) *major = 1;
  if (minor) *minor = 0;
  return Library().Attached.load(std::memory_order_acquire) ? 0 : 1;
}

// 0 when not attached: there is no server window to name.
TANDREL_EXPORT uint32_t GetServerHwnd(void) {
  THTTP* s = AttachedServer();
  return s ? s->Handle() : 0;
}

TANDREL_EXPORT int32_t GetMemoryUsed(void) {
  std::int64_t bytes = AllocatedBytes();
  return static_cast<int32_t>(std::clamp<std::int64_t>(bytes, std::numeric_limits<int32_t>::min(),
                                                       std::numeric_limits<int32_t>::max()));
}

TANDREL_EXPORT uint8_t GetSystemDir(char* buffer) {
  if (buffer) buffer[0] = '\0';
  return 0;
}
