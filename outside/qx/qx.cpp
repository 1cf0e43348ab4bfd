// QX.DLL: a stand-in for the bulletin-board system's own library, which the
// library and conference managers call for everything they do to the BBS,
// and an example for people who bind the managers to a real BBS. The
// entries and records are declared in interface/tandrel.h.
//
// The store: a BBS is a directory (its home directory) holding
//   CONFIG.QX2    marks the directory as a BBS: its first line begins
//                 "QXBBS"; OrteluneInit answers 0 for any other directory
//   SUBBOARD.DAT  the subboards, in the BBS's order: per subboard a 160-byte
//                 list entry followed by its 128-byte record (288 bytes)
//   FILEDIR.DAT   the file directories likewise: a 160-byte list entry and
//                 the 256-byte directory header (416 bytes each)
//   <NAME>.BSY    while this file exists the entry NAME is busy: its repair
//                 answers 0
// A missing list file is an empty list; a trailing part shorter than one
// entry is ignored. The list entry's bytes 0 to 16 are the library's: the
// kind, a serial number (int32) and a stamp. Its name is set when the entry
// is added; its description follows the record's description whenever the
// record is stored or repaired. Every other byte of a record is kept as the
// caller handed it to the add entry.
//
// The lists are read from the files at every call, so another program's
// changes show at once; each change rewrites its file whole (a temporary
// file renamed over the old one). Names are compared without regard to ASCII
// case. An added name must be 1 to 49 letters, digits, "_" or "-", and new
// in its list. The path argument of the add entries is not used: a file
// directory's place is the path in its header. A repair of the open entry
// copies its record's description into its list entry again, reporting
// through the callback at 0, 50 and 100 percent.
//
// Handles number the opened BBSs from 1; each keeps one open subboard and
// one open directory, in a buffer whose address the pointer entries return
// (valid until the next open, delete or OrteluneDone of that handle). Calls
// with a handle that is not open do nothing and answer 0.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "interface/tandrel.h"

#define QX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr size_t kEntrySize = sizeof(TBbsListEntry);
constexpr size_t kRecordSize[2] = {sizeof(TBbsSubboardRecord), sizeof(TBbsDirectoryHeader)};
const char* const kListFile[2] = {"SUBBOARD.DAT", "FILEDIR.DAT"};
constexpr char kStamp[] = "QXSTANDIN";

// A short string of at most width - 1 characters starting at s.
std::string Text(const uint8_t* s, size_t width) {
  if (!s) return {};
  size_t n = s[0] < width ? s[0] : width - 1;
  return std::string(reinterpret_cast<const char*>(s) + 1, n);
}

void PutText(uint8_t* field, size_t width, const std::string& text) {
  size_t n = text.size() < width ? text.size() : width - 1;
  field[0] = static_cast<uint8_t>(n);
  std::memcpy(field + 1, text.data(), n);
}

// Its own ASCII folding: outside code links nothing of the server's.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > sizeof(TBbsListEntry::Name) - 1) return false;
  for (unsigned char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
      return false;
  return true;
}

struct Entry {
  TBbsListEntry list;
  std::vector<uint8_t> record;
  std::string Name() const { return Text(list.Name, sizeof list.Name); }
};

struct Bbs {
  std::string home;  // ends in "/"
  TBbsSubboardRecord sub{};
  std::string sub_name;  // empty: none open
  TBbsDirectoryHeader dir{};
  std::string dir_name;

  std::string File(const std::string& name) const { return home + name; }

