// The engine's request logs: ACCESS.LOG (one line per answered request),
// REFERER.LOG and BROWSER.LOG in separate mode, their cycling to dated
// names, and the optional log plug-in HALVLOG.DLL, which is told when
// logging starts and stops and gets the slot number of every logged request.
//
// Errors never stop serving: every routine returns whether it fully
// succeeded, and the first error after the logs were opened or cycled is
// handed to OnError (the engine shows it in its log); later ones are only
// counted until the next open or cycle. A file that could not be opened
// stays closed until then, and its lines are skipped.
//
// Everything runs on the server's window thread; no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/shortstring.h"
#include "interface/tandrel.h"
#include "platform/datetime.h"
#include "platform/dynlib.h"

constexpr const char* kLogPluginName = "HALVLOG.DLL";


struct TAccessLog {
  ShortString LogsDir{};      // as given to OpenLogs
  ShortString AccessPath{};   // logs directory + "ACCESS.LOG"
  ShortString RefererPath{};  // + "REFERER.LOG", separate mode only
  ShortString BrowserPath{};  // + "BROWSER.LOG", separate mode only
  int AccessFile = -1;  // descriptors, -1 when closed
  int RefererFile = -1;
  int BrowserFile = -1;
  // The flags keep the values of the last OpenLogs; cycling reuses them.
  bool DoAccess = false;
  bool DoReferer = false;  // separate mode only
  bool DoBrowser = false;  // separate mode only
  bool Opened = false;
  bool DoCombined = false;  // referrer and user agent end the access line

  platform::LibraryHandle Plugin = nullptr;
  void* LogIsStarted = nullptr;  // looked up and kept, never called
  TLogStart StartLog = nullptr;
  TLogStop StopLog = nullptr;
  TLogWrite LogWrite = nullptr;
  std::string PluginName = kLogPluginName;  // loaded by plain name

  // Told the first error of each open period, as one sentence naming the
  // call that failed and the system's reason.
  std::function<void(const std::string&)> OnError;
  bool ErrorReported = false;
  int32_t ErrorCount = 0;  // errors since the logs were last opened
  std::string LastError;
};

// One request as the access, referer and browser lines show it.
struct TLogEntry {
  int32_t cid = 0;
  std::string_view client;    // the slot's peer address
  std::string_view identity;  // always empty from the engine
  std::string_view user;      // after the password check; empty when none
  std::string_view method;    // MethodText
  std::string_view url;       // ReceivedUrl, without its leading "/"
  std::string_view protocol;  // VersionText
  int32_t status = 0;
  int64_t content_length = 0;  // see LoggedContentLength
  std::string_view referer;
  std::string_view user_agent;
};

// The byte count an access line shows: the reply's content length for a
// 200 answer, 0 for every other status (whose reply record may still hold
// the length of the slot's previous answer).
constexpr int64_t LoggedContentLength(int32_t status, int64_t reply_content_length) {
  return status == 200 ? reply_content_length : 0;
}

// Prefixes pad until text is at least width characters long.
std::string ZeroPad(std::string_view text, char pad, std::size_t width);
// "0" and the number when n < 10, else the number.
std::string TwoDigits(int n);
// "Jan" .. "Dec" for 1 .. 12; empty otherwise.
std::string MonthAbbrev(int month);
// "[dd/Mon/yyyy:hh:mm:ss]", local time, no zone.
std::string LogTimestamp(platform::TDateTime t);
// The stamp of dated names: the year modulo 100 without a leading zero,
// month, day, "-", hour, minute, second: "971207-140309", "50102-000000".
std::string LogNameStamp(platform::TDateTime t);
// Bytes below 0x20 and 0x7F as "%XX" (upper-case hex); all else unchanged.
// Applied to every line of the engine's log, so a text can never break or
// forge a line.
std::string EscapeControlChars(std::string_view text);
// The same, and a double quote as "%22": how every field of every log line
// is written, so that no field can end the quoted request early.
std::string EscapeLogField(std::string_view text);

// Opens (appends to, or creates) the enabled logs in dir; a missing "/" at
// the end of dir is put in, and "\" counts as "/". An open state is closed
// first. Then loads the plug-in by its plain name and calls its StartLog.
// A missing plug-in is no error. False when a log could not be opened.
bool OpenLogs(TAccessLog& log, std::string_view dir, bool do_access, bool do_referer, bool do_browser,
              bool do_combined);

// Writes the lines of one request, all with one timestamp taken now, then
// calls the plug-in's LogWrite with the slot, whatever the flags. False when
// a write failed; the other lines are still written.
bool WriteLogEntry(TAccessLog& log, const TLogEntry& entry);

// Closes the open logs, calls the plug-in's StopLog and unloads it.
bool CloseLogs(TAccessLog& log);

// Closes the logs, renames each enabled one to its dated name, and opens
// fresh ones with the same directory and flags (always, also after a failed
// rename). Dated names: logs directory + "Access-", "Referer-" or
// "Browser-" + stamp + ".log"; when that name exists, "-1", "-2", ... goes
// before ".log", so a dated file is never replaced.
bool CycleLogs(TAccessLog& log);
