// The files the server sends, opened before their header is written: the
// bytes of small files kept in memory, so that they leave with one send and
// no open or close, and descriptors of larger ones kept open for a while.
// A kept entry serves only while one look at the name shows the file as it
// was opened; bytes are kept only once the file has been still for a
// while, since file times tick coarsely and a file rewritten in place
// within one tick would look unchanged.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

constexpr long kCachedFileMax = 64 * 1024;  // larger files go by sendfile
constexpr double kOpenIdleSeconds = 5;      // a kept descriptor unused this long is closed

// An open descriptor of a served file, shared by the slots sending it;
// closed when the cache and the last slot let go of it.
struct OpenFile {
  explicit OpenFile(int descriptor) : fd(descriptor) {}
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  const int fd;
};

// Why no file could be opened for sending.
struct OpenFailure {
  const char* call = nullptr;  // the call that failed; null: no regular file at the name
  int error = 0;               // its errno
};

// What opening a file for sending gave: its bytes or a descriptor, and the
// length to send; neither, and why, when no regular file could be opened.
struct ServedFile {
  std::shared_ptr<const std::string> bytes;
  std::shared_ptr<const OpenFile> file;  // sent from with offsets, never read
  off_t size = 0;
  OpenFailure failure;
  bool ok() const { return bytes || file; }
};

// Opens the regular file at path as it is now, whatever file the name
// showed a moment before. keep: from and into the cache (a file to be
// deleted after sending is never kept). An open that fails for want of
// descriptors closes the kept ones no slot sends from and is tried again.
ServedFile OpenServedFile(const std::string& path, bool keep = true);

// Closes the kept descriptors unused for more than kOpenIdleSeconds that no
// slot is sending from, so that a deleted file's space is given back
// however quiet the server is. now: monotonic seconds.
void SweepIdleOpenFiles();
void SweepIdleOpenFiles(double now);