  std::vector<Entry> Read(int kind) const {
    std::vector<Entry> entries;
    std::ifstream in(File(kListFile[kind]), std::ios::binary);
    if (!in) return entries;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t size = kEntrySize + kRecordSize[kind];
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
      Entry e;
      std::memcpy(&e.list, bytes.data() + at, kEntrySize);
      e.record.assign(bytes.begin() + at + kEntrySize, bytes.begin() + at + size);
      entries.push_back(std::move(e));
    }
    return entries;
  }

  bool Write(int kind, const std::vector<Entry>& entries) const {
    std::string path = File(kListFile[kind]);
    std::string temp = path + ".tmp";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out) return false;
      for (const Entry& e : entries) {
        out.write(reinterpret_cast<const char*>(&e.list), kEntrySize);
        out.write(reinterpret_cast<const char*>(e.record.data()), static_cast<std::streamsize>(e.record.size()));
      }
      if (!out.flush()) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
  }

  static int Find(const std::vector<Entry>& entries, const std::string& name) {
    for (size_t i = 0; i < entries.size(); ++i)
      if (SameName(entries[i].Name(), name)) return static_cast<int>(i);
    return -1;
  }

  uint8_t* Open(int kind) { return kind == 0 ? reinterpret_cast<uint8_t*>(&sub) : reinterpret_cast<uint8_t*>(&dir); }
  std::string& OpenName(int kind) { return kind == 0 ? sub_name : dir_name; }

  static void SyncDescription(int kind, Entry& e) {
    const uint8_t* desc = kind == 0 ? e.record.data() + offsetof(TBbsSubboardRecord, Description)
                                    : e.record.data() + offsetof(TBbsDirectoryHeader, Description);
    PutText(e.list.Description, sizeof e.list.Description, Text(desc, sizeof(TBbsSubboardRecord::Description)));
  }

  int32_t OpenByName(int kind, const std::string& name) {
    OpenName(kind).clear();
    std::vector<Entry> entries = Read(kind);
    int i = Find(entries, name);
    if (i < 0) return 0;
    std::memcpy(Open(kind), entries[i].record.data(), kRecordSize[kind]);
    OpenName(kind) = entries[i].Name();
    return 1;
  }

  int32_t Close(int kind) {
    OpenName(kind).clear();
    return 0;
  }

  int32_t Store(int kind) {
    if (OpenName(kind).empty()) return 0;
    std::vector<Entry> entries = Read(kind);
    int i = Find(entries, OpenName(kind));
    if (i < 0) return 0;
    std::memcpy(entries[i].record.data(), Open(kind), kRecordSize[kind]);
    SyncDescription(kind, entries[i]);
    return Write(kind, entries) ? 1 : 0;
  }

  int32_t Add(int kind, const uint8_t* name_arg, const void* record) {
    std::string name = Text(name_arg, 256);
    if (!record || !ValidName(name)) return 0;
    std::vector<Entry> entries = Read(kind);
    if (Find(entries, name) >= 0) return 0;
    int32_t serial = 0;
    for (const Entry& e : entries) {
      int32_t s;
      std::memcpy(&s, e.list.Reserved1 + 1, 4);
      if (s > serial) serial = s;
    }
    ++serial;
    Entry e;
    std::memset(&e.list, 0, kEntrySize);
    e.list.Reserved1[0] = static_cast<uint8_t>(kind);
    std::memcpy(e.list.Reserved1 + 1, &serial, 4);
    std::memcpy(e.list.Reserved1 + 5, kStamp, sizeof kStamp - 1);
    PutText(e.list.Name, sizeof e.list.Name, name);
    const uint8_t* bytes = static_cast<const uint8_t*>(record);
    e.record.assign(bytes, bytes + kRecordSize[kind]);
    SyncDescription(kind, e);
    entries.push_back(std::move(e));
    return Write(kind, entries) ? 1 : 0;
  }

  int32_t Delete(int kind, const uint8_t* name_arg) {
    std::string name = Text(name_arg, 256);
    std::vector<Entry> entries = Read(kind);
    int i = Find(entries, name);
    if (i < 0) return 0;
    entries.erase(entries.begin() + i);
    if (SameName(OpenName(kind), name)) OpenName(kind).clear();
    return Write(kind, entries) ? 1 : 0;
  }

  int32_t Repair(int kind, TBbsProgressCallback progress) {
    std::string name = OpenName(kind);
    if (name.empty()) return 0;
    struct stat st;
    if (::stat(File(name + ".BSY").c_str(), &st) == 0) return 0;
    std::vector<Entry> entries = Read(kind);
    int i = Find(entries, name);
    if (i < 0) return 0;
    if (progress) progress(0, ("Checking " + name + "...").c_str());
    SyncDescription(kind, entries[i]);
    if (progress) progress(50, ("Rebuilding " + name + "...").c_str());
    if (!Write(kind, entries)) return 0;
    if (progress) progress(100, (name + " repaired.").c_str());
    return 1;
  }
};

std::vector<std::unique_ptr<Bbs>> open_bbs;

Bbs* Get(int32_t handle) {
  if (handle < 1 || static_cast<size_t>(handle) > open_bbs.size()) return nullptr;
  return open_bbs[handle - 1].get();
}

// Runs f on the BBS of the handle; 0 when it is not open.
template <class F>
int32_t On(int32_t handle, F f) {
  Bbs* bbs = Get(handle);
  return bbs ? f(*bbs) : 0;
}

}  // namespace

QX_EXPORT int32_t OrteluneInit(const uint8_t* path, const uint8_t*, const uint8_t*, const uint8_t*) {
  std::string home = Text(path, 256);
  for (char& c : home)
    if (c == '\\') c = '/';
  if (home.empty()) return 0;
  if (home.back() != '/') home += '/';
  std::ifstream marker(home + "CONFIG.QX2");
  std::string line;
  if (!marker || !std::getline(marker, line) || line.rfind("QXBBS", 0) != 0) return 0;
  auto bbs = std::make_unique<Bbs>();
  bbs->home = home;
  open_bbs.push_back(std::move(bbs));
  return static_cast<int32_t>(open_bbs.size());
}

QX_EXPORT int32_t OrteluneDone(int32_t handle) {
  if (!Get(handle)) return 0;
  open_bbs[handle - 1].reset();
  return 1;
}

QX_EXPORT int32_t SubListCount(int32_t handle, int32_t kind) {
  Bbs* bbs = Get(handle);
  if (!bbs || (kind != 0 && kind != 1)) return 0;
  return static_cast<int32_t>(bbs->Read(kind).size());
}

