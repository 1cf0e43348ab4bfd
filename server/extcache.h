// The extension-library cache: up to 16 extension libraries ("$" URLs) kept
// loaded, with their four entry points and three use counts.
//
// Entries are numbered 1 to 16 and filled from the lowest free one upward,
// so their order is the order of loading, oldest first. The console shows
// the entries and lets the operator unload one.
//
// An entry whose in-use count is above 0 is never unloaded: code of the
// library may still run (a call that finishes later, a POST between its
// begin and its end, a page-engine tag on the engine's thread). Making room
// takes the oldest idle entry; an unload asked for a busy entry happens
// when its last use is released.
//
// One lock guards the table, since the page engine's thread reaches it
// through "$RUN" while the window thread serves other slots. No lock is held
// while a message box is shown.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/shortstring.h"
#include "interface/tandrel.h"
#include "platform/dynlib.h"

constexpr int32_t kExtensionCacheSize = 16;
// The longest library file name the engine builds from a URL.
constexpr std::size_t kExtensionNameMax = 12;

struct TExtensionSlot {
  ShortStr<12> Name;  // upper-cased file name; empty in a free entry
  platform::LibraryHandle Handle;
  TMakePage MakePage;
  TPostBegin PostBegin;
  TPostResume PostResume;
  TPostEnd PostEnd;
  int32_t InUse;    // calls that acquired the library and have not released it
  int32_t Hits;     // times the library was acquired
  int32_t Threads;  // calls that finished later and have completed
  bool UnloadPending;  // unload asked while in use; done at the last release
};

// True for a name the cache may look up on disk: 1 to 12 characters, each a
// letter, a digit, "_" or "-", with at most one "." that is neither first
// nor last (the one before the "DLL" the engine appends). Anything else --
// a path, "..", an absolute name, a query text -- names no library, and is
// refused before the file system is touched.
bool IsPlainExtensionName(std::string_view name);

// The library file name for a "$" request text or a "$RUN" parameter: the
// text after its first character up to (not including) its first ".", then
// ".DLL", cut to 12 characters. "$TEST.DLL?a=1" gives "TEST.DLL".
std::string ExtensionLibraryName(std::string_view text);

class TExtensionCache {
 public:
  TExtensionCache();
  ~TExtensionCache() = default;
  TExtensionCache(const TExtensionCache&) = delete;
  TExtensionCache& operator=(const TExtensionCache&) = delete;

  // Zeroes all entries without unloading anything (at server start).
  void Clear();

  // Finds or loads the library and counts a use and a hit; entry gets its
  // number, and found (when given) a copy of the entry taken under the same
  // lock. False, with entry untouched, for a name that is not plain, a file
  // that does not exist in the current directory, a full table with no idle
  // entry, or a library the loader refuses (then a message box
  // "LoadLibrary Error: " + the loader's text, and the entry stays free).
  //
  // An entry's number changes when an older entry is evicted (the entries
  // behind it move down), which another thread may do at any time. A caller
  // that holds a use across a call therefore ends it with Finish, by name.
  bool Acquire(std::string_view name, int32_t& entry, TExtensionSlot* found = nullptr);

  // The end of a use, by the library's name: counts a completed thread when
  // asked, releases the use, then unloads the library when asked (at once
  // when that was its last use, otherwise at its last release). Returns the
  // entry's number at that moment, 0 when the name is not in the table.
  int32_t Finish(std::string_view name, bool count_thread, bool unload);

  // The entry holding that name (compared upper-cased), 0 when none.
  int32_t Find(std::string_view name);

  // Entry points of a library in the table; nullptr when it is absent or
  // lacks the entry. No loading.
  TMakePage MakePage(std::string_view name);
  TPostBegin PostBegin(std::string_view name);
  TPostResume PostResume(std::string_view name);
  // Also gives the entry's number (0 when the library is not in the table).
  TPostEnd PostEnd(std::string_view name, int32_t& entry);

  // In use - 1, never below 0. The last release of an entry whose unload
  // was deferred unloads it.
  void Release(int32_t entry);
  void CountThread(int32_t entry);

  // Unloads the library and frees its entry; takes no use away (a caller
  // holding one releases it first). An entry still in use is only marked,
  // and goes at its last release.
  void Unload(int32_t entry);
  void UnloadAll();

  // False for a free entry (variables untouched); otherwise the name, cut to
  // name_max characters, and the three counts.
  bool GetInfo(int32_t entry, std::string& name, std::size_t name_max, int32_t& in_use, int32_t& hits,
               int32_t& threads);

  // A copy of an entry, for the console and tests; a zeroed entry for a
  // number outside 1..16.
  TExtensionSlot Entry(int32_t entry);

 private:
  int32_t FindLocked(std::string_view upper) const;
  void FreeEntryLocked(int32_t entry);

  std::mutex lock_;
  TExtensionSlot slots_[kExtensionCacheSize + 1];  // index 0 unused
};

// The process-wide table and its operations under their usual names.
extern TExtensionCache ExtensionCache;

void ClearExtensionCache();
bool AcquireExtension(std::string_view name, int32_t& entry);
int32_t FindExtension(std::string_view name);
TMakePage ExtensionMakePage(std::string_view name);
void UnloadExtension(int32_t entry);
void UnloadAllExtensions();
bool GetExtensionInfo(int32_t entry, std::string& name, std::size_t name_max, int32_t& in_use, int32_t& hits,
                      int32_t& threads);
