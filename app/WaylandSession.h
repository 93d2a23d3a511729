#pragma once
// What HAKOP does in a Wayland session, decided before X is asked: the saver
// natively on a compositor with the layer shell; the dialogs through
// XWayland when DISPLAY is set, else with the toolkit's Wayland platform;
// nothing at all while a saver runs on the display. And the saver started
// on XWayland alone, which goes to the compositor too.
#include "ModeDispatch.h"

#include <optional>

namespace hakop {

// The exit code when the mode was handled here; nothing when the mode goes
// on on X: WAYLAND_DISPLAY unset, the dialogs with DISPLAY set, or a
// display that cannot be reached or does not answer within about a second
// while DISPLAY is set (without DISPLAY that is one line and exit code 1).
std::optional<int> runInWaylandSession(Mode mode, const char* programName);

// Saver mode when the X display is XWayland: the saver goes to the
// compositor itself, the one WAYLAND_DISPLAY names or else the first of its
// usual sockets in XDG_RUNTIME_DIR that answers. Without one, one line and
// exit code 1: nothing is shown that the input could not end.
int runSaverBesideXWayland();

} // namespace hakop
