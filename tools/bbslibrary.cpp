#include "tools/bbslibrary.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "platform/dynlib.h"

namespace {

// The entries in slot order.
enum Slot {
  kOrteluneInit,
  kOrteluneDone,
  kSubListCount,
  kGetListIndexNo,
  kOpenSub,
  kCloseSub,
  kGetSubtypePtr,
  kChangeSub,
  kAddSubboard,
  kDeleteSubboard,
  kRepairSubboard,
  kOpenDirByName,
  kCloseDir,
  kGetDirHeaderPtr,
  kChangeDir,
  kAddDirectory,
  kDeleteDirectory,
  kRepairLibrary,
  kSlots
};

const char* const kEntryNames[kSlots] = {
    "OrteluneInit", "OrteluneDone",  "SubListCount",    "GetListIndexNo", "OpenSub",       "CloseSub",
    "GetSubtypePtr", "ChangeSub",    "AddSubboard",     "DeleteSubboard", "RepairSubboard", "OpenDirByName",
    "CloseDir",      "GetDirHeaderPtr", "ChangeDir",    "AddDirectory",   "DeleteDirectory", "RepairLibrary"};

// Text handed to the library: a short string in a 256-byte buffer.
struct TextBuf {
  uint8_t b[256] = {};
  void Set(std::string_view s) { SetFieldText(b, sizeof b, s); }
};

struct Binding {
  platform::LibraryHandle module = nullptr;
  void* entries[kSlots] = {};
  int32_t handle = 0;
  bool loaded = false;
  // The four texts of OrteluneInit outlive the call.
  TextBuf path, empty1, empty2, one;
  TextBuf name, add_path;
  TBbsSubboardRecord subboard_copy{};
  TBbsDirectoryHeader directory_copy{};
  BbsProgressView* progress = nullptr;
  bool exit_chained = false;

  template <class F>
  F Entry(Slot slot) const {
    return reinterpret_cast<F>(entries[slot]);
  }
};

Binding& B() {
  static Binding binding;
  return binding;
}

bool KnownKind(BbsListKind kind) { return kind == kBbsSubboards || kind == kBbsDirectories; }

}  // namespace

std::string PadRight(std::string text, char c, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), c);
  return text;
}

std::string ConfItemText(const TConfItem& item, NamingMode mode) {
  switch (mode) {
    case 0:
      return PadRight(item.Name.str(), ' ', 8) + " - " + item.Description.str();
    case 1:
      return item.Name.str();
    default:
      return item.Description.str();
  }
}

std::string FieldText(const uint8_t* field, std::size_t width) {
  if (!field || width == 0) return {};
  std::size_t n = field[0] < width ? field[0] : width - 1;
  return std::string(reinterpret_cast<const char*>(field) + 1, n);
}

void SetFieldText(uint8_t* field, std::size_t width, std::string_view text) {
  if (!field || width == 0) return;
  std::size_t n = text.size() < width ? text.size() : width - 1;
  field[0] = static_cast<uint8_t>(n);
  if (n) std::memcpy(field + 1, text.data(), n);
}

void SetBbsProgressView(BbsProgressView* view) { B().progress = view; }

void LoadBbsLibrary(const std::string& name) {
  Binding& b = B();
  if (!b.exit_chained) {
    std::atexit(BbsLibraryExit);
    b.exit_chained = true;
  }
  BbsLibraryExit();
  b.loaded = false;
  b.handle = 0;
  b.module = platform::LoadLibrary(name);
  if (!b.module) return;
  for (int slot = 0; slot < kSlots; ++slot) b.entries[slot] = platform::GetProcAddress(b.module, kEntryNames[slot]);
}

void BbsLibraryExit() {
  Binding& b = B();
  for (void*& e : b.entries) e = nullptr;
  if (b.module) platform::FreeLibrary(b.module);
  b.module = nullptr;
}

bool BbsLibraryPresent() { return B().module != nullptr; }

int BbsBoundEntries() {
  int n = 0;
  for (void* e : B().entries) n += e != nullptr;
  return n;
}

bool BbsOpen(std::string_view path) {
  Binding& b = B();
  auto init = b.Entry<TQxOrteluneInit>(kOrteluneInit);
  if (!init) return false;
  b.path.Set(path);
  b.empty1.Set("");
  b.empty2.Set("");
  b.one.Set("1");
  b.handle = init(b.path.b, b.empty1.b, b.empty2.b, b.one.b);
  b.loaded = b.handle != 0;
  return b.loaded;
}

void BbsClose() {
  Binding& b = B();
  if (auto done = b.Entry<TQxOrteluneDone>(kOrteluneDone)) done(b.handle);
}

bool BbsLoaded() { return B().loaded; }
int32_t BbsHandle() { return B().handle; }

int32_t BbsListCount(BbsListKind kind) {
  Binding& b = B();
  auto count = b.Entry<TQxSubListCount>(kSubListCount);
  return count && KnownKind(kind) ? count(b.handle, kind) : 0;
}

