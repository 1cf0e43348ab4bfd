// The main window's minute timer: idle connections, realm expiry, idle
// descriptors of served files and the Resources page.
#include <algorithm>
#include <climits>
#include <cmath>

#include "console/app.h"
#include "foundation/allocguard.h"
#include "interface/tandrel.h"
#include "server/eventcounters.h"
#include "server/filecache.h"

namespace ui = platform::ui;

namespace {

int64_t WholeMinutes(platform::TDateTime t) {
  // Milliseconds first, as the time decoding rounds them, then down to the
  // minute (also before 1899, where t is negative).
  auto ms = static_cast<int64_t>(std::llround(t * platform::kMSecsPerDay));
  int64_t minutes = ms / 60000;
  return ms % 60000 < 0 ? minutes - 1 : minutes;
}

}  // namespace

int64_t ElapsedMinutes(platform::TDateTime from, platform::TDateTime to) {
  if (!std::isfinite(from) || !std::isfinite(to)) return 0;
  return WholeMinutes(to) - WholeMinutes(from);
}

int32_t ExpireRealmClients(platform::TDateTime now) {
  int32_t dropped = 0;
  const int32_t realms = GetRealmCnt();
  for (int32_t i = 0; i < realms; ++i) {
    THalvShortString realm = {};
    GetRealmByNo(realm, i);
    int32_t j = 0;
    while (j < GetRealmUserCnt(realm)) {
      THalvShortString address = {};
      GetUserByNo(address, j, realm);
      TUserItem* item = nullptr;
      // Gone since it was listed (an extension library removed it).
      if (!GetUserItem(&item, address, realm) || !item) {
        ++j;
        continue;
      }
      if (ElapsedMinutes(item->LastAccess, now) <= kRealmIdleMinutes) {
        ++j;
        continue;
      }
      // The next client moves into position j.
      if (DeleteRealmUser(address, realm) == 1) {
        CountEvent(evExpiredRealmUsers);
        ++dropped;
      } else {
        ++j;
      }
    }
  }
  return dropped;
}

void TApp::TimerTimer(ui::Component&) {
  if (ServerListening) {
    HTTP->CheckIdleTimeouts();
    ExpireRealmClients(platform::Now());
  }
  // Served files let go of however quiet the server is (a deleted one's
  // space comes back), also once it has stopped.
  SweepIdleOpenFiles();
  RefreshResources();
}

void TApp::BuildResourcesPage() {
  ui::Control* page = Notebook->GetPage(4);
  const ui::Font font{"MS Sans Serif", 8, ui::clBlack};
  auto label = [&](const char* name, int left, int top, int width, const char* caption, bool right) {
    auto* l = new ui::Label(this, page, name);
    l->SetBounds(left, top, width, 13);
    l->SetFont(font);
    if (right) l->SetAlignment(ui::Alignment::Right);
    l->SetCaption(caption);
    return l;
  };
  Label2 = label("Label2", 8, 40, 100, "Allocated Memory:", false);
  Label3 = label("Label3", 112, 40, 80, "", false);
  Label4 = label("Label4", 8, 56, 100, "Minimum Allocated:", false);
  Label5 = label("Label5", 8, 72, 100, "Maximum Allocated:", false);
  Label6 = label("Label6", 112, 56, 80, "", false);
  Label7 = label("Label7", 112, 72, 80, "", false);
  // Counter captions end at x 96, their values at x 160.
  Label8 = label("Label8", 8, 104, 88, "Files Opened", true);
  Label9 = label("Label9", 8, 120, 88, "Files Closed", true);
  Label10 = label("Label10", 8, 136, 88, "Sockets Opened", true);
  Label11 = label("Label11", 8, 152, 88, "Sockets Closed", true);
  Label14 = label("Label14", 104, 104, 56, "None", true);
  Label15 = label("Label15", 104, 120, 56, "None", true);
  Label17 = label("Label17", 104, 136, 56, "None", true);
  Label18 = label("Label18", 104, 152, 56, "None", true);
  Label21 = label("Label21", 8, 184, 88, "BeginPost", true);
  Label22 = label("Label22", 8, 200, 88, "EndPost", true);
  Label23 = label("Label23", 104, 184, 56, "None", true);
  Label24 = label("Label24", 104, 200, 56, "None", true);
  Label25 = label("Label25", 104, 216, 56, "None", true);
  Label26 = label("Label26", 104, 232, 56, "None", true);
  Label27 = label("Label27", 8, 216, 88, "Threads Started", true);
  Label28 = label("Label28", 8, 232, 88, "Threads Finished", true);
}

void TApp::RefreshResources() {
  int64_t allocated = AllocatedBytes();
  auto value = static_cast<int32_t>(std::clamp<int64_t>(allocated, INT32_MIN, INT32_MAX));
  if (value < MinAllocated) MinAllocated = value;
  if (value > MaxAllocated) MaxAllocated = value;
  Label3->SetCaption(std::to_string(value));
  Label6->SetCaption(std::to_string(MinAllocated));
  Label7->SetCaption(std::to_string(MaxAllocated));
  ui::Label* counters[] = {Label14, Label15, Label17, Label18, Label23, Label24, Label25, Label26};
  for (uint8_t i = 0; i < 8; ++i) counters[i]->SetCaption(std::to_string(EventCount(i)));
}
