// Lines on standard output and standard error. The two often go to one file
// (`korridan --headless > log 2>&1`, a service manager's journal): a line on
// one stream is written after whatever the other still buffers, so that the
// file reads in the order things happened.
#pragma once

#include <cstdio>
#include <string_view>

#include "platform/export.h"

namespace platform {

// Writes line and a line feed to stream as one write. A line on standard
// error goes out at once; standard output stays buffered until the next
// line on standard error or until its owner flushes it.
HALV_EXPORT void WriteLine(std::FILE* stream, std::string_view line);

}  // namespace platform
