// The bytes of small served files, kept in memory so that they leave with
// one send and no open or close. An entry serves only while one stat shows
// the file as it was read (device, inode, size, modification and change
// times) and only once the file has been still for a while, since file times
// tick coarsely and a file rewritten in place within one tick would look
// unchanged.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

constexpr long kCachedFileMax = 64 * 1024;  // larger files go by sendfile

// The bytes of the regular file at path, from memory when the cache holds
// its present state; nullptr for a file that is too large, missing, or
// changed within the last seconds (the caller then reads it itself).
std::shared_ptr<const std::string> CachedFileBytes(const std::string& path);

// An open descriptor of a larger served file, shared by the slots sending
// it; closed when the cache and the last slot let go of it.
struct OpenFile {
  explicit OpenFile(int descriptor) : fd(descriptor) {}
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  const int fd;
};

// A descriptor of the regular file at path, kept open while one stat shows
// the same file with the same change time (its identity and permissions:
// a descriptor always reads the file's present bytes), and its size now;
// nullptr when it cannot be opened as the file that stat showed (another
// file was put in its place meanwhile). Sent from with offsets, never read.
std::shared_ptr<const OpenFile> CachedOpenFile(const std::string& path, off_t& size);
