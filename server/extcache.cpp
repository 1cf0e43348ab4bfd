#include "server/extcache.h"

#include <cstring>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/msgbox.h"

namespace {

using platform::ascii::UpperCase;

bool ValidEntry(int32_t entry) { return entry >= 1 && entry <= kExtensionCacheSize; }

template <typename Fn>
Fn Symbol(platform::LibraryHandle library, const char* name) {
  return reinterpret_cast<Fn>(platform::GetProcAddress(library, name));
}

}  // namespace

bool IsPlainExtensionName(std::string_view name) {
  if (name.empty() || name.size() > kExtensionNameMax) return false;
  int dots = 0;
  for (char c : name) {
    bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (word) continue;
    if (c != '.' || ++dots > 1) return false;
  }
  return name.front() != '.' && name.back() != '.';
}

std::string ExtensionLibraryName(std::string_view text) {
  std::string_view rest = text.empty() ? text : text.substr(1);
  std::string name(rest.substr(0, rest.find('.')));
  name += ".DLL";
  if (name.size() > kExtensionNameMax) name.resize(kExtensionNameMax);
  return name;
}

TExtensionCache ExtensionCache;

TExtensionCache::TExtensionCache() { std::memset(static_cast<void*>(slots_), 0, sizeof slots_); }

void TExtensionCache::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  std::memset(static_cast<void*>(slots_), 0, sizeof slots_);
}

int32_t TExtensionCache::FindLocked(std::string_view upper) const {
  for (int32_t i = 1; i <= kExtensionCacheSize; ++i)
    if (slots_[i].Handle && slots_[i].Name.view() == upper) return i;
  return 0;
}

void TExtensionCache::FreeEntryLocked(int32_t entry) {
  TExtensionSlot& s = slots_[entry];
  if (s.Handle) platform::FreeLibrary(s.Handle);
  std::memset(static_cast<void*>(&s), 0, sizeof s);
}

bool TExtensionCache::Acquire(std::string_view name, int32_t& entry, TExtensionSlot* found) {
  if (!IsPlainExtensionName(name)) return false;
  std::string upper = UpperCase(name);
  std::string load_error;
  {
    std::lock_guard<std::mutex> guard(lock_);
    int32_t n = FindLocked(upper);
    if (n == 0) {
      // The library is loaded from exactly the file whose existence is
      // checked here, before anything is evicted for it.
      std::string path = "./" + upper;
      if (!platform::FileExists(path)) return false;
      for (int32_t i = 1; i <= kExtensionCacheSize && n == 0; ++i)
        if (!slots_[i].Handle) n = i;
      if (n == 0) {
        int32_t idle = 0;
        for (int32_t i = 1; i <= kExtensionCacheSize && idle == 0; ++i)
          if (slots_[i].InUse == 0) idle = i;
        if (idle == 0) return false;  // every library is running a call
        FreeEntryLocked(idle);
        for (int32_t i = idle; i < kExtensionCacheSize; ++i) slots_[i] = slots_[i + 1];
        std::memset(static_cast<void*>(&slots_[kExtensionCacheSize]), 0, sizeof(TExtensionSlot));
        n = kExtensionCacheSize;
      }
      platform::LibraryHandle h = platform::LoadLibrary(path);
      if (!h) {
        load_error = "LoadLibrary Error: " + platform::LastLoadError();
      } else {
        TExtensionSlot& s = slots_[n];
        std::memset(static_cast<void*>(&s), 0, sizeof s);
        s.Name = upper;
        s.Handle = h;
        s.MakePage = Symbol<TMakePage>(h, "MAKEPAGE");
        s.PostBegin = Symbol<TPostBegin>(h, "POSTBEGIN");
        s.PostResume = Symbol<TPostResume>(h, "POSTRESUME");
        s.PostEnd = Symbol<TPostEnd>(h, "POSTEND");
      }
    }
    if (load_error.empty()) {
      ++slots_[n].InUse;
      ++slots_[n].Hits;
      entry = n;
      if (found) *found = slots_[n];
      return true;
    }
  }
  platform::MessageBox(load_error, "Halvorine", platform::MsgKind::Plain, platform::MsgButtons::Ok);
  return false;
}

int32_t TExtensionCache::Find(std::string_view name) {
  std::string upper = UpperCase(name);
  std::lock_guard<std::mutex> guard(lock_);
  return FindLocked(upper);
}

