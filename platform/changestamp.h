// Change stamps: the kernel's change notices (inotify) for files a process
// keeps parsed in memory, so that a cached copy is confirmed without looking
// at the file.
//
// ChangeStamp(path) is a number that changes whenever the file, or a file
// beside it whose name begins with the file's name (a table's -wal and
// -journal, a settings file's temporary copy), is written, created, removed,
// renamed or has its attributes changed, by any process. The kernel queues
// a notice before the writing call returns. Outside a handler of a message,
// and on other threads, the notices are read at every call, so a change made
// before the call is told. Inside a handler the message loop reads them
// whenever it collects ready descriptors, before the handlers of what it
// collected run: whatever the loop learns of after a change (a connection,
// a request, input) is handled with the change told.
//
// 0 means no notices are to be had for the path (no inotify, a file system
// whose files may change elsewhere, such as a network share, the watch limit
// reached, the directory missing): the caller looks at the file itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

HALV_EXPORT uint64_t ChangeStamp(const std::string& path);

}  // namespace platform
