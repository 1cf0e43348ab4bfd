// The binding to the BBS library QX.DLL (entries and records in
// interface/tandrel.h), shared by libmanager and confmanager. Nothing else
// calls the library's entries: every BBS operation goes through the wrappers
// below.
//
// The library is loaded once, before any window exists (LoadBbsLibrary), and
// freed at program end. A missing library, or an entry it lacks, leaves that
// entry unbound: a wrapper whose entry is unbound calls nothing and answers
// as a failure (no BBS, a count of 0, no record, not created, busy). No
// message names the library; the caller asks for the BBS path again.
//
// GUI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/shortstring.h"
#include "interface/tandrel.h"

// 0 subboards (conferences), 1 file directories (file libraries).
using BbsListKind = int32_t;
constexpr BbsListKind kBbsSubboards = QX_KIND_SUBBOARDS;
constexpr BbsListKind kBbsDirectories = QX_KIND_DIRECTORIES;

// The text of a list item: 0 the name padded to 8 blanks, " - " and the
// description; 1 the name; 2 the description.
using NamingMode = uint8_t;

// One list item's entry, as the list was filled.
class TConfItem {
 public:
  int32_t ListNo = 0;  // 1-based position in the BBS's list
  ShortString Name;
  ShortString Description;
};

// Appends c to text until it is width characters long; longer texts stay.
std::string PadRight(std::string text, char c, std::size_t width);
std::string ConfItemText(const TConfItem& item, NamingMode mode);

// A record's short-string field of `width` bytes (length byte included):
// read, it never reaches past the field, whatever its length byte says;
// written, the text is cut to width - 1 characters.
std::string FieldText(const uint8_t* field, std::size_t width);
void SetFieldText(uint8_t* field, std::size_t width, std::string_view text);
template <std::size_t W>
std::string FieldText(const uint8_t (&field)[W]) {
  return FieldText(field, W);
}
template <std::size_t W>
void SetFieldText(uint8_t (&field)[W], std::string_view text) {
  SetFieldText(field, W, text);
}

// What a repair shows while it runs: the progress window.
class BbsProgressView {
 public:
  virtual ~BbsProgressView() = default;
  virtual void Begin(int maximum) = 0;                           // shown
  virtual void Step(int percent, const std::string& status) = 0;  // caption and gauge
  virtual void End() = 0;                                          // hidden
};
// The view BbsRepair drives (none: the repair shows nothing).
void SetBbsProgressView(BbsProgressView* view);

// Loads the library by its plain name (program directory, current
// directory, system search) and binds its entries; an earlier library is
// freed first. Frees it again at program end.
void LoadBbsLibrary(const std::string& name = "QX.DLL");
void BbsLibraryExit();
// The library was found, and how many of its 18 entries are bound.
bool BbsLibraryPresent();
int BbsBoundEntries();

// Opens the BBS at path: true when the library gave a handle.
bool BbsOpen(std::string_view path);
// Ends the BBS handle; the handle and the loaded flag keep their values.
void BbsClose();
bool BbsLoaded();
int32_t BbsHandle();

int32_t BbsListCount(BbsListKind kind);
// The list items in the BBS's order: text by mode, and the entry.
using BbsItems = std::vector<std::pair<std::string, std::shared_ptr<TConfItem>>>;
void BbsFillList(BbsListKind kind, NamingMode mode, BbsItems& items);

// Finds entry n of the kind again, opens it by its name and gives its
// record's address in the output of the kind (nullptr when the library has
// no such entry now); the other output is left alone.
void BbsOpenEntry(BbsListKind kind, int32_t list_no, TBbsListEntry& entry, TBbsSubboardRecord** subboard,
                  TBbsDirectoryHeader** directory);
// Stores the open entry's record of the kind.
void BbsSaveEntry(BbsListKind kind);
// Closes the open entry of the kind and deletes the named one.
int32_t BbsDeleteEntry(BbsListKind kind, std::string_view name);
// Creates an entry from a copy of the record; true when created.
bool BbsAddSubboard(std::string_view name, const TBbsSubboardRecord& record, std::string_view path);
bool BbsAddDirectory(std::string_view name, const TBbsDirectoryHeader& header, std::string_view path);
// Repairs the open entry of the kind, showing the progress view; the
// library's answer (low byte 0: busy, nothing repaired).
int32_t BbsRepair(BbsListKind kind);

// Called by the library during a repair.
extern "C" void BbsProgressCallback(int32_t percent, const char* status);