TMakePage TExtensionCache::MakePage(std::string_view name) {
  std::string upper = UpperCase(name);
  std::lock_guard<std::mutex> guard(lock_);
  int32_t n = FindLocked(upper);
  return n ? slots_[n].MakePage : nullptr;
}

TPostBegin TExtensionCache::PostBegin(std::string_view name) {
  std::string upper = UpperCase(name);
  std::lock_guard<std::mutex> guard(lock_);
  int32_t n = FindLocked(upper);
  return n ? slots_[n].PostBegin : nullptr;
}

TPostResume TExtensionCache::PostResume(std::string_view name) {
  std::string upper = UpperCase(name);
  std::lock_guard<std::mutex> guard(lock_);
  int32_t n = FindLocked(upper);
  return n ? slots_[n].PostResume : nullptr;
}

TPostEnd TExtensionCache::PostEnd(std::string_view name, int32_t& entry) {
  std::string upper = UpperCase(name);
  std::lock_guard<std::mutex> guard(lock_);
  entry = FindLocked(upper);
  return entry ? slots_[entry].PostEnd : nullptr;
}

void TExtensionCache::Release(int32_t entry) {
  if (!ValidEntry(entry)) return;
  std::lock_guard<std::mutex> guard(lock_);
  TExtensionSlot& s = slots_[entry];
  if (s.InUse > 0) --s.InUse;
  if (s.InUse == 0 && s.UnloadPending) FreeEntryLocked(entry);
}

int32_t TExtensionCache::Finish(std::string_view name, bool count_thread, bool unload) {
  std::string upper = UpperCase(name);
  std::lock_guard<std::mutex> guard(lock_);
  int32_t n = FindLocked(upper);
  if (n == 0) return 0;
  TExtensionSlot& s = slots_[n];
  if (count_thread) ++s.Threads;
  if (s.InUse > 0) --s.InUse;
  if (unload) s.UnloadPending = true;
  if (s.InUse == 0 && s.UnloadPending) FreeEntryLocked(n);
  return n;
}

void TExtensionCache::CountThread(int32_t entry) {
  if (!ValidEntry(entry)) return;
  std::lock_guard<std::mutex> guard(lock_);
  ++slots_[entry].Threads;
}

void TExtensionCache::Unload(int32_t entry) {
  if (!ValidEntry(entry)) return;
  std::lock_guard<std::mutex> guard(lock_);
  TExtensionSlot& s = slots_[entry];
  if (s.InUse > 0)
    s.UnloadPending = true;
  else
    FreeEntryLocked(entry);
}

void TExtensionCache::UnloadAll() {
  for (int32_t i = 1; i <= kExtensionCacheSize; ++i) Unload(i);
}

bool TExtensionCache::GetInfo(int32_t entry, std::string& name, std::size_t name_max, int32_t& in_use,
                              int32_t& hits, int32_t& threads) {
  if (!ValidEntry(entry)) return false;
  std::lock_guard<std::mutex> guard(lock_);
  const TExtensionSlot& s = slots_[entry];
  if (!s.Handle) return false;
  name = std::string(s.Name.view().substr(0, name_max));
  in_use = s.InUse;
  hits = s.Hits;
  threads = s.Threads;
  return true;
}

TExtensionSlot TExtensionCache::Entry(int32_t entry) {
  TExtensionSlot copy;
  std::memset(static_cast<void*>(&copy), 0, sizeof copy);
  if (!ValidEntry(entry)) return copy;
  std::lock_guard<std::mutex> guard(lock_);
  copy = slots_[entry];
  return copy;
}

void ClearExtensionCache() { ExtensionCache.Clear(); }
bool AcquireExtension(std::string_view name, int32_t& entry) { return ExtensionCache.Acquire(name, entry); }
int32_t FindExtension(std::string_view name) { return ExtensionCache.Find(name); }
TMakePage ExtensionMakePage(std::string_view name) { return ExtensionCache.MakePage(name); }
void UnloadExtension(int32_t entry) { ExtensionCache.Unload(entry); }
void UnloadAllExtensions() { ExtensionCache.UnloadAll(); }
bool GetExtensionInfo(int32_t entry, std::string& name, std::size_t name_max, int32_t& in_use, int32_t& hits,
                      int32_t& threads) {
  return ExtensionCache.GetInfo(entry, name, name_max, in_use, hits, threads);
}
