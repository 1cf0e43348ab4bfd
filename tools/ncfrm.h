// TNewConfFrm, the dialog that names a new file library ("New File
// Library", libmanager) or conference ("New Conference", confmanager) and
// the path the BBS library is given for it. Results: 1 OK, 2 Cancel.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/form.h"

class TNewConfFrm : public platform::ui::Form {
 public:
  explicit TNewConfFrm(platform::ui::Component* owner);
  ~TNewConfFrm() override;

  platform::ui::Label* Label1;  // "Name"
  platform::ui::Label* Label2;  // "Path"
  platform::ui::Edit* NewConfName;
  platform::ui::Edit* NewConfPath;
  platform::ui::SpeedButton* ConfigFileBrowse;
  platform::ui::Button* OKButton;
  platform::ui::Button* CancelButton;

  void FormCreate(platform::ui::Component& sender);
  void FormShow(platform::ui::Component& sender);
  void OKButtonClick(platform::ui::Component& sender);
  void CancelButtonClick(platform::ui::Component& sender);
  void ConfigFileBrowseClick(platform::ui::Component& sender);
};

extern TNewConfFrm* NewConfFrm;
