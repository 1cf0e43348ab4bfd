// Turning a request's working URL into a file under the home directory or
// an alias directory, with the checks made before the file system is asked.
//
// Paths use "/" as the one separator: a "\" in a URL or a settings value
// counts as "/", and doubled separators collapse. Names are joined by
// concatenation only, so no part of a URL can replace the directory it is
// joined to.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/shortstring.h"

// The directory and the name joined: appended directly when the directory
// ends in "/" or "\", otherwise with a "/" between them (also when the
// directory is empty, which gives "/" + name).
std::string JoinPath(std::string_view dir, std::string_view name);

// Whether a decoded URL must be answered 404 before anything is looked up:
// it holds a NUL or another control character (below 0x20, or 0x7F), or one
// of its segments (split at "/" and "\") is "..".
bool UrlIsUnsafe(std::string_view url);

// Whether the URL asks for a logged-in user: its first segment that is
// neither empty nor "." begins with "&". So "//&x", "\&x", "./&x" and
// ".\&x" count like "&x", as the file system sees them.
bool UrlNeedsLogin(std::string_view url);

// When the first segment of rest (up to its first "/" or "\") names an
// alias of [Aliases] in KORRIDAN.INI (looked up in upper case), the segment
// is removed from rest together with a "/" that ended it (a "\" that ended
// it stays), dir receives the alias's directory, and the result is true.
// An empty segment or an empty value is no alias. The slot is not used.
bool ResolveAlias(int32_t slot, ShortString& rest, std::string& dir);

// True for an existing regular file (symbolic links followed). Directories,
// devices, FIFOs and sockets are never served. Within one handler of a
// message, a file found regular is looked at once.
bool IsRegularFile(const std::string& path);
// The size of a regular file (0 when it is none), as IsRegularFile saw it.
int64_t RegularFileSize(const std::string& path);
// IsRegularFile with what it saw of the file.
bool RegularFileStat(const std::string& path, struct stat& st);

// The path made absolute against the current directory, with "." segments
// dropped and ".." segments taken back lexically, as a full-path expansion
// does; the file system is not asked. A trailing "/" is kept.
std::string FullPath(std::string_view path);

// What file resolution found for one request.
struct TFileResolution {
  std::string Requested;  // the joined, normalised name, before the retry
  std::string FileName;   // the file to send when it exists
  std::string Request;    // the name part that was served
  bool TooLong = false;   // the file name does not fit 255 characters: 404, not looked up
};

// Steps 1 to 6 of file resolution, without the access check: the alias,
// a directory's index document (index.html, else index.htm when only that
// exists), and the joined, normalised file name. When that file does not
// exist, the other form of an HTML extension is tried (".htm" and ".html").
// Request keeps the URL's own spelling of the name.
TFileResolution ResolveFileName(std::string_view home_dir, std::string_view request);
