// TSettingsForm, the modal dialog "Settings" in which the operator edits
// KORRIDAN.INI and MIME.INI: pages Network, Directories, Includes, Aliases,
// Mime Types and Log.
//
// Every showing reads all its keys (with the dialog's own defaults) and
// every hiding writes all of them back, however the dialog was closed. The
// include, alias and MIME lists live as long as the dialog: each showing
// adds what the files hold to them, and the grids, refilled from the lists,
// are what is saved. Includes, Aliases and MimeTypes are each replaced in
// one write. Every number field is read before anything is written: one
// whose text is no number shows "'<text>' is not a valid integer value" in
// the standard error box, and a close (OK or the close box) is refused with
// the field's page shown and the field focused, so nothing is written. A
// refused write stops the saving with "Unable to write to <path>"; what the
// files hold after the stop stays as it was.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/form.h"
#include "platform/ui/grid.h"
#include "platform/ui/pages.h"

// Texts kept sorted without regard to ASCII case; a text equal to one
// already there (case ignored) is not added.
class TEntryList {
 public:
  void Add(const std::string& text);
  void Delete(int index);
  void Clear() { texts_.clear(); }
  int Count() const { return static_cast<int>(texts_.size()); }
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  std::vector<std::string> texts_;
};

// The longest entry text a grid shows (and so saves).
constexpr size_t kEntryTextMax = 255;

class TSettingsForm : public platform::ui::Form {
 public:
  explicit TSettingsForm(platform::ui::Component* owner);
  ~TSettingsForm() override;

  platform::ui::TabbedNotebook* Notebook;
  platform::ui::Button* Button1;  // "OK"
  // Network
  platform::ui::Edit* AddressEdit;
  platform::ui::Edit* PortEdit;
  platform::ui::SpinEdit* SocketsEdit;
  platform::ui::SpinEdit* BacklogEdit;
  platform::ui::CheckBox* IgnoreClose;  // never visible
  // Directories
  platform::ui::Edit* HomeDir;
  platform::ui::Edit* TempDir;
  platform::ui::Edit* MapsDir;
  platform::ui::Edit* LogsDir;
  platform::ui::SpeedButton* Browse1;
  platform::ui::SpeedButton* Browse2;
  platform::ui::SpeedButton* Browse3;
  platform::ui::SpeedButton* Browse4;
  platform::ui::CheckBox* DefaultDocCheckbox;
  platform::ui::Edit* DefaultDoc;
  platform::ui::Button* BrowseDefaultDoc;
  platform::ui::OpenDialog* OpenDialog1;
  // Includes, Aliases, Mime Types
  platform::ui::StringGrid* IncludeList;
  platform::ui::Button* IncludeEdit;
  platform::ui::Button* IncludeAdd;
  platform::ui::Button* IncludeDelete;
  platform::ui::StringGrid* AliasList;
  platform::ui::Button* AliasEdit;
  platform::ui::Button* AliasAdd;
  platform::ui::Button* AliasDelete;
  platform::ui::StringGrid* MimeList;
  platform::ui::Button* MimeEdit;
  platform::ui::Button* MimeAdd;
  platform::ui::Button* MimeDelete;
  // Log
  platform::ui::CheckBox* DoAccess;
  platform::ui::CheckBox* DoReferer;
  platform::ui::CheckBox* DoBrowser;
  platform::ui::CheckBox* DoScreen;

  // token=replacement, alias=directory, type=extension.
  TEntryList Includes;
  TEntryList Aliases;
  TEntryList MimeTypes;

  void FormCreate(platform::ui::Component& sender);
  void FormShow(platform::ui::Component& sender);
  void FormHide(platform::ui::Component& sender);
  // Keeps the dialog open while a number field holds no number.
  void FormClose(platform::ui::Component& sender, platform::ui::CloseAction& action);
  void FormDestroy(platform::ui::Component& sender);
  void IncludeAddClick(platform::ui::Component& sender);
  void IncludeEditClick(platform::ui::Component& sender);
  void IncludeDeleteClick(platform::ui::Component& sender);
  void IncludeListDblClick(platform::ui::Component& sender);
  void AliasAddClick(platform::ui::Component& sender);
  void AliasEditClick(platform::ui::Component& sender);
  void AliasDeleteClick(platform::ui::Component& sender);
  void AliasListDblClick(platform::ui::Component& sender);
  void MimeAddClick(platform::ui::Component& sender);
  void MimeEditClick(platform::ui::Component& sender);
  void MimeDeleteClick(platform::ui::Component& sender);
  void MimeListDblClick(platform::ui::Component& sender);
  // Browse1 to Browse4: a directory for the field beside the button.
  void Browse1Click(platform::ui::Component& sender);
  // BrowseDefaultDoc: a file for DefaultDoc.
  void Browse2Click(platform::ui::Component& sender);
  void OKButtonClick(platform::ui::Component& sender);
  void DefaultDocCheckboxClick(platform::ui::Component& sender);

  void FillIncludeGrid();
  void FillAliasGrid();
  void FillMimeGrid();

 private:
  struct EntryKind;
  EntryKind Kind(int which);
  std::string AskEntry(const EntryKind& kind, const std::string& caption);
  void AddEntry(const EntryKind& kind);
  void EditEntry(const EntryKind& kind);
  void DeleteEntry(const EntryKind& kind);
  void FillGrid(const EntryKind& kind);
  // The first number field whose text is no number, or nullptr.
  platform::ui::Edit* BadNumberField() const;
};

extern TSettingsForm* SettingsForm;
