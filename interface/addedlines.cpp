// Added response-header lines and the two connection flags an extension may
// set: kill-sent (delete the sent file when it is closed) and direct return
// (the server writes no status line or headers).
//
// A line is stored as given (no line end added, nothing checked, duplicates
// kept), cut to 511 characters so that it always fits the server's buffer.
// The server writes the lines after its own and then clears them. A slot
// whose list does not exist (its number was above the slot count at
// LoadServer) stores and gives nothing.
#include <cstdint>
#include <cstring>
#include <string>

#include "interface/tandrelstate.h"
#include "platform/msgbox.h"

using namespace tandrel;

namespace {

// The three boxes that report a failed count, one after another.
void ShowCountFailure(int32_t cid, std::intptr_t list_ref) noexcept {
  GuardedVoid([&] {
    const std::string caption = "Tandrel";
    platform::MessageBox("GetAddedLinesCnt", caption);
    platform::MessageBox("CID:" + std::to_string(cid), caption);
    platform::MessageBox("AddedLines:" + std::to_string(list_ref), caption);
  });
}

}  // namespace

TANDREL_EXPORT TConnStatus AddHeaderLine(const char* line, int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    std::lock_guard<std::mutex> lines(Library().LinesLock);
    TConnStatus status = CheckConnection(cid);
    if (status != 0 || !line) return status;
    AddedLineList* list = Library().AddedLines[cid];
    if (!list) return 1;
    list->emplace_back(line, strnlen(line, kAddedLineMax));
    return 0;
  });
}

TANDREL_EXPORT TConnStatus ClearHeaderLines(int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    std::lock_guard<std::mutex> lines(Library().LinesLock);
    TConnStatus status = CheckConnection(cid);
    if (status != 0) return status;
    AddedLineList* list = Library().AddedLines[cid];
    if (!list) return 1;
    list->clear();
    return 0;
  });
}

// Count 0, then the number of lines when the check passes. A count that
// cannot be read (the slot has no list) is reported in three boxes and
// gives 3 with count 0.
TANDREL_EXPORT TConnStatus GetAddedLinesCnt(int32_t* count, int32_t cid) {
  if (count) *count = 0;
  TConnStatus status = 1;
  bool failed = false;
  std::intptr_t list_ref = 0;
  std::size_t n = 0;
  try {
    std::lock_guard<std::mutex> lines(Library().LinesLock);
    status = CheckConnection(cid);
    if (status == 0) {
      AddedLineList* list = Library().AddedLines[cid];
      list_ref = reinterpret_cast<std::intptr_t>(list);
      if (list)
        n = list->size();
      else
        failed = true;
    }
  } catch (...) {
    failed = true;
  }
  // The boxes are shown without the lock: the handler may run a modal loop.
  if (failed) {
    ShowCountFailure(cid, list_ref);
    return 3;
  }
  if (count && status == 0) *count = static_cast<int32_t>(n);
  return status;
}

// Line number index, at most 511 characters and a NUL; the empty string
// when the check fails (its status) or the index is outside 0..count-1 (1).
TANDREL_EXPORT TConnStatus GetAddedLine(char* buffer, int32_t index, int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    if (!buffer) return CheckConnection(cid);
    buffer[0] = '\0';
    std::lock_guard<std::mutex> lines(Library().LinesLock);
    TConnStatus status = CheckConnection(cid);
    if (status != 0) return status;
    AddedLineList* list = Library().AddedLines[cid];
    if (!list || index < 0 || static_cast<std::size_t>(index) >= list->size()) return 1;
    CopyText(buffer, (*list)[static_cast<std::size_t>(index)], kAddedLineMax + 1);
    return 0;
  });
}

// Sets the flag on a connected slot and on one whose client is gone.
TANDREL_EXPORT TConnStatus KillSent(int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    if (server && (status == 0 || status == 2)) server->Connections[cid]->KillSent = true;
    return status;
  });
}

TANDREL_EXPORT TConnStatus DirectReturn(int32_t cid) {
  return Guarded<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    if (status == 0) server->Replies[cid].DirectReturn = 1;
    return status;
  });
}
