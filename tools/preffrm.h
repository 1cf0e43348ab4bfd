// TPrefForm, the managers' "Preferences": the BBS home directory and the
// tools' defaults, kept in section QXBBS of KORRIDAN.INI. libmanager shows
// the home directory on "General" and the upload settings on "Uploads";
// confmanager shows the home directory and the default directory for new
// conferences on "General" and has no "Uploads" page. Only OK ends it.
#pragma once

#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/form.h"
#include "platform/ui/pages.h"

// Appends one "/" to a path that is not empty and does not end in one.
std::string AddBackslash(std::string path);

// The directory dialog opened on the edit's text; a directory typed there
// that does not exist is made, with its parents, once the user agrees. OK
// puts the chosen directory into the edit.
void BrowseDirectoryInto(platform::ui::Edit& edit);

class TPrefForm : public platform::ui::Form {
 public:
  explicit TPrefForm(platform::ui::Component* owner);
  ~TPrefForm() override;

  platform::ui::TabbedNotebook* Notebook;
  platform::ui::GroupBox* GroupBox1;
  platform::ui::Label* Label1;  // "Ortelune Home Directory"
  platform::ui::Edit* ConfigFile;
  platform::ui::SpeedButton* ConfigFileBrowse;
  platform::ui::Label* Label10;  // "Default Directory for Conferences"
  platform::ui::Edit* ConfDir;
  platform::ui::SpeedButton* ConfDirBrowse;
  platform::ui::GroupBox* GroupBox2;
  platform::ui::CheckBox* AllowUploads;
  platform::ui::Label* Label2;  // "Default Directory for Uploads"
  platform::ui::ComboBox* UploadDirList;
  platform::ui::Button* OKButton;

  void FormCreate(platform::ui::Component& sender);
  void FormShow(platform::ui::Component& sender);
  void OKButtonClick(platform::ui::Component& sender);
  void AllowUploadsClick(platform::ui::Component& sender);
  void ConfigFileBrowseClick(platform::ui::Component& sender);
  void ConfDirBrowseClick(platform::ui::Component& sender);
};

extern TPrefForm* PrefForm;
