// Twelve process-wide counters of server events, and the event-log handle
// the engine holds while it runs.
#pragma once

#include <cstdint>
#include <string_view>

enum EventIndex : uint8_t {
  evFilesOpened = 0,
  evFilesClosed = 1,
  evSocketsOpened = 2,
  evSocketsClosed = 3,
  evBeginPost = 4,
  evEndPost = 5,
  evThreadsStarted = 6,
  evThreadsFinished = 7,
  evLogins = 8,
  evExpiredRealmUsers = 9,
};

constexpr int kEventCounterCount = 12;

// Only the low 7 bits of the index count; an index beyond the twelve
// counters is ignored (reads 0).
void CountEvent(uint8_t index);
int32_t EventCount(uint8_t index);
void ResetEventCounters();

class TEventLog {
 public:
  TEventLog() = default;
  ~TEventLog();
  TEventLog(const TEventLog&) = delete;
  TEventLog& operator=(const TEventLog&) = delete;

  // Opens the system event log for the source; a failure leaves handle 0.
  void Open(std::string_view source);
  uintptr_t Handle() const { return handle_; }

 private:
  uintptr_t handle_ = 0;
};
