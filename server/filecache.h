// The bytes of small served files, kept in memory so that they leave with
// one send and no open or close. An entry serves only while one stat shows
// the file as it was read (device, inode, size, modification and change
// times) and only once the file has been still for a while, since file times
// tick coarsely and a file rewritten in place within one tick would look
// unchanged.
#pragma once

#include <memory>
#include <string>

constexpr long kCachedFileMax = 64 * 1024;  // larger files go by sendfile

// The bytes of the regular file at path, from memory when the cache holds
// its present state; nullptr for a file that is too large, missing, or
// changed within the last seconds (the caller then reads it itself).
std::shared_ptr<const std::string> CachedFileBytes(const std::string& path);
