// The main window's pages: the header viewer opened from the connection
// list, unloading from the Applications page, the graph's history, and the
// layout after a resize.
#include <algorithm>
#include <array>

#include "console/app.h"
#include "console/hdrform.h"
#include "console/wgraph.h"
#include "platform/ui/dialogs.h"
#include "server/accesslog.h"
#include "server/extcache.h"

namespace ui = platform::ui;

namespace {

const char* MethodText(uint8_t method) {
  static const char* const kMethods[] = {"GET", "HEAD", "POST"};
  return method >= 1 && method <= 3 ? kMethods[method - 1] : "";
}

const char* VersionText(uint8_t version) {
  if (version == hv09) return "HTTP/0.9";
  if (version == hv10) return "HTTP/1.0";
  return "";
}

}  // namespace

void TApp::BuildPages() {
  StatGraph = new TStatGraph(this, Notebook->GetPage(3), "StatGraph");
  StatGraph->SetAlign(ui::Align::Client);
  BuildResourcesPage();
}

void TApp::ConnectionListDblClick(ui::Component&) {
  const int slot = ConnectionList->Row();
  if (ConnectionList->Cell(1, slot).empty()) return;
  if (slot < 1 || slot > HTTP->MaxSockets || slot > kMaxSlots) return;
  const TRequestRecord& request = HTTP->Requests[slot];
  const TSock* sock = HTTP->Connections[slot];
  const std::size_t header_count = request.HeaderLines ? request.HeaderLines->size() : 0;

  auto* viewer = new THeaderForm(this);
  ui::StringGrid* grid = viewer->HeaderList;
  grid->SetColWidth(0, 130);
  grid->SetColWidth(1, 140);
  grid->SetRowCount(static_cast<int>(header_count) + 5);
  const std::array<std::array<std::string, 2>, 5> fixed = {{
      {"Variable", "Value"},
      {"Address", sock ? sock->PeerAddress.str() : std::string()},
      {"Method", MethodText(request.Method)},
      // The working URL, as alias and index resolution left it. Request
      // text shows with its control bytes escaped, as in the log lines.
      {"Request", EscapeControlChars(request.Request.view())},
      {"Version", VersionText(request.Version)},
  }};
  for (int r = 0; r < 5; ++r) {
    grid->SetCell(0, r, fixed[static_cast<std::size_t>(r)][0]);
    grid->SetCell(1, r, fixed[static_cast<std::size_t>(r)][1]);
  }
  for (std::size_t i = 0; i < header_count; ++i) {
    const std::string line = EscapeControlChars((*request.HeaderLines)[i]);
    const std::size_t eq = line.find('=');
    const int r = static_cast<int>(i) + 5;
    grid->SetCell(0, r, eq == std::string::npos ? std::string() : line.substr(0, eq));
    grid->SetCell(1, r, eq == std::string::npos ? line : line.substr(eq + 1));
  }
  viewer->Show();
}

void TApp::UnloadDLLClick(ui::Component&) {
  const int entry = DLLList->Row();
  const std::string name = DLLList->Cell(1, entry);
  if (name.empty() || entry < 1 || entry > kExtensionCacheSize) return;
  if (ui::MessageDlg("Unload " + name + "?", platform::MsgKind::Confirmation, platform::MsgButtons::YesNo) !=
      platform::IDYES)
    return;
  UnloadExtension(entry);
  ShowExtensionRow(entry);
}

void TApp::StatBoxChange(ui::Component&) {
  static const std::array<std::array<std::string, 2>, 4> kNames = {{
      {"Hits from Known Users", "Hits from All Users"},
      {"Logins from Known Users", "Logins from All Users"},
      {"Connections from Known Users", "Connections from All Users"},
      {"Known Users", "All Users"},
  }};
  TStatHistory* arrays[] = {HistoryHits, HistoryLogins, HistoryConnections, HistoryUsers};
  const int stat = StatBox->ItemIndex();
  const int scale = TimeBox->ItemIndex();
  if (stat < 0 || stat > 3 || scale < 0 || scale >= kStatScaleCount) return;
  // Blue for the known users, red for all.
  static const ui::Color kColours[] = {ui::clBlue, ui::clRed};
  StatGraph->setstat(&arrays[stat][scale], kColours, kNames[static_cast<std::size_t>(stat)]);
}

void TApp::FormResize(ui::Component&) {
  const int w = Notebook->ClientWidth(), h = Notebook->ClientHeight();
  Memo->SetBounds(3, 3, w - 6, h - 6);
  const int dll_rows = (DLLList->DefaultRowHeight() + DLLList->GridLineWidth()) * DLLList->RowCount() + 1;
  DLLList->SetBounds(3, 3, w - 6, std::min(h - 6, dll_rows));
  const int connection_rows =
      (ConnectionList->DefaultRowHeight() + ConnectionList->GridLineWidth() + 1) * ConnectionList->RowCount() + 1;
  ConnectionList->SetBounds(3, 3, w - 6, std::min(h - 6, connection_rows));
}