QX_EXPORT int32_t GetListIndexNo(int32_t handle, int32_t n, int32_t kind, TBbsListEntry* entry) {
  if (!entry) return 0;
  std::memset(entry, 0, sizeof *entry);
  Bbs* bbs = Get(handle);
  if (!bbs || (kind != 0 && kind != 1)) return 0;
  std::vector<Entry> entries = bbs->Read(kind);
  if (n < 1 || static_cast<size_t>(n) > entries.size()) return 0;
  *entry = entries[n - 1].list;
  return 1;
}

// The entries of the two kinds differ only in the kind they act on.

QX_EXPORT int32_t OpenSub(int32_t handle, const uint8_t* name, int32_t, int32_t, int32_t) {
  return On(handle, [&](Bbs& b) { return b.OpenByName(0, Text(name, 256)); });
}
QX_EXPORT int32_t CloseSub(int32_t handle) {
  return On(handle, [](Bbs& b) { return b.Close(0); });
}
QX_EXPORT TBbsSubboardRecord* GetSubtypePtr(int32_t handle) {
  Bbs* bbs = Get(handle);
  return bbs && !bbs->sub_name.empty() ? &bbs->sub : nullptr;
}
QX_EXPORT int32_t ChangeSub(int32_t handle) {
  return On(handle, [](Bbs& b) { return b.Store(0); });
}
QX_EXPORT int32_t AddSubboard(int32_t handle, const uint8_t* name, const TBbsSubboardRecord* record, const uint8_t*) {
  return On(handle, [&](Bbs& b) { return b.Add(0, name, record); });
}
QX_EXPORT int32_t DeleteSubboard(int32_t handle, const uint8_t* name, int32_t) {
  return On(handle, [&](Bbs& b) { return b.Delete(0, name); });
}
QX_EXPORT int32_t RepairSubboard(int32_t handle, TBbsProgressCallback progress) {
  return On(handle, [&](Bbs& b) { return b.Repair(0, progress); });
}

QX_EXPORT int32_t OpenDirByName(int32_t handle, const uint8_t* name, int32_t) {
  return On(handle, [&](Bbs& b) { return b.OpenByName(1, Text(name, 256)); });
}
QX_EXPORT int32_t CloseDir(int32_t handle) {
  return On(handle, [](Bbs& b) { return b.Close(1); });
}
QX_EXPORT TBbsDirectoryHeader* GetDirHeaderPtr(int32_t handle) {
  Bbs* bbs = Get(handle);
  return bbs && !bbs->dir_name.empty() ? &bbs->dir : nullptr;
}
QX_EXPORT int32_t ChangeDir(int32_t handle) {
  return On(handle, [](Bbs& b) { return b.Store(1); });
}
QX_EXPORT int32_t AddDirectory(int32_t handle, const uint8_t* name, const TBbsDirectoryHeader* header, const uint8_t*) {
  return On(handle, [&](Bbs& b) { return b.Add(1, name, header); });
}
QX_EXPORT int32_t DeleteDirectory(int32_t handle, const uint8_t* name, int32_t) {
  return On(handle, [&](Bbs& b) { return b.Delete(1, name); });
}
QX_EXPORT int32_t RepairLibrary(int32_t handle, TBbsProgressCallback progress) {
  return On(handle, [&](Bbs& b) { return b.Repair(1, progress); });
}

// The entries keep the signatures the public header gives them.
static_assert(std::is_same_v<decltype(&OrteluneInit), TQxOrteluneInit>);
static_assert(std::is_same_v<decltype(&OrteluneDone), TQxOrteluneDone>);
static_assert(std::is_same_v<decltype(&SubListCount), TQxSubListCount>);
static_assert(std::is_same_v<decltype(&GetListIndexNo), TQxGetListIndexNo>);
static_assert(std::is_same_v<decltype(&OpenSub), TQxOpenSub>);
static_assert(std::is_same_v<decltype(&CloseSub), TQxCloseSub>);
static_assert(std::is_same_v<decltype(&GetSubtypePtr), TQxGetSubtypePtr>);
static_assert(std::is_same_v<decltype(&ChangeSub), TQxChangeSub>);
static_assert(std::is_same_v<decltype(&AddSubboard), TQxAddSubboard>);
static_assert(std::is_same_v<decltype(&DeleteSubboard), TQxDeleteSubboard>);
static_assert(std::is_same_v<decltype(&RepairSubboard), TQxRepairSubboard>);
static_assert(std::is_same_v<decltype(&OpenDirByName), TQxOpenDirByName>);
static_assert(std::is_same_v<decltype(&CloseDir), TQxCloseDir>);
static_assert(std::is_same_v<decltype(&GetDirHeaderPtr), TQxGetDirHeaderPtr>);
static_assert(std::is_same_v<decltype(&ChangeDir), TQxChangeDir>);
static_assert(std::is_same_v<decltype(&AddDirectory), TQxAddDirectory>);
static_assert(std::is_same_v<decltype(&DeleteDirectory), TQxDeleteDirectory>);
static_assert(std::is_same_v<decltype(&RepairLibrary), TQxRepairLibrary>);
