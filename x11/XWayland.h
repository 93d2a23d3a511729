#pragma once
// Whether an X server is XWayland, the X server a Wayland compositor runs
// for its X11 clients. There an X11 saver sees neither the desktop (the
// compositor's other windows are not in the X server) nor holds the input
// for sure (the compositor's own key bindings and surfaces come first).
#include <X11/Xlib.h>

namespace hakop::platform {

// XWayland 23.1 and later offer the XWAYLAND extension; older ones are known
// by the names of their RandR outputs, "XWAYLAND0" and on.
bool isXWayland(Display* display);

} // namespace hakop::platform
