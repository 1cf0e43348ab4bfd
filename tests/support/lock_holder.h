// Another process that holds fcntl write locks on bytes of a file until it
// is let go, as a second program holding a table's locks would. (Locks this
// process took would not shut out its own connections.)
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testsupport {

// The lock bytes of a write-ahead log's shared-memory file (-shm): from
// offset 120 the writer's, the checkpointer's and the recovery lock, then
// the five reader marks.
inline constexpr off_t kShmLocks = 120;
inline constexpr off_t kShmReaderMarks = kShmLocks + 3;

class LockHolder {
 public:
  LockHolder(const std::string& file, off_t start, off_t length) {
    if (::pipe(ready_) != 0 || ::pipe(release_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      lock.l_start = start;
      lock.l_len = length;
      char held = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
      (void)!::write(ready_[1], &held, 1);
      char c;
      (void)!::read(release_[0], &c, 1);
      ::_exit(0);
    }
    char held = 'n';
    held_ = pid_ > 0 && ::read(ready_[0], &held, 1) == 1 && held == 'y';
  }
  ~LockHolder() {
    Release();
    for (int fd : {ready_[0], ready_[1], release_[0], release_[1]})
      if (fd >= 0) ::close(fd);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool Held() const { return held_; }
  void Release() {
    if (pid_ <= 0) return;
    (void)!::write(release_[1], "x", 1);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  int ready_[2] = {-1, -1}, release_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool held_ = false;
};

}  // namespace testsupport