void BbsFillList(BbsListKind kind, NamingMode mode, BbsItems& items) {
  Binding& b = B();
  items.clear();
  auto get = b.Entry<TQxGetListIndexNo>(kGetListIndexNo);
  int32_t count = BbsListCount(kind);
  if (!get) return;
  for (int32_t n = 1; n <= count; ++n) {
    TBbsListEntry entry{};
    get(b.handle, n, kind, &entry);
    auto item = std::make_shared<TConfItem>();
    item->ListNo = n;
    item->Name = FieldText(entry.Name);
    item->Description = FieldText(entry.Description);
    items.emplace_back(ConfItemText(*item, mode), std::move(item));
  }
}

void BbsOpenEntry(BbsListKind kind, int32_t list_no, TBbsListEntry& entry, TBbsSubboardRecord** subboard,
                  TBbsDirectoryHeader** directory) {
  Binding& b = B();
  std::memset(&entry, 0, sizeof entry);
  if (auto get = b.Entry<TQxGetListIndexNo>(kGetListIndexNo)) get(b.handle, list_no, kind, &entry);
  b.name.Set(FieldText(entry.Name));
  if (kind == kBbsSubboards) {
    auto open = b.Entry<TQxOpenSub>(kOpenSub);
    auto ptr = b.Entry<TQxGetSubtypePtr>(kGetSubtypePtr);
    if (open) open(b.handle, b.name.b, 1, 0, 0);
    if (subboard) *subboard = ptr ? ptr(b.handle) : nullptr;
  } else if (kind == kBbsDirectories) {
    auto open = b.Entry<TQxOpenDirByName>(kOpenDirByName);
    auto ptr = b.Entry<TQxGetDirHeaderPtr>(kGetDirHeaderPtr);
    if (open) open(b.handle, b.name.b, 0);
    if (directory) *directory = ptr ? ptr(b.handle) : nullptr;
  }
}

void BbsSaveEntry(BbsListKind kind) {
  Binding& b = B();
  if (kind == kBbsSubboards) {
    if (auto change = b.Entry<TQxChangeSub>(kChangeSub)) change(b.handle);
  } else if (kind == kBbsDirectories) {
    if (auto change = b.Entry<TQxChangeDir>(kChangeDir)) change(b.handle);
  }
}

int32_t BbsDeleteEntry(BbsListKind kind, std::string_view name) {
  Binding& b = B();
  b.name.Set(name);
  if (kind == kBbsSubboards) {
    if (auto close = b.Entry<TQxCloseSub>(kCloseSub)) close(b.handle);
    if (auto del = b.Entry<TQxDeleteSubboard>(kDeleteSubboard)) return del(b.handle, b.name.b, 1);
  } else if (kind == kBbsDirectories) {
    if (auto close = b.Entry<TQxCloseDir>(kCloseDir)) close(b.handle);
    if (auto del = b.Entry<TQxDeleteDirectory>(kDeleteDirectory)) return del(b.handle, b.name.b, 1);
  }
  return 0;
}

namespace {

// The add entry of the record's kind with the name, a copy of the record
// and the path, each in a buffer of the binding.
template <class Record>
bool AddEntry(Slot slot, std::string_view name, const Record& record, Record& copy, std::string_view path) {
  Binding& b = B();
  using AddFn = int32_t (*)(int32_t, const uint8_t*, const Record*, const uint8_t*);
  auto add = b.Entry<AddFn>(slot);
  if (!add) return false;
  b.name.Set(name);
  copy = record;
  b.add_path.Set(path);
  return (add(b.handle, b.name.b, &copy, b.add_path.b) & 0xFF) != 0;
}

}  // namespace

bool BbsAddSubboard(std::string_view name, const TBbsSubboardRecord& record, std::string_view path) {
  static_assert(std::is_same_v<TQxAddSubboard, int32_t (*)(int32_t, const uint8_t*, const TBbsSubboardRecord*,
                                                           const uint8_t*)>);
  return AddEntry(kAddSubboard, name, record, B().subboard_copy, path);
}

bool BbsAddDirectory(std::string_view name, const TBbsDirectoryHeader& header, std::string_view path) {
  return AddEntry(kAddDirectory, name, header, B().directory_copy, path);
}

int32_t BbsRepair(BbsListKind kind) {
  Binding& b = B();
  TQxRepairSubboard repair = nullptr;
  if (kind == kBbsSubboards) repair = b.Entry<TQxRepairSubboard>(kRepairSubboard);
  if (kind == kBbsDirectories) repair = b.Entry<TQxRepairLibrary>(kRepairLibrary);
  if (!repair) return 0;
  BbsProgressView* view = b.progress;
  if (view) view->Begin(100);
  int32_t result = repair(b.handle, BbsProgressCallback);
  if (view) view->End();
  return result;
}

extern "C" void BbsProgressCallback(int32_t percent, const char* status) {
  if (BbsProgressView* view = B().progress) view->Step(percent, status ? status : "");
}
