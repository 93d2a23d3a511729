#pragma once
#include "XHandles.h"
// WM_CLASS on one X11 window. The saver window carries its own class so that a
// second start finds it; setting it per window (and not through the
// application name) keeps every other window of the program out of that lookup.

namespace hakop::platform {

// display is an Xlib Display*; window an X11 window id. Sets the instance
// name and the class, and makes sure the server has them before returning, so
// other clients see the class at once.
void setWindowClass(Display* display, unsigned long window, const char* instanceName,
                    const char* className);

// Sets the window's title (WM_NAME and the UTF-8 _NET_WM_NAME) exactly as
// given, with nothing appended.
void setWindowCaption(Display* display, unsigned long window, const char* utf8Caption);

} // namespace hakop::platform
