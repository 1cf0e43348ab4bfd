#include "platform/eventlog.h"

#include <mutex>
#include <set>

namespace platform {
namespace {

std::mutex log_mutex;
std::set<EventLogHandle> open_logs;
EventLogHandle next_handle = 1;

}  // namespace

EventLogHandle OpenEventLog(const std::string& source) {
  std::lock_guard<std::mutex> lock(log_mutex);
  EventLogHandle h = next_handle++;
  if (next_handle == 0) next_handle = 1;
  open_logs.insert(h);
  return h;
}

bool CloseEventLog(EventLogHandle handle) {
  std::lock_guard<std::mutex> lock(log_mutex);
  return open_logs.erase(handle) == 1;
}

}  // namespace platform
