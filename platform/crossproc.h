// Messages from other processes, and signals as messages.
//
// A window opened for external messages listens on a Unix datagram socket
// in the abstract namespace named "halvorine-<uid>-<hwnd>" (user id and
// handle in decimal). Each datagram that arrives there becomes a message
// posted to that window inside the loop. Only datagrams sent by a process of
// the same user are taken; the others are dropped.
//
// Loop thread only, except PostMessageToHandle, which any thread of any
// process may call.
#pragma once

#include "platform/export.h"
#include "platform/msgloop.h"

HALV_EXPORT_BEGIN
namespace platform {

// Opens the channel of hwnd (a window of this process). False when hwnd is
// not a window or the name is taken (a live process already uses it).
// Destroying the window closes its channel.
bool EnableExternalMessages(HWND hwnd);
void DisableExternalMessages(HWND hwnd);

// Sends a message to the channel of hwnd, whichever process opened it
// (this one included). True when it was delivered to the channel; false
// when no process listens under that handle or its channel is full.
bool PostMessageToHandle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// From now on SIGTERM and SIGINT post WM_CLOSE to mainWindow and SIGHUP
// posts WM_USER+1000 (cycle the logs); 0 gives the three signals back their
// former handling. SIGPIPE is ignored from the first call on. The signal
// handler only writes to a pipe that the loop reads.
void RouteSignalsTo(HWND mainWindow);

constexpr UINT kCycleLogsMessage = WM_USER + 1000;

}  // namespace platform
HALV_EXPORT_END
