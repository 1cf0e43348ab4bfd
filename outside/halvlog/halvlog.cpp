// HALVLOG.DLL: a stand-in for the server's optional log plug-in, and an
// example for people who write their own.
//
// The server loads the library by its plain name each time it opens its
// logs (at start and after every log cycle), then looks up four entries by
// name and uses no result of any of them:
//   void StartLog(void)        right after the library was loaded
//   void LogWrite(int32_t cid) once per logged request, with the connection
//                              slot; the request is still in that slot, so
//                              the interface library's request accessors
//                              answer for cid during the call
//   void StopLog(void)         right before the library is unloaded
//   LogIsStarted               looked up and kept, never called by the server
// All calls come from the server's window thread. A plug-in must not throw
// out of these functions; it should also not take long, as the server waits.
//
// This stand-in records each call as one line in a text file: the file named
// by the environment variable HALVLOG_FILE, or HALVLOG.TXT in the current
// directory when that variable is unset or empty. Lines are "StartLog",
// "LogWrite <cid>" and "StopLog", in the order of the calls. The variable is
// read at every call, and the file is opened for each line, so the record
// survives the library being unloaded and loaded again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define HALVLOG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

bool started = false;

void Record(const char* text, int32_t cid, bool with_cid) {
  const char* name = std::getenv("HALVLOG_FILE");
  if (!name || !*name) name = "HALVLOG.TXT";
  std::FILE* f = std::fopen(name, "a");
  if (!f) return;
  if (with_cid)
    std::fprintf(f, "%s %d\n", text, static_cast<int>(cid));
  else
    std::fprintf(f, "%s\n", text);
  std::fclose(f);
}

}  // namespace

HALVLOG_EXPORT void StartLog() {
  started = true;
  Record("StartLog", 0, false);
}

HALVLOG_EXPORT void StopLog() {
  Record("StopLog", 0, false);
  started = false;
}

HALVLOG_EXPORT int32_t LogIsStarted() { return started ? 1 : 0; }

HALVLOG_EXPORT void LogWrite(int32_t cid) { Record("LogWrite", cid, true); }
