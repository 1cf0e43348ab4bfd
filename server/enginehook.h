// The hook to the page engine MORVEX32.DLL: every 200 answer of type
// "text/html" goes through the engine, which expands the page's template
// tags into TempDir + "TEMP" + slot + ".HTM", and calls back for the two
// tags the server knows: "$RUN" (run an extension library into a RUN file
// and answer a reference to it) and "$RESOURCE" (a counter or a memory
// figure).
//
// For the integrator:
//  - At each start, after the engine library's entries are in THTTP:
//    BuildEngineTemplate(), then Attach() on the engine's TEngineHook, so
//    that the tag callback reaches it (one hook is active per process).
//    Detach() at stop, after the connections have ended.
//  - The program (which links the allocation guard and the interface
//    library) fills THTTP::ResourceSources before the first page is served.
//  - csServe: for a 200 of type exactly "text/html" with SkipEngine 0,
//    RunEngine(slot); true: state csWaiting.
//  - The window's handler passes WM_USER+4 to OnEngineDone and
//    WM_EXTENSION_ROW to OnExtensionRow. OnEngineDone acts only on a slot
//    that awaits the engine: it sets csHeader and the output file, then
//    runs the continuations of the TExtensionCalls it was made with.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "interface/tandrel.h"
#include "platform/msgloop.h"
#include "server/extcalls.h"
#include "server/httpunit.h"

// Posted to the server's window by a "$RUN" on the engine's thread, so
// that the console's row of a cache entry (wParam) is redrawn on the window
// thread.
constexpr platform::UINT WM_EXTENSION_ROW = platform::WM_USER + 5;

constexpr int32_t kTagRun = 1;
constexpr int32_t kTagResource = 2;

// The server's template descriptor with its tag table right behind it.
struct TServerTemplate {
  TemplateInfo Info;
  TemplateTag Tags[2];
};
static_assert(offsetof(TServerTemplate, Tags) == sizeof(TemplateInfo), "the tags follow the descriptor");

extern TServerTemplate ServerTemplate;

// Fills ServerTemplate: callback EngineCallback, tags 1 "$RUN" and
// 2 "$RESOURCE", input name and reserved bytes zero.
void BuildEngineTemplate();

// The descriptor's tag callback. Never throws; answers at most 255
// characters and a NUL; returns 0.
extern "C" int32_t EngineCallback(char* answer, int32_t* slot, const char* parameter, int32_t tag_id,
                                  TConnectionInfo* info);

class TEngineHook {
 public:
  explicit TEngineHook(TExtensionCalls& calls);
  ~TEngineHook();
  TEngineHook(const TEngineHook&) = delete;
  TEngineHook& operator=(const TEngineHook&) = delete;

  // Makes this the hook EngineCallback uses (the callback carries no
  // reference to its engine, so one hook is active per process), and takes
  // the calling thread as the window thread.
  void Attach();
  void Detach();

  // TempDir + "TEMP" + slot + ".HTM".
  std::string EngineOutputName(int32_t slot) const;
  // TempDir + "RUN" + slot + "-" + k + ".HTM".
  std::string RunFileName(int32_t slot, int32_t k) const;

  // True when the engine goes on in its own thread (state csWaiting until
  // WM_USER+4). False when it has finished -- the reply's FileName then
  // names its output -- or was not run: no engine, no MAKEFILE, or a file
  // name too long for the engine's 128-byte fields.
  bool RunEngine(int32_t slot);
  void OnEngineDone(const platform::MSG& msg);
  void OnExtensionRow(const platform::MSG& msg);

  // The answer to one tag; slot is the value the engine's slot reference
  // designates. Runs on the engine's thread for a threaded run.
  std::string TagAnswer(int32_t tag_id, int32_t slot, std::string_view parameter);

  // Runs the library a "$RUN" parameter names into out_name; the result as
  // an HTTP status (not used by the tag). include (when given) is false when
  // out_name holds no page for the tag: the library finishes later, or was
  // not called because an earlier late call on the slot has not completed.
  int32_t RunPageForEngine(std::string_view parameter, int32_t slot, std::string_view out_name,
                           bool* include = nullptr);

  TExtensionCalls& Calls;
  THTTP& Http;

 private:
  // Once the engine has run (call: its entry), the reply's FileName names
  // its output; an output it could not make is 500, logged.
  void TakeEngineOutput(int32_t slot, const char* call);
  std::string ResourceAnswer(std::string_view parameter) const;
  void ShowRowFromAnyThread(int32_t entry);

  std::thread::id window_thread_;
};

// The engine's calls into outside code as the state machine makes them
// (THTTP::OutsideCalls): the extension calls and the page-engine hook of
// one engine, with its continuations bound to the engine's own state
// machine and disconnect event. HandleMessage takes the completion and row
// messages of the engine's window; false for any other message.
// Defined beside the engine's start (httpstart.cpp), since it runs the
// state machine, which links the interface library.
class TOutsideLibraries : public TOutsideCalls {
 public:
  explicit TOutsideLibraries(THTTP& http, TExtensionCache& cache = ExtensionCache);

  int32_t CallExtensionPage(THTTP& engine, int32_t slot, int32_t socket, bool in_request) override;
  bool CallPostBegin(THTTP& engine, int32_t slot, int32_t socket, bool in_request) override;
  void CallPostResume(THTTP& engine, int32_t slot, bool& done) override;
  int32_t CallPostEnd(THTTP& engine, int32_t slot) override;
  bool RunEngine(THTTP& engine, int32_t slot) override;

  bool HandleMessage(const platform::MSG& msg);

  TExtensionCalls Calls;
  TEngineHook Engine;
};
