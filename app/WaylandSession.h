#pragma once
// What HAKOP does in a Wayland session, decided before X is asked: the saver
// natively on a compositor with the layer shell; the dialogs through
// XWayland when DISPLAY is set, else with the toolkit's Wayland platform;
// nothing at all while a saver runs on the display.
#include "ModeDispatch.h"

#include <optional>

namespace hakop {

// The exit code when the mode was handled here; nothing when there is no
// reachable Wayland display (WAYLAND_DISPLAY unset, or nobody answers) or
// the mode goes on on X (dialogs with DISPLAY set).
std::optional<int> runInWaylandSession(Mode mode, const char* programName);

} // namespace hakop
