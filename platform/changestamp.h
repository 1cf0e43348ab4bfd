// Change stamps: the kernel's change notices (inotify) for files a process
// keeps parsed in memory, so that a cached copy is confirmed without looking
// at the file.
//
// ChangeStamp(path) is a number that changes whenever the file, or a file
// beside it whose name begins with the file's name (a table's -wal and
// -journal, a settings file's temporary copy), is written, created, removed,
// renamed or has its attributes changed, by any process. The notices are
// read at most once per handler of a message (platform::DispatchPass), so a
// handler sees one state throughout; outside a handler, and on other
// threads, at every call. A change made before the call is always told: the
// kernel queues its notice before the writing call returns.
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
