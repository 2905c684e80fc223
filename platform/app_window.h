// The TWAIN application's own window and message loop (ostra-acquire): on Windows the loop offers
// every message to the data source first (MSG_PROCESSEVENT), as a Windows application must while a
// source is enabled.
#pragma once

#include "platform/host_window.h"

#include <chrono>
#include <functional>
#include <string>

namespace platform {

// Creates the application's main window, shown.
//   Windows: a top-level window of a class of its own; its handle is the parent window the
//            application gives the DSM and the source.
//   Linux:   no window (the source's dialog stands on its own); returns 0.
NativeWindow createApplicationWindow(const std::string& title);
void destroyApplicationWindow(NativeWindow window);

// One turn of the application's message loop, waiting at most `wait` for a message. Each message
// is offered to `offer` (the system's message record; the application passes it to the source with
// MSG_PROCESSEVENT), and dispatched as usual unless `offer` returns true (the source took it). When
// no message came, `offer` still gets one empty message (WM_NULL to the application's window on
// Windows, null on Linux), so that the source is asked at least once per turn.
void turnApplicationMessages(NativeWindow window, const std::function<bool(void* message)>& offer,
                             std::chrono::milliseconds wait);

} // namespace platform
