// The application's window that the acquisition dialog is shown in, and how its events turn.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A native window handle of the system (Windows: HWND; X11: the window id).
using NativeWindow = std::uintptr_t;

// Adds the child-window style to one of this process's own native windows.
//   Windows: the style bits are read, OR 0x40000000, and written back.
//   Linux:   nothing (a window embedded in a foreign parent needs no style).
void addChildStyle(NativeWindow window);

// Makes `parent` the native parent of `window`. False when the platform leaves it to the toolkit
// (Linux: Qt's foreign windows do it when a display server is used).
bool setNativeParent(NativeWindow window, NativeWindow parent);

// Enables or disables input to an application's window.
//   Windows: EnableWindow.
//   Linux:   a foreign X11 window cannot be disabled from another client; the choice is only
//            recorded, so that windowEnabled tells what the application was left with.
void enableWindow(NativeWindow window, bool enable);
// Whether `window` was last left enabled (true for a window never disabled).
bool windowEnabled(NativeWindow window);

// Whether the applications of this platform turn the data source's events themselves: on Windows
// their message loop passes every message to the source. On Linux they only wait for its
// notifications, so the source turns its dialog's events on a thread of its own, unless the
// application says otherwise with the environment variable OSTRA_TWAIN_EVENTS:
//   process   its message loop passes MSG_PROCESSEVENT all the time the source is enabled;
//   callback  (or unset, or empty) it only waits for the notifications.
// Any other value is ignored: it is returned in `ignored` (when given), for the caller's log.
bool applicationsTurnSourceEvents(std::string* ignored = nullptr);

// Called by an application before it loads the DSM: its message loop passes MSG_PROCESSEVENT with
// every turn, so the data source may turn its events there (Linux: sets OSTRA_TWAIN_EVENTS=process
// for this process; Windows: nothing, its applications always do).
void announceApplicationTurnsSourceEvents();

// Whether a display server can be reached for windows (always true on Windows).
bool displayAvailable();

} // namespace platform
