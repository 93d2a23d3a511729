#pragma once
// Finds a window by its X11 WM_CLASS class, anywhere in the window tree of
// every screen: a window manager reparents client windows into frames, so the
// root's direct children are not enough.
#include <X11/Xlib.h>

namespace hakop::platform {

bool windowWithClassExists(Display* display, const char* cls);

} // namespace hakop::platform
