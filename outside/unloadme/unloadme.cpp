// UNLOADME.DLL: a sample extension library that asks the server to unload
// it after every call, by setting info->UnloadAfterCall to 1 before it
// returns. The next request loads it afresh, so its counter of calls since
// loading always shows 1 -- useful for a library under development that is
// rebuilt while the server runs.
#include <cstdint>
#include <cstdio>
#include <string>

#include "interface/tandrel.h"

#define EXTENSION_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int32_t calls_since_load = 0;
}

EXTENSION_EXPORT int32_t MAKEPAGE(char* outFile, char* request, TConnectionInfo* info) {
  if (!outFile) return 500;
  ++calls_since_load;
  if (info) info->UnloadAfterCall = 1;
  std::FILE* f = std::fopen(outFile, "wb");
  if (!f) return 500;
  std::fprintf(f, "<html><body><p>Calls since load: %d</p></body></html>\n", static_cast<int>(calls_since_load));
  return std::fclose(f) == 0 ? 1 : 500;
}
