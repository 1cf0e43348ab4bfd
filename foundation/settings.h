// Every key of KORRIDAN.INI and MIME.INI, and the default each reader
// applies when a key is missing. Readers do not share one default (the
// settings dialog and the server start differ for Backlog and the
// directories), so each reader has its own table here.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/serverconfig.h"

namespace settings {

// Sections of KORRIDAN.INI.
inline constexpr char kGeneral[] = "General";
inline constexpr char kNetwork[] = "Network";
inline constexpr char kDirectories[] = "Directories";
inline constexpr char kLog[] = "Log";
inline constexpr char kIncludes[] = "Includes";  // pairs: token = text
inline constexpr char kAliases[] = "Aliases";    // pairs: ALIAS = directory
inline constexpr char kQxbbs[] = "QXBBS";
// Sections of MIME.INI.
inline constexpr char kMimeTypes[] = "MimeTypes";        // pairs: extension = type
inline constexpr char kDefaultTypes[] = "DefaultTypes";  // pairs: type = flag

// Keys, spelled as the programs write them.
inline constexpr char kTab[] = "Tab";
inline constexpr char kWindowX[] = "WindowX";
inline constexpr char kWindowY[] = "WindowY";
inline constexpr char kWindowWidth[] = "WindowWidth";
inline constexpr char kWindowHeight[] = "WindowHeight";
inline constexpr char kWindowState[] = "WindowState";
inline constexpr char kStartServer[] = "StartServer";
inline constexpr char kSplashScreen[] = "SplashScreen";
inline constexpr char kAddress[] = "Address";
inline constexpr char kPort[] = "Port";
inline constexpr char kMaxSockets[] = "MaxSockets";
inline constexpr char kBacklog[] = "Backlog";
inline constexpr char kIgnoreClose[] = "IgnoreClose";
inline constexpr char kHomeDir[] = "HomeDir";
inline constexpr char kTempDir[] = "TempDir";
inline constexpr char kMapsDir[] = "MapsDir";
inline constexpr char kLogsDir[] = "LogsDir";
inline constexpr char kUseDefaultDoc[] = "UseDefaultDoc";
inline constexpr char kDefaultDoc[] = "DefaultDoc";
inline constexpr char kDataDir[] = "DataDir";
inline constexpr char kDoAccess[] = "DoAccess";
inline constexpr char kDoReferer[] = "DoReferer";
inline constexpr char kDoBrowser[] = "DoBrowser";
inline constexpr char kDoCombined[] = "DoCombined";
inline constexpr char kLocal[] = "Local";
inline constexpr char kHeaders[] = "Headers";

// Main window creation, first showing and exit.
namespace mainwindow {
inline constexpr int32_t kTab = 0;
inline constexpr int32_t kWindowX = 5;
inline constexpr int32_t kWindowY = 5;
inline constexpr int32_t kWindowWidth = 435;
inline constexpr int32_t kWindowHeight = 300;
inline constexpr int32_t kWindowState = 0;  // 0 normal, 1 maximized, 2 minimized
inline constexpr bool kStartServer = true;
inline constexpr bool kSplashScreen = true;
inline constexpr int32_t kMaxSockets = 16;  // rows of the connection list, plus one
inline constexpr bool kLocal = true;
}  // namespace mainwindow

// The server start in the console.
namespace serverstart {
inline constexpr char kAddress[] = "";
inline constexpr int32_t kPort = 80;
inline constexpr int32_t kMaxSockets = 16;
inline constexpr int32_t kBacklog = 5;
inline constexpr bool kIgnoreClose = false;
inline constexpr char kHomeDir[] = "";
inline constexpr char kTempDir[] = "";
inline constexpr char kMapsDir[] = "";
}  // namespace serverstart

// The engine's start. LogsDir defaults to the home directory the server
// start read.
namespace enginestart {
inline constexpr bool kDoAccess = false;
inline constexpr bool kDoReferer = false;
inline constexpr bool kDoBrowser = false;
inline constexpr bool kDoCombined = false;
}  // namespace enginestart

// Read for each request.
namespace request {
inline constexpr bool kUseDefaultDoc = false;
inline constexpr char kDefaultDoc[] = "";
inline constexpr bool kLocal = true;
inline constexpr bool kHeaders = false;
}  // namespace request

// The settings dialog's own defaults.
namespace dialog {
inline constexpr char kAddress[] = "";
inline constexpr int32_t kPort = 80;
inline constexpr int32_t kMaxSockets = 16;
inline constexpr int32_t kBacklog = 25;
inline constexpr bool kIgnoreClose = false;
inline std::string HomeDir() { return ProgramDir() + "HTDocs"; }
inline std::string TempDir() { return ProgramDir() + "Temp"; }
inline std::string MapsDir() { return ProgramDir() + "Maps"; }
inline std::string LogsDir() { return ProgramDir() + "Logs"; }
inline constexpr bool kUseDefaultDoc = false;
inline constexpr char kDefaultDoc[] = "";
inline constexpr bool kDoAccess = false;
inline constexpr bool kDoReferer = false;
inline constexpr bool kDoBrowser = false;
inline constexpr bool kLocal = true;  // "On-Screen Log"
}  // namespace dialog

// The administration tools.
namespace tools {
// Where the tables lie; the server itself always uses ProgramDir() + "Data/".
inline std::string DataDir() { return ProgramDir() + "Data/"; }
// The directory the Security Manager's tree opens on.
inline constexpr char kSecManagerHomeDir[] = "/";
}  // namespace tools

// The directory of the security tables as the server uses it.
inline std::string ServerDataDir() { return ProgramDir() + "Data/"; }
inline std::string ServerDbDir() { return ProgramDir() + "HalvDB/"; }

}  // namespace settings
