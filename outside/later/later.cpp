// LATER.DLL: a sample extension library that finishes its page later, in a
// thread of its own ("/$LATER.DLL?ms=200" waits 200 ms; 100 ms by default,
// at most 10 s).
//
// MAKEPAGE answers 2: the server keeps the connection waiting, and the
// library posts HALV_WM_EXTENSION_DONE to the server's window (from
// GetServerHwnd) with wParam the slot and lParam the result (1: the page is
// in the output file) once it is done. Until then the thread may touch
// only its own data, its own files and the interface library's exports --
// never the buffers or the info block after the post. A finished thread is
// joined at the next call, and every thread before the library is unloaded.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "interface/tandrel.h"
#include "outside/workers.h"

#define EXTENSION_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

bool WritePage(const std::string& name, int ms) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "<html><body><p>Finished after %d ms</p></body></html>\n", ms);
  return std::fclose(f) == 0;
}

int DelayFrom(const char* request) {
  const char* p = request ? std::strstr(request, "ms=") : nullptr;
  if (!p) return 100;
  long ms = std::strtol(p + 3, nullptr, 10);
  return ms < 0 ? 0 : ms > 10000 ? 10000 : static_cast<int>(ms);
}

Workers workers;

}  // namespace

EXTENSION_EXPORT int32_t MAKEPAGE(char* outFile, char* request, TConnectionInfo* info) {
  if (!outFile || !info) return 500;
  try {
    std::string name(outFile);
    int ms = DelayFrom(request);
    int32_t cid = info->Cid;
    uint32_t window = GetServerHwnd();
    // Without a server window there is nobody to tell later: finish now.
    if (window == 0) return WritePage(name, 0) ? 1 : 500;
    bool started = workers.Start([name, ms, cid, window] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      int32_t result = WritePage(name, ms) ? 1 : 500;
      HalvPostMessage(window, HALV_WM_EXTENSION_DONE, static_cast<uintptr_t>(cid), result);
    });
    return started ? 2 : 500;
  } catch (...) {
    return 500;
  }
}
