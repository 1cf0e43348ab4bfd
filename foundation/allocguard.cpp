#include "foundation/allocguard.h"

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "platform/datetime.h"

namespace {

constexpr int kRetries = 150;     // after the first attempt: 151 in all
constexpr int kLogAttempts = 100;
constexpr std::size_t kContextMax = 32;

// Everything here is constant-initialised and never destroyed, because
// operator new and delete run before the first and after the last static
// constructor of the module. The lock is recursive: the failure line is
// written while it is held, and writing may allocate.
pthread_mutex_t guard_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
std::atomic<std::int64_t> bytes_in_use{0};
char context_name[kContextMax];
std::size_t context_len = 0;
bool logging = false;
std::atomic<int> retry_delay_ms{100};
std::atomic<int> failures_pending{0};

class GuardLock {
 public:
  GuardLock() { pthread_mutex_lock(&guard_lock); }
  ~GuardLock() { pthread_mutex_unlock(&guard_lock); }
  GuardLock(const GuardLock&) = delete;
  GuardLock& operator=(const GuardLock&) = delete;
};

void RetryPause() {
  int ms = retry_delay_ms.load(std::memory_order_relaxed);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool InjectedFailure() {
  int pending = failures_pending.load(std::memory_order_relaxed);
  while (pending > 0) {
    if (failures_pending.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

// One attempt at the system; malloc(0) is asked for one byte so every block
// is distinct and has a size.
void* SystemAlloc(std::size_t size, std::size_t align) {
  if (InjectedFailure()) return nullptr;
  if (size == 0) size = 1;
  if (align <= alignof(std::max_align_t)) return std::malloc(size);
  void* p = nullptr;
  return posix_memalign(&p, align, size) == 0 ? p : nullptr;
}

void* GetBlock(std::size_t size, std::size_t align) {
  void* block = SystemAlloc(size, align);
  for (int retry = 0; !block && retry < kRetries; ++retry) {
    RetryPause();
    block = SystemAlloc(size, align);
  }
  // The count is atomic: only the failure line needs the lock (it takes it).
  if (block)
    bytes_in_use.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
  else
    LogAllocationProblem();
  return block;
}

void FreeBlock(void* block) {
  if (!block) return;
  bytes_in_use.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
  std::free(block);
}

// operator new: the guard's retries, then the new-handler if one is set, as
// the language asks of every operator new, then std::bad_alloc.
void* NewBlock(std::size_t size, std::size_t align) {
  for (;;) {
    if (void* block = GetBlock(size, align)) return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void* NewBlockNoThrow(std::size_t size, std::size_t align) noexcept {
  try {
    return NewBlock(size, align);
  } catch (...) {
    return nullptr;
  }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

constexpr std::size_t kDefaultAlign = alignof(std::max_align_t);

}  // namespace

void* GuardedGetMem(std::size_t size) { return GetBlock(size, kDefaultAlign); }

int GuardedFreeMem(void* block) {
  FreeBlock(block);
  return 0;
}

void* GuardedReallocMem(void* block, std::size_t size) {
  void* fresh = GetBlock(size, kDefaultAlign);
  if (!fresh) return nullptr;  // the caller keeps the old block
  if (block) {
    std::size_t n = std::min(malloc_usable_size(block), size);
    if (n) std::memcpy(fresh, block, n);
    FreeBlock(block);
  }
  return fresh;
}

std::int64_t AllocatedBytes() { return bytes_in_use.load(std::memory_order_relaxed); }

void SetAllocationContext(std::string_view name) {
  GuardLock lock;
  context_len = std::min(name.size(), kContextMax);
  if (context_len) std::memcpy(context_name, name.data(), context_len);
}

void LogAllocationProblem() noexcept {
  GuardLock lock;
  if (context_len == 0 || logging) return;
  logging = true;
  try {
    platform::TDateTime now = platform::Now();
    std::string date = platform::FormatShortDate(now);  // short enough to stay off the heap
    std::string time = platform::FormatTime(now);
    char line[160];
    int n = std::snprintf(line, sizeof line, "%s %s %.*s: allocation failed\r\n", date.c_str(), time.c_str(),
                          static_cast<int>(context_len), context_name);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof line) {
      for (int attempt = 0; attempt < kLogAttempts; ++attempt) {
        int fd = ::open("malloc.log", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
          WriteAll(fd, line, static_cast<std::size_t>(n));
          ::close(fd);
          break;
        }
        RetryPause();
      }
    }
  } catch (...) {
    // Nothing is written and nothing is reported.
  }
  logging = false;
}

int FailNextAllocations(int count) {
  return failures_pending.exchange(std::max(count, 0), std::memory_order_relaxed);
}

void SetAllocationRetryDelay(std::chrono::milliseconds delay) {
  retry_delay_ms.store(static_cast<int>(std::max<std::chrono::milliseconds::rep>(delay.count(), 0)),
                       std::memory_order_relaxed);
}

// The module's operator new and delete.

void* operator new(std::size_t size) { return NewBlock(size, kDefaultAlign); }
void* operator new[](std::size_t size) { return NewBlock(size, kDefaultAlign); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return NewBlockNoThrow(size, kDefaultAlign); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return NewBlockNoThrow(size, kDefaultAlign);
}
void* operator new(std::size_t size, std::align_val_t align) {
  return NewBlock(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return NewBlock(size, static_cast<std::size_t>(align));
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return NewBlockNoThrow(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return NewBlockNoThrow(size, static_cast<std::size_t>(align));
}

void operator delete(void* block) noexcept { FreeBlock(block); }
void operator delete[](void* block) noexcept { FreeBlock(block); }
void operator delete(void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }
void operator delete(void* block, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeBlock(block); }

#ifdef HALV_GUARD_LOCAL
// In a shared library the replacement must stay the library's own. <new>
// declares these operators with default visibility, which no attribute on the
// definitions can override, so the assembler is told directly.
__asm__(
    ".hidden _Znwm\n\t.hidden _Znam\n\t"
    ".hidden _ZnwmRKSt9nothrow_t\n\t.hidden _ZnamRKSt9nothrow_t\n\t"
    ".hidden _ZnwmSt11align_val_t\n\t.hidden _ZnamSt11align_val_t\n\t"
    ".hidden _ZnwmSt11align_val_tRKSt9nothrow_t\n\t.hidden _ZnamSt11align_val_tRKSt9nothrow_t\n\t"
    ".hidden _ZdlPv\n\t.hidden _ZdaPv\n\t"
    ".hidden _ZdlPvm\n\t.hidden _ZdaPvm\n\t"
    ".hidden _ZdlPvRKSt9nothrow_t\n\t.hidden _ZdaPvRKSt9nothrow_t\n\t"
    ".hidden _ZdlPvSt11align_val_t\n\t.hidden _ZdaPvSt11align_val_t\n\t"
    ".hidden _ZdlPvmSt11align_val_t\n\t.hidden _ZdaPvmSt11align_val_t\n\t"
    ".hidden _ZdlPvSt11align_val_tRKSt9nothrow_t\n\t.hidden _ZdaPvSt11align_val_tRKSt9nothrow_t");
#endif
