// The request engine THTTP: the listening server plus everything a request
// needs, kept per connection slot in arrays indexed by the slot (1..255;
// index 0 unused). The interface library reads this object in place through
// the reference it is given at attach, so this is the one declaration both
// modules compile.
#pragma once

#include <cstdint>
#include <functional>
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

  void ReadHomeDir(int32_t slot, ShortString& out) const { out = HomeDir.view(); }
  void SetHomeDir(int32_t slot, std::string_view dir) { HomeDir = dir; }
  int32_t NextRunFileNumber(int32_t slot) { return RunFileCounter[slot]++; }
  void DeleteRunFiles(int32_t slot);
};

void InitSlotRecord(TRequestRecord& rec, THTTP* engine, int32_t slot);
void ResetSlotRecord(TRequestRecord& rec);
void FreeSlotRecord(TRequestRecord& rec);
void ClearReplyFile(TReplyRecord& reply);
