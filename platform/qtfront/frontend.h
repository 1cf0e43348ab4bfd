// The window front end: mirrors the control layer's forms into Qt Widgets
// windows and turns what the user does there into messages in our queue.
//
// It is a shared library of its own (libhalvqt.so), built only where Qt 6
// Widgets is installed. A program loads it at run time by name and calls its
// one entry point, so that the program itself runs without Qt wherever the
// library is missing:
//
//   int HalvFrontEndStart(int argc, char** argv);   // 1: windows from now on
//   void HalvFrontEndStop();   // closes every window and Qt; after the forms
//
// After a successful start, on the loop's thread:
// - every form of the control layer, made before or after, shows as a
//   window while it is visible; each control kind has one generic widget;
// - message boxes, the open-file and directory dialogs and the find dialog
//   show as Qt dialogs whose modal loop is our own loop;
// - the loop waits in Qt's event dispatcher: our descriptors become one
//   socket notifier, the next timer the wait's limit. Model changes are
//   gathered and mirrored once per pass of the loop, before it waits.
// Qt's handlers only post messages (input.h) or read the model.
#pragma once

#define HALV_FRONT_END_LIBRARY "libhalvqt.so"
#define HALV_FRONT_END_START "HalvFrontEndStart"
#define HALV_FRONT_END_STOP "HalvFrontEndStop"

extern "C" {
using HalvFrontEndStartFn = int (*)(int argc, char** argv);
using HalvFrontEndStopFn = void (*)();
}
