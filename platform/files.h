// Paths, files and directories: the few kernel services the system uses,
// with the Windows behaviour it relies on mapped to POSIX.
//
// "/" is the one separator. File operations take paths as they stand: a
// path read from a settings file or a URL goes through NormalizePath first.
// Lookups on disk are case-sensitive.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/export.h"

struct stat;

HALV_EXPORT_BEGIN
namespace platform {

// ---- Paths (pure text, no file-system access) ----

// "\" counts as "/", and runs of separators collapse into one.
std::string NormalizePath(std::string_view path);

// Everything up to and including the last "/"; empty when there is none.
std::string DirectoryPart(std::string_view path);

// Everything after the last "/" (the whole path when there is none).
std::string FileNamePart(std::string_view path);

// Adds a "/" unless the path already ends in one. An empty path stays empty.
std::string AddTrailingSlash(std::string_view path);

// Ends the path in exactly one "/" (several trailing separators become one).
// An empty path stays empty; the root stays "/".
std::string WithOneTrailingSlash(std::string_view path);

// ---- Process ----

// The directory of the running executable (/proc/self/exe, symbolic links
// resolved) with a trailing "/". Inside a shared library this is the host
// program's directory. Empty if the link cannot be read.
std::string ProgramDirectory();

// The current directory, without a trailing "/" (except for the root).
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& dir);

// Raises the soft limit of open files (RLIMIT_NOFILE) to at least n, never
// above the hard limit, and never lowers it. Returns the limit now in force.
int SetHandleCount(int n);

// ---- Files and directories ----

// True only for an existing entry that is not a directory (a regular file,
// a device, a FIFO ...). Symbolic links are followed.
bool FileExists(const std::string& path);

bool IsDirectory(const std::string& path);

// Whether two stats show one state of one file: device, inode, size, and
// modification and change times to the nanosecond. A copy kept of a file
// is good while the file's stat still shows the version it was read from.
bool SameFileVersion(const struct stat& a, const struct stat& b);

// Whether two stats show one file with the same permissions: device, inode
// and change time. Its bytes may differ (an open descriptor reads them as
// they are now).
bool SameFileIdentity(const struct stat& a, const struct stat& b);

// The size in bytes of a file; 0 when it is missing or a directory.
int64_t FileSize(const std::string& path);

// Creates a directory and any missing parents. A trailing "/" is ignored and
// the root is left alone. True when the directory exists afterwards; failure
// is otherwise silent.
bool CreateDirectories(const std::string& path);

// Deletes a file (not a directory). True when it was deleted.
bool DeleteFile(const std::string& path);

// Renames a file or directory. Like the Windows call, it refuses to replace
// an existing target.
bool RenameFile(const std::string& from, const std::string& to);

// Renames `from` over `to`, replacing `to` atomically when it exists.
bool ReplaceFile(const std::string& from, const std::string& to);

// The whole content of a regular file; nullopt when it cannot be opened or
// read (a missing file, no permission) or is no regular file (a directory,
// FIFO or device: the open never waits, errno EISDIR or EINVAL).
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes `data` to a new file beside `path` and renames it over `path`, so
// that readers see either the old content or the new, never a part. The
// data is flushed to disk before the rename. An existing file keeps its
// permission bits; a new one gets 0666 less the umask. On failure the old
// file is untouched, no temporary file remains, and errno tells why.
// before_rename, when given, runs once the temporary file is complete and
// before the rename (tests stop a process there).
bool WriteFileAtomic(const std::string& path, std::string_view data,
                     const std::function<void()>& before_rename = {});

// What a process killed in the middle of a save leaves behind: removes the
// regular files of dir ("" is the current directory) named prefix + pid +
// suffix, where pid is a process id (digits, no leading zero) of a process
// that no longer runs. A file whose pid runs now is kept, whoever runs it.
// The number of files removed.
int RemoveFilesOfEndedProcesses(const std::string& dir, std::string_view prefix, std::string_view suffix);

// The same for the temporary files that WriteFileAtomic makes beside path.
int RemoveAtomicWriteLeftovers(const std::string& path);

}  // namespace platform
HALV_EXPORT_END
