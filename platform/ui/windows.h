// The window front end, for every program of the system: the forms of the
// control layer shown as real windows by libhalvqt.so (Qt 6 Widgets), which
// is loaded at run time, so that a program runs headless wherever the
// library or a display is missing.
#pragma once

#include "platform/export.h"

// The front end's library and its entry points (plain C):
//   int HalvFrontEndStart(int argc, char** argv);   1: windows from now on
//   void HalvFrontEndStop();                        every window and Qt go
#define HALV_FRONT_END_LIBRARY "libhalvqt.so.1"
#define HALV_FRONT_END_START "HalvFrontEndStart"
#define HALV_FRONT_END_STOP "HalvFrontEndStop"

extern "C" {
using HalvFrontEndStartFn = int (*)(int argc, char** argv);
using HalvFrontEndStopFn = void (*)();
}

namespace platform::ui {

// Loads the front end and opens the display; true when the forms show as
// windows from now on (and until the process exits). When it cannot, says
// so on standard error, opening the line with program, and returns false.
// Call it before any form is made, on the loop's thread.
HALV_EXPORT bool StartWindows(int argc, char** argv, const char* program);
// Whether StartWindows succeeded.
HALV_EXPORT bool WindowsStarted();
// Closes the windows and Qt, once the forms are gone (the end of main). A
// program that does not call it leaves them to the process's end; Qt must
// not be taken down from an exit handler.
HALV_EXPORT void StopWindows();

}  // namespace platform::ui
