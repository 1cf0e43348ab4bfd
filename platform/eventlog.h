// The event log: the system opens a log for its source name at engine start
// and closes it at stop, and never writes to it. This stand-in hands out
// handles and writes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

HALV_EXPORT_BEGIN
namespace platform {

using EventLogHandle = std::uintptr_t;

// A nonzero handle for the source (its name is not used).
EventLogHandle OpenEventLog(const std::string& source);

// Releases a handle from OpenEventLog. False for 0 or a handle not open.
bool CloseEventLog(EventLogHandle handle);

}  // namespace platform
HALV_EXPORT_END
