#pragma once
// Finds a window by its X11 WM_CLASS class, anywhere in the window tree of
// every screen: a window manager reparents client windows into frames, so the
// root's direct children are not enough.
#include <X11/Xlib.h>

namespace hakop::platform {

bool windowWithClassExists(Display* display, const char* cls);

// A running saver also owns a selection named after its screen, taken before
// its window exists: of savers started at the same instant, which all find no
// window yet, only one gets it.
bool saverSelectionOwned(Display* display);
// Takes that selection if nobody holds it, atomically on the server. The
// window now owning it (kept until the connection closes), or 0 when another
// program holds it.
unsigned long claimSaverSelection(Display* display);

} // namespace hakop::platform
