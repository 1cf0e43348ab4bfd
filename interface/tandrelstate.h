// State of the interface library that its units share, and the checks every
// export makes. Internal to libtandrel.so: nothing here is exported.
//
// The library reaches the server through the address of the server's own
// variable that holds the engine (given to LoadServer); it dereferences that
// variable on every call, so it always sees the engine the variable names
// now. It writes only two things of the server's: a slot's KillSent and a
// reply's DirectReturn.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "interface/tandrel.h"
#include "platform/ascii.h"
#include "server/httpunit.h"

// The 35 exports are the only symbols the library gives default visibility.
#define TANDREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace tandrel {

// Every text answer fits a buffer of this size: 255 characters and a NUL.
constexpr std::size_t kAnswerSize = 256;
// An added header line keeps at most this many characters, so that it fits
// the server's 512-byte buffer with its NUL.
constexpr std::size_t kAddedLineMax = 511;

// The engine while attached and the variable names one; otherwise null.
THTTP* AttachedServer();

// 0 ok; 1 not attached, CID outside 1..255 or no slot object for it; 2 the
// slot has no client. Takes no lock. The second form also gives the engine
// (set whenever the slot object exists, that is for 0 and 2).
TConnStatus CheckConnection(int32_t cid);
TConnStatus CheckConnection(int32_t cid, THTTP*& server);

// Copies text cut to size - 1 characters and a NUL into buffer.
void CopyText(char* buffer, std::string_view text, std::size_t size = kAnswerSize);

// The text of a short string passed in; empty for a null pointer.
std::string_view ShortText(const unsigned char* s);
// Writes text, cut to 255 characters, as a short string; nothing for null.
void PutShortText(unsigned char* out, std::string_view text);

using platform::ascii::SameText;
using platform::ascii::UpperCase;

using AddedLineList = std::vector<std::string>;

// The library's state: one copy per process, ready from the module's load
// (constant-initialised) and never destroyed, so that it is usable from the
// first call to the end of the process. The realm store keeps its own.
struct TLibraryState {
  // True between LoadServer and UnLoadServer.
  std::atomic<bool> Attached{false};
  // The server's variable holding the engine; kept after UnLoadServer.
  std::atomic<THTTP**> ServerRef{nullptr};
  // One list of added header lines per slot; entries 1..MaxSockets exist
  // while attached. Guarded by LinesLock, because extensions add lines from
  // their own threads while the server reads them on its window thread.
  AddedLineList* AddedLines[kMaxSlots + 1] = {};
  std::mutex LinesLock;
  // Guards LoadServer and UnLoadServer.
  std::mutex LoadLock;
};
TLibraryState& Library();

// Start of the realm store and the template descriptor (at library load).
void CreateRealmStore();
void FillTemplateDescriptor();

// Runs body; an exception escaping it becomes the fallback result, so that
// nothing ever unwinds into the caller of an export.
template <typename Result, typename Body>
Result Guarded(Result fallback, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

template <typename Body>
void GuardedVoid(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace tandrel
