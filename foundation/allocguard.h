// The allocation guard: the memory manager of a module (the server program,
// the interface library). Linking the `allocguard` target into a module
// replaces that module's operator new and delete: every block comes straight
// from malloc, a failed request is retried for about 15 seconds before it
// fails, and the bytes in use are counted by the size malloc_usable_size
// reports for each block (which can exceed the size asked for).
//
// In a program the replacement is the program's own, as any replacement of
// operator new is, so the C++ run-time library's allocations on its behalf are
// counted too. In a shared library it is hidden: the library's code gets the
// library's guard and the program keeps its own, so each counts its own
// module. A block allocated in one module and released in the other moves
// both counts (malloc and free underneath are the same for both).
//
// These functions belong to the module that links the guard; they are never
// exported from a shared library.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A block of at least size bytes from the system, or null after 151 failed
// attempts 100 ms apart (then a line goes to "malloc.log", see below).
void* GuardedGetMem(std::size_t size);

// Releases a block from GuardedGetMem (null is allowed); 0 when released.
int GuardedFreeMem(void* block);

// A new block of size bytes holding the first min(old block's size, size)
// bytes of block; the old block is released. When no new block can be had
// the result is null and the old block stays valid and owned by the caller.
void* GuardedReallocMem(void* block, std::size_t size);

// The bytes in use by this module's blocks; read without the lock.
std::int64_t AllocatedBytes();

// Sets the name written into failure lines; only its first 32 characters are
// kept. While it is empty, nothing is ever logged.
void SetAllocationContext(std::string_view name);

// Appends "YYYY-MM-DD hh:mm:ss <context>: allocation failed" to "malloc.log"
// in the current directory, trying up to 100 times to open the file. Does
// nothing while the context name is empty or a line is being written.
void LogAllocationProblem() noexcept;

// For tests: the next count system allocations of this module fail (0 stops
// a pending run); returns how many were still pending before the call.
int FailNextAllocations(int count);

// For tests: the pause between attempts, both for blocks and for opening
// "malloc.log" (100 ms unless set).
void SetAllocationRetryDelay(std::chrono::milliseconds delay);
