#include "server/eventcounters.h"

#include <string>

#include "platform/eventlog.h"

namespace {
int32_t counters[kEventCounterCount] = {};
}

void CountEvent(uint8_t index) {
  uint8_t i = index & 127;
  if (i < kEventCounterCount) ++counters[i];
}

int32_t EventCount(uint8_t index) {
  uint8_t i = index & 127;
  return i < kEventCounterCount ? counters[i] : 0;
}

void ResetEventCounters() {
  for (int32_t& c : counters) c = 0;
}

TEventLog::~TEventLog() {
  if (handle_ != 0) platform::CloseEventLog(handle_);
}

void TEventLog::Open(std::string_view source) { handle_ = platform::OpenEventLog(std::string(source)); }
