#include "platform/ui/windows.h"

#include <cstdio>

#include "platform/dynlib.h"
#include "platform/stdlines.h"

namespace platform::ui {
namespace {

HalvFrontEndStopFn stop_front_end = nullptr;

}  // namespace

bool StartWindows(int argc, char** argv, const char* program) {
  if (stop_front_end) return true;
  LibraryHandle front = LoadLibrary(HALV_FRONT_END_LIBRARY);
  auto start = front ? reinterpret_cast<HalvFrontEndStartFn>(GetProcAddress(front, HALV_FRONT_END_START)) : nullptr;
  auto stop = front ? reinterpret_cast<HalvFrontEndStopFn>(GetProcAddress(front, HALV_FRONT_END_STOP)) : nullptr;
  if (!start || !stop || !start(argc, argv)) {
    WriteLine(stderr, std::string(program) + ": no window front end (" +
                          (!front                 ? LastLoadError()
                           : !start || !stop      ? std::string("not a front-end library")
                                                  : std::string("the display cannot be opened")) +
                          "); running headless");
    return false;
  }
  stop_front_end = stop;
  return true;
}

bool WindowsStarted() { return stop_front_end != nullptr; }

void StopWindows() {
  if (!stop_front_end) return;
  HalvFrontEndStopFn stop = stop_front_end;
  stop_front_end = nullptr;
  stop();
}

}  // namespace platform::ui
